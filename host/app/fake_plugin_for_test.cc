// A plug-in library for the host's tests, built in four ways: a plug-in that
// records every call it gets, one without CreatePlugin, one whose CreatePlugin
// gives null, and one that offers no conversion dialog.
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/plugin_interfaces.h"

namespace {

std::vector<std::string>* g_log = nullptr;
IPluginHost* g_host = nullptr;

void Note(const std::string& event) {
  if (g_log != nullptr) g_log->push_back(event);
}

class FakeWavrel final : public IWavrel {
 public:
  void Release() override { Note("IWavrel::Release"); }
  std::int32_t Reserved() override { return 0; }
  /// "ShowDialog", followed by the host's start folder when it gives one.
  std::int32_t ShowDialog() override {
    std::string event = "ShowDialog";
    IBaseInterface* object = nullptr;
    if (g_host != nullptr &&
        g_host->QueryService(kStartFolderServiceGuid, kStartFolderServiceRequestCode, &object)) {
      const char16_t* folder = static_cast<IStartFolderService*>(object)->GetStartFolder();
      // ASCII paths only in the tests.
      if (folder != nullptr)
        event += " " + std::string(folder, folder + std::char_traits<char16_t>::length(folder));
      object->Release();
    }
    Note(event);
    return 0;
  }
};

class FakePlugin final : public IBasePlugin {
 public:
  void Release() override {
    Note("IBasePlugin::Release");
    g_host = nullptr;
    delete this;
  }
  std::int32_t GetLastErrorCode() override { return m_lastError; }
  void SetHost(IPluginHost* host) override {
    g_host = host;
    Note(host != nullptr ? "SetHost" : "SetHost(null)");
  }
  bool Initialize() override { return true; }
  bool QueryInterface(std::int32_t id, IBaseInterface** out) override {
    Note("QueryInterface(" + std::to_string(id) + ")");
#ifdef FAKE_PLUGIN_NODIALOG
    *out = nullptr;
    m_lastError = -1;
    return false;
#else
    *out = id == 1 ? &m_wavrel : nullptr;
    m_lastError = id == 1 ? 0 : -1;
    return id == 1;
#endif
  }
  std::int32_t GetPluginType() override { return 1; }
  const char* GetGuid() override { return "fake"; }
  std::int32_t GetVersion() override { return 0x102; }
  const char* GetName() override { return "FakePlugin"; }
  bool Uninitialize() override { return true; }

 private:
  ~FakePlugin() = default;
  FakeWavrel m_wavrel;
  std::int32_t m_lastError = 0;
};

}  // namespace

/// Where the plug-in writes its calls (null: nowhere).
WAVREL_EXPORT void FakePluginSetLog(std::vector<std::string>* log) { g_log = log; }

#ifndef FAKE_PLUGIN_NOENTRY
IBasePlugin* CreatePlugin() {
  Note("CreatePlugin");
#ifdef FAKE_PLUGIN_NULLENTRY
  return nullptr;
#else
  return new FakePlugin();
#endif
}
#endif
