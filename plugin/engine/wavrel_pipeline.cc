// CWavrelDlg's run on the worker thread: the names of the run's WAV files are
// fixed from the whole sorted list, then each file of the run goes through a
// FileConversion, one at a time or RunOptions::jobs at a time. The
// intermediates live in a private work folder of the run, never beside the
// user's recordings.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stop_token>
#include <thread>

#include "plugin/engine/host_access.h"
#include "plugin/engine/wav_names.h"
#include "plugin/engine/wavrel_dlg.h"

namespace wavrel {
namespace {

using host::Narrow;
using host::Wide;

std::u16string Ascii16(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::u16string ReplaceAll(std::u16string text, const std::u16string& from,
                          const std::u16string& to) {
  for (std::size_t at = text.find(from); at != std::u16string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

/// Files listed by name in the end report; the rest are counted.
constexpr std::size_t kReportLines = 20;

std::u16string BaseName(const std::u16string& path) {
  const std::size_t slash = path.rfind(u'/');
  return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

bool CWavrelDlg::StopRequested() const {
  return m_stopPending.load() || m_workerThread.StopRequested();
}

void CWavrelDlg::RemoveWorkFolder() {
  std::lock_guard lock(m_workFolderMutex);
  if (!m_workFolder.empty()) m_env.RemoveFolderTree(m_workFolder);
  m_workFolder.clear();
}

std::u16string CWavrelDlg::OutputFolderText() const {
  std::u16string folder = Window().GetControlText(kIdOutputEdit);
  if (!folder.empty() && folder.back() != u'/') folder += u'/';
  return folder;
}

std::u16string CWavrelDlg::FinishedStatusText(std::size_t failed, std::size_t total) const {
  if (failed == 0) return m_textConverted;
  const std::u16string failedText = Ascii16(std::to_string(failed));
  const std::u16string totalText = Ascii16(std::to_string(total));
  if (m_textConversionFailed.empty()) {
    return m_textConverted + u" (" + failedText + u"/" + totalText + u")";
  }
  return ReplaceAll(ReplaceAll(m_textConversionFailed, u"%1", failedText), u"%2", totalText);
}

std::u16string CWavrelDlg::ProgressText(std::size_t number, std::size_t total,
                                        const std::u16string& name) const {
  const std::u16string numberText = Ascii16(std::to_string(number));
  const std::u16string totalText = Ascii16(std::to_string(total));
  if (m_textConversionProgress.empty()) {
    return m_textConverting + u" (" + numberText + u"/" + totalText + u")";
  }
  // %3 last: a file name may itself hold "%1".
  return ReplaceAll(
      ReplaceAll(ReplaceAll(m_textConversionProgress, u"%1", numberText), u"%2", totalText), u"%3",
      name);
}

std::u16string CWavrelDlg::CancelledStatusText() const {
  const std::u16string kept = Ascii16(std::to_string(m_wavsWritten.load()));
  if (m_textCancelledKept.empty()) return m_textCancelled + u" (" + kept + u" WAV)";
  return ReplaceAll(m_textCancelledKept, u"%1", kept);
}

void CWavrelDlg::OfferOutputFolder() {
  std::u16string folder = OutputFolderText();
  if (folder.size() > 1) folder.pop_back();
  const std::u16string made = Ascii16(std::to_string(m_wavsWritten.load()));
  // %2 last: a folder name may itself hold "%1".
  const std::u16string text = ReplaceAll(
      ReplaceAll(m_textMadeWavs.empty() ? u"%1 WAV files made in %2" : m_textMadeWavs, u"%1", made),
      u"%2", folder);
  Window().OfferFolder(folder, text, m_textOpenFolder.empty() ? u"Open folder" : m_textOpenFolder);
}

std::u16string CWavrelDlg::EndReportText() const {
  std::vector<std::u16string> lines;
  for (const FileOutcome& outcome : m_runOutcomes) {
    std::u16string reason;
    if (outcome.skipped) continue;
    if (!outcome.success) {
      reason = Wide(outcome.reason);
    } else if (outcome.cutShort) {
      reason = m_textReportCutShort.empty()
                   ? u"cut short: the recording ends before its header says"
                   : m_textReportCutShort;
    } else {
      continue;
    }
    lines.push_back(BaseName(Wide(outcome.path)) + u": " + reason);
  }
  for (const auto& [path, reason] : m_skippedFiles) {
    // The usual reason in the user's language; a rarer one as the scan gave it.
    std::u16string text = Wide(reason) + u", skipped";
    if (reason == "not a QCP recording") {
      text = m_textReportSkipped.empty() ? u"not a QCP recording, skipped" : m_textReportSkipped;
    }
    lines.push_back(BaseName(Wide(path)) + u": " + text);
  }
  if (lines.empty()) return {};
  std::u16string text =
      m_textEndReport.empty() ? u"These files need your attention:" : m_textEndReport;
  for (std::size_t i = 0; i < lines.size() && i < kReportLines; ++i) text += u"\n" + lines[i];
  if (lines.size() > kReportLines) {
    const std::u16string more = Ascii16(std::to_string(lines.size() - kReportLines));
    text += u"\n" +
            ReplaceAll(m_textReportMore.empty() ? u"and %1 more" : m_textReportMore, u"%1", more);
  }
  return text;
}

void CWavrelDlg::ShowRunBox(const std::u16string& text) {
  // Other jobs of the run neither start nor report a file while it shows.
  std::lock_guard box(m_runBoxMutex);
  {
    std::lock_guard lock(m_deferMutex);
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
    // As the handlers do after stopping the worker: this file's
    // intermediates and the work folder go, the picture is hidden.
    window.ShowControl(kIdPicture, false);
    StopThread(m_animationThread);
    m_conversion.CleanUpAfterStop();
    RemoveWorkFolder();
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
    if (runComplete) StopThread(m_animationThread);
    window.EndDialog();
  } else if (!runComplete) {
    SetStatus(CancelledStatusText());
    ReportCancelledRun();
  } else {
    m_runComplete = true;
  }
  return request;
}

std::u16string CWavrelDlg::CancelReportText() const {
  // The files done before the cancel, as the end of a full run lists them;
  // those not reached were not tried and are not listed.
  return m_options.reportAfterCancel ? EndReportText() : std::u16string();
}

void CWavrelDlg::ReportCancelledRun() {
  const std::u16string report = CancelReportText();
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
  if (request == kCancelRequest) SetStatus(CancelledStatusText());
  // The buttons come back only now, so that no run starts while the report shows.
  SetButtonsIdle(true);
  window.EnableControl(kIdCancelConversion, false);
}

void CWavrelDlg::ConvertAll() {
  // A stop of the worker stops the run's conversions too.
  const std::stop_callback relayStop(m_workerThread.StopToken(),
                                     [this] { m_runStop.request_stop(); });
  std::string workError;
  {
    std::string folder = m_env.MakeWorkFolder(&workError);
    std::lock_guard lock(m_workFolderMutex);
    m_workFolder = std::move(folder);
  }
  const std::string workFolder = WorkFolder();
  {
    std::lock_guard lock(m_outcomeMutex);
    m_runOutcomes.clear();
    m_pendingOutcomes.clear();
    m_nextOutcome = 0;
  }
  m_wavsWritten = 0;
  m_failureBoxShown = false;
  // Plain byte order, unsigned: "B.qcp" before "a.qcp".
  std::sort(m_fileList.begin(), m_fileList.end(), [](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    });
  });
  const std::size_t shardCount = std::max<std::size_t>(m_options.shardCount, 1);
  const std::size_t shardIndex = m_options.shardIndex;

  // Every file of the folder is accounted for: those the run goes on without
  // are told first (each by one shard only).
  std::sort(m_skippedFiles.begin(), m_skippedFiles.end());
  for (std::size_t i = 0; i < m_skippedFiles.size(); ++i) {
    if (m_observer != nullptr && i % shardCount == shardIndex) {
      m_observer->OnFileSkipped(m_skippedFiles[i].first, m_skippedFiles[i].second);
    }
  }
  // Kept until the next scan: the end report lists them too.

  // The names of the whole run, fixed before any file starts.
  std::vector<FileStamp> inputStamps;
  for (const std::string& path : m_fileList) {
    FileStamp stamp;
    if (m_env.Files().StampOf(path, true, &stamp)) inputStamps.push_back(stamp);
  }
  const std::string outputFolder = Narrow(OutputFolderText());
  std::vector<std::string> outputFolders;
  for (const std::string& path : m_fileList) {
    const std::size_t slash = path.rfind('/');
    const bool below = m_options.recursive && path.size() > m_scanPrefix.size() &&
                       path.compare(0, m_scanPrefix.size(), m_scanPrefix) == 0 &&
                       slash != std::string::npos && slash >= m_scanPrefix.size();
    outputFolders.push_back(
        below ? outputFolder + path.substr(m_scanPrefix.size(), slash + 1 - m_scanPrefix.size())
              : outputFolder);
  }
  const std::vector<std::string> wavPaths =
      PlanWavPaths(m_env.Files(), m_fileList, outputFolders, inputStamps);

  // This shard's files; with skipExisting, those whose WAV is complete are
  // told as skipped and not converted.
  std::vector<ConversionJob> jobs;
  std::vector<FileOutcome> upToDate;
  for (std::size_t pos = shardIndex; pos < m_fileList.size(); pos += shardCount) {
    if (m_options.skipExisting && IsCompleteWav(m_env.Files(), wavPaths[pos])) {
      FileOutcome outcome;
      outcome.path = m_fileList[pos];
      outcome.wavPath = wavPaths[pos];
      outcome.success = true;
      outcome.skipped = true;
      upToDate.push_back(outcome);
      continue;
    }
    ConversionJob job;
    job.recording = m_fileList[pos];
    job.wavPath = wavPaths[pos];
    job.workFolder = workFolder;
    // Every intermediate of the file lives in the run's work folder under a
    // short name of its own (its position in the run), so that a recording
    // whose name is as long as the system allows converts too.
    job.workBase = workFolder + "/" + std::to_string(pos + 1);
    job.sampleRateSetting = m_sampleRateSetting;
    job.converterPath = Narrow(m_converterPath);
    job.decoderPath = Narrow(m_decoderPath);
    if (m_options.recursive) m_env.MakeFolder(outputFolders[pos], nullptr);
    jobs.push_back(std::move(job));
  }
  for (FileOutcome& outcome : upToDate) {
    outcome.count = jobs.size();
    if (m_observer != nullptr) m_observer->OnFileFinished(outcome);
  }

  const std::size_t count = jobs.size();
  std::size_t done = 0;
  std::size_t failed = 0;
  if (workFolder.empty()) m_workError = "cannot create a work folder: " + workError;
  const bool complete = m_options.jobs > 1 && count > 1 ? ConvertInParallel(jobs, &done, &failed)
                                                        : ConvertSequentially(jobs, &done, &failed);
  {
    // Files that finished after one a stop cut short are told too.
    std::lock_guard lock(m_outcomeMutex);
    ReleaseOutcomes(true);
  }

  if (!complete && StopRequested() && done < count) {
    // Cancel or close stopped the run: they set the texts and clean up, or
    // left that to this thread when they came while its box showed.
    if (m_observer != nullptr) m_observer->OnRunFinished(done, failed, true);
    if (FinishDeferredStop(false) == kNoRequest) m_stoppedByHandler = true;
    return;
  }

  m_fileList.clear();
  m_fileList.shrink_to_fit();
  RemoveWorkFolder();
  m_conversionDoneEvent.Set();
  IDialogWindow& window = Window();
  SetStatus(FinishedStatusText(failed, count));
  window.EnableControl(kIdCancelConversion, false);
  // The report comes before the buttons are enabled again, so that no new
  // run can start while it shows; a close request made meanwhile is kept.
  const std::u16string report = EndReportText();
  bool closing = false;
  {
    std::lock_guard lock(m_deferMutex);
    closing = m_deferredRequest == kCloseRequest;
  }
  if (!report.empty() && !closing) ShowRunBox(report);
  if (m_observer != nullptr) m_observer->OnRunFinished(count, failed, false);
  const int request = FinishDeferredStop(true);
  if (request == kCloseRequest) return;
  // A cancel noted during the last box found nothing left to stop.
  if (request == kCancelRequest) SetStatus(FinishedStatusText(failed, count));
  m_runComplete = true;
  OfferOutputFolder();
  SetButtonsIdle(true);
}

std::size_t CWavrelDlg::StartNextFile(const std::vector<ConversionJob>& jobs, std::size_t* next) {
  // Files start in the order of the list, and not while a run box shows.
  std::lock_guard box(m_runBoxMutex);
  std::lock_guard lock(m_outcomeMutex);
  if (*next >= jobs.size()) return kNoFile;
  const std::size_t index = (*next)++;
  SetStatus(ProgressText(index + 1, jobs.size(), BaseName(Wide(jobs[index].recording))));
  if (m_observer != nullptr) m_observer->OnFileStarted(jobs[index].recording, index, jobs.size());
  return index;
}

void CWavrelDlg::ReleaseOutcomes(bool all) {
  // Called with m_outcomeMutex held. The observer and the end report get the
  // files in the order of the list: a file that finished before an earlier
  // one waits for it (all: the run ended, the rest go as they are).
  while (!m_pendingOutcomes.empty() && (all || m_pendingOutcomes.begin()->first == m_nextOutcome)) {
    const FileOutcome outcome = m_pendingOutcomes.begin()->second;
    m_pendingOutcomes.erase(m_pendingOutcomes.begin());
    m_nextOutcome = outcome.index + 1;
    m_runOutcomes.push_back(outcome);
    if (m_observer != nullptr) m_observer->OnFileFinished(outcome);
  }
}

ConversionOutcome CWavrelDlg::WorkFolderFailure(const ConversionJob& job) const {
  ConversionOutcome outcome;
  outcome.reason = m_workError;
  outcome.cutShort = FileConversion::IsCutShort(m_env.Files(), job.recording);
  return outcome;
}

void CWavrelDlg::FileFinished(const ConversionJob& job, const ConversionOutcome& result,
                              std::size_t index, std::size_t count, double seconds) {
  if (result.wavResult == WavWriteResult::kCannotCreate) {
    // One box per run: later failures are listed in the end report.
    bool show = false;
    {
      std::lock_guard lock(m_outcomeMutex);
      show = !m_failureBoxShown;
      m_failureBoxShown = true;
    }
    if (show) ShowRunBox(m_textNoOpenFile + Wide(job.wavPath));
  }
  FileOutcome outcome;
  outcome.path = job.recording;
  outcome.index = index;
  outcome.count = count;
  outcome.wavPath = result.wavPath;
  outcome.cutShort = result.cutShort;
  outcome.success = result.status == ConversionOutcome::Status::kOk;
  outcome.reason = result.reason;
  outcome.totalFrames = result.totalFrames;
  outcome.lostFrames = result.lostFrames;
  outcome.seconds = seconds;
  if (!result.wavPath.empty()) ++m_wavsWritten;
  std::lock_guard box(m_runBoxMutex);
  std::lock_guard lock(m_outcomeMutex);
  m_pendingOutcomes.emplace(index, outcome);
  ReleaseOutcomes(false);
}

bool CWavrelDlg::ConvertSequentially(const std::vector<ConversionJob>& jobs, std::size_t* done,
                                     std::size_t* failed) {
  const std::size_t count = jobs.size();
  std::size_t next = 0;
  for (std::size_t index = 0; index < count; ++index) {
    if (StopRequested()) return false;
    const ConversionJob& job = jobs[index];
    StartNextFile(jobs, &next);
    const auto started = std::chrono::steady_clock::now();
    ConversionOutcome outcome;
    if (job.workFolder.empty()) {
      outcome = WorkFolderFailure(job);
    } else {
      outcome = m_conversion.Run(job, m_runStop.get_token());
      // Cut short by a stop: the handlers clean up after this file.
      if (outcome.status == ConversionOutcome::Status::kStopped) return false;
    }
    ++*done;
    if (outcome.status != ConversionOutcome::Status::kOk) ++*failed;
    FileFinished(job, outcome, index, count, SecondsSince(started));
  }
  return true;
}

bool CWavrelDlg::ConvertInParallel(const std::vector<ConversionJob>& jobs, std::size_t* done,
                                   std::size_t* failed) {
  const std::size_t count = jobs.size();
  std::size_t next = 0;  // guarded by m_outcomeMutex
  std::atomic<std::size_t> doneCount{0};
  std::atomic<std::size_t> failedCount{0};
  // A stop of the run stops every job at once.
  const std::stop_source& stop = m_runStop;
  const std::size_t slots = std::min<std::size_t>(m_options.jobs, count);
  {
    std::vector<std::jthread> threads;
    for (std::size_t slot = 0; slot < slots; ++slot) {
      threads.emplace_back([&, slot] {
        // Each job has a folder of its own: the converter writes its loss
        // record into the folder it runs in.
        const std::string runFolder = WorkFolder();
        const std::string folder = runFolder + "/j" + std::to_string(slot + 1);
        std::string error;
        const bool haveFolder = !runFolder.empty() && m_env.MakeFolder(folder, &error);
        FileConversion conversion(m_env);
        while (!stop.stop_requested() && !m_stopPending.load()) {
          const std::size_t index = StartNextFile(jobs, &next);
          if (index == kNoFile) break;
          ConversionJob job = jobs[index];
          job.workFolder = folder;
          job.workBase = folder + "/" + std::to_string(index + 1);
          const auto started = std::chrono::steady_clock::now();
          ConversionOutcome outcome;
          if (!haveFolder) {
            outcome = WorkFolderFailure(job);
            if (!runFolder.empty()) outcome.reason = "cannot create a work folder: " + error;
          } else {
            outcome = conversion.Run(job, stop.get_token());
            if (outcome.status == ConversionOutcome::Status::kStopped) {
              conversion.CleanUpAfterStop();
              break;
            }
          }
          ++doneCount;
          if (outcome.status != ConversionOutcome::Status::kOk) ++failedCount;
          FileFinished(job, outcome, index, count, SecondsSince(started));
        }
      });
    }
  }
  *done = doneCount;
  *failed = failedCount;
  return *done == count;
}

}  // namespace wavrel
