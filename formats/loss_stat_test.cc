#include "formats/loss_stat.h"

#include <gtest/gtest.h>

#include "formats/test_files.h"

namespace vocrate {
namespace {

TEST(LossStatTest, RecordTextsWithCrLf) {
  EXPECT_EQ(FormatLossHeader("C:\\rec\\a.qcp"),
            "FILE : C:\\rec\\a.qcp is opened. LOSS PACKAGE POS:\r\n ");
  EXPECT_EQ(FormatLossPosition(0), "0, ");
  EXPECT_EQ(FormatLossPosition(4294967295u), "-1, ") << "printed as a signed 32-bit number";
  EXPECT_EQ(FormatLossPosition(2147483648u), "-2147483648, ");
  EXPECT_EQ(FormatLossPosition(1234567), "1234567, ");
  EXPECT_EQ(FormatLossSummary(100, 2),
            "\r\n TOTAL FRAMES = 100, TOTAL LOSS PACKAGE = 2, loss rate = 0.020000 \r\n\r\n ");
  EXPECT_EQ(FormatLossSummary(10, 2),
            "\r\n TOTAL FRAMES = 10, TOTAL LOSS PACKAGE = 2, loss rate = 0.200000 \r\n\r\n ");
  EXPECT_EQ(FormatLossSummary(3, 3),
            "\r\n TOTAL FRAMES = 3, TOTAL LOSS PACKAGE = 3, loss rate = 1.000000 \r\n\r\n ");
  EXPECT_EQ(FormatLossSummary(0, 0),
            "\r\n TOTAL FRAMES = 0, TOTAL LOSS PACKAGE = 0, loss rate = -nan \r\n\r\n ");
}

TEST(LossStatTest, FileGathersRecordsOfSuccessiveRuns) {
  testing::TempDir dir;
  const std::string path = dir / "loss_stat.txt";
  for (int run = 0; run < 2; ++run) {
    std::FILE* file = std::fopen(path.c_str(), "ab+");
    ASSERT_NE(file, nullptr);
    LossStatFile loss(file);
    loss.Header(run == 0 ? "a.qcp" : "b.qcp");
    if (run == 0) {
      loss.Lost(0);
      loss.Lost(5);
    }
    loss.Summary(run == 0 ? 10 : 4, run == 0 ? 2 : 0);
    std::fclose(file);
  }
  EXPECT_EQ(testing::ReadFileText(path),
            "FILE : a.qcp is opened. LOSS PACKAGE POS:\r\n 0, 5, "
            "\r\n TOTAL FRAMES = 10, TOTAL LOSS PACKAGE = 2, loss rate = 0.200000 \r\n\r\n "
            "FILE : b.qcp is opened. LOSS PACKAGE POS:\r\n "
            "\r\n TOTAL FRAMES = 4, TOTAL LOSS PACKAGE = 0, loss rate = 0.000000 \r\n\r\n ");

  // Far more positions than the gathering buffer holds: none is dropped.
  std::FILE* file = std::fopen(path.c_str(), "wb");
  {
    LossStatFile loss(file);
    for (std::uint32_t i = 0; i < 100000; ++i) loss.Lost(i);
    loss.Summary(100000, 100000);
  }
  std::fclose(file);
  const std::string text = testing::ReadFileText(path);
  EXPECT_EQ(text.substr(0, 9), "0, 1, 2, ");
  EXPECT_NE(text.find("99998, 99999, \r\n TOTAL FRAMES = 100000"), std::string::npos);
  std::size_t commas = 0;
  for (char c : text) commas += c == ',';
  EXPECT_EQ(commas, 100000u + 2u);  // the summary holds two
}

}  // namespace
}  // namespace vocrate
