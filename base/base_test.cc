#include <gtest/gtest.h>

#include <climits>

#include "base/case_fold.h"
#include "base/decimal.h"
#include "base/unicode.h"

namespace wavrel::base {
namespace {

TEST(UnicodeTest, ThreePoliciesOverOneDecoder) {
  // "a", a cut 3-byte sequence broken by "b", a stray 0xFF, an overlong "/".
  const std::string text = std::string("a\xE4\xB8") + "b\xFF\xC0\xAF" + "\xE4\xB8\xAD";
  EXPECT_EQ(Utf8ToUtf16(text, Utf8Policy::kStrict), std::nullopt);
  bool clean = true;
  EXPECT_EQ(Utf8ToUtf16(text, Utf8Policy::kReplace, &clean),
            std::u16string(u"a\uFFFDb\uFFFD\uFFFD\u4E2D"));
  EXPECT_FALSE(clean);
  const auto mapped = Utf8ToUtf16(text, Utf8Policy::kBytes);
  ASSERT_TRUE(mapped);
  EXPECT_EQ(*mapped, std::u16string(u"a\xDCE4\xDCB8"
                                    u"b\xDCFF\xDCC0\xDCAF\u4E2D"));
  // The byte mapping is lossless; strict and replacing refuse or replace it.
  EXPECT_EQ(Utf16ToUtf8(*mapped, Utf8Policy::kBytes), text);
  EXPECT_EQ(Utf16ToUtf8(*mapped, Utf8Policy::kStrict), std::nullopt);
  EXPECT_EQ(Utf16ToUtf8(u"x\xD800", Utf8Policy::kReplace), "x\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600", Utf8Policy::kStrict), "\xF0\x9F\x98\x80");
}

TEST(CaseFoldTest, NamesThatACaseInsensitiveFolderJoins) {
  EXPECT_EQ(FoldNameCase("Rec (2).WAV"), "rec (2).wav");
  // Latin, Greek (both final and medial sigma), Cyrillic, the Kelvin sign.
  EXPECT_EQ(FoldNameCase("\xC3\x84rger"), FoldNameCase("\xC3\xA4RGER"));
  EXPECT_EQ(FoldNameCase("\xCE\xA3"), FoldNameCase("\xCF\x82"));
  EXPECT_EQ(FoldNameCase("\xD0\x96"), "\xD0\xB6");
  EXPECT_EQ(FoldNameCase("\xE2\x84\xAA"), "k");
  EXPECT_EQ(FoldCase(U'\U00010400'), U'\U00010428');  // Deseret, beyond the BMP
  // Simple folding only; bytes that are not UTF-8 stay themselves.
  EXPECT_NE(FoldNameCase("\xC3\x9F"), FoldNameCase("ss"));
  EXPECT_EQ(FoldNameCase("A\xFF\xC3"
                         "B"),
            "a\xFF\xC3"
            "b");
  EXPECT_EQ(FoldNameCase("\xE4\xB8\xAD.wav"), "\xE4\xB8\xAD.wav");
}

TEST(DecimalTest, ReadsLikeAtoiAndClamps) {
  EXPECT_EQ(ParseAtoi("  16000abc"), 16000);
  EXPECT_EQ(ParseAtoi("-12"), -12);
  EXPECT_EQ(ParseAtoi("x1"), 0);
  EXPECT_EQ(ParseAtoi("99999999999"), INT_MAX);
  EXPECT_EQ(ParseAtoi("-99999999999"), INT_MIN);
}

}  // namespace
}  // namespace wavrel::base
