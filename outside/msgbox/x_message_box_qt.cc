#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QString>
#include <QThread>
#include <map>

#include "outside/msgbox/qt_face.h"

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

/// GUI thread only.
std::int32_t RunBox(const BoxRequest& request) {
  QMessageBox box(QtIcon(request.icon), ToQString(request.caption), ToQString(request.text),
                  QMessageBox::NoButton, QApplication::activeWindow());
  std::map<QAbstractButton*, ButtonId> ids;
  QAbstractButton* escape = nullptr;
  QAbstractButton* first = nullptr;
  for (const Button& button : request.buttons) {
    QAbstractButton* added = nullptr;
    const QMessageBox::StandardButton standard = StandardFor(button.id);
    if (standard != QMessageBox::NoButton) {
      added = box.addButton(standard);
      added->setText(ToQString(button.caption));
    } else {
      added = box.addButton(ToQString(button.caption), QMessageBox::AcceptRole);
    }
    ids[added] = button.id;
    if (first == nullptr) first = added;
    if (button.id == request.escapeId) escape = added;
  }
  if (auto* button = qobject_cast<QPushButton*>(first)) box.setDefaultButton(button);
  if (escape != nullptr) box.setEscapeButton(escape);
  box.exec();
  const auto it = ids.find(box.clickedButton());
  return it == ids.end() ? request.escapeId : it->second;
}

}  // namespace

bool QtFaceAvailable() {
  return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

std::int32_t ShowQtBox(const BoxRequest& request) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return kIdCancel;
  if (QThread::currentThread() == app->thread()) return RunBox(request);
  std::int32_t result = kIdCancel;
  const bool delivered = QMetaObject::invokeMethod(
      app, [&request, &result] { result = RunBox(request); }, Qt::BlockingQueuedConnection);
  return delivered ? result : kIdCancel;
}

}  // namespace wavrel::msgbox
