#include "host/app/plugin_session.h"

namespace wavrel::host {

std::string WavrelPluginPath(const std::string& hostFolder) {
  return hostFolder + "Plugins/WavrelPlugin/libWavrelPlugin.so";
}

bool PluginSession::Open(const std::string& path, IPluginHost* host) {
  Close();
  m_error.clear();
  if (m_library.Load(path) != PluginLoadError::kNone) {
    m_error = m_library.ErrorText();
    return false;
  }
  m_plugin = m_library.Plugin();
  m_plugin->SetHost(host);
  IBaseInterface* object = nullptr;
  const bool ok = m_plugin->QueryInterface(kWavrelInterface, &object);
  m_wavrel = ok ? dynamic_cast<IWavrel*>(object) : nullptr;
  if (m_wavrel == nullptr) {
    m_error = "The plug-in " + path + " offers no conversion dialog (error code " +
              std::to_string(m_plugin->GetLastErrorCode()) + ").";
    Close();
    return false;
  }
  const char* name = m_plugin->GetName();
  const std::int32_t version = m_plugin->GetVersion();
  m_title = std::string(name != nullptr ? name : "plug-in") + " " + std::to_string(version >> 8) +
            "." + std::to_string(version & 0xff);
  return true;
}

int PluginSession::ShowConverter() {
  if (m_wavrel == nullptr) {
    if (m_error.empty()) m_error = "No conversion plug-in is loaded.";
    return -1;
  }
  if (m_wavrel->ShowDialog() != 0) {
    m_error = "The conversion dialog could not be shown.";
    return -1;
  }
  return 0;
}

void PluginSession::Close() {
  if (m_wavrel != nullptr) m_wavrel->Release();
  m_wavrel = nullptr;
  if (m_plugin != nullptr) m_plugin->Release();
  m_plugin = nullptr;
  m_library.Unload();
  m_title.clear();
}

}  // namespace wavrel::host
