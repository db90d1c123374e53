#include "frontends/dialog_qt/dialog_runner.h"

#include <QApplication>
#include <QFileInfo>
#include <QThread>

#include "frontends/dialog/wavrel_dlg.h"
#include "frontends/dialog_qt/wavrel_window.h"

namespace wavrel {

int RunWavrelDialogModal(CWavrelDlg& dlg, const std::u16string& startFolder) {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (app == nullptr || QThread::currentThread() != app->thread()) return -1;
  WavrelWindow window(&dlg);
  dlg.AttachWindow(&window);
  // Like WM_INITDIALOG: the controls exist, the window is not shown yet.
  dlg.InitDialog();
  if (!startFolder.empty()) {
    const QFileInfo start(QString::fromStdU16String(startFolder));
    window.ChooseFolder(FolderPickerKind::kInput,
                        start.isDir() ? start.absoluteFilePath() : start.absolutePath());
  }
  window.RunModal();
  dlg.AttachWindow(nullptr);
  return 0;
}

}  // namespace wavrel
