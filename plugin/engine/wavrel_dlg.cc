// CWavrelDlg: construction, start-up (texts, program paths, the sample-rate
// setting) and the handlers of the dialog's buttons and close request.
#include "plugin/engine/wavrel_dlg.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <thread>

#include "plugin/engine/host_access.h"
#include "plugin/platform/file_system.h"
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

/// The settings file below the host folder; on Windows the name ignored case,
/// so the lower-case folder spelling is tried when the usual one is missing.
constexpr char16_t kSettingsPath[] = u"Plugins/WavrelPlugin/WavrelPluginSet.xml";
constexpr char16_t kSettingsPathLower[] = u"plugins/WavrelPlugin/WavrelPluginSet.xml";
/// A settings file holds a few lines; a larger one counts as missing.
constexpr std::size_t kMaxSettingsBytes = 64 * 1024;

/// Decimal value of text read like atoi: leading white space, an optional
/// sign, digits up to the first non-digit; 0 without digits. Values beyond
/// the 32-bit range are clamped instead of overflowing.
std::int32_t ParseDecimal(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<std::int32_t>(value);
}

}  // namespace

CWavrelDlg::CWavrelDlg() = default;

CWavrelDlg::~CWavrelDlg() {
  m_stopPending = true;
  m_workerThread.Stop(5);
  m_animationThread.Stop(5);
  // A child may outlive a worker that was stopped while waiting for it.
  m_converterLaunch.Terminate();
  m_decoderLaunch.Terminate();
  m_wavWriter.CloseFiles();
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
  m_textTitle = host::PluginText(u"IDS_TITLE_NAME");
  window.SetTitle(m_textTitle);
  m_textPromptInfo = host::PluginText(u"IDS_PROMPT_INFO");
  window.SetControlText(kIdPromptGroup, m_textPromptInfo);
  m_textContentInfo = host::PluginText(u"IDS_CONTENT_INFO");
  window.SetControlText(kIdStatus, m_textContentInfo);
  m_textResourcePath = host::PluginText(u"IDS_RESOURCE_PATH");
  window.SetControlText(kIdInputLabel, m_textResourcePath);
  m_textTargetName = host::PluginText(u"IDS_TARGET_NAME");
  window.SetControlText(kIdOutputLabel, m_textTargetName);
  m_textConvert = host::PluginText(u"IDC_CONVERT");
  window.SetControlText(kIdConvert, m_textConvert);
  m_textCancel = host::PluginText(u"IDS_CANCLE");
  window.SetControlText(kIdCancel, m_textCancel);
  m_textMessageNoEmpty = host::PluginText(u"IDS_MESSAGE_NO_EMPTY");
  m_textConvering = host::PluginText(u"IDS_CONVERING");
  m_textConvered = host::PluginText(u"IDS_CONVERED");
  m_textConverCancleing = host::PluginText(u"IDS_CONVER_CANCLEING");
  m_textConverCancleed = host::PluginText(u"IDS_CONVER_CANCLEED");
  m_textQuitMessage = host::PluginText(u"IDS_QUIT_MESSAGE");
  m_textLoseExeFile = host::PluginText(u"IDS_LOSE_EXEFILE");

  m_pluginDirectory = host::PluginDirectory();
  m_converterPath = m_pluginDirectory + u"vocrate";
  m_decoderPath = m_pluginDirectory + u"evrc_2004";

  m_textNoOpenFile = host::PluginText(u"IDS_NO_OPEN_FILE");
  m_textCheckFolder = host::PluginText(u"IDS_CHECK_FOLDER");
  m_textSaveQcpFolder = host::PluginText(u"IDS_SAVEQCP_FOLDER");
  m_textSomeNoQcp = host::PluginText(u"IDS_SOME_NOQCP");
  m_textPrompt = host::PluginText(u"IDS_PROMPT");
  m_textNoQcpFileOnFolder = host::PluginText(u"IDS_NOQCPFILE_ONFOLDER");
  m_textNoQcpFormat = host::PluginText(u"IDS_NOQCP_FORMAT");
  m_textSelectFolder = host::PluginText(u"IDS_SELECT_FOLDER");
  // Text of the finished status line when some files failed: %1 failed, %2 files.
  m_textConverFailed = host::PluginText(u"IDS_CONVER_FAILED");
  // Texts added with the run's progress and report; each has an English
  // fallback or a plain one built from the texts above.
  // %1 the output folder.
  m_textOutputNotWritable = host::PluginText(u"IDS_OUTPUT_NOT_WRITABLE");
  // %1 the file's number, %2 the number of files, %3 the file's name.
  m_textConverProgress = host::PluginText(u"IDS_CONVER_PROGRESS");
  // %1 the number of WAV files the cancelled run made and kept.
  m_textCancelledKept = host::PluginText(u"IDS_CONVER_CANCLEED_KEPT");
  m_textEndReport = host::PluginText(u"IDS_END_REPORT");
  // %1 the number of files beyond those listed.
  m_textReportMore = host::PluginText(u"IDS_REPORT_MORE");
  m_textReportCutShort = host::PluginText(u"IDS_REPORT_CUT_SHORT");
  m_textReportSkipped = host::PluginText(u"IDS_REPORT_SKIPPED");

  window.EnableControl(kIdCancel, false);
  m_step = kStepIdle;
  m_inputFolder.clear();
  m_currentFile.clear();
  m_foundNonQcp = false;
  m_skippedFiles.clear();
  m_sampleRateSetting = ReadSampleRateSetting();
  return true;
}

std::int32_t CWavrelDlg::ReadSampleRateSetting() {
  std::int32_t result = -1;
  const std::u16string hostDirectory = host::HostDirectory();
  if (hostDirectory.empty()) return result;
  std::string path = host::Narrow(hostDirectory + kSettingsPath);
  if (!path.empty() && !PathExists(path)) {
    path = host::Narrow(hostDirectory + kSettingsPathLower);
  }
  // Only a regular file of bounded size is read (a pipe there must not block
  // the start); anything else counts as missing.
  std::vector<unsigned char> bytes;
  if (path.empty() || !ReadFileStart(path, kMaxSettingsBytes + 1, &bytes) ||
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
      if (reader.AttributeNameAt(0) == "name") result = ParseDecimal(reader.GetElementText());
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
  return host::MessageBoxOk(text, m_textPrompt, style);
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
  m_stopPending = false;
  // The converting state is shown before the threads start, so that a run
  // that ends at once cannot have its final state overwritten by this one.
  SetStatus(m_textConvering);
  SetButtonsIdle(false);
  Window().EnableControl(kIdCancel, true);
  m_animationThread.Start(this, &CWavrelDlg::PlayAnimation);
  if (m_workerThread.Start(this, &CWavrelDlg::ConvertAll) != JThread::kOk) {
    // No worker: end the animation and go back to the ready state.
    m_conversionDoneEvent.Set();
    SetStatus(m_textContentInfo);
    SetButtonsIdle(true);
    Window().EnableControl(kIdCancel, false);
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

void CWavrelDlg::TerminateWithRetries(ChildProcess& launch) {
  for (int attempt = 0; attempt < 6; ++attempt) {
    if (launch.Terminate()) return;
    SleepMs(200);
  }
}

void CWavrelDlg::FinishStop() {
  // The worker may have launched a child after the handler chose its actions
  // (it checks for a pending stop before every launch, but a launch can come
  // just before the handler began): no child outlives a stopped run.
  m_converterLaunch.Terminate();
  m_decoderLaunch.Terminate();
  DeleteIntermediates(m_currentWorkBase);
  RemoveWorkFolder();
}

bool CWavrelDlg::DeferStopRequest(int request) {
  std::lock_guard lock(m_deferMutex);
  if (!m_boxShowing && m_deferredRequest == kNoRequest) return false;
  m_deferredRequest = std::max(m_deferredRequest, request);
  m_stopPending = true;
  return true;
}

void CWavrelDlg::OnCancelConversion() {
  IDialogWindow& window = Window();
  if (DeferStopRequest(kCancelRequest)) {
    // The worker waits for the user to answer its box; it stops right after.
    window.EnableControl(kIdCancel, false);
    SetStatus(m_textConverCancleing);
    return;
  }
  m_stopPending = true;
  const std::int32_t step = m_step.load();
  window.EnableControl(kIdCancel, false);
  switch (step) {
    case kStepConverter:
      window.ShowControl(kIdPicture, false);
      SetStatus(m_textConverCancleing);
      StopThread(m_workerThread);
      StopThread(m_animationThread);
      SetStatus(CancelledStatusText());
      m_converterLaunch.Terminate();
      SleepMs(200);
      break;
    case kStepDecoder:
      window.ShowControl(kIdPicture, false);
      SetStatus(m_textConverCancleing);
      StopThread(m_workerThread);
      StopThread(m_animationThread);
      TerminateWithRetries(m_decoderLaunch);
      SetStatus(CancelledStatusText());
      SleepMs(200);
      break;
    case kStepWav:
      window.ShowControl(kIdPicture, false);
      SetStatus(m_textConverCancleing);
      StopThread(m_workerThread);
      StopThread(m_animationThread);
      SetStatus(CancelledStatusText());
      m_wavWriter.CloseFiles();
      break;
    default:
      // Before the first file or between two files: the worker is stopped
      // all the same, so that it starts no further file.
      if (m_workerThread.IsRunning() || m_animationThread.IsRunning()) {
        window.ShowControl(kIdPicture, false);
        SetStatus(m_textConverCancleing);
        StopThread(m_workerThread);
        StopThread(m_animationThread);
        SetStatus(CancelledStatusText());
      }
      break;
  }
  FinishStop();
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
    window.EnableControl(kIdCancel, false);
    SetStatus(m_textQuitMessage);
    return;
  }
  m_stopPending = true;
  switch (m_step.load()) {
    case kStepConverter:
      m_converterLaunch.Terminate();
      SetStatus(m_textQuitMessage);
      window.ShowControl(kIdPicture, false);
      StopThread(m_workerThread);
      StopThread(m_animationThread);
      SleepMs(200);
      break;
    case kStepDecoder:
      SetStatus(m_textQuitMessage);
      window.ShowControl(kIdPicture, false);
      StopThread(m_workerThread);
      StopThread(m_animationThread);
      TerminateWithRetries(m_decoderLaunch);
      SleepMs(200);
      break;
    case kStepWav:
      window.ShowControl(kIdPicture, false);
      SetStatus(m_textConverCancleing);
      StopThread(m_workerThread);
      StopThread(m_animationThread);
      SetStatus(m_textConverCancleed);
      m_wavWriter.CloseFiles();
      break;
    default:
      // The dialog never ends while its worker still uses it.
      StopThread(m_workerThread);
      StopThread(m_animationThread);
      break;
  }
  FinishStop();
  window.EndDialog();
}

}  // namespace wavrel
