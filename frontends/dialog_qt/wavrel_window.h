// The Qt window of the conversion dialog (template 3000). It builds the
// controls from the template's table, forwards button clicks and the close
// request to CWavrelDlg's handlers, and applies the control changes the
// dialog asks for through IDialogWindow.
//
// What the window adds of its own, without the dialog's logic knowing: a
// folder dropped on it is chosen as the picker would choose it (the window
// answers the browse handler's picker call itself), the pickers open where
// the user was (the fields, else the folders remembered in the user's
// settings), long folder paths show both ends, and the end of a run's offer
// to open the output folder sits in a row of its own below the folders.
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

#include "frontends/dialog/dialog_window.h"

class QLabel;
class QMimeData;
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

/// Asks the user for a folder, opening at startFolder (an existing folder):
/// the picked path, or nothing when cancelled.
using FolderPicker =
    std::function<std::optional<std::u16string>(FolderPickerKind kind, const std::u16string& title,
                                                const QString& startFolder, QWidget* parent)>;

/// QFileDialog::getExistingDirectory showing folders only; the input picker
/// offers no way to make a folder, the output picker does.
std::optional<std::u16string> DefaultFolderPicker(FolderPickerKind kind,
                                                  const std::u16string& title,
                                                  const QString& startFolder, QWidget* parent);

/// Shows folder in the desktop's file manager; false when none could.
using FolderOpener = std::function<bool(const QString& folder)>;

/// The folder that a drop of mime chooses: a dropped folder itself, a
/// dropped file's folder; the first local item that exists decides. Empty
/// when the drop holds no such item.
QString DroppedFolder(const QMimeData* mime);

/// Where the user's folders are remembered between runs (QSettings, INI
/// format, user scope): wavrel/WavrelPlugin.ini in the user's config folder.
inline constexpr char kSettingsOrganization[] = "wavrel";
inline constexpr char kSettingsApplication[] = "WavrelPlugin";

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
  /// Shows the offer row: text (shortened in the middle to fit, whole in
  /// its tooltip) and a link captioned action that opens folder. The row
  /// goes again when a folder is browsed for or dropped, or a run starts.
  void OfferFolder(const std::u16string& folder, const std::u16string& text,
                   const std::u16string& action) override;

  /// Chooses folder as the picker would: runs the browse handler of kind
  /// with folder as the picker's answer. Nothing while that browse button is
  /// disabled (a run in work) or without a dialog. GUI thread.
  void ChooseFolder(FolderPickerKind kind, const QString& folder);
  /// The folder a picker of kind opens at: for the input picker the input
  /// field's folder, else the remembered input folder; for the output
  /// picker the output field's last folder, else the input field's, else
  /// the remembered output folder. Only existing folders count; the user's
  /// home folder when none does.
  QString PickerStartFolder(FolderPickerKind kind) const;

  /// Runs the modal loop until EndDialog; returns at once when EndDialog was
  /// carried out before. GUI thread.
  int RunModal();
  /// Replaces the folder picker (tests); the default is DefaultFolderPicker.
  void SetFolderPicker(FolderPicker picker);
  /// Replaces the file manager's opener (tests); the default asks
  /// QDesktopServices to open the folder's file: URL.
  void SetFolderOpener(FolderOpener opener);
  /// The offer row's text and link (hidden while there is no offer).
  QLabel* OfferText() const { return m_offerText; }
  QLabel* OfferLink() const { return m_offerLink; }
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
  /// A drop of folders or files is taken where it would choose a folder: on
  /// the output field's row for the output folder, anywhere else for the
  /// input folder, while that browse button is enabled.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  struct ControlState {
    QString text;
    bool enabled = true;
    bool visible = true;
  };

  void BuildControls();
  void BuildOfferRow(const DialogBaseUnits& units);
  void ConnectButtons();
  /// The picker kind a drop at pos chooses for.
  FolderPickerKind DropTarget(const QPoint& pos) const;
  /// True when a drop of mime at pos would choose a folder now.
  bool AcceptsDrop(const QMimeData* mime, const QPoint& pos) const;
  void HideOffer();
  void OpenOfferedFolder();
  /// Runs fn on the GUI thread: now when called there, else queued.
  void OnGuiThread(std::function<void()> fn);
  /// Makes control id's widget show its recorded state. GUI thread.
  void Apply(int id);
  void ApplyTitle();

  CWavrelDlg* m_dlg;
  CAnimatedPicture* m_picture = nullptr;  // owned by Qt's parent chain
  std::map<int, QWidget*> m_widgets;      // GUI thread only
  FolderPicker m_picker;
  FolderOpener m_opener;
  bool m_ended = false;
  std::optional<QString> m_chosenFolder;  // the next picker's answer (ChooseFolder)
  QLabel* m_offerText = nullptr;          // owned by Qt's parent chain
  QLabel* m_offerLink = nullptr;
  QString m_offeredFolder;

  mutable std::mutex m_stateMutex;  // guards the two members below
  std::map<int, ControlState> m_state;
  QString m_title;
  QString m_lastOutputFolder;  // the output field's last folder, without its '/'
};

}  // namespace wavrel
