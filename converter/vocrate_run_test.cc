#include "converter/vocrate_run.h"

#include <gtest/gtest.h>

#include <climits>

namespace vocrate {
namespace {

TEST(VocrateRunTest, OptionIsReadLikeAtoi) {
  EXPECT_EQ(ParseOption("0"), 0);
  EXPECT_EQ(ParseOption("1"), 1);
  EXPECT_EQ(ParseOption(""), 0);
  EXPECT_EQ(ParseOption("qcp"), 0);
  EXPECT_EQ(ParseOption("  \t\n+12abc"), 12);
  EXPECT_EQ(ParseOption(" -1"), -1);
  EXPECT_EQ(ParseOption("- 1"), 0);
  EXPECT_EQ(ParseOption("256"), 256);
  EXPECT_EQ(ParseOption("2147483647"), INT_MAX);
  EXPECT_EQ(ParseOption("99999999999999999999999"), INT_MAX);
  EXPECT_EQ(ParseOption("-2147483648"), INT_MIN);
  EXPECT_EQ(ParseOption("-99999999999999999999999"), INT_MIN);

  // Only the low 8 bits choose: 0 is EVRC to QCP, anything else QCP to EVRC.
  for (const char* to_qcp : {"0", "", "x", "256", "-256", "512", "-99999999999"}) {
    EXPECT_TRUE(IsEvrcToQcp(ParseOption(to_qcp))) << to_qcp;
  }
  for (const char* to_evrc : {"1", "2", "-1", "255", "257", "99999999999"}) {
    EXPECT_FALSE(IsEvrcToQcp(ParseOption(to_evrc))) << to_evrc;
  }
}

TEST(VocrateRunTest, ChineseTextsFollowTheConsoleCharacterSet) {
  const std::string_view gbk_success =
      "EVRC\xB8\xF1\xCA\xBD\xCE\xC4\xBC\xFE\xD7\xAA\xBB\xBB\xB3\xC9\xB9\xA6\xA3\xA1";
  for (const char* codeset : {"ANSI_X3.4-1968", "GBK", "GB18030", ""}) {
    EXPECT_EQ(ConsoleTextsFor(codeset).success, gbk_success) << codeset;
    EXPECT_EQ(ConsoleTextsFor(codeset).press_any_key.size(), 24u);
  }
  for (const char* codeset : {"UTF-8", "utf8"}) {
    EXPECT_EQ(ConsoleTextsFor(codeset).success, "EVRC格式文件转换成功！") << codeset;
    EXPECT_EQ(ConsoleTextsFor(codeset).press_any_key, "请按任意键退出程序。。。");
  }
}

}  // namespace
}  // namespace vocrate
