// CreatePlugin and the plug-in object CWavrelPluginImpl. The IWavrel object
// it hands out is defined with the dialog runner in wavrel_plugin_qt.cc.
#include "plugin/wavrel_plugin.h"

#include <new>

#include "plugin/host_services.h"

namespace wavrel {
namespace {

// The single plug-in object; cleared when it releases itself, so that a host
// calling CreatePlugin again gets a fresh object instead of a dangling one.
CWavrelPluginImpl* g_pluginInstance = nullptr;

}  // namespace

CWavrelPluginImpl::~CWavrelPluginImpl() {
  delete wavrelImpl;
  if (g_pluginInstance == this) g_pluginInstance = nullptr;
}

void CWavrelPluginImpl::Release() { delete this; }

std::int32_t CWavrelPluginImpl::GetLastErrorCode() { return lastError; }

void CWavrelPluginImpl::SetHost(IPluginHost* host) { SetHostPointer(host); }

bool CWavrelPluginImpl::Initialize() {
  lastError = kErrNone;
  return true;
}

bool CWavrelPluginImpl::QueryInterface(std::int32_t id, IBaseInterface** out) {
  if (id != kWavrelInterfaceId) {
    if (out != nullptr) *out = nullptr;
    lastError = kErrUnknownInterface;
    return false;
  }
  if (wavrelImpl == nullptr) {
    wavrelImpl = new (std::nothrow) CWavrelImpl();
    if (wavrelImpl == nullptr) return false;
  }
  if (out != nullptr) *out = wavrelImpl;
  lastError = kErrNone;
  return true;
}

std::int32_t CWavrelPluginImpl::GetPluginType() {
  lastError = kErrNone;
  return kPluginType;
}

const char* CWavrelPluginImpl::GetGuid() {
  lastError = kErrNone;
  return kPluginGuid;
}

std::int32_t CWavrelPluginImpl::GetVersion() {
  lastError = kErrNone;
  return kPluginVersion;
}

const char* CWavrelPluginImpl::GetName() {
  lastError = kErrNone;
  return kPluginName;
}

bool CWavrelPluginImpl::Uninitialize() { return true; }

void CWavrelPluginImpl::OnDestroy() {}

}  // namespace wavrel

// The window description is compiled in, so loading needs no registration and
// CreatePlugin is the whole entry.
IBasePlugin* CreatePlugin() {
  using wavrel::g_pluginInstance;
  if (g_pluginInstance == nullptr) {
    g_pluginInstance = new (std::nothrow) wavrel::CWavrelPluginImpl();
  }
  return g_pluginInstance;
}
