#include "outside/host/gui/plugin_loader.h"

#include <dlfcn.h>
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
  ::dlerror();
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    m_error = "The plug-in library " + path +
              " cannot be loaded: " + (why != nullptr ? why : "unknown reason");
    return PluginLoadError::kOpenFailed;
  }
  ::dlerror();
  void* entry = ::dlsym(handle, "CreatePlugin");
  if (entry == nullptr) {
    ::dlclose(handle);
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
    ::dlclose(handle);
    m_error = "The plug-in library " + path + " did not make its plug-in object.";
    return PluginLoadError::kNullPlugin;
  }
  m_handle = handle;
  m_plugin = plugin;
  return PluginLoadError::kNone;
}

void PluginLibrary::Unload() {
  m_plugin = nullptr;
  if (m_handle != nullptr) {
    ::dlclose(m_handle);
    m_handle = nullptr;
  }
}

}  // namespace wavrel::host
