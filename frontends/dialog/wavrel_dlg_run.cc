// CWavrelDlg on the worker thread: the run handed to the core, what the core
// tells the dialog as it goes (the status line, the one failure box, the end
// report), and the stops noted while a box showed.
#include <string>

#include "base/text.h"
#include "frontends/dialog/host_access.h"
#include "frontends/dialog/wavrel_dlg.h"

namespace wavrel {

void CWavrelDlg::ConvertAll() {
  m_outcomes.clear();
  m_wavsWritten = 0;
  m_failureBoxShown = false;
  const RunSummary summary = m_core.Run(m_plan, *this, m_workerThread.StopToken());
  m_fileList.clear();
  m_fileList.shrink_to_fit();

  if (summary.cancelled) {
    // Cancel or close stopped the run: they set the texts, or left that to
    // this thread when they came while its box showed.
    if (FinishDeferredStop(false) == kNoRequest) m_stoppedByHandler = true;
    return;
  }

  m_conversionDoneEvent.Set();
  IDialogWindow& window = Window();
  SetStatus(m_texts.Finished(summary.failed, summary.files));
  window.EnableControl(kIdCancelConversion, false);
  // The report comes before the buttons are enabled again, so that no new
  // run can start while it shows; a close request made meanwhile is kept.
  const std::u16string report =
      m_texts.EndReport(m_outcomes, m_plan.skipped, m_plan.request.inputFolder);
  bool closing = false;
  {
    std::lock_guard lock(m_deferMutex);
    closing = m_deferredRequest == kCloseRequest;
  }
  if (!report.empty() && !closing) ShowRunBox(report);
  const int request = FinishDeferredStop(true);
  if (request == kCloseRequest) return;
  // A cancel noted during the last box found nothing left to stop.
  if (request == kCancelRequest) SetStatus(m_texts.Finished(summary.failed, summary.files));
  m_runComplete = true;
  // How many WAV files the run made and where, with the offer to open it.
  const std::u16string folder = host::Wide(m_plan.request.outputFolder);
  window.OfferFolder(folder, m_texts.MadeWavs(summary.wavsWritten, folder), m_texts.OpenFolder());
  SetButtonsIdle(true);
}

void CWavrelDlg::OnRunStarted(const RunStart& start) {
  if (m_observer != nullptr) m_observer->OnRunStarted(start);
}

void CWavrelDlg::OnFileSkipped(const SkippedFile& file) {
  if (m_observer != nullptr) m_observer->OnFileSkipped(file);
}

void CWavrelDlg::OnFileStarted(const std::string& path, std::size_t index, std::size_t count) {
  SetStatus(m_texts.Progress(index + 1, count,
                             host::Wide(RelativeName(m_plan.request.inputFolder, path))));
  if (m_observer != nullptr) m_observer->OnFileStarted(path, index, count);
}

void CWavrelDlg::OnFileFinished(const FileOutcome& outcome) {
  if (outcome.wavResult == WavWriteResult::kCannotCreate && !m_failureBoxShown) {
    // One box per run: later failures are listed in the end report.
    m_failureBoxShown = true;
    ShowRunBox(m_texts.CannotCreateWav(outcome.plannedWavPath));
  }
  if (!outcome.skipped) m_outcomes.push_back(outcome);
  if (m_observer != nullptr) m_observer->OnFileFinished(outcome);
}

void CWavrelDlg::OnRunFinished(const RunSummary& summary) {
  m_wavsWritten = summary.wavsWritten;
  if (m_observer != nullptr) m_observer->OnRunFinished(summary);
}

void CWavrelDlg::ShowRunBox(const std::u16string& text) {
  {
    std::lock_guard lock(m_deferMutex);
    // A handler that stops the worker waits for it: a box now would wait
    // for that handler's thread.
    if (m_handlerStopping) return;
    m_boxShowing = true;
  }
  MessageBox(text, host::kReportStyle);
  std::lock_guard lock(m_deferMutex);
  m_boxShowing = false;
}

int CWavrelDlg::FinishDeferredStop(bool runComplete) {
  {
    std::lock_guard lock(m_deferMutex);
    if (m_deferredRequest == kNoRequest) return kNoRequest;
  }
  IDialogWindow& window = Window();
  if (!runComplete) {
    // As the handlers do when they stop the worker (the core has cleaned up):
    // the picture is hidden and the animation ends.
    window.ShowControl(kIdPicture, false);
    if (m_animationThread.IsRunning()) m_animationThread.Kill();
  }
  int request = kNoRequest;
  {
    // From here on the handlers act as usual again.
    std::lock_guard lock(m_deferMutex);
    request = m_deferredRequest;
    m_deferredRequest = kNoRequest;
  }
  if (request == kCloseRequest) {
    m_runComplete = true;
    if (runComplete && m_animationThread.IsRunning()) m_animationThread.Kill();
    window.EndDialog();
  } else if (!runComplete) {
    SetStatus(m_texts.CancelledKept(m_wavsWritten));
    ReportCancelledRun();
  } else {
    m_runComplete = true;
  }
  return request;
}

void CWavrelDlg::ReportCancelledRun() {
  // The files done before the cancel, as the end of a full run lists them;
  // those not reached were not tried and are not listed.
  const std::u16string report =
      m_texts.EndReport(m_outcomes, m_plan.skipped, m_plan.request.inputFolder);
  if (!report.empty()) ShowRunBox(report);
  int request = kNoRequest;
  {
    std::lock_guard lock(m_deferMutex);
    request = m_deferredRequest;
    m_deferredRequest = kNoRequest;
  }
  m_runComplete = true;
  IDialogWindow& window = Window();
  if (request == kCloseRequest) {
    window.EndDialog();
    return;
  }
  // A cancel noted during the box found nothing left to stop.
  if (request == kCancelRequest) SetStatus(m_texts.CancelledKept(m_wavsWritten));
  // The buttons come back only now, so that no run starts while the report shows.
  SetButtonsIdle(true);
  window.EnableControl(kIdCancelConversion, false);
}

}  // namespace wavrel
