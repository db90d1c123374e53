// The plug-in entry's way to show the conversion dialog on screen.
#pragma once

namespace wavrel {

class CWavrelDlg;

/// Runs dlg modally in a fresh Qt window on the calling thread, which must be
/// the thread of the running QApplication (the host's user-interface
/// thread). Returns 0 once the dialog has been ended (only through
/// CWavrelDlg::EndDialog's path: its close handler), -1 when no window can be
/// made (no QApplication, or called from another thread). dlg stays attached
/// to the window only while this call runs.
int RunWavrelDialogModal(CWavrelDlg& dlg);

}  // namespace wavrel
