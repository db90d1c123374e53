// CWavrelDlg: construction, start-up (texts, program paths, the sample-rate
// setting) and the handlers of the dialog's buttons and close request.
#include "plugin/engine/wavrel_dlg.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "base/decimal.h"
#include "plugin/engine/host_access.h"
#include "plugin/support/xml_reader.h"

namespace wavrel {
namespace {

/// Stands in for a detached window: every call does nothing.
class NullPicture final : public IPictureControl {
 public:
  bool LoadPicture(const std::u16string&) override { return false; }
  void StartDrawing() override {}
  void StopAnimation() override {}
  void ReleasePicture() override {}
};

class NullWindow final : public IDialogWindow {
 public:
  void SetTitle(const std::u16string&) override {}
  void SetControlText(int, const std::u16string&) override {}
  std::u16string GetControlText(int) const override { return {}; }
  void EnableControl(int, bool) override {}
  void ShowControl(int, bool) override {}
  void RedrawAll() override {}
  std::optional<std::u16string> PickFolder(FolderPickerKind, const std::u16string&) override {
    return std::nullopt;
  }
  IPictureControl& Picture() override { return m_picture; }
  void EndDialog() override {}

 private:
  NullPicture m_picture;
};

NullWindow g_nullWindow;

/// The settings file below the host folder; the lower-case folder spelling is
/// tried too when the usual one is missing (installed trees use both).
constexpr char16_t kSettingsPath[] = u"Plugins/WavrelPlugin/WavrelPluginSet.xml";
constexpr char16_t kSettingsPathLower[] = u"plugins/WavrelPlugin/WavrelPluginSet.xml";
/// A settings file holds a few lines; a larger one counts as missing.
constexpr std::size_t kMaxSettingsBytes = 64 * 1024;

}  // namespace

CWavrelDlg::CWavrelDlg(IEngineEnvironment& environment)
    : m_env(environment), m_conversion(environment) {}

CWavrelDlg::~CWavrelDlg() {
  m_stopPending = true;
  m_runStop.request_stop();
  m_workerThread.Stop(5);
  m_animationThread.Stop(5);
  // A child may outlive a worker that was stopped while waiting for it.
  m_conversion.TerminateConverter();
  m_conversion.TerminateDecoder();
  m_conversion.CloseFiles();
  RemoveWorkFolder();
}

void CWavrelDlg::AttachWindow(IDialogWindow* window) { m_window.store(window); }

void CWavrelDlg::SetObserver(IConversionObserver* observer) { m_observer = observer; }

IDialogWindow& CWavrelDlg::Window() const {
  IDialogWindow* window = m_window.load();
  return window != nullptr ? *window : g_nullWindow;
}

bool CWavrelDlg::IsConverting() const { return m_workerThread.IsRunning(); }

bool CWavrelDlg::IsAnimating() const { return m_animationThread.IsRunning(); }

std::string CWavrelDlg::WorkFolder() const {
  std::lock_guard lock(m_workFolderMutex);
  return m_workFolder;
}

bool CWavrelDlg::InitDialog() {
  IDialogWindow& window = Window();
  m_textTitle = m_env.Text(u"IDS_TITLE_NAME");
  window.SetTitle(m_textTitle);
  // The texts the window's controls show from the start.
  const struct {
    std::u16string CWavrelDlg::*text;
    const char16_t* key;
    int control;
  } kControlTexts[] = {
      {&CWavrelDlg::m_textPromptInfo, u"IDS_PROMPT_INFO", kIdPromptGroup},
      {&CWavrelDlg::m_textContentInfo, u"IDS_CONTENT_INFO", kIdStatus},
      {&CWavrelDlg::m_textResourcePath, u"IDS_RESOURCE_PATH", kIdInputLabel},
      {&CWavrelDlg::m_textTargetName, u"IDS_TARGET_NAME", kIdOutputLabel},
      {&CWavrelDlg::m_textConvert, u"IDC_CONVERT", kIdConvert},
      {&CWavrelDlg::m_textCancel, u"IDS_CANCLE", kIdCancelConversion},
  };
  for (const auto& entry : kControlTexts) {
    this->*entry.text = m_env.Text(entry.key);
    window.SetControlText(entry.control, this->*entry.text);
  }
  m_textMessageNoEmpty = m_env.Text(u"IDS_MESSAGE_NO_EMPTY");
  m_textConverting = m_env.Text(u"IDS_CONVERING");
  m_textConverted = m_env.Text(u"IDS_CONVERED");
  m_textCancelling = m_env.Text(u"IDS_CONVER_CANCLEING");
  m_textCancelled = m_env.Text(u"IDS_CONVER_CANCLEED");
  m_textQuitMessage = m_env.Text(u"IDS_QUIT_MESSAGE");
  m_textProgramMissing = m_env.Text(u"IDS_LOSE_EXEFILE");

  m_pluginDirectory = m_env.PluginFolder();
  m_converterPath = m_pluginDirectory + u"vocrate";
  m_decoderPath = m_pluginDirectory + u"evrc_2004";

  m_textNoOpenFile = m_env.Text(u"IDS_NO_OPEN_FILE");
  m_textCheckFolder = m_env.Text(u"IDS_CHECK_FOLDER");
  m_textSaveQcpFolder = m_env.Text(u"IDS_SAVEQCP_FOLDER");
  m_textSomeNoQcp = m_env.Text(u"IDS_SOME_NOQCP");
  m_textPrompt = m_env.Text(u"IDS_PROMPT");
  m_textNoQcpFileOnFolder = m_env.Text(u"IDS_NOQCPFILE_ONFOLDER");
  m_textNoQcpFormat = m_env.Text(u"IDS_NOQCP_FORMAT");
  m_textSelectFolder = m_env.Text(u"IDS_SELECT_FOLDER");
  // Text of the finished status line when some files failed: %1 failed, %2 files.
  m_textConversionFailed = m_env.Text(u"IDS_CONVER_FAILED");
  // Texts added with the run's progress and report; each has an English
  // fallback or a plain one built from the texts above.
  // %1 the output folder.
  m_textOutputNotWritable = m_env.Text(u"IDS_OUTPUT_NOT_WRITABLE");
  // %1 the file's number, %2 the number of files, %3 the file's name.
  m_textConversionProgress = m_env.Text(u"IDS_CONVER_PROGRESS");
  // %1 the number of WAV files the cancelled run made and kept.
  m_textCancelledKept = m_env.Text(u"IDS_CONVER_CANCLEED_KEPT");
  m_textEndReport = m_env.Text(u"IDS_END_REPORT");
  // %1 the number of files beyond those listed.
  m_textReportMore = m_env.Text(u"IDS_REPORT_MORE");
  m_textReportCutShort = m_env.Text(u"IDS_REPORT_CUT_SHORT");
  m_textReportSkipped = m_env.Text(u"IDS_REPORT_SKIPPED");
  // The end of a run's offer: %1 the number of WAV files made, %2 the folder.
  m_textMadeWavs = m_env.Text(u"IDS_MADE_WAVS");
  m_textOpenFolder = m_env.Text(u"IDS_OPEN_FOLDER");

  window.EnableControl(kIdCancelConversion, false);
  m_conversion.ResetStep();
  m_inputFolder.clear();
  m_foundNonQcp = false;
  m_skippedFiles.clear();
  m_sampleRateSetting = ReadSampleRateSetting();
  return true;
}

std::int32_t CWavrelDlg::ReadSampleRateSetting() {
  std::int32_t result = -1;
  const std::u16string hostDirectory = m_env.HostFolder();
  if (hostDirectory.empty()) return result;
  std::string path = host::Narrow(hostDirectory + kSettingsPath);
  if (!path.empty() && !m_env.Files().PathExists(path)) {
    path = host::Narrow(hostDirectory + kSettingsPathLower);
  }
  // Only a regular file of bounded size is read (a pipe there must not block
  // the start); anything else counts as missing.
  std::vector<unsigned char> bytes;
  if (path.empty() || !m_env.Files().ReadFileStart(path, kMaxSettingsBytes + 1, &bytes) ||
      bytes.size() > kMaxSettingsBytes) {
    return result;
  }
  const std::string text(bytes.begin(), bytes.end());
  CXmlReader reader;
  if (!reader.ParseText(text.c_str()) || !reader.HasRootElement()) return result;
  return SampleRateFromSettings(reader);
}

std::int32_t SampleRateFromSettings(CXmlReader& reader) {
  std::int32_t result = -1;
  if (reader.FindNextElement("converwavset") && reader.EnterElement()) {
    while (reader.FindNextElement("property")) {
      if (reader.AttributeNameAt(0) == "name") result = base::ParseAtoi(reader.GetElementText());
    }
  }
  return result;
}

void CWavrelDlg::SetStatus(const std::u16string& text) { Window().SetControlText(kIdStatus, text); }

void CWavrelDlg::SetButtonsIdle(bool idle) {
  IDialogWindow& window = Window();
  window.EnableControl(kIdConvert, idle);
  window.EnableControl(kIdBrowseInput, idle);
  window.EnableControl(kIdBrowseOutput, idle);
}

bool CWavrelDlg::MessageBox(const std::u16string& text, std::uint32_t style) {
  return m_env.MessageBox(text, m_textPrompt, style);
}

void CWavrelDlg::SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void CWavrelDlg::OnOK() {}

void CWavrelDlg::OnCancel() {}

void CWavrelDlg::OnBrowseInput() {
  IDialogWindow& window = Window();
  window.ShowControl(kIdPicture, false);
  SetStatus(m_textContentInfo);
  m_inputFolder.clear();
  if (auto picked = window.PickFolder(FolderPickerKind::kInput, m_textSaveQcpFolder)) {
    m_inputFolder = *picked;
  }
  window.SetControlText(kIdInputEdit, m_inputFolder);
  window.SetControlText(kIdOutputEdit, m_inputFolder + u"/");
}

void CWavrelDlg::OnBrowseOutput() {
  IDialogWindow& window = Window();
  window.SetControlText(kIdOutputEdit, u"");
  auto picked = window.PickFolder(FolderPickerKind::kOutput, m_textSelectFolder);
  window.SetControlText(kIdOutputEdit, picked ? *picked + u"/" : u"");
}

void CWavrelDlg::OnConvert() {
  if (m_workerThread.IsRunning()) {
    // A new run never starts while the worker runs; a worker that has done
    // its last step is only returning and is waited for.
    if (!m_runComplete) return;
    m_workerThread.Stop(1);
  }
  // The animation of the previous run may still be putting up its still picture.
  if (m_animationThread.IsRunning()) m_animationThread.Stop(1);

  if (!RunChecks()) return;

  m_conversionDoneEvent.Reset();
  m_runComplete = false;
  m_stoppedByHandler = false;
  m_stopPending = false;
  m_runStop = std::stop_source();
  // The converting state is shown before the threads start, so that a run
  // that ends at once cannot have its final state overwritten by this one.
  SetStatus(m_textConverting);
  SetButtonsIdle(false);
  Window().EnableControl(kIdCancelConversion, true);
  m_animationThread.Start(this, &CWavrelDlg::PlayAnimation);
  if (m_workerThread.Start(this, &CWavrelDlg::ConvertAll) != JThread::kOk) {
    // No worker: end the animation and go back to the ready state.
    m_conversionDoneEvent.Set();
    SetStatus(m_textContentInfo);
    SetButtonsIdle(true);
    Window().EnableControl(kIdCancelConversion, false);
  }
}

void CWavrelDlg::PlayAnimation() {
  IDialogWindow& window = Window();
  IPictureControl& picture = window.Picture();
  window.ShowControl(kIdPicture, true);
  picture.LoadPicture(m_pluginDirectory + u"process.gif");
  picture.StartDrawing();
  if (!m_conversionDoneEvent.Wait(m_animationThread.StopToken())) {
    // Stopped by cancel or close: the control is hidden; free the frames.
    picture.StopAnimation();
    picture.ReleasePicture();
    return;
  }
  picture.StopAnimation();
  picture.ReleasePicture();
  window.RedrawAll();
  picture.LoadPicture(m_pluginDirectory + u"static.gif");
  picture.StartDrawing();
}

void CWavrelDlg::StopThread(JThreadT<CWavrelDlg>& thread) {
  // Kill asks the thread to stop and joins it; every blocking point of both
  // threads returns at once on that request, so no grace period is needed.
  if (thread.IsRunning()) thread.Kill();
}

void CWavrelDlg::TerminateDecoderWithRetries() {
  for (int attempt = 0; attempt < 6; ++attempt) {
    if (m_conversion.TerminateDecoder()) return;
    SleepMs(200);
  }
}

void CWavrelDlg::FinishStop() {
  // The worker may have launched a child after the handler chose its actions
  // (it checks for a pending stop before every launch, but a launch can come
  // just before the handler began): no child outlives a stopped run.
  m_conversion.CleanUpAfterStop();
  RemoveWorkFolder();
}

bool CWavrelDlg::DeferStopRequest(int request) {
  std::lock_guard lock(m_deferMutex);
  if (!m_boxShowing && m_deferredRequest == kNoRequest) return false;
  m_deferredRequest = std::max(m_deferredRequest, request);
  m_stopPending = true;
  m_runStop.request_stop();
  return true;
}

namespace {

/// What cancel or close does at a step, in this order: end the converter,
/// hide the picture and show the first status, stop both threads, end the
/// decoder (with retries) or the converter, show the second status, close
/// the WAV writer's files, give the system a moment to reap.
struct StopActions {
  bool onlyWhenRunning;          ///< nothing at all unless a thread runs
  bool terminateConverterFirst;  ///< before the threads are stopped
  bool hidePicture;
  int firstStatus;  ///< a StopText
  bool terminateConverterAfter;
  bool terminateDecoderAfter;
  int secondStatus;  ///< a StopText
  bool closeFiles;
  bool pause;
};

enum StopText : int { kNoText, kCancellingText, kQuitText, kCancelledRunText, kCancelledText };

/// [request - 1][step]: cancel, then close; steps idle, converter, decoder,
/// WAV, clean-up. Idle and clean-up (between two files) only stop the threads.
constexpr StopActions kStopTable[2][5] = {
    {
        {true, false, true, kCancellingText, false, false, kCancelledRunText, false, false},
        {false, false, true, kCancellingText, true, false, kCancelledRunText, false, true},
        {false, false, true, kCancellingText, false, true, kCancelledRunText, false, true},
        {false, false, true, kCancellingText, false, false, kCancelledRunText, true, false},
        {true, false, true, kCancellingText, false, false, kCancelledRunText, false, false},
    },
    {
        {false, false, false, kNoText, false, false, kNoText, false, false},
        {false, true, true, kQuitText, false, false, kNoText, false, true},
        {false, false, true, kQuitText, false, true, kNoText, false, true},
        {false, false, true, kCancellingText, false, false, kCancelledText, true, false},
        {false, false, false, kNoText, false, false, kNoText, false, false},
    },
};

}  // namespace

void CWavrelDlg::StopAtStep(int request) {
  IDialogWindow& window = Window();
  const std::int32_t step = std::clamp<std::int32_t>(m_conversion.Step(), kStepIdle, kStepCleanUp);
  const StopActions& actions = kStopTable[request == kCloseRequest ? 1 : 0][step];
  if (actions.onlyWhenRunning && !m_workerThread.IsRunning() && !m_animationThread.IsRunning()) {
    return;
  }
  const auto status = [this](int text) {
    switch (text) {
      case kCancellingText:
        SetStatus(m_textCancelling);
        break;
      case kQuitText:
        SetStatus(m_textQuitMessage);
        break;
      case kCancelledRunText:
        SetStatus(CancelledStatusText());
        break;
      case kCancelledText:
        SetStatus(m_textCancelled);
        break;
      default:
        break;
    }
  };
  if (actions.terminateConverterFirst) m_conversion.TerminateConverter();
  if (actions.hidePicture) window.ShowControl(kIdPicture, false);
  status(actions.firstStatus);
  // With several jobs at a time, stopping the worker stops every job: each
  // ends its programs and deletes its files before the worker returns.
  StopThread(m_workerThread);
  StopThread(m_animationThread);
  if (actions.terminateConverterAfter) m_conversion.TerminateConverter();
  if (actions.terminateDecoderAfter) TerminateDecoderWithRetries();
  status(actions.secondStatus);
  if (actions.closeFiles) m_conversion.CloseFiles();
  if (actions.pause) SleepMs(200);
}

void CWavrelDlg::OnCancelConversion() {
  IDialogWindow& window = Window();
  if (DeferStopRequest(kCancelRequest)) {
    // The worker waits for the user to answer its box; it stops right after.
    window.EnableControl(kIdCancelConversion, false);
    SetStatus(m_textCancelling);
    return;
  }
  m_stopPending = true;
  m_runStop.request_stop();
  window.EnableControl(kIdCancelConversion, false);
  StopAtStep(kCancelRequest);
  FinishStop();
  // The files done before the cancel are reported as at the end of a full
  // run: by the worker, started again for the box alone, so that a close
  // while it shows is noted as it is for any box of a run. The buttons come
  // back once it is answered.
  if (m_stoppedByHandler.exchange(false) && !CancelReportText().empty()) {
    if (m_workerThread.Start(this, &CWavrelDlg::ReportCancelledRun) == JThread::kOk) return;
    MessageBox(CancelReportText(), host::kReportStyle);
  }
  SetButtonsIdle(true);
}

void CWavrelDlg::OnCloseRequest() {
  IDialogWindow& window = Window();
  if (!m_workerThread.IsRunning()) {
    // The animation of a finished run may still be putting up its picture.
    StopThread(m_animationThread);
    window.EndDialog();
    return;
  }
  if (DeferStopRequest(kCloseRequest)) {
    // The worker waits for the user to answer its box; it ends the dialog then.
    window.EnableControl(kIdCancelConversion, false);
    SetStatus(m_textQuitMessage);
    return;
  }
  m_stopPending = true;
  m_runStop.request_stop();
  StopAtStep(kCloseRequest);
  FinishStop();
  window.EndDialog();
}

}  // namespace wavrel
