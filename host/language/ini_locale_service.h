// The host's localisation service: texts by section and key from a UTF-8
// INI language file (lang/en.ini, lang/zh_CN.ini beside the host program).
//
//   ; comment            # comment
//   [WavrelPlugin]
//   IDS_TITLE_NAME = Convert QCP Recordings to WAV
//
// Keys and values are trimmed; in values "\n", "\t" and "\\" stand for a line
// break, a tab and a backslash, which keeps leading or trailing blanks
// expressible ("Cannot create the WAV file:\n").
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/plugin_interfaces.h"

namespace wavrel::host {

using IniSection = std::map<std::u16string, std::u16string, std::less<>>;

/// A parsed language file. problems lists every line that was not clean
/// ("line 7: duplicate key IDS_OK in [Torvex]"); parsing goes on past them, a
/// later duplicate replacing the earlier text.
struct IniFile {
  std::map<std::u16string, IniSection, std::less<>> sections;
  std::vector<std::string> problems;
};

IniFile ParseIni(std::string_view text);

/// ILocaleMgrService over one language file. Load once, then hand it out:
/// after loading it never changes, so any thread may read it. GetString
/// returns a pointer into the service's own storage, valid while the service
/// lives (so also after Release, which does nothing: the host owns it).
class IniLocaleService final : public ILocaleMgrService {
 public:
  IniLocaleService() = default;
  IniLocaleService(const IniLocaleService&) = delete;
  IniLocaleService& operator=(const IniLocaleService&) = delete;
  ~IniLocaleService() = default;

  /// Reads and parses path (UTF-8 INI). false with *err when the file cannot
  /// be read; texts already loaded are then kept.
  bool LoadFile(const std::string& path, std::string* err);
  /// Replaces the texts with those parsed from text.
  void LoadText(std::string_view text);

  void Release() override {}
  const char16_t* GetString(const char16_t* key, const char16_t* section,
                            std::int32_t flags) override;
  const char16_t* GetFilePath() override;
  bool HasSection(const char16_t* section) override;

  /// The text of key in section, or empty: for the host's own front ends.
  std::u16string Text(std::u16string_view section, std::u16string_view key) const;
  const IniFile& Contents() const { return m_file; }

 private:
  const std::u16string* Find(std::u16string_view section, std::u16string_view key) const;

  IniFile m_file;
  std::u16string m_path;
};

/// Language-file stems to try, best first, always ending in "en": an
/// explicit choice when not empty, else the first non-empty of LC_ALL,
/// LC_MESSAGES and LANG. Any "zh..." gives "zh_CN"; "de_DE.UTF-8@euro" gives
/// "de_DE", "de"; "C", "POSIX" and names with other characters than letters,
/// digits, '_' and '-' give nothing but "en".
std::vector<std::string> LanguageCandidates(
    std::string_view explicitLanguage,
    const std::function<const char*(const char*)>& getEnv = [](const char* name) {
      return static_cast<const char*>(std::getenv(name));
    });

}  // namespace wavrel::host
