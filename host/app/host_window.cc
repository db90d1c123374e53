#include "host/app/host_window.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cstdio>

#include "base/unicode.h"
#include "host/language/ini_locale_service.h"
#include "host/language/language_host.h"
#include "wavrel_version.h"

namespace wavrel::host {

QString HostText(const IniLocaleService* texts, const char16_t* key, const char* fallback) {
  if (texts != nullptr) {
    const std::u16string text = texts->Text(u"WavrelHost", key);
    if (!text.empty()) return QString::fromStdU16String(text);
  }
  return QString::fromUtf8(fallback);
}

void ReportHostError(QWidget* parent, const QString& title, const QString& text) {
  std::fprintf(stderr, "wavrel-host: %s\n", text.toLocal8Bit().constData());
  std::fflush(stderr);
  const QString platform = QGuiApplication::platformName();
  if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) return;
  QMessageBox::warning(parent, title, text);
}

bool LoadQtTranslations(QCoreApplication& app, const std::string& language,
                        QTranslator* translator) {
  if (language.empty()) return false;
  const QLocale locale(QString::fromStdString(language));
  // Finds qtbase_zh_CN.qm, else qtbase_zh.qm.
  if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    return false;
  }
  QLocale::setDefault(locale);
  return app.installTranslator(translator);
}

QString DecoderLibraryVersion(const QString& decoder) {
  QProcess process;
  process.setProcessChannelMode(QProcess::SeparateChannels);
  process.start(decoder, {QStringLiteral("--version")});
  if (!process.waitForFinished(3000)) {
    process.kill();
    process.waitForFinished(1000);
    return {};
  }
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return {};
  for (const QString& line : QString::fromUtf8(process.readAllStandardOutput()).split('\n')) {
    if (line.startsWith(QLatin1String("libavcodec "))) return line.trimmed();
  }
  return {};
}

QString AboutText(const IniLocaleService* texts, const QString& pluginTitle,
                  const QString& decoderLibrary, const QString& language) {
  const QString unknown = HostText(texts, u"IDS_HOST_UNKNOWN", "unknown");
  QStringList lines;
  lines << QStringLiteral("Wavrel " WAVREL_VERSION)
        << HostText(texts, u"IDS_HOST_ABOUT_TEXT", "Converts QCP voice recordings into WAV files.")
        << QString()
        << HostText(texts, u"IDS_HOST_PLUGIN", "Plug-in:") + QLatin1Char(' ') +
               (pluginTitle.isEmpty() ? unknown : pluginTitle)
        << HostText(texts, u"IDS_HOST_DECODER", "Decoder:") + QLatin1Char(' ') +
               (decoderLibrary.isEmpty() ? unknown : decoderLibrary)
        << HostText(texts, u"IDS_HOST_LANGUAGE", "Language:") + QLatin1Char(' ') +
               (language.isEmpty() ? QStringLiteral("-") : language)
        << QString()
        << HostText(texts, u"IDS_HOST_LICENSE", "License:") +
               QStringLiteral(" " WAVREL_LICENSE " (GNU GPL version 3 or later)")
        << HostText(texts, u"IDS_HOST_NO_WARRANTY",
                    "This is free software: you are free to change and redistribute it. "
                    "There is NO WARRANTY, to the extent permitted by law.");
  return lines.join(QLatin1Char('\n'));
}

HostWindow::HostWindow(PluginSession& session, const IniLocaleService* texts,
                       const QString& language, StartFolder* startFolder)
    : m_session(session), m_texts(texts), m_startFolder(startFolder), m_language(language) {
  setWindowTitle(HostText(texts, u"IDS_HOST_TITLE", "Wavrel"));
  setAcceptDrops(m_startFolder != nullptr);

  const QString convertText =
      HostText(texts, u"IDS_HOST_CONVERT", "&Convert QCP recordings to WAV...");
  QMenu* fileMenu = menuBar()->addMenu(HostText(texts, u"IDS_HOST_MENU_FILE", "&File"));
  QAction* convertAction = fileMenu->addAction(convertText);
  convertAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  connect(convertAction, &QAction::triggered, this, [this] { OpenConverter(); });
  fileMenu->addSeparator();
  QAction* quitAction = fileMenu->addAction(HostText(texts, u"IDS_HOST_QUIT", "&Quit"));
  quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  connect(quitAction, &QAction::triggered, this, &QWidget::close);
  QMenu* helpMenu = menuBar()->addMenu(HostText(texts, u"IDS_HOST_MENU_HELP", "&Help"));
  QAction* aboutAction = helpMenu->addAction(HostText(texts, u"IDS_HOST_ABOUT", "&About Wavrel"));
  aboutAction->setObjectName(QStringLiteral("aboutAction"));
  connect(aboutAction, &QAction::triggered, this, [this] { ShowAbout(); });

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  auto* info = new QLabel(central);
  info->setObjectName(QStringLiteral("intro"));
  info->setWordWrap(true);
  info->setText(HostText(texts, u"IDS_HOST_INTRO",
                         "Converts the QCP voice recordings of a folder into WAV files. Drop a "
                         "folder or recordings here to convert them."));
  layout->addWidget(info);
  m_convertButton = new QPushButton(convertText, central);
  m_convertButton->setObjectName(QStringLiteral("convertButton"));
  connect(m_convertButton, &QPushButton::clicked, this, [this] { OpenConverter(); });
  layout->addWidget(m_convertButton);
  layout->addStretch(1);
  setCentralWidget(central);
  resize(420, 160);
}

QString HostWindow::AboutBoxText() const {
  const QString decoder =
      QString::fromStdString(ExecutableFolder()) + QStringLiteral("Plugins/WavrelPlugin/evrc_2004");
  return AboutText(m_texts, QString::fromStdString(m_session.PluginTitle()),
                   DecoderLibraryVersion(decoder), m_language);
}

void HostWindow::ShowAbout() {
  QMessageBox::about(this, HostText(m_texts, u"IDS_HOST_ABOUT_TITLE", "About Wavrel"),
                     AboutBoxText());
}

int HostWindow::OpenConverterWith(const std::string& folder) {
  if (m_startFolder != nullptr) m_startFolder->Set(base::Utf8ToUtf16Replacing(folder));
  return OpenConverter();
}

void HostWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (m_startFolder != nullptr && !m_converterOpen && event->mimeData()->hasUrls()) {
    event->acceptProposedAction();
  }
}

void HostWindow::dropEvent(QDropEvent* event) {
  std::vector<std::string> paths;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
  }
  const std::string folder = FolderOfPaths(paths);
  if (folder.empty() || m_converterOpen) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  // Opened from the event loop: the drop's source waits for this event's end.
  QTimer::singleShot(0, this, [this, folder] { OpenConverterWith(folder); });
}

int HostWindow::OpenConverter() {
  if (m_quitStatus) return -1;
  m_converterOpen = true;
  const int result = m_session.ShowConverter();
  m_converterOpen = false;
  if (m_startFolder != nullptr) m_startFolder->Set({});  // for that dialog only
  if (m_quitStatus) {
    m_closeTimer->stop();
    QCoreApplication::exit(*m_quitStatus);
    return result;
  }
  if (result != 0) {
    ReportHostError(this, windowTitle(), QString::fromStdString(m_session.ErrorText()));
  }
  return result;
}

void HostWindow::QuitClosingDialogs(int status) {
  if (m_quitStatus) return;
  m_quitStatus = status;
  if (!m_converterOpen) {
    // Nothing to stop: a box of the host's own just goes with the loop.
    QCoreApplication::exit(status);
    return;
  }
  // A window may come up later: the dialog puts up a box that its run asked
  // for a moment ago, or shows itself only after start-up. The dialog's
  // close waits for such a box to be answered.
  m_closeTimer = new QTimer(this);
  connect(m_closeTimer, &QTimer::timeout, this, [this] { CloseOtherWindows(); });
  m_closeTimer->start(100);
  CloseOtherWindows();
}

void HostWindow::CloseOtherWindows() {
  std::vector<QPointer<QWidget>> windows;
  for (QWidget* widget : QApplication::topLevelWidgets()) windows.emplace_back(widget);
  // A close may take other windows with it (a box goes with its parent).
  for (const QPointer<QWidget>& widget : windows) {
    if (widget == nullptr || widget == this || !widget->isVisible()) continue;
    if (std::find(m_closeRequested.begin(), m_closeRequested.end(), widget) !=
        m_closeRequested.end()) {
      continue;
    }
    m_closeRequested.push_back(widget);
    widget->close();
  }
}

}  // namespace wavrel::host
