#include "plugin/ui/wavrel_window.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QThread>

#include "plugin/engine/wavrel_dlg.h"
#include "plugin/resources/dialog_template.h"
#include "plugin/ui/animated_picture_qt.h"

namespace wavrel {
namespace {

const DialogControl* FindControl(int id) {
  for (const DialogControl& control : kDialogControls) {
    if (control.id == id && id != kNoControlId) return &control;
  }
  return nullptr;
}

/// A picked path without its trailing '/', except the root itself.
std::u16string WithoutTrailingSlash(std::u16string path) {
  while (path.size() > 1 && path.back() == u'/') path.pop_back();
  return path;
}

}  // namespace

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  DialogBaseUnits units;
  units.x = (letters / 26 + 1) / 2;  // the average letter width, rounded
  units.y = metrics.height();
  if (units.x <= 0) units.x = 1;
  if (units.y <= 0) units.y = 1;
  return units;
}

std::optional<std::u16string> DefaultFolderPicker(FolderPickerKind kind,
                                                  const std::u16string& title, QWidget* parent) {
  QFileDialog::Options options = QFileDialog::ShowDirsOnly;
  // The input picker only chooses; the output picker may make a new folder.
  if (kind == FolderPickerKind::kInput) options |= QFileDialog::ReadOnly;
  const QString picked = QFileDialog::getExistingDirectory(parent, QString::fromStdU16String(title),
                                                           QString(), options);
  if (picked.isEmpty()) return std::nullopt;
  return picked.toStdU16String();
}

WavrelWindow::WavrelWindow(CWavrelDlg* dlg, QWidget* parent)
    : QDialog(parent), m_dlg(dlg), m_picker(DefaultFolderPicker) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setModal(true);
  BuildControls();
  ConnectButtons();
}

WavrelWindow::~WavrelWindow() = default;

void WavrelWindow::BuildControls() {
  const DialogBaseUnits units = BaseUnitsOf(font());
  setFixedSize(units.ToPixelsX(kDialogWidthDu), units.ToPixelsY(kDialogHeightDu));
  for (const DialogControl& control : kDialogControls) {
    const QString caption = QString::fromUtf8(control.caption);
    QWidget* widget = nullptr;
    switch (control.kind) {
      case ControlKind::kGroupBox:
        widget = new QGroupBox(caption, this);
        break;
      case ControlKind::kStaticText:
      case ControlKind::kStaticCentred: {
        auto* label = new QLabel(caption, this);
        label->setAlignment(
            (control.kind == ControlKind::kStaticCentred ? Qt::AlignHCenter : Qt::AlignLeft) |
            Qt::AlignVCenter);
        label->setTextFormat(Qt::PlainText);
        widget = label;
        break;
      }
      case ControlKind::kPicture:
        m_picture = new CAnimatedPicture(this);
        widget = m_picture;
        break;
      case ControlKind::kEdit: {
        auto* edit = new QLineEdit(caption, this);
        edit->setReadOnly(true);
        widget = edit;
        break;
      }
      case ControlKind::kPushButton: {
        auto* button = new QPushButton(caption, this);
        // Enter must not click anything: the dialog has no default button.
        button->setAutoDefault(false);
        button->setDefault(false);
        widget = button;
        break;
      }
    }
    widget->setGeometry(units.ToPixelsX(control.x), units.ToPixelsY(control.y),
                        units.ToPixelsX(control.width), units.ToPixelsY(control.height));
    if (control.id == kNoControlId) continue;
    m_widgets[control.id] = widget;
    std::lock_guard lock(m_stateMutex);
    m_state[control.id].text = caption;
  }
}

void WavrelWindow::ConnectButtons() {
  if (m_dlg == nullptr) return;
  const auto button = [this](int id) { return static_cast<QPushButton*>(m_widgets.at(id)); };
  connect(button(kIdBrowseInput), &QPushButton::clicked, this, [this] { m_dlg->OnBrowseInput(); });
  connect(button(kIdBrowseOutput), &QPushButton::clicked, this,
          [this] { m_dlg->OnBrowseOutput(); });
  connect(button(kIdConvert), &QPushButton::clicked, this, [this] { m_dlg->OnConvert(); });
  connect(button(kIdCancelConversion), &QPushButton::clicked, this,
          [this] { m_dlg->OnCancelConversion(); });
}

void WavrelWindow::OnGuiThread(std::function<void()> fn) {
  if (QThread::currentThread() == thread()) {
    fn();
    return;
  }
  // Dropped by Qt when the window is gone before the call is delivered.
  QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void WavrelWindow::Apply(int id) {
  const auto found = m_widgets.find(id);
  if (found == m_widgets.end()) return;
  ControlState state;
  {
    std::lock_guard lock(m_stateMutex);
    state = m_state[id];
  }
  QWidget* widget = found->second;
  if (auto* label = qobject_cast<QLabel*>(widget)) {
    if (id == kIdStatus) {
      // A long file name in the run's place is shortened in the middle so
      // that both ends stay readable; the whole text is the tooltip.
      const QString shown =
          label->fontMetrics().elidedText(state.text, Qt::ElideMiddle, label->width());
      label->setText(shown);
      label->setToolTip(shown == state.text ? QString() : state.text);
    } else {
      label->setText(state.text);
    }
  } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    edit->setText(state.text);
    edit->setCursorPosition(0);
  } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
    button->setText(state.text);
  } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
    group->setTitle(state.text);
  }
  widget->setEnabled(state.enabled);
  widget->setVisible(state.visible);
}

void WavrelWindow::ApplyTitle() {
  QString title;
  {
    std::lock_guard lock(m_stateMutex);
    title = m_title;
  }
  setWindowTitle(title);
}

void WavrelWindow::SetTitle(const std::u16string& title) {
  {
    std::lock_guard lock(m_stateMutex);
    m_title = QString::fromStdU16String(title);
  }
  OnGuiThread([this] { ApplyTitle(); });
}

void WavrelWindow::SetControlText(int id, const std::u16string& text) {
  if (FindControl(id) == nullptr) return;
  {
    std::lock_guard lock(m_stateMutex);
    m_state[id].text = QString::fromStdU16String(text);
  }
  OnGuiThread([this, id] { Apply(id); });
}

std::u16string WavrelWindow::GetControlText(int id) const {
  std::lock_guard lock(m_stateMutex);
  const auto found = m_state.find(id);
  if (found == m_state.end()) return {};
  return found->second.text.toStdU16String();
}

void WavrelWindow::EnableControl(int id, bool enable) {
  if (FindControl(id) == nullptr) return;
  {
    std::lock_guard lock(m_stateMutex);
    m_state[id].enabled = enable;
  }
  OnGuiThread([this, id] { Apply(id); });
}

void WavrelWindow::ShowControl(int id, bool show) {
  if (FindControl(id) == nullptr) return;
  {
    std::lock_guard lock(m_stateMutex);
    m_state[id].visible = show;
  }
  OnGuiThread([this, id] { Apply(id); });
}

void WavrelWindow::RedrawAll() {
  OnGuiThread([this] { repaint(); });
}

std::optional<std::u16string> WavrelWindow::PickFolder(FolderPickerKind kind,
                                                       const std::u16string& title) {
  // A picker is modal on the GUI thread; another thread gets no answer.
  if (QThread::currentThread() != thread() || !m_picker) return std::nullopt;
  std::optional<std::u16string> picked = m_picker(kind, title, this);
  if (!picked || picked->empty()) return std::nullopt;
  return WithoutTrailingSlash(std::move(*picked));
}

IPictureControl& WavrelWindow::Picture() { return *m_picture; }

void WavrelWindow::EndDialog() {
  QMetaObject::invokeMethod(
      this,
      [this] {
        m_ended = true;
        QDialog::done(QDialog::Accepted);
      },
      Qt::QueuedConnection);
}

int WavrelWindow::RunModal() {
  // EndDialog carried out before the loop started (from InitDialog, say).
  if (m_ended) return QDialog::Accepted;
  return exec();
}

void WavrelWindow::SetFolderPicker(FolderPicker picker) { m_picker = std::move(picker); }

QWidget* WavrelWindow::Control(int id) const {
  const auto found = m_widgets.find(id);
  return found == m_widgets.end() ? nullptr : found->second;
}

void WavrelWindow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      event->accept();  // the dialog's default OK and Cancel do nothing
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void WavrelWindow::closeEvent(QCloseEvent* event) {
  // The window stays until EndDialog's queued request ends it.
  event->ignore();
  if (m_ended) return;
  if (m_dlg != nullptr) {
    m_dlg->OnCloseRequest();
  } else {
    EndDialog();
  }
}

}  // namespace wavrel
