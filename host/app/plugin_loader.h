// The host's loader for plug-in libraries: opens one library, finds its
// CreatePlugin and calls it, reporting each way this can fail as its own
// error so the user is told what is wrong with the installation.
#pragma once

#include <string>

#include "base/dynamic_library.h"
#include "plugin/plugin_interfaces.h"

namespace wavrel::host {

enum class PluginLoadError {
  kNone,
  kMissingFile,  // no file at the path
  kOpenFailed,   // the file is there but the dynamic loader refused it
  kNoEntry,      // the library has no CreatePlugin
  kNullPlugin,   // CreatePlugin returned null
};

/// One loaded plug-in library. The library stays open until Unload or
/// destruction; releasing the plug-in object is the caller's business and
/// must happen before that.
class PluginLibrary {
 public:
  PluginLibrary() = default;
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;
  ~PluginLibrary() { Unload(); }

  /// Opens path and calls its CreatePlugin. On failure nothing stays open and
  /// ErrorText() says what went wrong, naming the path.
  PluginLoadError Load(const std::string& path);
  /// The object CreatePlugin returned; null unless Load succeeded.
  IBasePlugin* Plugin() const { return m_plugin; }
  const std::string& ErrorText() const { return m_error; }
  bool IsLoaded() const { return m_library.IsOpen(); }
  /// Closes the library (the plug-in object must be released by then). The
  /// code stays mapped: Qt may still hold a pointer into it (a registered
  /// type, a queued call) when the library is closed before the application
  /// ends.
  void Unload();

 private:
  DynamicLibrary m_library;
  IBasePlugin* m_plugin = nullptr;
  std::string m_error;
};

}  // namespace wavrel::host
