// The Qt window of the conversion dialog (template 3000). It builds the
// controls from the template's table, forwards button clicks and the close
// request to CWavrelDlg's handlers, and applies the control changes the
// dialog asks for through IDialogWindow.
//
// Threads: the window lives on the GUI thread. IDialogWindow calls from the
// GUI thread take effect at once; calls from other threads (the worker, the
// animation thread) record the change in the window's guarded copy and queue
// its application onto the GUI thread, never waiting for it. The widgets
// always end up showing the latest state recorded, whichever thread set it.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "plugin/engine/dialog_window.h"

class QWidget;

namespace wavrel {

class CAnimatedPicture;
class CWavrelDlg;

/// Dialog-unit conversion: x px = x * baseX / 4, y px = y * baseY / 8.
struct DialogBaseUnits {
  int x = 0;
  int y = 0;
  int ToPixelsX(int du) const { return du * x / 4; }
  int ToPixelsY(int du) const { return du * y / 8; }
};

/// Base units of font: baseX from the average width of the Latin letters,
/// baseY from the line height, as dialog templates measure them.
DialogBaseUnits BaseUnitsOf(const QFont& font);

/// Asks the user for a folder: the picked path, or nothing when cancelled.
using FolderPicker = std::function<std::optional<std::u16string>(
    FolderPickerKind kind, const std::u16string& title, QWidget* parent)>;

/// QFileDialog::getExistingDirectory showing folders only; the input picker
/// offers no way to make a folder, the output picker does.
std::optional<std::u16string> DefaultFolderPicker(FolderPickerKind kind,
                                                  const std::u16string& title, QWidget* parent);

class WavrelWindow : public QDialog, public IDialogWindow {
  Q_OBJECT

 public:
  /// dlg receives the clicks and the close request; it may be null (a window
  /// without logic, for tests), and must outlive the window otherwise.
  explicit WavrelWindow(CWavrelDlg* dlg, QWidget* parent = nullptr);
  ~WavrelWindow() override;

  void SetTitle(const std::u16string& title) override;
  void SetControlText(int id, const std::u16string& text) override;
  std::u16string GetControlText(int id) const override;
  void EnableControl(int id, bool enable) override;
  void ShowControl(int id, bool show) override;
  void RedrawAll() override;
  std::optional<std::u16string> PickFolder(FolderPickerKind kind,
                                           const std::u16string& title) override;
  IPictureControl& Picture() override;
  /// Ends the modal loop with Accepted, always from the event loop (queued),
  /// so it is safe from the close handler and from any thread.
  void EndDialog() override;

  /// Runs the modal loop until EndDialog; returns at once when EndDialog was
  /// carried out before. GUI thread.
  int RunModal();
  /// Replaces the folder picker (tests); the default is DefaultFolderPicker.
  void SetFolderPicker(FolderPicker picker);
  /// The widget of a control, or null for an unknown id. GUI thread only.
  QWidget* Control(int id) const;
  CAnimatedPicture& PictureControl() const { return *m_picture; }
  /// True once EndDialog's request has been carried out.
  bool Ended() const { return m_ended; }

  // Enter and Escape, and every other default OK/Cancel path, do nothing:
  // only EndDialog ends the dialog.
  void accept() override {}
  void reject() override {}

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  /// The close box (and Alt+F4, the window menu) asks CWavrelDlg, which ends
  /// the dialog through EndDialog when it may end.
  void closeEvent(QCloseEvent* event) override;

 private:
  struct ControlState {
    QString text;
    bool enabled = true;
    bool visible = true;
  };

  void BuildControls();
  void ConnectButtons();
  /// Runs fn on the GUI thread: now when called there, else queued.
  void OnGuiThread(std::function<void()> fn);
  /// Makes control id's widget show its recorded state. GUI thread.
  void Apply(int id);
  void ApplyTitle();

  CWavrelDlg* m_dlg;
  CAnimatedPicture* m_picture = nullptr;  // owned by Qt's parent chain
  std::map<int, QWidget*> m_widgets;      // GUI thread only
  FolderPicker m_picker;
  bool m_ended = false;

  mutable std::mutex m_stateMutex;  // guards the two members below
  std::map<int, ControlState> m_state;
  QString m_title;
};

}  // namespace wavrel
