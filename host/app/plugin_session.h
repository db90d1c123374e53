// The host's side of the conversion plug-in: load the library, hand it the
// host object, take its IWavrel and open the dialog on demand; on close give
// everything back in order (IWavrel, plug-in object, library).
//
// Threads: the user-interface thread only, like every call into the plug-in.
#pragma once

#include <string>

#include "host/app/plugin_loader.h"
#include "plugin/plugin_interfaces.h"

namespace wavrel::host {

/// Interface id of IWavrel.
inline constexpr std::int32_t kWavrelInterface = 1;

/// Where the host looks for the plug-in: <host folder>Plugins/WavrelPlugin/.
/// hostFolder ends in '/'.
std::string WavrelPluginPath(const std::string& hostFolder);

class PluginSession {
 public:
  PluginSession() = default;
  PluginSession(const PluginSession&) = delete;
  PluginSession& operator=(const PluginSession&) = delete;
  ~PluginSession() { Close(); }

  /// Loads path, calls CreatePlugin, SetHost(host) and QueryInterface(1).
  /// false with ErrorText() when any of these fails; nothing stays loaded.
  bool Open(const std::string& path, IPluginHost* host);
  bool IsOpen() const { return m_wavrel != nullptr; }
  /// Runs the conversion dialog modally: 0 once it closed, -1 when the
  /// plug-in could not show it (ErrorText() then says so) or none is open.
  int ShowConverter();
  /// IWavrel Release, plug-in Release, library close. Safe to call twice.
  void Close();

  const std::string& ErrorText() const { return m_error; }
  /// The plug-in's name and version for the window ("WavrelPlugin 1.1").
  const std::string& PluginTitle() const { return m_title; }

 private:
  PluginLibrary m_library;
  IBasePlugin* m_plugin = nullptr;
  IWavrel* m_wavrel = nullptr;
  std::string m_error;
  std::string m_title;
};

}  // namespace wavrel::host
