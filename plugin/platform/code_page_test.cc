#include "plugin/platform/code_page.h"

#include <gtest/gtest.h>

#include <string>

namespace wavrel {
namespace {

TEST(CodePageTest, Utf8ConversionsAtTheEncodingBoundaries) {
  // The last and first value of each sequence length, both ways.
  const std::u16string wide = u"\u007F\u0080\u07FF\u0800\uFFFF\U00010000\U0010FFFF";
  const std::string narrow =
      "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF";
  EXPECT_EQ(Utf8ToUtf16(narrow), wide);
  EXPECT_EQ(Utf16ToUtf8(wide), narrow);
  EXPECT_EQ(Utf8ToUtf16(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));

  for (const char* bad : {"\xE0\x9F\xBF",      // overlong three-byte form
                          "\xF0\x8F\xBF\xBF",  // overlong four-byte form
                          "\xC1\xBF",          // overlong two-byte form
                          "\xED\xBF\xBF",      // low surrogate
                          "\xF8\x88\x80\x80\x80", "\xFF", "\xE4\xB8", "\xE4\x41\x41"}) {
    EXPECT_FALSE(Utf8ToUtf16(bad).has_value()) << bad;
  }
  EXPECT_FALSE(Utf16ToUtf8(std::u16string(1, char16_t{0xDC00})).has_value());  // low alone
  EXPECT_FALSE(Utf16ToUtf8(std::u16string(1, char16_t{0xDBFF})).has_value());  // high at end
  EXPECT_FALSE(Utf16ToUtf8(std::u16string{char16_t{0xD800}, u'a'}).has_value());
}

TEST(CodePageTest, OtherCodePagesGoThroughIconv) {
  EXPECT_EQ(CodePageName(0), "UTF-8");
  EXPECT_EQ(CodePageName(65001), "UTF-8");
  EXPECT_EQ(CodePageName(936), "GBK");
  EXPECT_EQ(CodePageName(1252), "CP1252");
  EXPECT_EQ(CodePageName(28591), "ISO-8859-1");
  EXPECT_EQ(CodePageName(866), "CP866");

  EXPECT_EQ(DecodeCodePage("\x80\xE9", 1252), u"€é");
  EXPECT_EQ(EncodeCodePage(u"€é", 1252), "\x80\xE9");
  EXPECT_EQ(DecodeCodePage("\xE9", 28591), u"é");
  EXPECT_EQ(DecodeCodePage("\x8F", 866), u"П");
  EXPECT_EQ(DecodeCodePage("", 936), u"");
  EXPECT_EQ(EncodeCodePage(u"", 936), "");

  // A long text grows the output buffer several times over.
  std::u16string longText;
  for (int i = 0; i < 5000; ++i) longText += u"录音";
  const std::optional<std::string> gbk = EncodeCodePage(longText, 936);
  ASSERT_TRUE(gbk.has_value());
  EXPECT_EQ(gbk->size(), 20000u);
  EXPECT_EQ(DecodeCodePage(*gbk, 936), longText);

  EXPECT_FALSE(DecodeCodePage("abc", 4242).has_value());
  EXPECT_FALSE(EncodeCodePage(u"abc", 4242).has_value());
  EXPECT_FALSE(EncodeCodePage(u"€", 28591).has_value());  // not in Latin-1
  EXPECT_FALSE(EncodeCodePage(std::u16string{u'a', char16_t{0xD800}}, 936).has_value());
}

}  // namespace
}  // namespace wavrel
