#include "outside/host/gui/host_window.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
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
  const int result = m_session.ShowConverter();
  if (result != 0) {
    ReportHostError(this, windowTitle(), QString::fromStdString(m_session.ErrorText()));
  }
  return result;
}

}  // namespace wavrel::host
