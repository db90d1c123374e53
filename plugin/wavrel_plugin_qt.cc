// CWavrelImpl, the IWavrel object. This file goes into libWavrelPlugin.so
// itself rather than the toolkit-free wavrel_frame, because ShowDialog runs the Qt
// window of the dialog.
#include <new>

#include "frontends/dialog/wavrel_dlg.h"
#include "frontends/dialog_qt/dialog_runner.h"
#include "plugin/host_services.h"
#include "plugin/production_environment.h"
#include "plugin/wavrel_plugin.h"

namespace wavrel {

CWavrelImpl::~CWavrelImpl() { DeleteDialog(); }

void CWavrelImpl::DeleteDialog() {
  try {
    delete dialog;  // stops the dialog's worker threads
  } catch (...) {
  }
  dialog = nullptr;
  m_releasePending = false;
}

void CWavrelImpl::Release() {
  if (m_running) {
    m_releasePending = true;
    return;
  }
  DeleteDialog();
}

std::int32_t CWavrelImpl::Reserved() { return 0; }

// The Qt window builds itself from the control table compiled into this
// library: nothing is looked up or kept around the modal loop.
std::int32_t CWavrelImpl::ShowDialog() {
  if (m_running) return -1;  // the open dialog is still in use on the stack
  // The previous dialog object's window ended with its modal loop.
  DeleteDialog();
  try {
    dialog = new (std::nothrow) CWavrelDlg(ProductionEnvironment());
  } catch (...) {
    dialog = nullptr;
  }
  if (dialog == nullptr) return -1;

  int result = -1;
  m_running = true;
  try {
    result = RunWavrelDialogModal(*dialog, GetHostStartFolder(GetHostPointer()));
  } catch (...) {
    result = -1;
  }
  m_running = false;
  if (m_releasePending) DeleteDialog();
  return result == 0 ? 0 : -1;
}

}  // namespace wavrel
