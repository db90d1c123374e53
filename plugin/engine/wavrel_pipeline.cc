// CWavrelDlg's pipeline on the worker thread: each listed file goes through
// the converter, the decoder and the WAV writer, then its intermediates are
// deleted. The intermediates (the EVRC file, the PCM file and the
// converter's loss_stat.txt) live in a private work folder of the run, never
// beside the user's recordings.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "converter/qcp_chunks.h"
#include "converter/qcp_format.h"
#include "plugin/engine/host_access.h"
#include "plugin/engine/wavrel_dlg.h"
#include "plugin/platform/file_system.h"

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

/// "<what> exited with status N" / "<what> killed by signal N"; empty for a
/// clean end.
std::string DescribeExit(const char* what, const ChildExit& exit) {
  if (exit.kind == ChildExit::Kind::kExited && exit.code == 0) return {};
  if (exit.kind == ChildExit::Kind::kExited) {
    return std::string(what) + " exited with status " + std::to_string(exit.code);
  }
  if (exit.kind == ChildExit::Kind::kSignalled && exit.code != 0) {
    return std::string(what) + " killed by signal " + std::to_string(exit.code);
  }
  return std::string(what) + " ended with an unknown status";
}

/// The totals of the last record of a loss_stat.txt, when there is one.
bool ReadLossTotals(const std::string& path, std::int32_t* total, std::int32_t* lost) {
  std::FILE* file = OpenRegularFileForReading(path, nullptr);
  if (file == nullptr) return false;
  std::string text;
  char buffer[4096];
  // The record of one run is short; a file that grew large is read to its
  // last 1 MiB only.
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    text.append(buffer, got);
    if (text.size() > (1u << 20)) text.erase(0, text.size() - (1u << 19));
  }
  std::fclose(file);
  const std::size_t at = text.rfind("TOTAL FRAMES = ");
  if (at == std::string::npos) return false;
  int t = 0;
  int l = 0;
  if (std::sscanf(text.c_str() + at, "TOTAL FRAMES = %d, TOTAL LOSS PACKAGE = %d", &t, &l) != 2) {
    return false;
  }
  *total = t;
  *lost = l;
  return true;
}

}  // namespace

bool CWavrelDlg::StopRequested() const {
  return m_stopPending.load() || m_workerThread.StopRequested();
}

void CWavrelDlg::NoteFailure(const std::string& reason) {
  if (m_currentFailure.empty()) m_currentFailure = reason;
}

void CWavrelDlg::RemoveWorkFolder() {
  std::lock_guard lock(m_workFolderMutex);
  RemoveFolderTree(m_workFolder);
  m_workFolder.clear();
}

std::u16string CWavrelDlg::OutputFolderText() const {
  std::u16string folder = Window().GetControlText(kIdOutputEdit);
  if (!folder.empty() && folder.back() != u'/') folder += u'/';
  return folder;
}

std::u16string CWavrelDlg::UniqueWavPath(const std::u16string& folder, const std::u16string& stem) {
  // A WAV written earlier in this run (x.dat before x.qcp) is never replaced
  // by a later file of the same stem: the later one becomes "x (2).wav".
  // Nor is any input of the run (by device and inode: a hard link counts).
  std::u16string path = folder + stem + u".wav";
  for (int n = 2; m_wavPathsWritten.count(Narrow(path)) != 0 || IsRunInput(Narrow(path)); ++n) {
    path = folder + stem + u" (" + Ascii16(std::to_string(n)) + u").wav";
  }
  return path;
}

bool CWavrelDlg::IsRunInput(const std::string& path) const {
  FileStamp stamp;
  if (!StampOf(path, false, &stamp)) return false;
  return std::any_of(m_inputStamps.begin(), m_inputStamps.end(),
                     [&](const FileStamp& input) { return input.SameFile(stamp); });
}

bool CWavrelDlg::IsCutShort(const std::string& qcpPath) {
  std::vector<unsigned char> head;
  unsigned long long size = 0;
  if (!ReadFileStart(qcpPath, qcp::kChunkListBytes, &head) || !FileSize(qcpPath, &size)) {
    return false;
  }
  return qcp::LocateData(head.data(), head.size(), size).cutShort;
}

std::u16string CWavrelDlg::FinishedStatusText(std::size_t failed, std::size_t total) const {
  if (failed == 0) return m_textConvered;
  const std::u16string failedText = Ascii16(std::to_string(failed));
  const std::u16string totalText = Ascii16(std::to_string(total));
  if (m_textConverFailed.empty()) {
    return m_textConvered + u" (" + failedText + u"/" + totalText + u")";
  }
  return ReplaceAll(ReplaceAll(m_textConverFailed, u"%1", failedText), u"%2", totalText);
}

std::u16string CWavrelDlg::ProgressText(std::size_t number, std::size_t total,
                                        const std::u16string& name) const {
  const std::u16string numberText = Ascii16(std::to_string(number));
  const std::u16string totalText = Ascii16(std::to_string(total));
  if (m_textConverProgress.empty()) {
    return m_textConvering + u" (" + numberText + u"/" + totalText + u")";
  }
  // %3 last: a file name may itself hold "%1".
  return ReplaceAll(
      ReplaceAll(ReplaceAll(m_textConverProgress, u"%1", numberText), u"%2", totalText), u"%3",
      name);
}

std::u16string CWavrelDlg::CancelledStatusText() const {
  const std::u16string kept = Ascii16(std::to_string(m_wavsWritten.load()));
  if (m_textCancelledKept.empty()) return m_textConverCancleed + u" (" + kept + u" WAV)";
  return ReplaceAll(m_textCancelledKept, u"%1", kept);
}

std::u16string CWavrelDlg::EndReportText() const {
  std::vector<std::u16string> lines;
  for (const FileOutcome& outcome : m_runOutcomes) {
    std::u16string reason;
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
    DeleteIntermediates(m_currentWorkBase);
    RemoveWorkFolder();
  }
  int request = kNoRequest;
  {
    // From here on the handlers act as usual again.
    std::lock_guard lock(m_deferMutex);
    request = m_deferredRequest;
    m_deferredRequest = kNoRequest;
  }
  m_runComplete = true;
  if (request == kCloseRequest) {
    if (runComplete) StopThread(m_animationThread);
    window.EndDialog();
  } else if (!runComplete) {
    SetStatus(CancelledStatusText());
    SetButtonsIdle(true);
    window.EnableControl(kIdCancel, false);
  }
  return request;
}

void CWavrelDlg::ConvertAll() {
  std::string workError;
  {
    std::string folder = MakePrivateWorkFolder(&workError);
    std::lock_guard lock(m_workFolderMutex);
    m_workFolder = std::move(folder);
  }
  m_wavPathsWritten.clear();
  m_inputStamps.clear();
  for (const std::string& path : m_fileList) {
    FileStamp stamp;
    if (StampOf(path, true, &stamp)) m_inputStamps.push_back(stamp);
  }
  m_runOutcomes.clear();
  m_wavsWritten = 0;
  m_failureBoxShown = false;
  // Plain byte order, unsigned: "B.qcp" before "a.qcp".
  std::sort(m_fileList.begin(), m_fileList.end(), [](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    });
  });

  // Every file of the folder is accounted for: those the run goes on without
  // are told first.
  std::sort(m_skippedFiles.begin(), m_skippedFiles.end());
  for (const auto& [path, reason] : m_skippedFiles) {
    if (m_observer != nullptr) m_observer->OnFileSkipped(path, reason);
  }
  // Kept until the next scan: the end report lists them too.

  const std::size_t count = m_fileList.size();
  std::size_t done = 0;
  std::size_t failed = 0;
  for (std::size_t index = 0; index < count; ++index) {
    if (StopRequested()) break;
    m_currentFailure.clear();
    m_currentWavPath.clear();
    m_lastWavResult = WavWriteResult::kNoPcm;
    m_currentTotalFrames.reset();
    m_currentLostFrames.reset();
    m_currentIndex = index;
    m_currentFile = Wide(m_fileList[index]);
    SetStatus(ProgressText(index + 1, count, BaseName(m_currentFile)));
    if (m_observer != nullptr) m_observer->OnFileStarted(m_fileList[index], index, count);

    if (WorkFolder().empty()) {
      NoteFailure("cannot create a work folder: " + workError);
    } else {
      RunConverter(m_currentFile);
      // Cut short by a stop: the handlers clean up after this file.
      if (m_step.load() != kStepCleanUp) break;
    }

    ++done;
    FileOutcome outcome;
    outcome.path = m_fileList[index];
    outcome.index = index;
    outcome.count = count;
    if (m_lastWavResult == WavWriteResult::kWritten) outcome.wavPath = Narrow(m_currentWavPath);
    outcome.cutShort = IsCutShort(m_fileList[index]);
    outcome.success = m_currentFailure.empty() && m_lastWavResult == WavWriteResult::kWritten;
    outcome.reason = m_currentFailure;
    outcome.totalFrames = m_currentTotalFrames;
    outcome.lostFrames = m_currentLostFrames;
    if (!outcome.success) {
      ++failed;
      if (outcome.reason.empty()) outcome.reason = DescribeWavWriteResult(m_lastWavResult);
    }
    m_runOutcomes.push_back(outcome);
    if (m_observer != nullptr) m_observer->OnFileFinished(outcome);
  }

  if (StopRequested() && done < count) {
    // Cancel or close stopped the run: they set the texts and clean up, or
    // left that to this thread when they came while its box showed.
    if (m_observer != nullptr) m_observer->OnRunFinished(done, failed, true);
    FinishDeferredStop(false);
    return;
  }

  m_fileList.clear();
  m_fileList.shrink_to_fit();
  RemoveWorkFolder();
  m_conversionDoneEvent.Set();
  IDialogWindow& window = Window();
  SetStatus(FinishedStatusText(failed, count));
  window.EnableControl(kIdCancel, false);
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
  SetButtonsIdle(true);
}

void CWavrelDlg::RunConverter(const std::u16string& qcpPath) {
  m_step = kStepConverter;
  const std::size_t slash = qcpPath.rfind(u'/');
  const std::u16string name = slash == std::u16string::npos ? qcpPath : qcpPath.substr(slash + 1);
  const std::size_t dot = name.rfind(u'.');
  m_currentStem = dot == std::u16string::npos ? name : name.substr(0, dot);
  const std::string workFolder = WorkFolder();
  // Every intermediate of the file lives in the run's work folder under a
  // short name of its own (its position in the run), so that a recording
  // whose name is as long as the system allows converts too.
  const std::u16string workBase =
      Wide(workFolder) + u"/" + Ascii16(std::to_string(m_currentIndex + 1));
  m_currentWorkBase = workBase;

  if (StopRequested()) return;
  std::string error;
  const std::vector<std::string> args = {Narrow(qcpPath), Narrow(workBase + u".evrc"), "1"};
  if (!m_converterLaunch.Start(Narrow(m_converterPath), args, workFolder, &error)) {
    NoteFailure("cannot start the converter: " + error);
  } else {
    const ChildExit exit = m_converterLaunch.Wait(m_workerThread.StopToken());
    if (exit.kind == ChildExit::Kind::kStopped) return;
    const std::string failure = DescribeExit("converter", exit);
    if (!failure.empty()) NoteFailure(failure);
  }
  std::int32_t total = 0;
  std::int32_t lost = 0;
  if (ReadLossTotals(workFolder + "/loss_stat.txt", &total, &lost)) {
    m_currentTotalFrames = total;
    m_currentLostFrames = lost;
  }
  if (StopRequested()) return;
  RunDecoder(workBase);
}

void CWavrelDlg::RunDecoder(const std::u16string& workBase) {
  m_step = kStepDecoder;
  if (StopRequested()) return;
  std::string error;
  const std::vector<std::string> args = {"-i", Narrow(workBase + u".evrc"), "-o",
                                         Narrow(workBase + u".pcm"), "-d"};
  if (!m_decoderLaunch.Start(Narrow(m_decoderPath), args, WorkFolder(), &error)) {
    NoteFailure("cannot start the decoder: " + error);
  } else {
    const ChildExit exit = m_decoderLaunch.Wait(m_workerThread.StopToken());
    if (exit.kind == ChildExit::Kind::kStopped) return;
    const std::string failure = DescribeExit("decoder", exit);
    if (!failure.empty()) NoteFailure(failure);
  }
  if (StopRequested()) return;

  const std::u16string pcmPath = workBase + u".pcm";
  unsigned long long pcmBytes = 0;
  if (FileSize(Narrow(pcmPath), &pcmBytes) && pcmBytes == 0) {
    // Nothing decoded (a recording cut inside its header): no WAV.
    NoteFailure("no speech frames in the recording");
    m_lastWavResult = WavWriteResult::kNoPcm;
    m_step = kStepCleanUp;
    DeleteIntermediates(workBase);
    return;
  }
  const std::u16string wavPath = UniqueWavPath(OutputFolderText(), m_currentStem);
  m_currentWavPath = wavPath;
  WritePcmAsWav(pcmPath, wavPath);
  // A copy cut short by a stop leaves step 3, so that the handler deletes the
  // partial WAV file.
  if (m_lastWavResult == WavWriteResult::kStopped) return;
  m_step = kStepCleanUp;
  DeleteIntermediates(workBase);
}

void CWavrelDlg::WritePcmAsWav(const std::u16string& pcmPath, const std::u16string& wavPath) {
  m_step = kStepWav;
  // The WAV takes the recording's modification time.
  FileStamp recording;
  const bool stamped = StampOf(Narrow(m_currentFile), true, &recording);
  const WavWriteResult result =
      m_wavWriter.Write(Narrow(pcmPath), Narrow(wavPath), m_sampleRateSetting,
                        m_workerThread.StopToken(), stamped ? &recording : nullptr);
  m_lastWavResult = result;
  switch (result) {
    case WavWriteResult::kWritten: {
      m_wavPathsWritten.insert(Narrow(wavPath));
      ++m_wavsWritten;
      // The frames the WAV holds: the converter's count takes a QCP pad byte
      // for a frame of its own, the decoder makes 160 samples per real one.
      std::error_code ec;
      const std::uintmax_t pcmBytes = std::filesystem::file_size(Narrow(pcmPath), ec);
      if (!ec) {
        m_currentTotalFrames = static_cast<std::int32_t>(
            std::min<std::uintmax_t>(pcmBytes / (evrc::kSamplesPerFrame * 2), INT32_MAX));
      }
      break;
    }
    case WavWriteResult::kCopyFailed:
      NoteFailure(DescribeWavWriteResult(result));
      break;
    case WavWriteResult::kCannotCreate:
      NoteFailure(DescribeWavWriteResult(result));
      // One box per run: later failures are listed in the end report.
      if (!m_failureBoxShown) {
        m_failureBoxShown = true;
        ShowRunBox(m_textNoOpenFile + wavPath);
      }
      break;
    case WavWriteResult::kNoPcm:
    case WavWriteResult::kPcmTooLong:
      NoteFailure(DescribeWavWriteResult(result));
      break;
    case WavWriteResult::kStopped:
      break;
  }
}

void CWavrelDlg::DeleteIntermediates(const std::u16string& workBase) {
  if (workBase.empty()) return;
  const std::string base = Narrow(workBase);
  const std::size_t slash = base.rfind('/');
  const std::string lossStat =
      (slash == std::string::npos ? std::string() : base.substr(0, slash + 1)) + "loss_stat.txt";
  const std::string evrc = base + ".evrc";
  const std::string pcm = base + ".pcm";
  switch (m_step.load()) {
    case kStepConverter:
      RemoveFile(evrc);
      RemoveFile(lossStat);
      break;
    case kStepDecoder:
    case kStepCleanUp:
      RemoveFile(evrc);
      RemoveFile(pcm);
      RemoveFile(lossStat);
      break;
    case kStepWav:
      RemoveFile(evrc);
      RemoveFile(pcm);
      // The unfinished WAV is a temporary file of the writer's: it goes; a
      // WAV under the final name is never deleted here.
      m_wavWriter.CloseFiles();
      RemoveFile(lossStat);
      break;
    default:
      break;
  }
}

}  // namespace wavrel
