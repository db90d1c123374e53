#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

#include "host/msgbox/qt_face.h"

namespace wavrel::msgbox {
namespace {

QMessageBox::Icon QtIcon(Icon icon) {
  switch (icon) {
    case Icon::kError:
      return QMessageBox::Critical;
    case Icon::kQuestion:
      return QMessageBox::Question;
    case Icon::kWarning:
      return QMessageBox::Warning;
    case Icon::kInformation:
      return QMessageBox::Information;
    case Icon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

QString ToQString(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QMessageBox::StandardButton StandardFor(ButtonId id) {
  switch (id) {
    case kIdOk:
      return QMessageBox::Ok;
    case kIdCancel:
      return QMessageBox::Cancel;
    case kIdAbort:
      return QMessageBox::Abort;
    case kIdRetry:
      return QMessageBox::Retry;
    case kIdIgnore:
      return QMessageBox::Ignore;
    case kIdYes:
      return QMessageBox::Yes;
    case kIdNo:
      return QMessageBox::No;
    case kIdTryAgain:
    case kIdContinue:
      break;
  }
  return QMessageBox::NoButton;
}

/// GUI thread only. A box asked for by another thread blocks only that
/// thread, not the application's windows: a dialog whose worker waits for the
/// answer still takes its Cancel and close requests (it notes them until the
/// box is answered, instead of having them dropped).
std::int32_t RunBox(const BoxRequest& request, bool forOtherThread) {
  // A box that is not modal must belong to the modal window that is up, if
  // any (the dialog), or that window's modality would block it.
  QWidget* parent = QApplication::activeWindow();
  if (forOtherThread && QApplication::activeModalWidget() != nullptr) {
    parent = QApplication::activeModalWidget();
  }
  // On the heap and watched: the parent may go while the box shows, and
  // takes the box with it.
  QPointer<QMessageBox> box =
      new QMessageBox(QtIcon(request.icon), ToQString(request.caption), ToQString(request.text),
                      QMessageBox::NoButton, parent);
  std::map<QAbstractButton*, ButtonId> ids;
  QAbstractButton* escape = nullptr;
  QAbstractButton* first = nullptr;
  for (const Button& button : request.buttons) {
    QAbstractButton* added = nullptr;
    const QMessageBox::StandardButton standard = StandardFor(button.id);
    if (standard != QMessageBox::NoButton) {
      added = box->addButton(standard);
      added->setText(ToQString(button.caption));
    } else {
      added = box->addButton(ToQString(button.caption), QMessageBox::AcceptRole);
    }
    ids[added] = button.id;
    if (first == nullptr) first = added;
    if (button.id == request.escapeId) escape = added;
  }
  if (auto* button = qobject_cast<QPushButton*>(first)) box->setDefaultButton(button);
  if (escape != nullptr) box->setEscapeButton(escape);
  if (forOtherThread) {
    QEventLoop loop;
    box->setWindowModality(Qt::NonModal);  // a message box is modal unless told
    QObject::connect(box, &QDialog::finished, &loop, &QEventLoop::quit);
    QObject::connect(box, &QObject::destroyed, &loop, &QEventLoop::quit);
    box->show();
    loop.exec();
  } else {
    box->exec();
  }
  std::int32_t result = request.escapeId;
  if (box != nullptr) {
    const auto it = ids.find(box->clickedButton());
    if (it != ids.end()) result = it->second;
    delete box.data();
  }
  return result;
}

/// How long a box asked for from another thread may wait for the GUI thread
/// to pick it up. A GUI thread that runs its event loop does so at once; one
/// that does not is blocked, possibly waiting for the very thread that asks
/// (a cancel joining the worker), so the request is withdrawn rather than
/// left to hang both threads.
constexpr std::chrono::milliseconds kPickUpTimeout{3000};

/// A box requested from another thread, shared by the asking thread and the
/// queued call on the GUI thread (either may finish first).
struct PendingBox {
  std::mutex mutex;
  std::condition_variable changed;
  bool started = false;    // the GUI thread has taken the request
  bool withdrawn = false;  // the asking thread gave up before that
  bool done = false;
  std::int32_t result = kIdCancel;
};

std::int32_t AskGuiThread(QCoreApplication* app, const BoxRequest& request) {
  auto pending = std::make_shared<PendingBox>();
  const bool posted = QMetaObject::invokeMethod(
      app,
      [pending, request] {
        {
          std::lock_guard<std::mutex> lock(pending->mutex);
          if (pending->withdrawn) return;
          pending->started = true;
        }
        const std::int32_t result = RunBox(request, true);
        std::lock_guard<std::mutex> lock(pending->mutex);
        pending->result = result;
        pending->done = true;
        pending->changed.notify_all();
      },
      Qt::QueuedConnection);
  if (!posted) return kIdCancel;
  std::unique_lock<std::mutex> lock(pending->mutex);
  if (!pending->changed.wait_for(lock, kPickUpTimeout, [&] { return pending->started; })) {
    pending->withdrawn = true;
    return kIdCancel;
  }
  // Shown: the user answers, however long that takes.
  pending->changed.wait(lock, [&] { return pending->done; });
  return pending->result;
}

}  // namespace

bool QtFaceAvailable() {
  return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

std::int32_t ShowQtBox(const BoxRequest& request) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return kIdCancel;
  if (QThread::currentThread() == app->thread()) return RunBox(request, false);
  return AskGuiThread(app, request);
}

}  // namespace wavrel::msgbox
