#include "host/language/ini_locale_service.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "base/unicode.h"

namespace wavrel::host {
namespace {

// Every key the plug-in looks up in [WavrelPlugin], and the message-box
// captions of [Torvex].
const char* const kPluginKeys[] = {
    "IDS_TITLE_NAME",     "IDS_PROMPT_INFO",   "IDS_CONTENT_INFO",     "IDS_RESOURCE_PATH",
    "IDS_TARGET_NAME",    "IDC_CONVERT",       "IDS_CANCLE",           "IDS_MESSAGE_NO_EMPTY",
    "IDS_CONVERING",      "IDS_CONVERED",      "IDS_CONVER_CANCLEING", "IDS_CONVER_CANCLEED",
    "IDS_QUIT_MESSAGE",   "IDS_LOSE_EXEFILE",  "IDS_NO_OPEN_FILE",     "IDS_CHECK_FOLDER",
    "IDS_SAVEQCP_FOLDER", "IDS_SOME_NOQCP",    "IDS_PROMPT",           "IDS_NOQCPFILE_ONFOLDER",
    "IDS_NOQCP_FORMAT",   "IDS_SELECT_FOLDER", "IDS_CONVER_FAILED"};
const char* const kCaptionKeys[] = {"IDS_OK",       "IDS_CANCEL",  "IDS_ABORT",   "IDS_RETRY",
                                    "IDS_IGNORE",   "IDS_YES",     "IDS_NO",      "IDS_HELP",
                                    "IDS_CONTINUE", "IDS_SKIP",    "IDS_SKIPALL", "IDS_IGNOREALL",
                                    "IDS_YESTOALL", "IDS_NOTOALL", "IDS_REPORT"};

std::map<std::string, std::set<std::string>> KeySets(const IniFile& file) {
  std::map<std::string, std::set<std::string>> keys;
  for (const auto& [section, entries] : file.sections) {
    auto& set = keys[base::Utf16ToUtf8Replacing(section)];
    for (const auto& entry : entries) set.insert(base::Utf16ToUtf8Replacing(entry.first));
  }
  return keys;
}

TEST(LanguageFilesTest, BothFilesAreCleanCompleteAndDefineTheSameKeys) {
  IniLocaleService en;
  IniLocaleService zh;
  std::string err;
  ASSERT_TRUE(en.LoadFile(WAVREL_LANG_SOURCE_DIR "en.ini", &err)) << err;
  ASSERT_TRUE(zh.LoadFile(WAVREL_LANG_SOURCE_DIR "zh_CN.ini", &err)) << err;
  for (const IniLocaleService* service : {&en, &zh}) {
    for (const std::string& problem : service->Contents().problems) ADD_FAILURE() << problem;
    for (const char* key : kPluginKeys) {
      EXPECT_FALSE(service->Text(u"WavrelPlugin", base::Utf8ToUtf16Replacing(key)).empty()) << key;
    }
    for (const char* key : kCaptionKeys) {
      EXPECT_FALSE(service->Text(u"Torvex", base::Utf8ToUtf16Replacing(key)).empty()) << key;
    }
    const std::u16string failed = service->Text(u"WavrelPlugin", u"IDS_CONVER_FAILED");
    EXPECT_NE(failed.find(u"%1"), std::u16string::npos);
    EXPECT_NE(failed.find(u"%2"), std::u16string::npos);
    // The message's prefix is followed directly by the path: keep it apart.
    EXPECT_EQ(service->Text(u"WavrelPlugin", u"IDS_NO_OPEN_FILE").back(), u'\n');
  }
  EXPECT_EQ(KeySets(en.Contents()), KeySets(zh.Contents()));
  EXPECT_EQ(zh.Text(u"WavrelPlugin", u"IDC_CONVERT"), u"转换");
  EXPECT_EQ(zh.Text(u"WavrelPlugin", u"IDS_RESOURCE_PATH"), u"QCP输入路径");
}

TEST(ParseIniTest, ReadsSectionsEscapesAndReportsUncleanLines) {
  const IniFile file = ParseIni(
      "\xEF\xBB\xBF; comment\r\n"
      "# another\n"
      "stray = outside\n"
      "[ One ]\r\n"
      "  KEY_A =  padded value  \r\n"
      "KEY_B = first\\nsecond\\tend\\\\\n"
      "KEY_C = C:\\q\n"
      "KEY_D =\n"
      "no equals sign\n"
      "KEY_A = again\n"
      "[Two]\n"
      "KEY_A = \xE9t\xC3\xA9\n"
      "KEY_E = \xE9\x80\x9A\xE8\xAF\x9D\n"
      "[broken\n"
      "KEY_F = lost");
  ASSERT_EQ(file.sections.count(u"One"), 1u);
  const IniSection& one = file.sections.at(u"One");
  EXPECT_EQ(one.at(u"KEY_A"), u"again");  // a later duplicate wins, and is reported
  EXPECT_EQ(one.at(u"KEY_B"), u"first\nsecond\tend\\");
  EXPECT_EQ(one.at(u"KEY_C"), u"C:\\q");  // unknown escape kept as written
  EXPECT_EQ(one.at(u"KEY_D"), u"");
  const IniSection& two = file.sections.at(u"Two");
  EXPECT_EQ(two.at(u"KEY_A"), u"\uFFFDt\u00E9");
  EXPECT_EQ(two.at(u"KEY_E"), u"通话");
  EXPECT_EQ(two.count(u"KEY_F"), 0u);

  const std::string all = [&] {
    std::string joined;
    for (const std::string& p : file.problems) joined += p + "|";
    return joined;
  }();
  EXPECT_EQ(file.problems.size(), 7u) << all;
  EXPECT_NE(all.find("line 3: key stray outside a section"), std::string::npos) << all;
  EXPECT_NE(all.find("line 7: unknown escape"), std::string::npos) << all;
  EXPECT_NE(all.find("line 9: no '='"), std::string::npos) << all;
  EXPECT_NE(all.find("line 10: duplicate key KEY_A in [One]"), std::string::npos) << all;
  EXPECT_NE(all.find("line 12: invalid UTF-8"), std::string::npos) << all;
  EXPECT_NE(all.find("line 14: malformed section header"), std::string::npos) << all;
  EXPECT_NE(all.find("line 15: key KEY_F outside a section"), std::string::npos) << all;
}

TEST(IniLocaleServiceTest, TextsStayPutAndMissingOnesAreNull) {
  IniLocaleService service;
  service.LoadText("[S]\nK = text\n");
  const char16_t* text = service.GetString(u"K", u"S", 0);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::u16string(text), u"text");
  service.Release();  // the host owns the service: the text stays valid
  EXPECT_EQ(service.GetString(u"K", u"S", 0), text);
  EXPECT_EQ(service.GetString(u"k", u"S", 0), nullptr);
  EXPECT_EQ(service.GetString(u"K", u"Other", 0), nullptr);
  EXPECT_EQ(service.GetString(nullptr, u"S", 0), nullptr);
  EXPECT_EQ(service.GetString(u"K", nullptr, 0), nullptr);
  EXPECT_TRUE(service.HasSection(u"S"));
  EXPECT_FALSE(service.HasSection(nullptr));

  std::string err;
  EXPECT_FALSE(service.LoadFile("/nonexistent/xx.ini", &err));
  EXPECT_NE(err.find("/nonexistent/xx.ini"), std::string::npos);
  EXPECT_EQ(service.Text(u"S", u"K"), u"text");  // a failed load keeps what was there
}

}  // namespace
}  // namespace wavrel::host
