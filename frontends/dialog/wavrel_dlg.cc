// CWavrelDlg: construction, start-up (texts, program paths, the sample-rate
// setting), the checks before converting and the handlers of the dialog's
// buttons and close request.
#include "frontends/dialog/wavrel_dlg.h"

#include <algorithm>

#include "core/settings.h"
#include "frontends/dialog/host_access.h"

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

/// The texts a stop shows.
enum StopText : int { kNoText, kCancellingText, kQuitText, kCancelledRunText, kCancelledText };

/// What cancel or close shows at a step, around stopping the two threads
/// (the worker's stop ends the program in work and deletes the file's
/// intermediates and a partial WAV): hide the picture and show the first
/// status, stop the worker and the animation, show the second status.
struct StopActions {
  bool onlyWhenRunning;  ///< nothing at all unless a thread runs
  bool hidePicture;
  StopText firstStatus;
  StopText secondStatus;
};

/// [request - 1][step]: cancel, then close; steps idle, converter, decoder,
/// WAV, clean-up. Idle and clean-up (between two files) only stop the threads.
constexpr StopActions kStopTable[2][5] = {
    {
        {true, true, kCancellingText, kCancelledRunText},
        {false, true, kCancellingText, kCancelledRunText},
        {false, true, kCancellingText, kCancelledRunText},
        {false, true, kCancellingText, kCancelledRunText},
        {true, true, kCancellingText, kCancelledRunText},
    },
    {
        {false, false, kNoText, kNoText},
        {false, true, kQuitText, kNoText},
        {false, true, kQuitText, kNoText},
        {false, true, kCancellingText, kCancelledText},
        {false, false, kNoText, kNoText},
    },
};

/// Kill asks the thread to stop and joins it; every blocking point of both
/// threads returns at once on that request, so no grace period is needed.
void StopThread(JThread& thread) {
  if (thread.IsRunning()) thread.Kill();
}

}  // namespace

CWavrelDlg::CWavrelDlg(IDialogEnvironment& environment) : m_env(environment), m_core(environment) {}

CWavrelDlg::~CWavrelDlg() {
  // The run stops as a cancel stops it: no program, intermediate, partial
  // WAV or work folder is left.
  m_workerThread.RequestStop();
  m_animationThread.RequestStop();
  m_workerThread.Stop(5);
  m_animationThread.Stop(5);
}

void CWavrelDlg::AttachWindow(IDialogWindow* window) { m_window.store(window); }

IDialogWindow& CWavrelDlg::Window() const {
  IDialogWindow* window = m_window.load();
  return window != nullptr ? *window : g_nullWindow;
}

bool CWavrelDlg::InitDialog() {
  IDialogWindow& window = Window();
  m_texts.Load([this](const char16_t* key) { return m_env.Text(key); },
               [this] {
                 m_pluginDirectory = m_env.PluginFolder();
                 m_converterPath = m_pluginDirectory + u"vocrate";
                 m_decoderPath = m_pluginDirectory + u"evrc_2004";
               });
  m_qcelpDecoderPath = m_pluginDirectory + u"qcelp_13k";
  window.SetTitle(m_texts.title);
  window.SetControlText(kIdPromptGroup, m_texts.promptInfo);
  window.SetControlText(kIdStatus, m_texts.contentInfo);
  window.SetControlText(kIdInputLabel, m_texts.resourcePath);
  window.SetControlText(kIdOutputLabel, m_texts.targetName);
  window.SetControlText(kIdConvert, m_texts.convert);
  window.SetControlText(kIdCancelConversion, m_texts.cancel);
  window.EnableControl(kIdCancelConversion, false);
  m_core.ResetStep();
  m_inputFolder.clear();
  m_foundNonQcp = false;
  m_sampleRateSetting = ReadSampleRateSetting();
  return true;
}

std::int32_t CWavrelDlg::ReadSampleRateSetting() {
  return ReadSampleRateSettingFile(m_env.Files(), host::Narrow(m_env.HostFolder()));
}

bool CWavrelDlg::IsQcpFile(const std::u16string& path) {
  return IsRecording(m_env.Files(), host::Narrow(path));
}

void CWavrelDlg::ScanInputFolder(const std::u16string& folder) {
  const ScanResult scan = ScanFolder(m_env.Files(), host::Narrow(folder), false);
  m_fileList = scan.recordings;
  m_foundNonQcp = !scan.skipped.empty();
}

void CWavrelDlg::SetStatus(const std::u16string& text) { Window().SetControlText(kIdStatus, text); }

void CWavrelDlg::SetButtonsIdle(bool idle) {
  IDialogWindow& window = Window();
  window.EnableControl(kIdConvert, idle);
  window.EnableControl(kIdBrowseInput, idle);
  window.EnableControl(kIdBrowseOutput, idle);
}

bool CWavrelDlg::MessageBox(const std::u16string& text, std::uint32_t style) {
  return m_env.MessageBox(text, m_texts.prompt, style);
}

void CWavrelDlg::OnBrowseInput() {
  IDialogWindow& window = Window();
  window.ShowControl(kIdPicture, false);
  SetStatus(m_texts.contentInfo);
  m_inputFolder.clear();
  if (auto picked = window.PickFolder(FolderPickerKind::kInput, m_texts.saveQcpFolder)) {
    m_inputFolder = *picked;
  }
  window.SetControlText(kIdInputEdit, m_inputFolder);
  window.SetControlText(kIdOutputEdit, m_inputFolder + u"/");
}

void CWavrelDlg::OnBrowseOutput() {
  IDialogWindow& window = Window();
  window.SetControlText(kIdOutputEdit, u"");
  auto picked = window.PickFolder(FolderPickerKind::kOutput, m_texts.selectFolder);
  window.SetControlText(kIdOutputEdit, picked ? *picked + u"/" : u"");
}

bool CWavrelDlg::GoOnWithout(const std::vector<SkippedFile>& /*nonRecordings*/) {
  return MessageBox(m_texts.someNoQcp, host::kQuestionStyle);
}

bool CWavrelDlg::RunChecks() {
  IDialogWindow& window = Window();
  const std::u16string input = window.GetControlText(kIdInputEdit);
  const std::u16string output = window.GetControlText(kIdOutputEdit);
  if (input.empty() || output.empty()) {
    MessageBox(m_texts.messageNoEmpty, host::kReportStyle);
    return false;
  }
  // The output field ends in the '/' that browsing appends.
  std::u16string outputFolder = output;
  if (outputFolder.size() > 1 && outputFolder.back() == u'/') outputFolder.pop_back();
  BatchRequest request;
  // The input field always holds m_inputFolder (only browsing changes it).
  request.inputFolder = host::Narrow(input);
  request.outputFolder = host::Narrow(outputFolder);
  request.converterPath = host::Narrow(m_converterPath);
  request.decoderPath = host::Narrow(m_decoderPath);
  request.qcelpDecoderPath = host::Narrow(m_qcelpDecoderPath);
  request.sampleRateSetting = m_sampleRateSetting;
  Refusal refusal;
  const bool ready = m_core.Prepare(request, *this, &m_plan, &refusal);
  const bool scanned = ready || refusal.kind == Refusal::Kind::kNoFiles ||
                       refusal.kind == Refusal::Kind::kNoRecordings ||
                       refusal.kind == Refusal::Kind::kDeclined;
  if (scanned) {
    m_fileList = m_plan.recordings;
    m_foundNonQcp = !m_plan.skipped.empty();
  }
  if (!ready && refusal.kind != Refusal::Kind::kDeclined) {
    MessageBox(m_texts.Refused(refusal), host::kReportStyle);
  }
  return ready;
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

  m_plan = {};
  if (!RunChecks()) return;

  m_conversionDoneEvent.Reset();
  m_runComplete = false;
  m_stoppedByHandler = false;
  SetHandlerStopping(false);
  // The converting state is shown before the threads start, so that a run
  // that ends at once cannot have its final state overwritten by this one.
  SetStatus(m_texts.converting);
  SetButtonsIdle(false);
  Window().EnableControl(kIdCancelConversion, true);
  m_animationThread.Start(this, &CWavrelDlg::PlayAnimation);
  if (m_workerThread.Start(this, &CWavrelDlg::ConvertAll) != JThread::kOk) {
    // No worker: end the animation and go back to the ready state.
    m_conversionDoneEvent.Set();
    SetStatus(m_texts.contentInfo);
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

bool CWavrelDlg::DeferStopRequest(int request) {
  std::lock_guard lock(m_deferMutex);
  m_workerThread.RequestStop();
  if (!m_boxShowing && m_deferredRequest == kNoRequest) {
    // The handler waits for the worker: from here on it shows no box.
    m_handlerStopping = true;
    return false;
  }
  m_deferredRequest = std::max(m_deferredRequest, request);
  return true;
}

void CWavrelDlg::SetHandlerStopping(bool stopping) {
  std::lock_guard lock(m_deferMutex);
  m_handlerStopping = stopping;
}

void CWavrelDlg::StopAtStep(int request) {
  IDialogWindow& window = Window();
  const std::int32_t step = std::clamp<std::int32_t>(m_core.Step(), kStepIdle, kStepCleanUp);
  const StopActions& actions = kStopTable[request == kCloseRequest ? 1 : 0][step];
  if (actions.onlyWhenRunning && !m_workerThread.IsRunning() && !m_animationThread.IsRunning()) {
    return;
  }
  const auto status = [this](StopText text) {
    switch (text) {
      case kCancellingText:
        SetStatus(m_texts.cancelling);
        break;
      case kQuitText:
        SetStatus(m_texts.quitMessage);
        break;
      case kCancelledRunText:
        SetStatus(m_texts.CancelledKept(m_wavsWritten));
        break;
      case kCancelledText:
        SetStatus(m_texts.cancelled);
        break;
      case kNoText:
        break;
    }
  };
  if (actions.hidePicture) window.ShowControl(kIdPicture, false);
  status(actions.firstStatus);
  StopThread(m_workerThread);
  StopThread(m_animationThread);
  status(actions.secondStatus);
}

void CWavrelDlg::OnCancelConversion() {
  IDialogWindow& window = Window();
  window.EnableControl(kIdCancelConversion, false);
  if (DeferStopRequest(kCancelRequest)) {
    // The worker waits for the user to answer its box; it stops right after.
    SetStatus(m_texts.cancelling);
    return;
  }
  StopAtStep(kCancelRequest);
  SetHandlerStopping(false);
  // The files done before the cancel are reported as at the end of a full
  // run: by the worker, started again for the box alone, so that a close
  // while it shows is noted as it is for any box of a run. The buttons come
  // back once it is answered.
  if (m_stoppedByHandler.exchange(false) &&
      !m_texts.EndReport(m_outcomes, m_plan.skipped, m_plan.request.inputFolder).empty()) {
    if (m_workerThread.Start(this, &CWavrelDlg::ReportCancelledRun) == JThread::kOk) return;
    MessageBox(m_texts.EndReport(m_outcomes, m_plan.skipped, m_plan.request.inputFolder),
               host::kReportStyle);
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
    SetStatus(m_texts.quitMessage);
    return;
  }
  StopAtStep(kCloseRequest);
  window.EndDialog();
}

}  // namespace wavrel
