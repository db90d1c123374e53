// The language-file reader and the host's text lookups over any file: every
// text the reader keeps is what the lookups give, every problem names a line
// of the file, and any locale setting gives clean language candidates.
#include <algorithm>
#include <string>
#include <string_view>

#include "fuzz/fuzz_target.h"
#include "host/language/ini_locale_service.h"

using wavrel::host::IniLocaleService;

WAVREL_FUZZ_TARGET(ini_locale)(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  IniLocaleService service;
  service.LoadText(text);
  const std::size_t lines =
      static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
  for (const std::string& problem : service.Contents().problems) {
    FUZZ_CHECK(problem.rfind("line ", 0) == 0);
    FUZZ_CHECK(std::stoul(problem.substr(5)) >= 1 && std::stoul(problem.substr(5)) <= lines);
  }
  for (const auto& [section, keys] : service.Contents().sections) {
    const bool plainSection = section.find(u'\0') == std::u16string::npos;
    if (plainSection) FUZZ_CHECK(service.HasSection(section.c_str()));
    for (const auto& [key, value] : keys) {
      FUZZ_CHECK(service.Text(section, key) == value);
      if (!plainSection || key.find(u'\0') != std::u16string::npos) continue;
      const char16_t* got = service.GetString(key.c_str(), section.c_str(), 0);
      FUZZ_CHECK(got != nullptr && std::u16string_view(got) == std::u16string_view(value.c_str()));
    }
  }

  // The same bytes as the locale variables and as an explicit choice.
  const std::string value(text.substr(0, text.find('\0')));
  const auto env = [&](const char* name) -> const char* {
    return std::string_view(name) == "LANG" ? value.c_str() : nullptr;
  };
  for (const auto& candidates :
       {wavrel::host::LanguageCandidates("", env), wavrel::host::LanguageCandidates(value, env)}) {
    FUZZ_CHECK(!candidates.empty() && candidates.back() == "en");
    for (const std::string& stem : candidates) {
      FUZZ_CHECK(!stem.empty());
      FUZZ_CHECK(stem.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                        "0123456789_-") == std::string::npos);
    }
  }
  return 0;
}
