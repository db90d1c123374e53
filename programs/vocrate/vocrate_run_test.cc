#include "programs/vocrate/vocrate_run.h"

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

}  // namespace
}  // namespace vocrate
