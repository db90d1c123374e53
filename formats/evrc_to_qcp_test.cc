#include "formats/evrc_to_qcp.h"

#include <gtest/gtest.h>

#include "formats/test_files.h"

namespace vocrate {
namespace {

using testing::Bytes;
using testing::Record;

std::uint32_t Le32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
Bytes Packets(const Bytes& qcp) { return Bytes(qcp.begin() + 194, qcp.end()); }
Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST(EvrcToQcpTest, EmptyAndShortSourcesGiveAnEmptyQcpFile) {
  for (std::size_t length : {0u, 1u, 23u}) {
    const auto c = testing::EvrcToQcp(Bytes(length, 4));
    ASSERT_EQ(c.output.size(), 194u) << length;
    EXPECT_EQ(Le32(c.output, 182), 0u);
    EXPECT_EQ(Le32(c.output, 190), 0u);
    EXPECT_EQ(c.result.frames, 0u);
    EXPECT_EQ(c.loss.summaries, 1);
    EXPECT_EQ(c.loss.summary_frames, 0u);
    EXPECT_EQ(c.loss.summary_lost, 0u);
  }
}

TEST(EvrcToQcpTest, RatesAndByteOrder) {
  // The quarter-rate record 02 00, 34 12, 78 56, BC 9A ... becomes 02 12 34 56 78 9A.
  auto c = testing::EvrcToQcp(Record(2, {0x1234, 0x5678, 0x9ABC, 0x1111}));
  EXPECT_EQ(Packets(c.output), (Bytes{2, 0x12, 0x34, 0x56, 0x78, 0x9A}));
  EXPECT_EQ(Le32(c.output, 190), 6u);
  EXPECT_TRUE(c.loss.positions.empty());

  // One full-rate record: 218 bytes with one pad byte.
  std::vector<std::uint16_t> words;
  Bytes expected = {4};
  for (int k = 0; k < 11; ++k) {
    words.push_back(static_cast<std::uint16_t>(0x0102 * (k + 1)));
    expected.push_back(static_cast<std::uint8_t>(k + 1));
    expected.push_back(static_cast<std::uint8_t>(2 * (k + 1)));
  }
  c = testing::EvrcToQcp(Record(4, words));
  ASSERT_EQ(c.output.size(), 218u);
  EXPECT_EQ(Le32(c.output, 4), 210u);
  expected.push_back(0);
  EXPECT_EQ(Packets(c.output), expected);

  // Half rate takes words 1 to 5; words past the data are not read.
  c = testing::EvrcToQcp(Record(3, {0xA1A2, 0xB1B2, 0xC1C2, 0xD1D2, 0xE1E2, 0xFFFF}));
  EXPECT_EQ(Packets(c.output),
            (Bytes{3, 0xA1, 0xA2, 0xB1, 0xB2, 0xC1, 0xC2, 0xD1, 0xD2, 0xE1, 0xE2, 0}));

  // A source of 47 bytes: one record, the fragment is ignored.
  Bytes source = Record(1, {0x0102});
  source.resize(47, 0x77);
  c = testing::EvrcToQcp(source);
  EXPECT_EQ(Packets(c.output), (Bytes{1, 0x01, 0x02, 0}));
  EXPECT_EQ(Le32(c.output, 182), 1u);
  EXPECT_EQ(c.result.frames, 1u);
}

TEST(EvrcToQcpTest, ErasuresAndUnknownRatesAreLostAndLogged) {
  // An erasure kept as it is, and 0x0104 (low byte 4) which is no known rate.
  auto c = testing::EvrcToQcp(Concat({Record(1, {0xFFFF}), Record(0x0104, {0x1234}), Record(0),
                                      Record(7, {0x5555}), Record(1, {0xFFFE})}));
  EXPECT_EQ(Packets(c.output),
            (Bytes{1, 0xFF, 0xFF, 1, 0xFF, 0xFF, 1, 0xFF, 0xFF, 1, 0xFF, 0xFF, 1, 0xFF, 0xFE, 0}));
  EXPECT_EQ(c.loss.positions, (std::vector<std::uint32_t>{0, 1, 2, 3}));
  EXPECT_EQ(c.result.lost, 4u);
  EXPECT_EQ(c.loss.summary_frames, 5u);
  EXPECT_EQ(c.loss.summary_lost, 4u);

  // Lost frames at positions 0 and 5 of 10, logged in order.
  Bytes source;
  for (int i = 0; i < 10; ++i) {
    const Bytes record = (i == 0 || i == 5) ? Record(1, {0xFFFF}) : Record(3, {0x1111});
    source.insert(source.end(), record.begin(), record.end());
  }
  c = testing::EvrcToQcp(source);
  EXPECT_EQ(c.loss.positions, (std::vector<std::uint32_t>{0, 5}));
  EXPECT_EQ(c.loss.summary_frames, 10u);
  EXPECT_EQ(c.loss.summary_lost, 2u);
  EXPECT_EQ(FormatLossSummary(c.loss.summary_frames, c.loss.summary_lost),
            "\r\n TOTAL FRAMES = 10, TOTAL LOSS PACKAGE = 2, loss rate = 0.200000 \r\n\r\n ");
  EXPECT_EQ(Le32(c.output, 182), 10u);
  EXPECT_EQ(Le32(c.output, 190), 2u * 3u + 8u * 11u);
}

}  // namespace
}  // namespace vocrate
