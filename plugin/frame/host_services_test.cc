#include "plugin/frame/host_services.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "plugin/frame/test_support/fake_message_box.h"
#include "plugin/platform/dynamic_library.h"

namespace wavrel {
namespace {

using testing::FakeMessageBoxState;

// The host's localisation service as the tests want it: texts by section and
// key, a key may answer null, lookups and Releases are counted.
class FakeLocale final : public ILocaleMgrService {
 public:
  std::map<std::pair<std::u16string, std::u16string>, std::u16string> texts;  // (section, key)
  bool throwOnLookup = false;
  int releases = 0;
  std::vector<std::u16string> keys;
  std::vector<std::u16string> sections;
  std::vector<std::int32_t> flags;

  void Release() override { ++releases; }
  const char16_t* GetString(const char16_t* key, const char16_t* section,
                            std::int32_t flag) override {
    keys.emplace_back(key);
    sections.emplace_back(section);
    flags.push_back(flag);
    if (throwOnLookup) throw std::runtime_error("lookup failed");
    const auto found = texts.find({section, key});
    return found == texts.end() ? nullptr : found->second.c_str();
  }
};

// An object the host might hand out that is no localisation service.
class OtherService final : public IBaseInterface {
 public:
  int releases = 0;
  void Release() override { ++releases; }
};

class FakeHost final : public IPluginHost {
 public:
  IBaseInterface* service = nullptr;
  bool answer = true;
  bool throwOnQuery = false;
  int queries = 0;
  std::string guid;
  std::int32_t requestCode = 0;

  void Release() override {}
  bool QueryService(const char* serviceGuid, std::int32_t code, IBaseInterface** out) override {
    ++queries;
    guid = serviceGuid;
    requestCode = code;
    if (throwOnQuery) throw std::runtime_error("no services today");
    *out = service;
    return answer;
  }
};

// The caption keys with the offsets of their fields in the record.
const std::vector<std::pair<std::u16string, std::size_t>> kCaptionFields = {
    {u"IDS_ABORT", 2152},   {u"IDS_CANCEL", 2672},  {u"IDS_CONTINUE", 3192},
    {u"IDS_HELP", 5272},    {u"IDS_IGNORE", 5792},  {u"IDS_IGNOREALL", 6312},
    {u"IDS_NO", 6832},      {u"IDS_NOTOALL", 7352}, {u"IDS_OK", 7872},
    {u"IDS_REPORT", 8392},  {u"IDS_RETRY", 8912},   {u"IDS_SKIP", 9432},
    {u"IDS_SKIPALL", 9952}, {u"IDS_YES", 10992},    {u"IDS_YESTOALL", 11512},
};

std::u16string FieldText(const std::vector<unsigned char>& record, std::size_t offset) {
  std::u16string text;
  for (std::size_t i = offset; i + 1 < offset + 520; i += 2) {
    const auto unit = static_cast<char16_t>(record[i] | (record[i + 1] << 8));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

// Every byte outside the flag at 2148 and the given fields is zero.
void ExpectZeroElsewhere(const std::vector<unsigned char>& record,
                         const std::vector<std::size_t>& fields) {
  std::vector<bool> allowed(record.size(), false);
  for (std::size_t i = 2148; i < 2152; ++i) allowed[i] = true;
  for (std::size_t offset : fields) {
    for (std::size_t i = offset; i < offset + 520; ++i) allowed[i] = true;
  }
  for (std::size_t i = 0; i < record.size(); ++i) {
    if (!allowed[i]) {
      ASSERT_EQ(record[i], 0) << "byte " << i;
    }
  }
}

class HostServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Keep the fake message-box library loaded for the whole test, so that
    // its notes outlive the unloading after each box.
    const std::string directory =
        std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
    std::string error;
    ASSERT_TRUE(m_library.Open(directory + "/libXMessageBox.so", &error)) << error;
    auto state = reinterpret_cast<testing::FakeMessageBoxStateFn>(
        m_library.Symbol(testing::kFakeMessageBoxStateExport, &error));
    ASSERT_NE(state, nullptr) << error;
    m_box = state();
    m_box->calls.clear();
    m_box->answer = kIdOk;
    SetHostPointer(nullptr);
  }
  void TearDown() override { SetHostPointer(nullptr); }

  DynamicLibrary m_library;
  FakeMessageBoxState* m_box = nullptr;
};

TEST_F(HostServicesTest, MessageBoxRecordCarriesTheCaptions) {
  FakeLocale locale;
  for (const auto& [key, offset] : kCaptionFields) {
    if (key != u"IDS_HELP") locale.texts[{u"Torvex", key}] = u"[" + key + u"]";
  }
  locale.texts[{u"WavrelPlugin", u"IDS_OK"}] = u"wrong section";
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
  ASSERT_EQ(call.record.size(), 13072u);
  const std::vector<unsigned char>& record = call.record;
  EXPECT_EQ(record[2148], 1);
  EXPECT_EQ(record[2149] | record[2150] | record[2151], 0);

  std::vector<std::size_t> filled;
  for (const auto& [key, offset] : kCaptionFields) {
    if (key == u"IDS_HELP") {
      EXPECT_EQ(FieldText(record, offset), u"");  // null text: field stays empty
    } else {
      EXPECT_EQ(FieldText(record, offset), u"[" + key + u"]") << offset;
      filled.push_back(offset);
    }
  }
  EXPECT_EQ(filled.size(), 14u);
  ExpectZeroElsewhere(record, filled);

  // The fifteen lookups in their fixed order, section "Torvex", flags 0, and
  // exactly one Release after them.
  const std::vector<std::u16string> order = {
      u"IDS_OK",      u"IDS_CANCEL",    u"IDS_ABORT",    u"IDS_RETRY",    u"IDS_IGNORE",
      u"IDS_YES",     u"IDS_NO",        u"IDS_HELP",     u"IDS_CONTINUE", u"IDS_SKIP",
      u"IDS_SKIPALL", u"IDS_IGNOREALL", u"IDS_YESTOALL", u"IDS_NOTOALL",  u"IDS_REPORT"};
  EXPECT_EQ(locale.keys, order);
  EXPECT_EQ(locale.sections, std::vector<std::u16string>(15, u"Torvex"));
  EXPECT_EQ(locale.flags, std::vector<std::int32_t>(15, 0));
  EXPECT_EQ(locale.releases, 1);
  EXPECT_EQ(host.queries, 1);
  EXPECT_EQ(host.guid, "140B81C0-F62B-4ee0-9897-BDC3F8F03B18");
  EXPECT_EQ(host.requestCode, 16452);
}

TEST_F(HostServicesTest, MessageBoxCaptionsThatDoNotFitAreCut) {
  FakeLocale locale;
  const std::u16string longText(300, u'x');
  locale.texts[{u"Torvex", u"IDS_OK"}] = longText;       // field 11
  locale.texts[{u"Torvex", u"IDS_REPORT"}] = u"Report";  // field 12, right after it
  locale.texts[{u"Torvex", u"IDS_NOTOALL"}] = std::u16string(259, u'y');  // fits exactly
  FakeHost host;
  host.service = &locale;

  EXPECT_EQ(ShowHostMessageBox(&host, u"t", u"c", kMbOkExclamation), kIdOk);
  ASSERT_EQ(m_box->calls.size(), 1u);
  const std::vector<unsigned char>& record = m_box->calls[0].record;
  EXPECT_EQ(FieldText(record, 7872), longText.substr(0, 259));
  EXPECT_EQ(record[7872 + 518], 0);
  EXPECT_EQ(record[7872 + 519], 0);
  EXPECT_EQ(FieldText(record, 8392), u"Report");
  EXPECT_EQ(FieldText(record, 7352), std::u16string(259, u'y'));
  ExpectZeroElsewhere(record, {7352, 7872, 8392});
}

TEST_F(HostServicesTest, MessageBoxWithoutUsableServiceHasEmptyCaptions) {
  // No host: no record at all; the library's own captions are used.
  EXPECT_EQ(ShowHostMessageBox(nullptr, u"text", u"caption", kMbOkExclamation), kIdOk);
  ASSERT_EQ(m_box->calls.size(), 1u);
  EXPECT_FALSE(m_box->calls[0].hadRecord);
  EXPECT_EQ(m_box->calls[0].text, u"text");

  FakeHost host;  // hands out nothing
  host.answer = false;
  EXPECT_EQ(ShowHostMessageBox(&host, u"a", u"b", kMbOkExclamation), kIdOk);

  OtherService other;  // hands out an object that is no localisation service
  host.service = &other;
  host.answer = true;
  EXPECT_EQ(ShowHostMessageBox(&host, u"a", u"b", kMbOkExclamation), kIdOk);
  EXPECT_EQ(other.releases, 1);

  FakeHost throwing;  // fails while asked
  throwing.throwOnQuery = true;
  EXPECT_EQ(ShowHostMessageBox(&throwing, u"a", u"b", kMbOkExclamation), kIdOk);

  FakeLocale failing;  // fails on every lookup, is given back all the same
  failing.throwOnLookup = true;
  FakeHost failingHost;
  failingHost.service = &failing;
  EXPECT_EQ(ShowHostMessageBox(&failingHost, u"a", u"b", kMbOkExclamation), kIdOk);
  EXPECT_EQ(failing.keys.size(), 15u);
  EXPECT_EQ(failing.releases, 1);

  ASSERT_EQ(m_box->calls.size(), 5u);
  for (std::size_t i = 1; i < m_box->calls.size(); ++i) {
    ASSERT_TRUE(m_box->calls[i].hadRecord) << i;
    EXPECT_EQ(m_box->calls[i].record[2148], 1) << i;
    ExpectZeroElsewhere(m_box->calls[i].record, {});
  }
}

TEST_F(HostServicesTest, LocalisedTextsComeFromTheHostService) {
  FakeLocale locale;
  locale.texts[{u"WavrelPlugin", u"IDS_TITLE"}] = u"Wavrel 转换";
  locale.texts[{u"Other", u"IDS_TITLE"}] = u"other";
  FakeHost host;
  host.service = &locale;

  EXPECT_EQ(LoadHostString(u"IDS_TITLE", u"Other", &host, 3), u"other");
  EXPECT_EQ(locale.flags.back(), 3);
  EXPECT_EQ(locale.releases, 1);
  EXPECT_EQ(host.guid, "140B81C0-F62B-4ee0-9897-BDC3F8F03B18");
  EXPECT_EQ(host.requestCode, 16452);

  // GetPluginText reads section "WavrelPlugin" through the host pointer.
  EXPECT_EQ(GetPluginText(u"IDS_TITLE"), u"");  // no host pointer yet
  EXPECT_EQ(host.queries, 1);
  SetHostPointer(&host);
  EXPECT_EQ(GetHostPointer(), &host);
  EXPECT_EQ(GetPluginText(u"IDS_TITLE"), u"Wavrel 转换");
  EXPECT_EQ(locale.sections.back(), u"WavrelPlugin");
  EXPECT_EQ(locale.flags.back(), 0);
  EXPECT_EQ(locale.releases, 2);

  // A key without text: empty, and the service is given back all the same.
  EXPECT_EQ(GetPluginText(u"IDS_MISSING"), u"");
  EXPECT_EQ(locale.releases, 3);
  locale.throwOnLookup = true;
  EXPECT_EQ(GetPluginText(u"IDS_TITLE"), u"");
  EXPECT_EQ(locale.releases, 4);

  EXPECT_EQ(GetLocaleService(nullptr, kLocaleServiceRequestCode, &host), nullptr);
  EXPECT_EQ(GetLocaleService(kLocaleServiceGuid, kLocaleServiceRequestCode, nullptr), nullptr);
  ILocaleMgrService* service =
      GetLocaleService(kLocaleServiceGuid, kLocaleServiceRequestCode, &host);
  EXPECT_EQ(service, &locale);
  EXPECT_EQ(locale.releases, 4);  // the caller Releases it
}

TEST_F(HostServicesTest, LocalisedTextsWithoutUsableService) {
  EXPECT_EQ(LoadHostString(u"IDS_X", u"WavrelPlugin", nullptr, 0), u"");

  FakeHost host;  // no service: only the pointer counts, not the answer
  host.answer = true;
  EXPECT_EQ(LoadHostString(u"IDS_X", u"WavrelPlugin", &host, 0), u"");

  OtherService other;  // a service of another type is refused and given back
  host.service = &other;
  EXPECT_EQ(GetLocaleService(kLocaleServiceGuid, kLocaleServiceRequestCode, &host), nullptr);
  EXPECT_EQ(LoadHostString(u"IDS_X", u"WavrelPlugin", &host, 0), u"");
  EXPECT_EQ(other.releases, 2);

  FakeLocale locale;  // a service handed out with a false answer still counts
  locale.texts[{u"WavrelPlugin", u"IDS_X"}] = u"x";
  host.service = &locale;
  host.answer = false;
  EXPECT_EQ(LoadHostString(u"IDS_X", u"WavrelPlugin", &host, 0), u"x");
  EXPECT_EQ(locale.releases, 1);

  host.throwOnQuery = true;
  EXPECT_EQ(LoadHostString(u"IDS_X", u"WavrelPlugin", &host, 0), u"");
  EXPECT_EQ(locale.releases, 1);
}

TEST_F(HostServicesTest, HostAndPluginDirectories) {
  const std::u16string expected =
      std::filesystem::read_symlink("/proc/self/exe").parent_path().u16string() + u"/";
  const std::u16string directory = GetHostDirectory();
  EXPECT_EQ(directory, expected);
  EXPECT_EQ(GetHostDirectory(), directory);
  EXPECT_EQ(directory.back(), u'/');

  EXPECT_EQ(GetPluginDirectory(u"WavrelPlugin"), expected + u"Plugins/WavrelPlugin/");
  EXPECT_EQ(GetPluginDirectory(nullptr), expected + u"Plugins/");
  EXPECT_EQ(GetPluginDirectory(u""), expected + u"Plugins/");
}

TEST_F(HostServicesTest, CodePageConversions) {
  EXPECT_EQ(ToWideString("", kCpAcp), u"");
  EXPECT_EQ(ToNarrowString(u"", kCpAcp), "");

  // Round trips through the default code page (UTF-8 here) and GBK.
  const std::string utf8 = "Grüße/中文/\xF0\x9F\x8E\xA4.qcp";
  EXPECT_EQ(ToWideString(utf8, kCpAcp), u"Grüße/中文/\U0001F3A4.qcp");
  EXPECT_EQ(ToNarrowString(ToWideString(utf8, kCpAcp), kCpAcp), utf8);
  EXPECT_EQ(ToWideString(utf8, 65001), ToWideString(utf8, kCpAcp));

  const std::string gbk = "\xD6\xD0\xCE\xC4";  // "中文" in GBK
  EXPECT_EQ(ToNarrowString(u"中文", 936), gbk);
  EXPECT_EQ(ToWideString(gbk, 936), u"中文");
  EXPECT_EQ(ToNarrowString(u"café", 1252), "caf\xE9");
  EXPECT_EQ(ToWideString("caf\xE9", 1252), u"café");

  // Failures give empty strings, never something half converted.
  EXPECT_EQ(ToWideString("ab\xC3", kCpAcp), u"");            // cut sequence
  EXPECT_EQ(ToWideString("\xC0\x80", kCpAcp), u"");          // overlong
  EXPECT_EQ(ToWideString("\xED\xA0\x80", kCpAcp), u"");      // surrogate
  EXPECT_EQ(ToWideString("\x80x", kCpAcp), u"");             // stray continuation
  EXPECT_EQ(ToWideString("\xF4\x90\x80\x80", kCpAcp), u"");  // past U+10FFFF
  EXPECT_EQ(ToNarrowString(std::u16string(1, char16_t{0xD800}) + u"x", kCpAcp), "");
  EXPECT_EQ(ToNarrowString(u"中文", 1252), "");  // not representable
  EXPECT_EQ(ToWideString("\xD6", 936), u"");     // cut double-byte character
  EXPECT_EQ(ToWideString("abc", 12345), u"");    // no such code page
  EXPECT_EQ(ToNarrowString(u"abc", 12345), "");

  // Texts end at their first zero, as the host's texts do.
  EXPECT_EQ(ToWideString(std::string("ab\0cd", 5), kCpAcp), u"ab");
  EXPECT_EQ(ToNarrowString(std::u16string(u"ab\0cd", 5), 936), "ab");
}

}  // namespace
}  // namespace wavrel
