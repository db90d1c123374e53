// The main window of wavrel-host: a menu entry and a button that open the
// conversion plug-in's dialog (a folder or recordings dropped on the window
// open it with their folder chosen), and Help > About with the version, the
// plug-in, the libavcodec the decoder runs on and the licence.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "host/app/plugin_session.h"

class QCoreApplication;
class QPushButton;
class QTimer;
class QTranslator;

namespace wavrel::host {

class IniLocaleService;
class StartFolder;

/// Installs Qt's own translations (its dialogs' texts: the folder picker's
/// "Look in", "Choose", ...) for language ("zh_CN"; "zh" is tried too) from
/// Qt's translations folder into app, through translator, which must outlive
/// their use. False when there are none for it (English needs none).
bool LoadQtTranslations(QCoreApplication& app, const std::string& language,
                        QTranslator* translator);

/// The libavcodec that decoder (an evrc_2004) runs on, as its --version
/// names it ("libavcodec 59.37.100 (FFmpeg 5.1.6)"); empty when it cannot
/// be asked within a few seconds.
QString DecoderLibraryVersion(const QString& decoder);

/// The text of the About box: the program and its version, the plug-in,
/// the decoder's library and the licence.
QString AboutText(const IniLocaleService* texts, const QString& pluginTitle,
                  const QString& decoderLibrary, const QString& language);

/// Texts of the host window: section "WavrelHost" of the language file, with
/// English defaults for keys the file lacks.
QString HostText(const IniLocaleService* texts, const char16_t* key, const char* fallback);

/// Tells the user about a failure: always on standard error, and in a
/// message box when there is a screen to show it on (not on the offscreen
/// and minimal platforms, where nobody could close it).
void ReportHostError(QWidget* parent, const QString& title, const QString& text);

class HostWindow final : public QMainWindow {
 public:
  /// session must outlive the window; texts and startFolder may be null.
  /// startFolder is the service the plug-in reads the start folder from.
  HostWindow(PluginSession& session, const IniLocaleService* texts, const QString& language,
             StartFolder* startFolder = nullptr);

  /// Opens the conversion dialog and waits for it to close; a failure is
  /// reported to the user. Returns the dialog's result (0, or -1). A start
  /// folder set before is handed to this dialog only.
  int OpenConverter();
  /// OpenConverter with folder chosen in the dialog (needs a startFolder).
  int OpenConverterWith(const std::string& folder);
  /// The About box (modal).
  void ShowAbout();
  QString AboutBoxText() const;

  /// Ends the event loop with status as closing every window would: each
  /// other window that is up, and each one that comes up until then, gets
  /// the request of its close box (the conversion dialog stops its run and
  /// cleans up, a message box takes the answer of its close box); the loop
  /// ends once the conversion dialog has closed, or at once when none is
  /// open. Later calls change nothing. GUI thread.
  void QuitClosingDialogs(int status);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  /// Sends a close request to each visible window but this one that has
  /// not had one yet.
  void CloseOtherWindows();

  PluginSession& m_session;
  const IniLocaleService* m_texts;
  StartFolder* m_startFolder;
  QString m_language;
  QPushButton* m_convertButton = nullptr;
  bool m_converterOpen = false;
  std::optional<int> m_quitStatus;
  QTimer* m_closeTimer = nullptr;
  std::vector<QPointer<QWidget>> m_closeRequested;
};

}  // namespace wavrel::host
