#include "platform/code_page.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/unicode.h"

namespace wavrel {
namespace {

TEST(CodePageTest, ConversionsAtTheEncodingBoundaries) {
  // The last and first value of each UTF-8 sequence length, both ways.
  const std::u16string wide = u"\u007F\u0080\u07FF\u0800\uFFFF\U00010000\U0010FFFF";
  const std::string narrow =
      "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF";
  EXPECT_EQ(base::Utf8ToUtf16(narrow, base::Utf8Policy::kStrict), wide);
  EXPECT_EQ(base::Utf16ToUtf8(wide, base::Utf8Policy::kStrict), narrow);
  // Overlong forms, a surrogate, a five-byte form, a cut and a broken sequence.
  for (const char* bad : {"\xC1\xBF", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF", "\xED\xBF\xBF",
                          "\xF8\x88\x80\x80\x80", "\xE4\xB8", "\xE4\x41\x41"}) {
    EXPECT_FALSE(base::Utf8ToUtf16(bad, base::Utf8Policy::kStrict).has_value()) << bad;
  }
  EXPECT_FALSE(
      base::Utf16ToUtf8(u"\xDC00", base::Utf8Policy::kStrict).has_value());  // low surrogate alone
  EXPECT_FALSE(base::Utf16ToUtf8(u"a\xDBFF", base::Utf8Policy::kStrict)
                   .has_value());  // high surrogate at the end

  // iconv's output buffer grows as needed; other code pages by their names.
  std::u16string longText;
  for (int i = 0; i < 5000; ++i) longText += u"录音";
  const std::optional<std::string> gbk = EncodeCodePage(longText, 936);
  ASSERT_TRUE(gbk.has_value());
  EXPECT_EQ(gbk->size(), 20000u);
  EXPECT_EQ(DecodeCodePage(*gbk, 936), longText);
  EXPECT_EQ(DecodeCodePage("\x80\xE9", 1252), u"€é");
  EXPECT_EQ(DecodeCodePage("\xE9", 28591), u"é");
  EXPECT_EQ(DecodeCodePage("\x8F", 866), u"П");
  EXPECT_FALSE(EncodeCodePage(u"€", 28591).has_value());  // not in Latin-1
}

TEST(CodePageTest, EveryByteStringComesBackFromUtf16) {
  // Latin-1, a cut sequence, a surrogate in UTF-8, overlong forms, and every
  // pair of bytes next to valid UTF-8.
  std::vector<std::string> names = {"rec\xE9.qcp",  "\xE4\xB8", "\xED\xB2\x80",    "\xC1\xBF",
                                    "\xF0\x9F\x8E", "\xFF\xFE", "\xE4\xB8\xAD\xE4"};
  for (int a = 1; a < 256; ++a) {
    for (int b = 1; b < 256; ++b) {
      names.push_back(std::string{static_cast<char>(a), static_cast<char>(b)} + "\xE4\xB8\xAD");
    }
  }
  for (const std::string& name : names) {
    const std::u16string wide = BytesToUtf16(name);
    ASSERT_EQ(Utf16ToBytes(wide), name) << name;
  }
  EXPECT_EQ(BytesToUtf16("rec\xE9\xC3\xA9"), u"rec\xDCE9\u00E9");
  EXPECT_FALSE(Utf16ToBytes(u"\xDC7F").has_value());  // no byte of its own
  EXPECT_FALSE(base::Utf16ToUtf8(u"\xDCE9", base::Utf8Policy::kStrict)
                   .has_value());  // strict UTF-8 stays strict
}

}  // namespace
}  // namespace wavrel
