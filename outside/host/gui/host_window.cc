#include "outside/host/gui/host_window.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cstdio>

#include "outside/host/ini_locale_service.h"

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

HostWindow::HostWindow(PluginSession& session, const IniLocaleService* texts,
                       const QString& language)
    : m_session(session), m_texts(texts) {
  setWindowTitle(HostText(texts, u"IDS_HOST_TITLE", "Wavrel"));

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

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  auto* info = new QLabel(central);
  info->setText(HostText(texts, u"IDS_HOST_PLUGIN", "Plug-in:") + QLatin1Char(' ') +
                QString::fromStdString(session.PluginTitle()) + QLatin1String("\n") +
                HostText(texts, u"IDS_HOST_LANGUAGE", "Language:") + QLatin1Char(' ') +
                (language.isEmpty() ? QStringLiteral("-") : language));
  layout->addWidget(info);
  m_convertButton = new QPushButton(convertText, central);
  m_convertButton->setObjectName(QStringLiteral("convertButton"));
  connect(m_convertButton, &QPushButton::clicked, this, [this] { OpenConverter(); });
  layout->addWidget(m_convertButton);
  layout->addStretch(1);
  setCentralWidget(central);
  resize(420, 160);
}

int HostWindow::OpenConverter() {
  if (m_quitStatus) return -1;
  m_converterOpen = true;
  const int result = m_session.ShowConverter();
  m_converterOpen = false;
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
