#include "plugin/host_services.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/dynamic_library.h"
#include "plugin/test_support/fake_message_box.h"

namespace wavrel {
namespace {

// The host's localisation service: texts by "section/key" (a missing one
// answers null); lookups, their flags and Releases are noted.
struct FakeLocale final : ILocaleMgrService {
  std::map<std::u16string, std::u16string> texts;
  bool throwOnLookup = false;
  int releases = 0;
  std::vector<std::u16string> lookups;  // "section/key"
  std::int32_t flags = -1;

  void Release() override { ++releases; }
  const char16_t* GetString(const char16_t* key, const char16_t* section,
                            std::int32_t flag) override {
    lookups.push_back(std::u16string(section) + u"/" + key);
    flags = flag;
    if (throwOnLookup) throw std::runtime_error("lookup failed");
    const auto found = texts.find(lookups.back());
    return found == texts.end() ? nullptr : found->second.c_str();
  }
};

// An object that the host might hand out and that is no localisation service.
struct OtherService final : IBaseInterface {
  int releases = 0;
  void Release() override { ++releases; }
};

struct FakeHost final : IPluginHost {
  IBaseInterface* service = nullptr;
  bool answer = true;
  bool throwOnQuery = false;
  int queries = 0;

  void Release() override {}
  bool QueryService(const char* guid, std::int32_t code, IBaseInterface** out) override {
    ++queries;
    EXPECT_STREQ(guid, "140B81C0-F62B-4ee0-9897-BDC3F8F03B18");
    EXPECT_EQ(code, 16452);
    if (throwOnQuery) throw std::runtime_error("no services today");
    *out = service;
    return answer;
  }
};

// Caption keys with their fields' offsets, in the order they are looked up.
const std::vector<std::pair<std::u16string, std::size_t>> kCaptionFields = {
    {u"IDS_OK", 7872},        {u"IDS_CANCEL", 2672},  {u"IDS_ABORT", 2152},
    {u"IDS_RETRY", 8912},     {u"IDS_IGNORE", 5792},  {u"IDS_YES", 10992},
    {u"IDS_NO", 6832},        {u"IDS_HELP", 5272},    {u"IDS_CONTINUE", 3192},
    {u"IDS_SKIP", 9432},      {u"IDS_SKIPALL", 9952}, {u"IDS_IGNOREALL", 6312},
    {u"IDS_YESTOALL", 11512}, {u"IDS_NOTOALL", 7352}, {u"IDS_REPORT", 8392},
};

std::u16string FieldText(const std::vector<unsigned char>& record, std::size_t offset) {
  std::u16string text;
  for (std::size_t i = offset; i < offset + 520; i += 2) {
    const auto unit = static_cast<char16_t>(record[i] | (record[i + 1] << 8));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

// The record is 13072 bytes, its field at 2148 is 1, and every byte outside
// that field and the given text fields is zero.
void ExpectRecordFrame(const std::vector<unsigned char>& record,
                       const std::vector<std::size_t>& fields) {
  ASSERT_EQ(record.size(), 13072u);
  std::vector<bool> allowed(record.size(), false);
  for (std::size_t offset : fields) std::fill_n(allowed.begin() + offset, 520, true);
  EXPECT_EQ(record[2148], 1);
  for (std::size_t i = 2149; i < 2152; ++i) EXPECT_EQ(record[i], 0);
  for (std::size_t i = 0; i < record.size(); ++i) {
    if (!allowed[i] && i != 2148) {
      ASSERT_EQ(record[i], 0) << "byte " << i;
    }
  }
}

class HostServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The test holds the fake libXMessageBox.so beside this executable
    // loaded, so that its notes outlive the unloading after each box.
    const auto folder = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    std::string error;
    ASSERT_TRUE(m_library.Open(folder / "libXMessageBox.so", &error)) << error;
    auto state = reinterpret_cast<testing::FakeMessageBoxStateFn>(
        m_library.Symbol(testing::kFakeMessageBoxStateExport, &error));
    ASSERT_NE(state, nullptr) << error;
    m_box = state();
    m_box->calls.clear();
    m_box->answer = kMbResultOk;
  }
  void TearDown() override { SetHostPointer(nullptr); }

  DynamicLibrary m_library;
  testing::FakeMessageBoxState* m_box = nullptr;
};

TEST_F(HostServicesTest, MessageBoxRecordCarriesTheCaptions) {
  FakeLocale locale;
  for (const auto& [key, offset] : kCaptionFields) {
    if (key != u"IDS_HELP") locale.texts[u"Torvex/" + key] = u"[" + key + u"]";
  }
  locale.texts[u"Torvex/IDS_REPORT"] = std::u16string(300, u'r');   // too long for its field
  locale.texts[u"Torvex/IDS_NOTOALL"] = std::u16string(259, u'n');  // fits exactly
  FakeHost host;
  host.service = &locale;
  m_box->answer = 7;

  EXPECT_EQ(ShowHostMessageBox(&host, u"Is it so?", u"Question", kMbOkCancelExclamation), 7);
  ASSERT_EQ(m_box->calls.size(), 1u);
  const testing::FakeMessageBoxCall& call = m_box->calls[0];
  EXPECT_EQ(call.owner, nullptr);
  EXPECT_EQ(call.text, u"Is it so?");
  EXPECT_EQ(call.caption, u"Question");
  EXPECT_EQ(call.style, 49u);
  ASSERT_TRUE(call.hadRecord);

  std::vector<std::size_t> filled;
  std::vector<std::u16string> expectedLookups;
  for (const auto& [key, offset] : kCaptionFields) {
    expectedLookups.push_back(u"Torvex/" + key);
    if (key == u"IDS_HELP") {
      EXPECT_EQ(FieldText(call.record, offset), u"");  // null text: field stays empty
      continue;
    }
    filled.push_back(offset);
    EXPECT_EQ(FieldText(call.record, offset), locale.texts[u"Torvex/" + key].substr(0, 259))
        << offset;
  }
  EXPECT_EQ(filled.size(), 14u);
  ExpectRecordFrame(call.record, filled);
  EXPECT_EQ(locale.lookups, expectedLookups);
  EXPECT_EQ(locale.flags, 0);
  EXPECT_EQ(locale.releases, 1);
  EXPECT_EQ(host.queries, 1);
}

TEST_F(HostServicesTest, MessageBoxWithoutUsableServiceHasEmptyCaptions) {
  // No host: no record at all, so the library uses its own captions.
  EXPECT_EQ(ShowHostMessageBox(nullptr, u"text", u"caption", kMbOkExclamation), kMbResultOk);
  ASSERT_EQ(m_box->calls.size(), 1u);
  EXPECT_FALSE(m_box->calls[0].hadRecord);
  EXPECT_EQ(m_box->calls[0].text, u"text");

  FakeHost host;  // hands out nothing
  host.answer = false;
  ShowHostMessageBox(&host, u"a", u"b", kMbOkExclamation);
  OtherService other;  // hands out an object of another type, which is given back
  host.service = &other;
  host.answer = true;
  ShowHostMessageBox(&host, u"a", u"b", kMbOkExclamation);
  EXPECT_EQ(other.releases, 1);
  host.throwOnQuery = true;
  ShowHostMessageBox(&host, u"a", u"b", kMbOkExclamation);
  FakeLocale failing;  // fails every lookup and is given back all the same
  failing.throwOnLookup = true;
  host.service = &failing;
  host.throwOnQuery = false;
  ShowHostMessageBox(&host, u"a", u"b", kMbOkExclamation);
  EXPECT_EQ(failing.lookups.size(), 15u);
  EXPECT_EQ(failing.releases, 1);

  ASSERT_EQ(m_box->calls.size(), 5u);
  for (std::size_t i = 1; i < m_box->calls.size(); ++i) {
    ASSERT_TRUE(m_box->calls[i].hadRecord) << i;
    ExpectRecordFrame(m_box->calls[i].record, {});
  }
}

TEST_F(HostServicesTest, LocalisedTexts) {
  FakeLocale locale;
  locale.texts[u"WavrelPlugin/IDS_TITLE"] = u"Wavrel 转换";
  locale.texts[u"Other/IDS_TITLE"] = u"other";
  FakeHost host;
  host.service = &locale;

  EXPECT_EQ(LoadHostString(u"IDS_TITLE", u"Other", &host, 3), u"other");
  EXPECT_EQ(locale.flags, 3);
  EXPECT_EQ(locale.releases, 1);

  EXPECT_EQ(GetPluginText(u"IDS_TITLE"), u"");  // no host pointer yet
  SetHostPointer(&host);
  EXPECT_EQ(GetHostPointer(), &host);
  EXPECT_EQ(GetPluginText(u"IDS_TITLE"), u"Wavrel 转换");
  EXPECT_EQ(locale.flags, 0);
  // A key without text, or a failing lookup: empty, the service given back.
  EXPECT_EQ(GetPluginText(u"IDS_MISSING"), u"");
  locale.throwOnLookup = true;
  EXPECT_EQ(GetPluginText(u"IDS_TITLE"), u"");
  EXPECT_EQ(locale.releases, 4);
  EXPECT_EQ(host.queries, 4);

  // Only the pointer counts, not QueryService's answer.
  locale.throwOnLookup = false;
  host.answer = false;
  EXPECT_EQ(GetLocaleService(kLocaleServiceGuid, kLocaleServiceRequestCode, &host), &locale);
  EXPECT_EQ(locale.releases, 4);  // the caller Releases it

  EXPECT_EQ(LoadHostString(u"IDS_TITLE", u"WavrelPlugin", nullptr, 0), u"");
  EXPECT_EQ(GetLocaleService(nullptr, kLocaleServiceRequestCode, &host), nullptr);
  OtherService other;  // a service of another type is refused and given back
  host.service = &other;
  EXPECT_EQ(LoadHostString(u"IDS_TITLE", u"WavrelPlugin", &host, 0), u"");
  EXPECT_EQ(other.releases, 1);
  host.service = nullptr;
  EXPECT_EQ(LoadHostString(u"IDS_TITLE", u"WavrelPlugin", &host, 0), u"");
  host.throwOnQuery = true;
  EXPECT_EQ(LoadHostString(u"IDS_TITLE", u"WavrelPlugin", &host, 0), u"");
}

TEST_F(HostServicesTest, HostAndPluginDirectories) {
  const std::u16string expected =
      std::filesystem::read_symlink("/proc/self/exe").parent_path().u16string() + u"/";
  EXPECT_EQ(GetHostDirectory(), expected);
  EXPECT_EQ(GetHostDirectory(), expected);
  EXPECT_EQ(GetPluginDirectory(u"WavrelPlugin"), expected + u"Plugins/WavrelPlugin/");
  EXPECT_EQ(GetPluginDirectory(nullptr), expected + u"Plugins/");
  EXPECT_EQ(GetPluginDirectory(u""), expected + u"Plugins/");
}

TEST_F(HostServicesTest, CodePageConversions) {
  EXPECT_EQ(ToWideString("", kCpAcp), u"");
  EXPECT_EQ(ToNarrowString(u"", kCpAcp), "");
  const std::string utf8 = "Grüße/中文/\xF0\x9F\x8E\xA4.qcp";
  EXPECT_EQ(ToWideString(utf8, kCpAcp), u"Grüße/中文/\U0001F3A4.qcp");
  EXPECT_EQ(ToNarrowString(ToWideString(utf8, kCpAcp), kCpAcp), utf8);
  EXPECT_EQ(ToNarrowString(u"中文", 936), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(ToWideString("\xD6\xD0\xCE\xC4", 936), u"中文");

  // A file name is bytes: in UTF-8 a byte outside valid UTF-8 keeps a code
  // point of its own and comes back the same.
  EXPECT_EQ(ToWideString("ab\xC3", kCpAcp), u"ab\xDCC3");
  EXPECT_EQ(ToNarrowString(u"ab\xDCC3", kCpAcp), "ab\xC3");

  // Failures give empty strings, never something half converted.
  EXPECT_EQ(ToNarrowString(u"ab\xD800", kCpAcp), "");
  EXPECT_EQ(ToNarrowString(u"中文", 1252), "");  // not representable
  EXPECT_EQ(ToWideString("abc", 12345), u"");    // no such code page

  // Texts end at their first zero, as the host's texts do.
  EXPECT_EQ(ToWideString(std::string("ab\0cd", 5), kCpAcp), u"ab");
  EXPECT_EQ(ToNarrowString(std::u16string(u"ab\0cd", 5), 936), "ab");
}

}  // namespace
}  // namespace wavrel
