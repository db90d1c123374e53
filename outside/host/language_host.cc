#include "outside/host/language_host.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "base/module_path.h"

namespace wavrel::host {

bool LanguageHost::QueryService(const char* serviceGuid, std::int32_t requestCode,
                                IBaseInterface** out) {
  if (out == nullptr) return false;
  *out = nullptr;
  if (serviceGuid == nullptr || m_service == nullptr) return false;
  if (requestCode != kLocaleServiceRequestCode) return false;
  // The GUID compares without regard to the case of its hex digits.
  const std::string_view guid(serviceGuid);
  const std::string_view expected(kLocaleServiceGuid);
  if (!std::equal(guid.begin(), guid.end(), expected.begin(), expected.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
      })) {
    return false;
  }
  *out = m_service;
  return true;
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
