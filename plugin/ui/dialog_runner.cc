#include "plugin/ui/dialog_runner.h"

#include <QApplication>
#include <QThread>

#include "plugin/engine/wavrel_dlg.h"
#include "plugin/ui/wavrel_window.h"

namespace wavrel {

int RunWavrelDialogModal(CWavrelDlg& dlg) {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (app == nullptr || QThread::currentThread() != app->thread()) return -1;
  WavrelWindow window(&dlg);
  dlg.AttachWindow(&window);
  // Like WM_INITDIALOG: the controls exist, the window is not shown yet.
  dlg.InitDialog();
  window.RunModal();
  dlg.AttachWindow(nullptr);
  return 0;
}

}  // namespace wavrel
