#include "host/language/ini_locale_service.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "base/unicode.h"

namespace wavrel::host {

namespace {

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

std::string Where(int line) { return "line " + std::to_string(line) + ": "; }

/// Replaces \n, \t and \\; any other backslash stays as written and is noted.
std::string Unescape(std::string_view value, int line, std::vector<std::string>& problems) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      if (value[i] == '\\') problems.push_back(Where(line) + "backslash at the end of a value");
      out.push_back(value[i]);
      continue;
    }
    const char next = value[i + 1];
    if (next == 'n') {
      out.push_back('\n');
    } else if (next == 't') {
      out.push_back('\t');
    } else if (next == '\\') {
      out.push_back('\\');
    } else {
      problems.push_back(Where(line) + "unknown escape \\" + std::string(1, next));
      out.push_back('\\');
      out.push_back(next);
    }
    ++i;
  }
  return out;
}

}  // namespace

IniFile ParseIni(std::string_view text) {
  IniFile file;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  IniSection* section = nullptr;
  std::string sectionName;
  int lineNo = 0;
  while (!text.empty()) {
    ++lineNo;
    const std::size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;

    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) {
        file.problems.push_back(Where(lineNo) + "malformed section header");
        section = nullptr;
        continue;
      }
      sectionName = std::string(Trim(line.substr(1, line.size() - 2)));
      section = &file.sections[base::Utf8ToUtf16Replacing(sectionName)];
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      file.problems.push_back(Where(lineNo) + "no '=' in \"" + std::string(line) + "\"");
      continue;
    }
    const std::string_view key = Trim(line.substr(0, eq));
    if (key.empty()) {
      file.problems.push_back(Where(lineNo) + "empty key");
      continue;
    }
    if (section == nullptr) {
      file.problems.push_back(Where(lineNo) + "key " + std::string(key) + " outside a section");
      continue;
    }
    bool valid = true;
    std::u16string value = base::Utf8ToUtf16Replacing(
        Unescape(Trim(line.substr(eq + 1)), lineNo, file.problems), &valid);
    if (!valid) file.problems.push_back(Where(lineNo) + "invalid UTF-8");
    auto [it, inserted] =
        section->insert_or_assign(base::Utf8ToUtf16Replacing(key), std::move(value));
    if (!inserted) {
      file.problems.push_back(Where(lineNo) + "duplicate key " + std::string(key) + " in [" +
                              sectionName + "]");
    }
  }
  return file;
}

bool IniLocaleService::LoadFile(const std::string& path, std::string* err) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (err != nullptr) *err = "cannot open " + path;
    return false;
  }
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) {
    if (err != nullptr) *err = "cannot read " + path;
    return false;
  }
  LoadText(content.str());
  m_path = base::Utf8ToUtf16Replacing(path);
  return true;
}

void IniLocaleService::LoadText(std::string_view text) {
  m_file = ParseIni(text);
  m_path.clear();
}

const std::u16string* IniLocaleService::Find(std::u16string_view section,
                                             std::u16string_view key) const {
  const auto s = m_file.sections.find(section);
  if (s == m_file.sections.end()) return nullptr;
  const auto k = s->second.find(key);
  return k == s->second.end() ? nullptr : &k->second;
}

const char16_t* IniLocaleService::GetString(const char16_t* key, const char16_t* section,
                                            std::int32_t /*flags*/) {
  if (key == nullptr || section == nullptr) return nullptr;
  const std::u16string* text = Find(section, key);
  return text == nullptr ? nullptr : text->c_str();
}

const char16_t* IniLocaleService::GetFilePath() { return m_path.c_str(); }

bool IniLocaleService::HasSection(const char16_t* section) {
  return section != nullptr && m_file.sections.count(std::u16string_view(section)) != 0;
}

std::u16string IniLocaleService::Text(std::u16string_view section, std::u16string_view key) const {
  const std::u16string* text = Find(section, key);
  return text == nullptr ? std::u16string() : *text;
}

std::vector<std::string> LanguageCandidates(std::string_view explicitLanguage,
                                            const std::function<const char*(const char*)>& getEnv) {
  std::string name(explicitLanguage);
  if (name.empty()) {
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
      const char* value = getEnv(var);
      if (value != nullptr && *value != '\0') {
        name = value;
        break;
      }
    }
  }
  // "de_DE.UTF-8@euro" -> "de_DE"
  name = name.substr(0, name.find_first_of(".@"));
  std::vector<std::string> candidates;
  const bool safe = !name.empty() && name.find_first_not_of(
                                         "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                         "0123456789_-") == std::string::npos;
  if (safe && name != "C" && name != "POSIX") {
    if (name.rfind("zh", 0) == 0) {
      candidates.push_back("zh_CN");
    } else {
      candidates.push_back(name);
      const std::size_t sep = name.find_first_of("_-");
      if (sep != std::string::npos && sep > 0) candidates.push_back(name.substr(0, sep));
    }
  }
  if (candidates.empty() || candidates.back() != "en") {
    std::erase(candidates, std::string("en"));
    candidates.push_back("en");
  }
  return candidates;
}

}  // namespace wavrel::host
