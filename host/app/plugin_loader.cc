#include "host/app/plugin_loader.h"

#include <sys/stat.h>

namespace wavrel::host {

PluginLoadError PluginLibrary::Load(const std::string& path) {
  Unload();
  m_error.clear();
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) {
    m_error = "The plug-in library " + path + " is missing.";
    return PluginLoadError::kMissingFile;
  }
  std::string why;
  if (!m_library.Open(path, &why, true)) {
    m_error = "The plug-in library " + path + " cannot be loaded: " + why;
    return PluginLoadError::kOpenFailed;
  }
  void* entry = m_library.Symbol("CreatePlugin", nullptr);
  if (entry == nullptr) {
    m_library.Close();
    m_error = "The plug-in library " + path + " has no entry CreatePlugin.";
    return PluginLoadError::kNoEntry;
  }
  IBasePlugin* plugin = nullptr;
  try {
    plugin = reinterpret_cast<CreatePluginFn>(entry)();
  } catch (...) {
    plugin = nullptr;
  }
  if (plugin == nullptr) {
    m_library.Close();
    m_error = "The plug-in library " + path + " did not make its plug-in object.";
    return PluginLoadError::kNullPlugin;
  }
  m_plugin = plugin;
  return PluginLoadError::kNone;
}

void PluginLibrary::Unload() {
  m_plugin = nullptr;
  m_library.Close();
}

}  // namespace wavrel::host
