// The plug-in entry's way to show the conversion dialog on screen.
#pragma once

#include <string>

namespace wavrel {

class CWavrelDlg;

/// Runs dlg modally in a fresh Qt window on the calling thread, which must be
/// the thread of the running QApplication (the host's user-interface
/// thread): attaches the window, runs dlg.InitDialog() before the window is
/// shown, and returns 0 once the dialog has ended (its close handler is the
/// only way out: Enter and Escape do nothing). -1 when no window can be made
/// (no QApplication, or called from another thread). dlg is attached to the
/// window only while this call runs. A startFolder (a folder or file the
/// user opened the host with) is chosen as the input folder right after
/// start-up, as the picker would choose it; empty chooses nothing.
int RunWavrelDialogModal(CWavrelDlg& dlg, const std::u16string& startFolder = {});

}  // namespace wavrel
