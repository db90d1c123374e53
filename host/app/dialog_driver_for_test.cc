// Preloaded (LD_PRELOAD) into the real wavrel-host by host_gui_test: drives
// the conversion dialog from inside the program as a user would. It clicks
// the first "..." (the input folder), answers the folder picker with
// $WAVREL_DRIVE_INPUT, then clicks the button captioned "Convert". Without
// $WAVREL_DRIVE_INPUT it only clicks "Convert" (the folders are chosen
// already, as when the host was opened with them).
#include <QApplication>
#include <QFileDialog>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

namespace {

enum class Step { kBrowse, kPick, kConvert, kDone };
Step g_step = Step::kBrowse;

/// The dialog's push buttons captioned text, top to bottom.
QList<QPushButton*> Buttons(QWidget* dialog, const QString& text) {
  QList<QPushButton*> found;
  for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
    if (button->text() == text && button->isEnabled()) found.append(button);
  }
  std::sort(found.begin(), found.end(),
            [](QPushButton* a, QPushButton* b) { return a->y() < b->y(); });
  return found;
}

/// Clicked from the event loop, not from inside this timer's slot: a click
/// may run a modal loop of its own.
void ClickLater(QPushButton* button) { QTimer::singleShot(0, button, &QPushButton::click); }

void Drive() {
  QWidget* modal = QApplication::activeModalWidget();
  if (modal == nullptr) return;
  if (auto* picker = qobject_cast<QFileDialog*>(modal)) {
    if (g_step != Step::kPick) return;
    g_step = Step::kConvert;
    picker->setDirectory(QString::fromLocal8Bit(qgetenv("WAVREL_DRIVE_INPUT")));
    static_cast<QDialog*>(picker)->accept();  // QFileDialog::accept, as its Choose button
    return;
  }
  if (g_step == Step::kBrowse) {
    const QList<QPushButton*> browse = Buttons(modal, QStringLiteral("..."));
    if (browse.isEmpty()) return;
    g_step = Step::kPick;
    ClickLater(browse.front());
  } else if (g_step == Step::kConvert) {
    const QList<QPushButton*> convert = Buttons(modal, QStringLiteral("Convert"));
    if (convert.isEmpty()) return;
    g_step = Step::kDone;
    ClickLater(convert.front());
  }
}

void StartDriving() {
  if (qEnvironmentVariableIsEmpty("WAVREL_DRIVE_INPUT")) g_step = Step::kConvert;
  QTimer::singleShot(0, qApp, [] {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, qApp, Drive);
    timer->start(50);
  });
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(StartDriving)
