// The host object the front ends hand to the plug-in (SetHost): it answers
// QueryService for the localisation service and nothing else.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "outside/host/ini_locale_service.h"
#include "plugin/frame/plugin_interfaces.h"

namespace wavrel::host {

class LanguageHost final : public IPluginHost {
 public:
  /// service is not owned and must outlive the host; it may be null (then no
  /// service is handed out).
  explicit LanguageHost(ILocaleMgrService* service) : m_service(service) {}
  LanguageHost(const LanguageHost&) = delete;
  LanguageHost& operator=(const LanguageHost&) = delete;
  ~LanguageHost() = default;

  void Release() override {}
  const char* GetHostName() override { return "wavrel"; }
  /// kLocaleServiceGuid (letters in any case) with kLocaleServiceRequestCode
  /// gives the service in *out and true; anything else null and false.
  bool QueryService(const char* serviceGuid, std::int32_t requestCode,
                    IBaseInterface** out) override;

 private:
  ILocaleMgrService* m_service;
};

/// The folder of the running program ending in '/', from /proc/self/exe;
/// empty when it cannot be read.
std::string ExecutableFolder();

/// A language loaded for a front end: the service and the host that hands it
/// out. Not movable: the host points at the service.
struct HostLanguage {
  IniLocaleService service;
  LanguageHost host{&service};
  std::string language;  // stem of the file loaded ("en", "zh_CN"); empty when none
  std::string path;      // that file

  HostLanguage() = default;
  HostLanguage(const HostLanguage&) = delete;
  HostLanguage& operator=(const HostLanguage&) = delete;
};

/// Loads the first of LanguageCandidates(explicitLanguage) that exists in
/// langFolder (which ends in '/'). When none loads, the service is there
/// with no texts and language is empty.
std::unique_ptr<HostLanguage> LoadHostLanguage(const std::string& langFolder,
                                               std::string_view explicitLanguage);

/// LoadHostLanguage from <executable folder>/lang/.
std::unique_ptr<HostLanguage> LoadHostLanguage(std::string_view explicitLanguage);

}  // namespace wavrel::host
