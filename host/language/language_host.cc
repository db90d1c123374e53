#include "host/language/language_host.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "base/module_path.h"

namespace wavrel::host {

namespace {

/// GUIDs compare without regard to the case of their hex digits.
bool SameGuid(std::string_view guid, std::string_view expected) {
  return std::equal(guid.begin(), guid.end(), expected.begin(), expected.end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

}  // namespace

bool LanguageHost::QueryService(const char* serviceGuid, std::int32_t requestCode,
                                IBaseInterface** out) {
  if (out == nullptr) return false;
  *out = nullptr;
  if (serviceGuid == nullptr) return false;
  if (m_service != nullptr && requestCode == kLocaleServiceRequestCode &&
      SameGuid(serviceGuid, kLocaleServiceGuid)) {
    *out = m_service;
    return true;
  }
  if (m_startFolder != nullptr && requestCode == kStartFolderServiceRequestCode &&
      SameGuid(serviceGuid, kStartFolderServiceGuid)) {
    *out = m_startFolder;
    return true;
  }
  return false;
}

std::string FolderOfPaths(const std::vector<std::string>& paths) {
  namespace fs = std::filesystem;
  for (const std::string& path : paths) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::exists(status)) continue;
    fs::path folder = fs::absolute(path, error);
    if (error) continue;
    folder = folder.lexically_normal();
    if (!fs::is_directory(status)) folder = folder.parent_path();
    std::string text = folder.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
  }
  return {};
}

std::string ExecutableFolder() {
  const std::optional<std::string> exe = ExecutablePath();
  if (!exe) return {};
  const std::size_t slash = exe->rfind('/');
  return slash == std::string::npos ? std::string() : exe->substr(0, slash + 1);
}

std::unique_ptr<HostLanguage> LoadHostLanguage(const std::string& langFolder,
                                               std::string_view explicitLanguage) {
  auto loaded = std::make_unique<HostLanguage>();
  for (const std::string& stem : LanguageCandidates(explicitLanguage)) {
    const std::string path = langFolder + stem + ".ini";
    if (loaded->service.LoadFile(path, nullptr)) {
      loaded->language = stem;
      loaded->path = path;
      break;
    }
  }
  return loaded;
}

std::unique_ptr<HostLanguage> LoadHostLanguage(std::string_view explicitLanguage) {
  const std::string exeFolder = ExecutableFolder();
  if (exeFolder.empty()) return std::make_unique<HostLanguage>();
  return LoadHostLanguage(exeFolder + "lang/", explicitLanguage);
}

}  // namespace wavrel::host
