#include "frontends/dialog_qt/wavrel_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QUrl>
#include <cstdlib>
#include <thread>

#include "frontends/dialog/testing/fake_host.h"
#include "frontends/dialog/testing/linked_plugin_environment.h"
#include "frontends/dialog/wavrel_dlg.h"
#include "frontends/dialog_qt/animated_picture_qt.h"
#include "frontends/dialog_qt/dialog_runner.h"
#include "frontends/dialog_qt/testing/test_gif.h"
#include "plugin/host_services.h"
#include "plugin/resources/dialog_template.h"

namespace wavrel {

namespace {

using testing::EnsureTestApplication;
using testing::WaitUntil;

QString Q(const std::u16string& text) { return QString::fromStdU16String(text); }

struct PickerCall {
  FolderPickerKind kind;
  std::u16string title;
  QWidget* parent;
  QString startFolder;
};

class WavrelWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureTestApplication();
    // The remembered folders go to a settings folder of the case's own.
    ASSERT_TRUE(m_config.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_config.path());
    // The plug-in folder holds the built programs and the pictures; the end
    // report's boxes come from the real message-box library in the host folder.
    const std::filesystem::path plugins = m_env.PluginPath();
    ASSERT_TRUE(m_env.Link(plugins, "vocrate", WAVREL_TEST_VOCRATE));
    ASSERT_TRUE(m_env.Link(plugins, "evrc_2004", WAVREL_TEST_EVRC_2004));
    for (const char* gif : {"process.gif", "static.gif"}) {
      ASSERT_TRUE(m_env.Link(plugins, gif, std::filesystem::path(WAVREL_TEST_RESOURCES_DIR) / gif));
    }
    ASSERT_TRUE(m_env.Link(m_env.HostPath(), "libXMessageBox.so", WAVREL_TEST_MESSAGE_BOX));
    SetHostPointer(&m_host);
    m_window = std::make_unique<WavrelWindow>(&m_dlg);
    m_window->SetFolderPicker([this](FolderPickerKind kind, const std::u16string& title,
                                     const QString& startFolder,
                                     QWidget* parent) -> std::optional<std::u16string> {
      m_pickerCalls.push_back({kind, title, parent, startFolder});
      if (m_pickerAnswers.empty()) return std::nullopt;
      std::optional<std::u16string> answer = m_pickerAnswers.front();
      m_pickerAnswers.erase(m_pickerAnswers.begin());
      return answer;
    });
    m_dlg.AttachWindow(m_window.get());
  }
  void TearDown() override {
    m_dlg.AttachWindow(nullptr);
    m_window.reset();
    SetHostPointer(nullptr);
  }

  template <class W>
  W* Widget(int id) {
    return qobject_cast<W*>(m_window->Control(id));
  }
  void Click(int id) { Widget<QPushButton>(id)->click(); }
  /// The text the host gives for key.
  QString Text(const std::u16string& key) {
    return Q(m_host.GetString(key.c_str(), u"WavrelPlugin", 0));
  }

  QTemporaryDir m_config;
  testing::FakeLocaleHost m_host;
  testing::LinkedPluginEnvironment m_env;
  CWavrelDlg m_dlg{m_env};
  std::unique_ptr<WavrelWindow> m_window;
  std::vector<PickerCall> m_pickerCalls;
  std::vector<std::optional<std::u16string>> m_pickerAnswers;
};

TEST_F(WavrelWindowTest, StartUpGivesTheHostsTextsAndTheReadyStateOnTheTemplatesLayout) {
  // Before start-up the controls carry the template's captions.
  EXPECT_EQ(Q(m_window->GetControlText(kIdStatus)),
            QString::fromUtf8("QCP\u6587\u4ef6\u8f6c\u5316WAV\u683c\u5f0f\u64cd\u4f5c"));
  EXPECT_EQ(Widget<QPushButton>(kIdConvert)->text(), QString::fromUtf8("\u8f6c\u6362"));

  ASSERT_TRUE(m_dlg.InitDialog());
  EXPECT_EQ(m_window->windowTitle(), "T:IDS_TITLE_NAME");
  EXPECT_EQ(Widget<QGroupBox>(kIdPromptGroup)->title(), "T:IDS_PROMPT_INFO");
  EXPECT_EQ(Widget<QLabel>(kIdStatus)->text(), "T:IDS_CONTENT_INFO");
  EXPECT_EQ(Widget<QLabel>(kIdInputLabel)->text(), "T:IDS_RESOURCE_PATH");
  EXPECT_EQ(Widget<QLabel>(kIdOutputLabel)->text(), "T:IDS_TARGET_NAME");
  EXPECT_EQ(Widget<QPushButton>(kIdConvert)->text(), "T:IDC_CONVERT");
  EXPECT_EQ(Widget<QPushButton>(kIdCancelConversion)->text(), "T:IDS_CANCLE");
  EXPECT_EQ(Q(m_window->GetControlText(kIdCancelConversion)), "T:IDS_CANCLE");
  EXPECT_TRUE(Widget<QPushButton>(kIdConvert)->isEnabled());
  EXPECT_TRUE(Widget<QPushButton>(kIdBrowseInput)->isEnabled());
  EXPECT_FALSE(Widget<QPushButton>(kIdCancelConversion)->isEnabled());
  for (int edit : {kIdInputEdit, kIdOutputEdit}) {
    EXPECT_TRUE(Widget<QLineEdit>(edit)->isReadOnly());
    EXPECT_TRUE(Widget<QLineEdit>(edit)->text().isEmpty());
  }
  EXPECT_EQ(m_window->Control(kIdPicture), &m_window->PictureControl());
  EXPECT_FALSE(m_window->PictureControl().isHidden());
  EXPECT_EQ(m_window->findChildren<QGroupBox*>().size(), 2);  // the unnamed one too
  EXPECT_EQ(m_window->Control(4242), nullptr);

  // Dialog units become pixels with the dialog font's base units.
  const DialogBaseUnits units = BaseUnitsOf(m_window->font());
  ASSERT_GT(units.x, 0);
  EXPECT_EQ(m_window->size(), QSize(217 * units.x / 4, 174 * units.y / 8));
  EXPECT_EQ(m_window->Control(kIdConvert)->geometry(),
            QRect(45 * units.x / 4, 153 * units.y / 8, 50 * units.x / 4, 14 * units.y / 8));
  EXPECT_EQ(m_window->Control(kIdPicture)->pos(), QPoint(35 * units.x / 4, 36 * units.y / 8));
  // No button is a default button that Enter would click.
  for (QPushButton* button : m_window->findChildren<QPushButton*>()) {
    EXPECT_FALSE(button->autoDefault() || button->isDefault()) << button->text().toStdString();
  }
}

TEST_F(WavrelWindowTest, BrowseButtonsFillTheFolderFieldsThroughThePicker) {
  ASSERT_TRUE(m_dlg.InitDialog());
  m_pickerAnswers = {u"/data/rec/", std::nullopt, std::nullopt, u"/data/out"};
  Click(kIdBrowseInput);
  ASSERT_EQ(m_pickerCalls.size(), 1u);
  EXPECT_EQ(m_pickerCalls[0].kind, FolderPickerKind::kInput);
  EXPECT_EQ(m_pickerCalls[0].title, u"T:IDS_SAVEQCP_FOLDER");
  EXPECT_EQ(m_pickerCalls[0].parent, m_window.get());
  // The picked folder without its trailing '/' is also the output folder.
  EXPECT_EQ(Widget<QLineEdit>(kIdInputEdit)->text(), "/data/rec");
  EXPECT_EQ(Widget<QLineEdit>(kIdOutputEdit)->text(), "/data/rec/");
  EXPECT_EQ(m_window->GetControlText(kIdOutputEdit), u"/data/rec/");

  Click(kIdBrowseOutput);  // cancelled
  ASSERT_EQ(m_pickerCalls.size(), 2u);
  EXPECT_EQ(m_pickerCalls[1].kind, FolderPickerKind::kOutput);
  EXPECT_EQ(m_pickerCalls[1].title, u"T:IDS_SELECT_FOLDER");
  EXPECT_EQ(Widget<QLineEdit>(kIdOutputEdit)->text(), "");

  Click(kIdBrowseInput);  // cancelled: input empty, output "/"
  EXPECT_EQ(Widget<QLineEdit>(kIdInputEdit)->text(), "");
  EXPECT_EQ(Widget<QLineEdit>(kIdOutputEdit)->text(), "/");
  EXPECT_TRUE(m_window->PictureControl().isHidden());

  Click(kIdBrowseOutput);
  EXPECT_EQ(Widget<QLineEdit>(kIdOutputEdit)->text(), "/data/out/");

  // The picker is modal on the GUI thread: another thread gets no answer.
  std::optional<std::u16string> fromThread = u"unset";
  std::thread([&] { fromThread = m_window->PickFolder(FolderPickerKind::kInput, u"t"); }).join();
  EXPECT_FALSE(fromThread.has_value());
  EXPECT_EQ(m_pickerCalls.size(), 4u);
}

TEST_F(WavrelWindowTest, TheRunnerShowsTheDialogUntilTheCloseBoxEndsItEnterAndEscapeDoNot) {
  CWavrelDlg dlg(m_env);
  QObject scope;  // the timers below die with the test
  QString titleWhileOpen;
  bool pictureShown = false;
  bool stillOpen = false;
  QTimer::singleShot(50, &scope, [&] {
    auto* window = qobject_cast<WavrelWindow*>(QApplication::activeModalWidget());
    if (window == nullptr) return;
    titleWhileOpen = window->windowTitle();  // InitDialog ran before it was shown
    pictureShown = window->PictureControl().isVisible();
    auto* convert = qobject_cast<QPushButton*>(window->Control(kIdConvert));
    convert->setFocus();
    for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
      for (QWidget* target : {static_cast<QWidget*>(convert), static_cast<QWidget*>(window)}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(target, &press);
      }
    }
    window->accept();
    window->reject();
    QCoreApplication::processEvents();
    // Still open, and Enter on the focused Convert button started nothing.
    stillOpen = window->isVisible() && !window->Ended() && !dlg.IsConverting();
    window->close();  // the close box: CWavrelDlg ends the dialog
  });
  bool watchdogFired = false;
  QTimer::singleShot(10000, &scope, [&] {
    watchdogFired = true;
    if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
      modal->done(QDialog::Rejected);
    }
  });
  EXPECT_EQ(RunWavrelDialogModal(dlg), 0);
  EXPECT_FALSE(watchdogFired);
  EXPECT_EQ(titleWhileOpen, "T:IDS_TITLE_NAME");
  EXPECT_TRUE(pictureShown);
  EXPECT_TRUE(stillOpen);

  // Only the GUI thread can run it.
  int fromThread = 0;
  std::thread([&] { fromThread = RunWavrelDialogModal(dlg); }).join();
  EXPECT_EQ(fromThread, -1);
}

TEST_F(WavrelWindowTest, ChangesFromOtherThreadsAreQueuedAndTheLatestWins) {
  ASSERT_TRUE(m_dlg.InitDialog());
  std::u16string readBack;
  std::thread worker([&] {
    m_window->SetTitle(u"title from worker");
    m_window->SetControlText(kIdStatus, u"from worker");
    m_window->SetControlText(kIdInputEdit, u"/in");
    m_window->EnableControl(kIdConvert, false);
    m_window->ShowControl(kIdPicture, false);
    m_window->SetControlText(4242, u"no such control");
    m_window->RedrawAll();
    readBack = m_window->GetControlText(kIdStatus);  // from the guarded copy
  });
  worker.join();  // the worker never waited for the GUI thread
  EXPECT_EQ(readBack, u"from worker");
  // Nothing reached the widgets yet: the GUI thread has not run its queue.
  EXPECT_EQ(Widget<QLabel>(kIdStatus)->text(), "T:IDS_CONTENT_INFO");
  EXPECT_TRUE(Widget<QPushButton>(kIdConvert)->isEnabled());
  EXPECT_EQ(m_window->GetControlText(4242), u"");

  EXPECT_TRUE(WaitUntil([&] { return Widget<QLabel>(kIdStatus)->text() == "from worker"; }, 5000));
  EXPECT_EQ(m_window->windowTitle(), "title from worker");
  EXPECT_EQ(Widget<QLineEdit>(kIdInputEdit)->text(), "/in");
  EXPECT_FALSE(Widget<QPushButton>(kIdConvert)->isEnabled());
  EXPECT_TRUE(m_window->PictureControl().isHidden());

  // A change queued by a worker does not undo a later one made on the GUI
  // thread before the queue ran.
  std::thread([&] {
    m_window->SetControlText(kIdStatus, u"older");
    m_window->EnableControl(kIdCancelConversion, true);
  }).join();
  m_window->SetControlText(kIdStatus, u"newer");
  m_window->EnableControl(kIdCancelConversion, false);
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  EXPECT_EQ(Widget<QLabel>(kIdStatus)->text(), "newer");
  EXPECT_FALSE(Widget<QPushButton>(kIdCancelConversion)->isEnabled());
  EXPECT_EQ(m_window->GetControlText(kIdStatus), u"newer");

  // Calls queued for a window that is gone are dropped.
  std::thread([&] { m_window->SetControlText(kIdStatus, u"late"); }).join();
  m_dlg.AttachWindow(nullptr);
  m_window.reset();
  QCoreApplication::processEvents();
}

/// The whole text of the end of a run's offer (the label may show it shortened).
std::string OfferedText(const WavrelWindow& window) {
  const QLabel* text = window.OfferText();
  return (text->toolTip().isEmpty() ? text->text() : text->toolTip()).toStdString();
}

/// Sends a drop of urls at pos (window coordinates) as a file manager would:
/// enter, move, drop. True when the window took the drop.
bool Drop(QWidget* window, const QList<QUrl>& urls, QPoint pos) {
  QMimeData mime;
  mime.setUrls(urls);
  QDragEnterEvent enter(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window, &enter);
  if (!enter.isAccepted()) return false;
  QDragMoveEvent move(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window, &move);
  QDropEvent drop(QPointF(pos), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window, &drop);
  return drop.isAccepted();
}

QList<QUrl> Urls(std::initializer_list<QString> paths) {
  QList<QUrl> urls;
  for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
  return urls;
}

TEST_F(WavrelWindowTest, ADroppedFolderOrFilesChooseTheFolderAsThePickerWould) {
  ASSERT_TRUE(m_dlg.InitDialog());
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  // Deep enough that the field cannot show it whole.
  const QString calls = root.filePath("phone/" + QString(60, 'c') + "/calls");
  const QString out = root.filePath("out");
  ASSERT_TRUE(QDir().mkpath(calls) && QDir().mkpath(out));
  for (const char* name : {"a.qcp", "b.qcp"}) {
    QFile file(calls + "/" + name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  const QPoint onInput = m_window->Control(kIdInputEdit)->geometry().center();
  const QPoint onOutput = m_window->Control(kIdOutputEdit)->geometry().center();
  const QPoint onStatus = m_window->Control(kIdStatus)->geometry().center();

  // A folder dropped on the input field: input and output as browsing sets them.
  ASSERT_TRUE(Drop(m_window.get(), Urls({calls}), onInput));
  EXPECT_TRUE(m_pickerCalls.empty());
  EXPECT_EQ(Q(m_window->GetControlText(kIdInputEdit)), calls);
  EXPECT_EQ(Q(m_window->GetControlText(kIdOutputEdit)), calls + "/");
  // Too long for the field: both ends shown, the whole path in the tooltip.
  auto* input = Widget<QLineEdit>(kIdInputEdit);
  EXPECT_TRUE(input->text().startsWith(root.path().left(5))) << input->text().toStdString();
  EXPECT_TRUE(input->text().endsWith("c/calls")) << input->text().toStdString();
  EXPECT_LT(input->text().size(), calls.size());
  EXPECT_LE(input->fontMetrics().horizontalAdvance(input->text()), input->width());
  EXPECT_EQ(input->toolTip(), calls);
  EXPECT_TRUE(input->isReadOnly());

  // One on the output field sets the output folder only.
  ASSERT_TRUE(Drop(m_window.get(), Urls({out}), onOutput));
  EXPECT_EQ(Q(m_window->GetControlText(kIdOutputEdit)), out + "/");
  EXPECT_EQ(Q(m_window->GetControlText(kIdInputEdit)), calls);
  EXPECT_EQ(Widget<QLineEdit>(kIdOutputEdit)->toolTip(), "");  // shown whole

  // Recordings dropped anywhere else choose their folder as the input.
  ASSERT_TRUE(Drop(m_window.get(), Urls({out}), onStatus));
  ASSERT_TRUE(Drop(m_window.get(), Urls({calls + "/a.qcp", calls + "/b.qcp"}), onStatus));
  EXPECT_EQ(Q(m_window->GetControlText(kIdInputEdit)), calls);
  EXPECT_EQ(Q(m_window->GetControlText(kIdOutputEdit)), calls + "/");
  EXPECT_TRUE(m_pickerCalls.empty());

  // Nothing to choose, or a run in work (the browse buttons are disabled):
  // the drop is refused and nothing changes.
  EXPECT_FALSE(Drop(m_window.get(), {QUrl("https://example.org/a.qcp")}, onInput));
  EXPECT_FALSE(Drop(m_window.get(), Urls({root.filePath("missing")}), onInput));
  m_window->EnableControl(kIdBrowseOutput, false);
  EXPECT_FALSE(Drop(m_window.get(), Urls({out}), onOutput));
  m_window->EnableControl(kIdBrowseInput, false);
  EXPECT_FALSE(Drop(m_window.get(), Urls({out}), onInput));
  EXPECT_EQ(Q(m_window->GetControlText(kIdInputEdit)), calls);
  EXPECT_EQ(Q(m_window->GetControlText(kIdOutputEdit)), calls + "/");

  // The folders chosen are remembered for the next dialog.
  QSettings settings(QSettings::IniFormat, QSettings::UserScope, kSettingsOrganization,
                     kSettingsApplication);
  EXPECT_EQ(settings.value("folders/input").toString(), calls);
  EXPECT_EQ(settings.value("folders/output").toString(), out);
}

TEST_F(WavrelWindowTest, ThePickersOpenWhereTheUserWasAndRememberTheFoldersBetweenRuns) {
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  const QString calls = root.filePath("calls");
  const QString wav = root.filePath("wav");
  ASSERT_TRUE(QDir().mkpath(calls) && QDir().mkpath(wav));
  ASSERT_TRUE(m_dlg.InitDialog());
  m_pickerAnswers = {calls.toStdU16String(), std::nullopt, wav.toStdU16String(), std::nullopt};
  Click(kIdBrowseInput);   // nothing chosen yet, nothing remembered: home
  Click(kIdBrowseOutput);  // at the output field's folder (the input's); cancelled
  Click(kIdBrowseOutput);  // the field is empty now: at the folder it showed last
  Click(kIdBrowseInput);   // at the input field's folder; cancelled
  ASSERT_EQ(m_pickerCalls.size(), 4u);
  EXPECT_EQ(m_pickerCalls[0].startFolder, QDir::homePath());
  EXPECT_EQ(m_pickerCalls[1].startFolder, calls);
  EXPECT_EQ(m_pickerCalls[2].startFolder, calls);
  EXPECT_EQ(m_pickerCalls[3].startFolder, calls);

  // The next dialog's pickers open at the folders used last; one that is
  // gone is not offered.
  const auto nextDialogStarts = [&] {
    CWavrelDlg dlg(m_env);
    WavrelWindow window(&dlg);
    dlg.AttachWindow(&window);
    dlg.InitDialog();
    const QStringList starts = {window.PickerStartFolder(FolderPickerKind::kInput),
                                window.PickerStartFolder(FolderPickerKind::kOutput)};
    dlg.AttachWindow(nullptr);
    return starts;
  };
  EXPECT_EQ(nextDialogStarts(), (QStringList{calls, wav}));
  ASSERT_TRUE(QDir(wav).removeRecursively());
  EXPECT_EQ(nextDialogStarts(), (QStringList{calls, QDir::homePath()}));
}

/// Texts of the plug-in's section of a host language file (KEY = value).
std::map<std::u16string, std::u16string> LanguageTexts(const QString& path) {
  std::map<std::u16string, std::u16string> texts;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return texts;
  QTextStream in(&file);
  bool inSection = false;
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    if (line.startsWith('[')) inSection = line == "[WavrelPlugin]";
    const qsizetype equals = line.indexOf('=');
    if (!inSection || line.startsWith(';') || equals < 0) continue;
    texts[line.left(equals).trimmed().toStdU16String()] =
        line.mid(equals + 1).trimmed().toStdU16String();
  }
  return texts;
}

TEST_F(WavrelWindowTest, ConvertsTheSamplesWithTheAnimationPlayingThenShowsTheStillPicture) {
  // Readable texts, so that the screenshot shows what a user sees.
  for (const auto& [key, text] : LanguageTexts(WAVREL_TEST_LANGUAGE_FILE))
    m_host.SetText(key, text);
  const char* screenshot = std::getenv("WAVREL_DIALOG_SCREENSHOT");
  QTemporaryDir input;
  QTemporaryDir output;
  ASSERT_TRUE(input.isValid() && output.isValid());
  const QDir samples(WAVREL_TEST_SAMPLES_DIR);
  const QStringList names = samples.entryList(QDir::Files);
  ASSERT_FALSE(names.isEmpty());
  // For the screenshot, enough files that the run lasts a moment.
  const int copies = screenshot != nullptr ? 20 : 1;
  for (int copy = 0; copy < copies; ++copy) {
    for (const QString& name : names) {
      const QString target = copy == 0 ? name : QString("%1_%2").arg(copy).arg(name);
      ASSERT_TRUE(QFile::copy(samples.filePath(name), input.filePath(target)));
    }
  }
  ASSERT_TRUE(m_dlg.InitDialog());
  m_pickerAnswers = {input.path().toStdU16String(), output.path().toStdU16String()};
  m_window->show();
  Click(kIdBrowseInput);
  Click(kIdBrowseOutput);
  Click(kIdConvert);
  EXPECT_EQ(Widget<QLabel>(kIdStatus)->text(), Text(u"IDS_CONVERING"));
  EXPECT_FALSE(Widget<QPushButton>(kIdConvert)->isEnabled());
  EXPECT_FALSE(Widget<QPushButton>(kIdBrowseInput)->isEnabled());
  EXPECT_TRUE(Widget<QPushButton>(kIdCancelConversion)->isEnabled());

  CAnimatedPicture& picture = m_window->PictureControl();
  // The animation may be over already when the run was quick; when it is
  // caught playing, it plays process.gif's frames.
  // The animation thread's "show" is queued; it comes before the load.
  const bool caughtPlaying =
      WaitUntil([&] { return picture.IsPlaying() && picture.isVisible(); }, 3000);
  if (caughtPlaying) {
    EXPECT_EQ(picture.FrameCount(), 10u);
    if (screenshot != nullptr) {
      WaitUntil([] { return false; }, 400);  // a few frames into the animation
      EXPECT_TRUE(m_window->grab().save(screenshot, "PNG"));
    }
  } else {
    EXPECT_EQ(screenshot, nullptr) << "the run ended before the screenshot";
  }

  ASSERT_TRUE(
      WaitUntil([&] { return Widget<QLabel>(kIdStatus)->text() == Text(u"IDS_CONVERED"); }, 60000));
  EXPECT_TRUE(WaitUntil([&] { return !m_dlg.IsConverting() && !m_dlg.IsAnimating(); }, 5000));
  QCoreApplication::processEvents();
  EXPECT_EQ(QDir(output.path()).entryList({"*.wav"}, QDir::Files).size(), names.size() * copies);
  EXPECT_TRUE(Widget<QPushButton>(kIdConvert)->isEnabled());
  EXPECT_TRUE(Widget<QPushButton>(kIdBrowseOutput)->isEnabled());
  EXPECT_FALSE(Widget<QPushButton>(kIdCancelConversion)->isEnabled());
  // static.gif stays shown: a still, sized to the bar.
  EXPECT_FALSE(picture.IsPlaying());
  EXPECT_EQ(picture.FrameCount(), 0u);
  EXPECT_EQ(picture.SurfaceSize(), QSize(220, 13));
  EXPECT_EQ(picture.size(), QSize(220, 13));
  EXPECT_TRUE(picture.isVisible());

  // The end of the run offers the output folder, saying what it made there.
  QLabel* link = m_window->OfferLink();
  ASSERT_TRUE(WaitUntil([&] { return link->isVisible(); }, 5000));
  EXPECT_EQ(OfferedText(*m_window), QString("%1 WAV files made in %2")
                                        .arg(names.size() * copies)
                                        .arg(output.path())
                                        .toStdString());
  EXPECT_TRUE(m_window->OfferText()->text().endsWith(output.path().right(4)));
  EXPECT_TRUE(link->text().contains(">Open folder<")) << link->text().toStdString();
  QStringList opened;
  m_window->SetFolderOpener([&](const QString& folder) {
    opened << folder;
    return true;
  });
  QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, link->rect().center());
  EXPECT_EQ(opened, QStringList{output.path()});
  // Choosing folders again withdraws it.
  Click(kIdBrowseOutput);
  EXPECT_FALSE(link->isVisible());
  EXPECT_FALSE(m_window->OfferText()->isVisible());
}

TEST_F(WavrelWindowTest, StatusLineShowsTheRunsPlaceAndTheEndReportListsEachFileWithItsReason) {
  for (const auto& [key, text] : LanguageTexts(WAVREL_TEST_LANGUAGE_FILE))
    m_host.SetText(key, text);
  QTemporaryDir input;
  QTemporaryDir output;
  ASSERT_TRUE(input.isValid() && output.isValid());
  const QString sample = QString(WAVREL_TEST_SAMPLES_DIR) + "/greeting.qcp";
  for (const char* name : {"a.qcp", "b.qcp", "c.qcp"}) {
    ASSERT_TRUE(QFile::copy(sample, input.filePath(name)));
  }
  QFile sampleFile(sample);
  ASSERT_TRUE(sampleFile.open(QIODevice::ReadOnly));
  QFile half(input.filePath("half.qcp"));  // its data chunk says more than it holds
  ASSERT_TRUE(half.open(QIODevice::WriteOnly) && half.write(sampleFile.read(5000)) == 5000);
  half.close();
  QFile notes(input.filePath("notes.txt"));
  ASSERT_TRUE(notes.open(QIODevice::WriteOnly) && notes.write("text") == 4);
  notes.close();
  ASSERT_TRUE(QDir(output.path()).mkdir("a.wav"));  // a's WAV cannot be made

  // Answers each box with its first button, noting its text and the status
  // line at that moment.
  QStringList boxTexts;
  QStringList statusWhileBox;
  QObject scope;
  auto* timer = new QTimer(&scope);
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [&] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (box == nullptr || !box->isVisible() || box->buttons().isEmpty()) continue;
      boxTexts << box->text();
      statusWhileBox << Widget<QLabel>(kIdStatus)->text();
      box->buttons().first()->click();
      return;
    }
  });
  timer->start();

  ASSERT_TRUE(m_dlg.InitDialog());
  m_pickerAnswers = {input.path().toStdU16String(), output.path().toStdU16String()};
  m_window->show();
  Click(kIdBrowseInput);
  Click(kIdBrowseOutput);
  Click(kIdConvert);  // asks about notes.txt first
  ASSERT_TRUE(WaitUntil([&] { return boxTexts.size() == 3 && !m_dlg.IsConverting(); }, 60000));
  QCoreApplication::processEvents();
  // The worker waited in its failure box with a's place in the status line.
  EXPECT_EQ(statusWhileBox.value(1), "Converting 1 of 4: a.qcp");
  EXPECT_TRUE(boxTexts.value(1).startsWith("Cannot create the WAV file:"))
      << boxTexts.value(1).toStdString();
  EXPECT_EQ(boxTexts.value(2),
            "These files need your attention:\na.qcp: cannot create WAV file\n"
            "half.qcp: cut short: the recording ends before its header says (its WAV was "
            "written)\nnotes.txt: not a QCP recording, skipped");
  EXPECT_EQ(statusWhileBox.value(2), "Converted with errors: 1 of 4 files failed.");
  EXPECT_EQ(QDir(output.path()).entryList({"*.wav"}, QDir::Files),
            (QStringList{"b.wav", "c.wav", "half.wav"}));
  EXPECT_TRUE(Widget<QPushButton>(kIdConvert)->isEnabled());
  // After the report, the output folder is offered too.
  EXPECT_TRUE(WaitUntil([&] { return m_window->OfferLink()->isVisible(); }, 5000));
  EXPECT_EQ(OfferedText(*m_window), ("3 WAV files made in " + output.path()).toStdString());

  // A name too long for the status line is shortened in the middle on screen only.
  const QString longText = "Converting 1 of 2: " + QString(200, 'x') + ".qcp";
  m_window->SetControlText(kIdStatus, longText.toStdU16String());
  EXPECT_TRUE(Widget<QLabel>(kIdStatus)->text().startsWith("Converting 1 of 2: x"));
  EXPECT_TRUE(Widget<QLabel>(kIdStatus)->text().endsWith("x.qcp"));
  EXPECT_LT(Widget<QLabel>(kIdStatus)->text().size(), longText.size());
  EXPECT_EQ(Widget<QLabel>(kIdStatus)->toolTip(), longText);
  EXPECT_EQ(Q(m_window->GetControlText(kIdStatus)), longText);
}

}  // namespace
}  // namespace wavrel
