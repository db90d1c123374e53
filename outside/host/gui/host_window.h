// The main window of wavrel-host: a menu entry and a button that open the
// conversion plug-in's dialog, and a line saying which plug-in and language
// are in use.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <optional>
#include <vector>

#include "outside/host/gui/plugin_session.h"

class QPushButton;
class QTimer;

namespace wavrel::host {

class IniLocaleService;

/// Texts of the host window: section "WavrelHost" of the language file, with
/// English defaults for keys the file lacks.
QString HostText(const IniLocaleService* texts, const char16_t* key, const char* fallback);

/// Tells the user about a failure: always on standard error, and in a
/// message box when there is a screen to show it on (not on the offscreen
/// and minimal platforms, where nobody could close it).
void ReportHostError(QWidget* parent, const QString& title, const QString& text);

class HostWindow final : public QMainWindow {
 public:
  /// session must outlive the window; texts may be null.
  HostWindow(PluginSession& session, const IniLocaleService* texts, const QString& language);

  /// Opens the conversion dialog and waits for it to close; a failure is
  /// reported to the user. Returns the dialog's result (0, or -1).
  int OpenConverter();

  /// Ends the event loop with status as closing every window would: each
  /// other window that is up, and each one that comes up until then, gets
  /// the request of its close box (the conversion dialog stops its run and
  /// cleans up, a message box takes the answer of its close box); the loop
  /// ends once the conversion dialog has closed, or at once when none is
  /// open. Later calls change nothing. GUI thread.
  void QuitClosingDialogs(int status);

 private:
  /// Sends a close request to each visible window but this one that has
  /// not had one yet.
  void CloseOtherWindows();

  PluginSession& m_session;
  const IniLocaleService* m_texts;
  QPushButton* m_convertButton = nullptr;
  bool m_converterOpen = false;
  std::optional<int> m_quitStatus;
  QTimer* m_closeTimer = nullptr;
  std::vector<QPointer<QWidget>> m_closeRequested;
};

}  // namespace wavrel::host
