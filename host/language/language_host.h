// The host object the front ends hand to the plug-in (SetHost): it answers
// QueryService for the localisation service and, when the front end has one,
// the start-folder service; nothing else.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/language/ini_locale_service.h"
#include "plugin/plugin_interfaces.h"

namespace wavrel::host {

/// The folder a front end was opened with, for the plug-in's dialog
/// (IStartFolderService). Empty: none.
class StartFolder final : public IStartFolderService {
 public:
  void Release() override {}
  const char16_t* GetStartFolder() override {
    return m_folder.empty() ? nullptr : m_folder.c_str();
  }
  void Set(std::u16string folder) { m_folder = std::move(folder); }
  const std::u16string& Folder() const { return m_folder; }

 private:
  std::u16string m_folder;
};

/// The folder that opening paths (files or folders, as a file manager's
/// "Open with" gives them) chooses: the first path that is a folder, or the
/// folder of the first that is a file; absolute and without a trailing '/'.
/// Empty when none exists.
std::string FolderOfPaths(const std::vector<std::string>& paths);

class LanguageHost final : public IPluginHost {
 public:
  /// service and startFolder are not owned and must outlive the host; either
  /// may be null (then that service is not handed out).
  explicit LanguageHost(ILocaleMgrService* service, StartFolder* startFolder = nullptr)
      : m_service(service), m_startFolder(startFolder) {}
  LanguageHost(const LanguageHost&) = delete;
  LanguageHost& operator=(const LanguageHost&) = delete;
  ~LanguageHost() = default;

  void Release() override {}
  const char* GetHostName() override { return "wavrel"; }
  /// kLocaleServiceGuid (letters in any case) with kLocaleServiceRequestCode
  /// gives the service in *out and true, and so do kStartFolderServiceGuid
  /// with kStartFolderServiceRequestCode for the start folder; anything
  /// else null and false.
  bool QueryService(const char* serviceGuid, std::int32_t requestCode,
                    IBaseInterface** out) override;

 private:
  ILocaleMgrService* m_service;
  StartFolder* m_startFolder;
};

/// The folder of the running program ending in '/', from /proc/self/exe;
/// empty when it cannot be read.
std::string ExecutableFolder();

/// A language loaded for a front end: the service and the host that hands it
/// out. Not movable: the host points at the service.
struct HostLanguage {
  IniLocaleService service;
  StartFolder startFolder;  // empty unless the front end sets it
  LanguageHost host{&service, &startFolder};
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
