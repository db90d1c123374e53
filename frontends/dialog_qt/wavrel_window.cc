#include "frontends/dialog_qt/wavrel_window.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QThread>
#include <QUrl>
#include <algorithm>

#include "frontends/dialog/wavrel_dlg.h"
#include "frontends/dialog_qt/animated_picture_qt.h"
#include "plugin/resources/dialog_template.h"

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

/// The offer row, in dialog units: between the folders' group box (which
/// ends at 141) and the Convert and Cancel buttons (from 153).
constexpr int kOfferLeftDu = 19;
constexpr int kOfferRightDu = 200;
constexpr int kOfferTopDu = 143;
constexpr int kOfferHeightDu = 8;

QSettings UserSettings() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, kSettingsOrganization,
                   kSettingsApplication);
}

const char* SettingsKey(FolderPickerKind kind) {
  return kind == FolderPickerKind::kInput ? "folders/input" : "folders/output";
}

bool IsFolder(const QString& path) { return !path.isEmpty() && QFileInfo(path).isDir(); }

/// The pixels a line edit has for its text: the style's contents rectangle
/// less the edit's own margin of 2 on each side and a pixel for the cursor.
int EditTextWidth(const QLineEdit& edit) {
  QStyleOptionFrame option;
  option.initFrom(&edit);
  option.rect = edit.contentsRect();
  option.lineWidth =
      edit.hasFrame() ? edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &edit) : 0;
  const QRect contents = edit.style()->subElementRect(QStyle::SE_LineEditContents, &option, &edit);
  return std::max(0, contents.width() - 5);
}

}  // namespace

QString DroppedFolder(const QMimeData* mime) {
  if (mime == nullptr || !mime->hasUrls()) return {};
  for (const QUrl& url : mime->urls()) {
    if (!url.isLocalFile()) continue;
    const QFileInfo info(url.toLocalFile());
    if (info.isDir()) return QDir::cleanPath(info.absoluteFilePath());
    if (info.exists()) return QDir::cleanPath(info.absolutePath());
  }
  return {};
}

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
                                                  const std::u16string& title,
                                                  const QString& startFolder, QWidget* parent) {
  QFileDialog::Options options = QFileDialog::ShowDirsOnly;
  // The input picker only chooses; the output picker may make a new folder.
  if (kind == FolderPickerKind::kInput) options |= QFileDialog::ReadOnly;
  const QString picked = QFileDialog::getExistingDirectory(parent, QString::fromStdU16String(title),
                                                           startFolder, options);
  if (picked.isEmpty()) return std::nullopt;
  return picked.toStdU16String();
}

WavrelWindow::WavrelWindow(CWavrelDlg* dlg, QWidget* parent)
    : QDialog(parent),
      m_dlg(dlg),
      m_picker(DefaultFolderPicker),
      m_opener([](const QString& folder) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
      }) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setModal(true);
  setAcceptDrops(true);
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
        // A drop on the field is the window's: it chooses a folder.
        edit->setAcceptDrops(false);
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
  BuildOfferRow(units);
}

void WavrelWindow::BuildOfferRow(const DialogBaseUnits& units) {
  m_offerText = new QLabel(this);
  m_offerText->setTextFormat(Qt::PlainText);
  m_offerText->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  m_offerText->setObjectName(QStringLiteral("offerText"));
  m_offerLink = new QLabel(this);
  m_offerLink->setTextFormat(Qt::RichText);
  m_offerLink->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  m_offerLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  m_offerLink->setObjectName(QStringLiteral("offerLink"));
  connect(m_offerLink, &QLabel::linkActivated, this, [this] { OpenOfferedFolder(); });
  const int top = units.ToPixelsY(kOfferTopDu);
  const int height = units.ToPixelsY(kOfferHeightDu);
  m_offerText->setGeometry(units.ToPixelsX(kOfferLeftDu), top,
                           units.ToPixelsX(kOfferRightDu - kOfferLeftDu), height);
  m_offerLink->setGeometry(m_offerText->geometry());
  m_offerText->hide();
  m_offerLink->hide();
}

void WavrelWindow::ConnectButtons() {
  if (m_dlg == nullptr) return;
  const auto button = [this](int id) { return static_cast<QPushButton*>(m_widgets.at(id)); };
  // A new choice of folders or a new run withdraws the last run's offer.
  connect(button(kIdBrowseInput), &QPushButton::clicked, this, [this] {
    HideOffer();
    m_dlg->OnBrowseInput();
  });
  connect(button(kIdBrowseOutput), &QPushButton::clicked, this, [this] {
    HideOffer();
    m_dlg->OnBrowseOutput();
  });
  connect(button(kIdConvert), &QPushButton::clicked, this, [this] {
    HideOffer();
    m_dlg->OnConvert();
  });
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
    // A long folder keeps both ends in sight: shortened in the middle on
    // screen, whole in the tooltip (and to the dialog, GetControlText).
    const QString shown =
        edit->fontMetrics().elidedText(state.text, Qt::ElideMiddle, EditTextWidth(*edit));
    edit->setText(shown);
    edit->setToolTip(shown == state.text ? QString() : state.text);
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
    if (id == kIdOutputEdit) {
      const QString folder = QString::fromStdU16String(WithoutTrailingSlash(text));
      if (!folder.isEmpty() && folder != QLatin1String("/")) m_lastOutputFolder = folder;
    }
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
  if (QThread::currentThread() != thread()) return std::nullopt;
  std::optional<std::u16string> picked;
  if (m_chosenFolder) {
    picked = m_chosenFolder->toStdU16String();  // ChooseFolder's answer, given once
    m_chosenFolder.reset();
  } else if (m_picker) {
    picked = m_picker(kind, title, PickerStartFolder(kind), this);
  }
  if (!picked || picked->empty()) return std::nullopt;
  std::u16string folder = WithoutTrailingSlash(std::move(*picked));
  UserSettings().setValue(SettingsKey(kind), QString::fromStdU16String(folder));
  return folder;
}

QString WavrelWindow::PickerStartFolder(FolderPickerKind kind) const {
  QStringList candidates;
  {
    std::lock_guard lock(m_stateMutex);
    const auto text = [this](int id) {
      const auto found = m_state.find(id);
      return found == m_state.end() ? QString() : found->second.text;
    };
    if (kind == FolderPickerKind::kOutput) candidates << m_lastOutputFolder;
    candidates << text(kIdInputEdit);
  }
  candidates << UserSettings().value(SettingsKey(kind)).toString();
  for (const QString& candidate : candidates) {
    if (IsFolder(candidate)) return candidate;
  }
  return QDir::homePath();
}

void WavrelWindow::ChooseFolder(FolderPickerKind kind, const QString& folder) {
  if (m_dlg == nullptr || folder.isEmpty()) return;
  const int button = kind == FolderPickerKind::kInput ? kIdBrowseInput : kIdBrowseOutput;
  {
    std::lock_guard lock(m_stateMutex);
    if (!m_state[button].enabled) return;
  }
  HideOffer();
  m_chosenFolder = folder;
  if (kind == FolderPickerKind::kInput) {
    m_dlg->OnBrowseInput();
  } else {
    m_dlg->OnBrowseOutput();
  }
  m_chosenFolder.reset();
}

void WavrelWindow::OfferFolder(const std::u16string& folder, const std::u16string& text,
                               const std::u16string& action) {
  const QString offered = QString::fromStdU16String(folder);
  const QString offerText = QString::fromStdU16String(text);
  const QString offerAction = QString::fromStdU16String(action);
  OnGuiThread([this, offered, offerText, offerAction] {
    if (offered.isEmpty()) {
      HideOffer();
      return;
    }
    m_offeredFolder = offered;
    m_offerLink->setText(
        QStringLiteral("<a href=\"folder\">%1</a>").arg(offerAction.toHtmlEscaped()));
    m_offerLink->setToolTip(offered);
    // The link sits at the row's right end; the text has the rest.
    const int linkWidth = m_offerLink->fontMetrics().horizontalAdvance(offerAction) + 4;
    const QRect row = m_offerText->geometry().united(m_offerLink->geometry());
    m_offerLink->setGeometry(row.right() - linkWidth + 1, row.top(), linkWidth, row.height());
    const int room =
        std::max(0, row.width() - linkWidth - m_offerText->fontMetrics().averageCharWidth());
    m_offerText->setGeometry(row.left(), row.top(), room, row.height());
    const QString shown = m_offerText->fontMetrics().elidedText(offerText, Qt::ElideMiddle, room);
    m_offerText->setText(shown);
    m_offerText->setToolTip(shown == offerText ? QString() : offerText);
    m_offerText->show();
    m_offerLink->show();
  });
}

void WavrelWindow::HideOffer() {
  m_offeredFolder.clear();
  m_offerText->hide();
  m_offerLink->hide();
}

void WavrelWindow::OpenOfferedFolder() {
  if (m_offeredFolder.isEmpty() || !m_opener) return;
  m_opener(m_offeredFolder);
}

FolderPickerKind WavrelWindow::DropTarget(const QPoint& pos) const {
  // The output field's row: its label, the field and its "..." button.
  QRect output;
  for (int id : {kIdOutputLabel, kIdOutputEdit, kIdBrowseOutput}) {
    if (QWidget* widget = Control(id)) output = output.united(widget->geometry());
  }
  return output.contains(pos) ? FolderPickerKind::kOutput : FolderPickerKind::kInput;
}

bool WavrelWindow::AcceptsDrop(const QMimeData* mime, const QPoint& pos) const {
  if (m_dlg == nullptr || DroppedFolder(mime).isEmpty()) return false;
  const int button = DropTarget(pos) == FolderPickerKind::kInput ? kIdBrowseInput : kIdBrowseOutput;
  std::lock_guard lock(m_stateMutex);
  const auto found = m_state.find(button);
  return found != m_state.end() && found->second.enabled;
}

void WavrelWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (AcceptsDrop(event->mimeData(), event->position().toPoint())) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void WavrelWindow::dragMoveEvent(QDragMoveEvent* event) {
  if (AcceptsDrop(event->mimeData(), event->position().toPoint())) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void WavrelWindow::dropEvent(QDropEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (!AcceptsDrop(event->mimeData(), pos)) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  ChooseFolder(DropTarget(pos), DroppedFolder(event->mimeData()));
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

void WavrelWindow::SetFolderOpener(FolderOpener opener) { m_opener = std::move(opener); }

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
