// The plug-in library's face toward the host: the export CreatePlugin, the
// plug-in object CWavrelPluginImpl (IBasePlugin first, IDestroyEvent second)
// and the IWavrel object CWavrelImpl that opens the conversion dialog.
//
// Threads: CreatePlugin and every operation below run on the host's
// user-interface thread (the one running the QApplication); none takes a
// lock. No exception leaves any of them.
#pragma once

#include <cstdint>

#include "plugin/plugin_interfaces.h"

namespace wavrel {

class CWavrelDlg;

/// Interface id of IWavrel in IBasePlugin::QueryInterface.
inline constexpr std::int32_t kWavrelInterfaceId = 1;

/// Identity handed to the host; static strings the host may keep.
inline constexpr char kPluginGuid[] = "CA15B339-7332-41ad-A093-EF6BB3C8970B";
inline constexpr char kPluginName[] = "WavrelPlugin";
inline constexpr std::int32_t kPluginVersion = 257;  // 0x101
inline constexpr std::int32_t kPluginType = 1;

/// lastError values.
inline constexpr std::int32_t kErrNone = 0;
inline constexpr std::int32_t kErrUnknownInterface = -1;

/// The IWavrel object. Owns the dialog object of the last ShowDialog, which
/// outlives its window until the next ShowDialog, Release or destruction.
class CWavrelImpl final : public IWavrel {
 public:
  CWavrelImpl() = default;
  CWavrelImpl(const CWavrelImpl&) = delete;
  CWavrelImpl& operator=(const CWavrelImpl&) = delete;
  /// Deletes the dialog object, as Release does.
  ~CWavrelImpl();

  /// Deletes the dialog object; the CWavrelImpl itself stays with the plug-in
  /// object. While the dialog is open (a host calling back from inside the
  /// modal loop) the deletion waits until the loop has ended.
  void Release() override;
  std::int32_t Reserved() override;
  /// Replaces the dialog object with a fresh one and runs it modally. 0 once
  /// it has closed; -1 when the dialog object or its window cannot be made,
  /// or when a dialog of this object is already open.
  std::int32_t ShowDialog() override;

  /// The dialog object of the last ShowDialog, or null.
  CWavrelDlg* Dialog() const { return dialog; }

 private:
  void DeleteDialog();

  CWavrelDlg* dialog = nullptr;
  bool m_running = false;         // inside ShowDialog's modal loop
  bool m_releasePending = false;  // Release came while the loop ran
};

/// The plug-in object that CreatePlugin hands out.
class CWavrelPluginImpl final : public IBasePlugin, public IDestroyEvent {
 public:
  CWavrelPluginImpl() = default;
  CWavrelPluginImpl(const CWavrelPluginImpl&) = delete;
  CWavrelPluginImpl& operator=(const CWavrelPluginImpl&) = delete;

  /// Deletes the CWavrelImpl (and with it the dialog object), then the plug-in
  /// object itself; a later CreatePlugin makes a new plug-in object.
  void Release() override;
  std::int32_t GetLastErrorCode() override;
  /// Stores host as the process-wide host pointer (null accepted).
  void SetHost(IPluginHost* host) override;
  bool Initialize() override;
  /// Id 1: the one CWavrelImpl (made on the first request), lastError 0, true.
  /// Other ids: null, lastError -1, false. When the object cannot be made:
  /// false, out and lastError untouched.
  bool QueryInterface(std::int32_t id, IBaseInterface** out) override;
  std::int32_t GetPluginType() override;
  const char* GetGuid() override;
  std::int32_t GetVersion() override;
  const char* GetName() override;
  bool Uninitialize() override;

  void OnDestroy() override;

 private:
  ~CWavrelPluginImpl();

  CWavrelImpl* wavrelImpl = nullptr;
  std::int32_t lastError = kErrNone;
};

}  // namespace wavrel
