#include "host/language/language_host.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "testing/files.h"

namespace wavrel::host {
namespace {

std::vector<std::string> CandidatesFor(std::string_view explicitLanguage,
                                       std::map<std::string, std::string> env) {
  return LanguageCandidates(explicitLanguage, [&env](const char* name) -> const char* {
    const auto it = env.find(name);
    return it == env.end() ? nullptr : it->second.c_str();
  });
}

using Stems = std::vector<std::string>;

TEST(LanguageCandidatesTest, ExplicitChoiceThenLocaleVariablesInOrder) {
  EXPECT_EQ(CandidatesFor("", {}), Stems{"en"});
  EXPECT_EQ(CandidatesFor("zh_CN", {{"LANG", "de_DE.UTF-8"}}), (Stems{"zh_CN", "en"}));
  EXPECT_EQ(CandidatesFor("", {{"LANG", "zh_TW.UTF-8"}}), (Stems{"zh_CN", "en"}));
  EXPECT_EQ(CandidatesFor("", {{"LC_ALL", ""}, {"LC_MESSAGES", "zh_CN.GBK"}, {"LANG", "C"}}),
            (Stems{"zh_CN", "en"}));
  EXPECT_EQ(CandidatesFor("", {{"LC_ALL", "C.UTF-8"}, {"LANG", "zh_CN.UTF-8"}}), Stems{"en"});
  EXPECT_EQ(CandidatesFor("", {{"LANG", "de_DE.UTF-8@euro"}}), (Stems{"de_DE", "de", "en"}));
  EXPECT_EQ(CandidatesFor("en_GB", {}), (Stems{"en_GB", "en"}));
  EXPECT_EQ(CandidatesFor("en", {}), Stems{"en"});
  // A name that could leave the language folder is never used as a file name.
  EXPECT_EQ(CandidatesFor("../../etc/passwd", {}), Stems{"en"});
  EXPECT_EQ(CandidatesFor("", {{"LANG", "a/b"}}), Stems{"en"});
}

class LoadHostLanguageTest : public ::testing::Test {
 protected:
  void Write(const std::string& name, const std::string& text) {
    wavrel::testing::WriteFile(m_dir / name, text);
  }
  std::string Folder() const { return m_dir.string() + "/"; }

  wavrel::testing::TempFolder m_folder{"host_lang_test"};
  const std::filesystem::path m_dir = m_folder.Path();
};

TEST_F(LoadHostLanguageTest, FallsBackToEnglishAndToNoTextsAtAll) {
  auto none = LoadHostLanguage(Folder(), "zh_CN");
  EXPECT_EQ(none->language, "");
  EXPECT_EQ(none->service.GetString(u"IDS_OK", u"Torvex", 0), nullptr);

  Write("en.ini", "[Torvex]\nIDS_OK = OK\n");
  auto english = LoadHostLanguage(Folder(), "zh_CN");
  EXPECT_EQ(english->language, "en");
  EXPECT_EQ(english->path, Folder() + "en.ini");

  Write("zh_CN.ini", "[Torvex]\nIDS_OK = 确定\n");
  auto chinese = LoadHostLanguage(Folder(), "zh_CN");
  EXPECT_EQ(chinese->language, "zh_CN");
  EXPECT_EQ(chinese->service.Text(u"Torvex", u"IDS_OK"), u"确定");
}

TEST_F(LoadHostLanguageTest, HostHandsOutTheServiceOnlyForItsGuidAndCode) {
  Write("en.ini", "[WavrelPlugin]\nIDC_CONVERT = Convert\n");
  auto language = LoadHostLanguage(Folder(), "en");
  IPluginHost& host = language->host;

  IBaseInterface* out = nullptr;
  ASSERT_TRUE(host.QueryService(kLocaleServiceGuid, kLocaleServiceRequestCode, &out));
  auto* service = dynamic_cast<ILocaleMgrService*>(out);
  ASSERT_NE(service, nullptr);
  EXPECT_EQ(std::u16string(service->GetString(u"IDC_CONVERT", u"WavrelPlugin", 0)), u"Convert");
  service->Release();
  EXPECT_TRUE(host.QueryService("140b81c0-f62b-4EE0-9897-bdc3f8f03b18", 16452, &out));

  out = &language->host;  // must be cleared on refusal
  EXPECT_FALSE(host.QueryService(kLocaleServiceGuid, 16453, &out));
  EXPECT_EQ(out, nullptr);
  out = &language->host;
  EXPECT_FALSE(host.QueryService("140B81C0-F62B-4ee0-9897-BDC3F8F03B1", 16452, &out));
  EXPECT_EQ(out, nullptr);
  EXPECT_FALSE(host.QueryService(nullptr, 16452, &out));
  EXPECT_FALSE(host.QueryService(kLocaleServiceGuid, 16452, nullptr));

  LanguageHost empty(nullptr);
  out = &language->host;
  EXPECT_FALSE(empty.QueryService(kLocaleServiceGuid, 16452, &out));
  EXPECT_EQ(out, nullptr);
}

}  // namespace
}  // namespace wavrel::host
