// The conversion core: the checks and the scan before a run, then the run.
// The names of a run's WAV files are fixed from the whole sorted list before
// any file starts; each file then goes through a FileConversion, one at a
// time or RunOptions::jobs at a time. The intermediates live in a private
// work folder of the run, never beside the user's recordings.
#include "core/batch_conversion.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "core/resampler.h"
#include "core/wav_names.h"

namespace wavrel {
namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

/// The output folder of each recording: the output folder itself, or with
/// recursive runs the same subfolder below it as the recording's below the
/// input folder. Each ends in '/'.
std::vector<std::string> OutputFolders(const BatchPlan& plan) {
  const BatchRequest& request = plan.request;
  const std::string& in = request.inputFolder;
  const std::string inputPrefix = !in.empty() && in.back() == '/' ? in : in + "/";
  const std::string& out = request.outputFolder;
  const std::string outputPrefix = !out.empty() && out.back() == '/' ? out : out + "/";
  std::vector<std::string> folders;
  for (const std::string& path : plan.recordings) {
    const std::size_t slash = path.rfind('/');
    const bool below = request.options.recursive && path.size() > inputPrefix.size() &&
                       path.compare(0, inputPrefix.size(), inputPrefix) == 0 &&
                       slash != std::string::npos && slash >= inputPrefix.size();
    folders.push_back(below ? outputPrefix +
                                  path.substr(inputPrefix.size(), slash + 1 - inputPrefix.size())
                            : outputPrefix);
  }
  return folders;
}

/// One run's shared state: the observer's lock and the files finished out
/// of order, which wait for the earlier ones.
class RunState {
 public:
  RunState(IBatchObserver& observer, std::size_t count) : m_observer(observer), m_count(count) {}

  /// Takes the next file (files start in the order of the list) and tells
  /// the observer; false when none is left.
  bool StartNext(const std::vector<ConversionJob>& jobs, std::size_t* index) {
    std::lock_guard lock(m_mutex);
    if (m_next >= jobs.size()) return false;
    *index = m_next++;
    m_observer.OnFileStarted(jobs[*index].recording, *index, m_count);
    return true;
  }

  /// Hands a finished file to the observer in list order: one that finished
  /// before an earlier one waits for it.
  void Finish(FileOutcome outcome) {
    std::lock_guard lock(m_mutex);
    ++m_summary.files;
    if (!outcome.success) ++m_summary.failed;
    if (!outcome.wavPath.empty()) ++m_summary.wavsWritten;
    m_pending.emplace(outcome.index, std::move(outcome));
    Release(false);
  }

  /// The end of the run: files that finished after one a stop cut short are
  /// told too, then the summary.
  RunSummary End(bool cancelled) {
    std::lock_guard lock(m_mutex);
    Release(true);
    m_summary.cancelled = cancelled;
    m_observer.OnRunFinished(m_summary);
    return m_summary;
  }

  /// Tells the observer under the run's lock.
  template <class Call>
  void Tell(Call call) {
    std::lock_guard lock(m_mutex);
    call(m_observer);
  }

 private:
  /// With m_mutex held; all: the run ended, the rest go as they are.
  void Release(bool all) {
    while (!m_pending.empty() && (all || m_pending.begin()->first == m_nextOutcome)) {
      const FileOutcome outcome = std::move(m_pending.begin()->second);
      m_pending.erase(m_pending.begin());
      m_nextOutcome = outcome.index + 1;
      m_observer.OnFileFinished(outcome);
    }
  }

  IBatchObserver& m_observer;
  const std::size_t m_count;
  std::mutex m_mutex;  // held for every call of the observer
  std::size_t m_next = 0;
  std::size_t m_nextOutcome = 0;
  std::map<std::size_t, FileOutcome> m_pending;
  RunSummary m_summary;
};

}  // namespace

BatchConversion::BatchConversion(IConversionEnvironment& environment)
    : m_env(environment), m_conversion(environment) {}

bool BatchConversion::Prepare(const BatchRequest& request, IBatchObserver& observer,
                              BatchPlan* plan, Refusal* refusal) {
  const auto refuse = [refusal](Refusal::Kind kind, std::string folder = {},
                                std::string reason = {}) {
    *refusal = {kind, std::move(folder), std::move(reason)};
    return false;
  };
  if (!m_env.ProgramExists(request.converterPath) || !m_env.ProgramExists(request.decoderPath)) {
    return refuse(Refusal::Kind::kProgramMissing);
  }
  // A rate no WAV is written at is told once, not as a failure of every file.
  if (request.sampleRateSetting > 0 && !IsSupportedOutputRate(request.sampleRateSetting)) {
    return refuse(Refusal::Kind::kUnsupportedSampleRate, {},
                  std::to_string(request.sampleRateSetting));
  }
  IConversionFiles& files = m_env.Files();
  for (const std::string* folder : {&request.inputFolder, &request.outputFolder}) {
    if (!files.CanOpenDirectory(*folder))
      return refuse(Refusal::Kind::kFolderCannotBeOpened, *folder);
  }
  // A folder that cannot take the WAV files is refused now, not once per file.
  std::string whyNot;
  if (!files.CanCreateFileIn(request.outputFolder, &whyNot)) {
    return refuse(Refusal::Kind::kOutputNotWritable, request.outputFolder, whyNot);
  }
  ScanResult scan = ScanFolder(files, request.inputFolder, request.options.recursive);
  plan->request = request;
  plan->recordings = std::move(scan.recordings);
  plan->skipped = std::move(scan.skipped);
  if (plan->recordings.empty()) {
    return refuse(plan->skipped.empty() ? Refusal::Kind::kNoFiles : Refusal::Kind::kNoRecordings);
  }
  if (!plan->skipped.empty() && !observer.GoOnWithout(plan->skipped)) {
    return refuse(Refusal::Kind::kDeclined);
  }
  return true;
}

RunSummary BatchConversion::Run(const BatchPlan& plan, IBatchObserver& observer,
                                std::stop_token stop) {
  const BatchRequest& request = plan.request;
  const RunOptions& options = request.options;
  IConversionFiles& files = m_env.Files();
  std::string workFolder;
  std::string workError;
  if (!m_env.MakeWorkFolder(&workFolder, &workError)) workFolder.clear();
  const std::size_t shardCount = std::max<std::size_t>(options.shardCount, 1);
  const std::size_t shardIndex = options.shardIndex;

  // The names of the whole run, fixed before any file starts, so that every
  // front end, number of jobs and shard gives each recording the same WAV.
  std::vector<FileStamp> inputStamps;
  for (const std::string& path : plan.recordings) {
    FileStamp stamp;
    if (files.StampOf(path, true, &stamp)) inputStamps.push_back(stamp);
  }
  const std::vector<std::string> outputFolders = OutputFolders(plan);
  const std::vector<std::string> wavPaths =
      PlanWavPaths(files, plan.recordings, outputFolders, inputStamps);

  // This shard's files; with skipExisting, those whose WAV is complete are
  // told as skipped and not converted.
  std::vector<ConversionJob> jobs;
  std::vector<FileOutcome> upToDate;
  for (std::size_t pos = shardIndex; pos < plan.recordings.size(); pos += shardCount) {
    if (options.skipExisting && IsCompleteWav(files, wavPaths[pos])) {
      FileOutcome outcome;
      outcome.path = plan.recordings[pos];
      outcome.wavPath = wavPaths[pos];
      outcome.plannedWavPath = wavPaths[pos];
      outcome.success = true;
      outcome.skipped = true;
      outcome.wavResult = WavWriteResult::kWritten;
      upToDate.push_back(std::move(outcome));
      continue;
    }
    ConversionJob job;
    job.recording = plan.recordings[pos];
    job.wavPath = wavPaths[pos];
    job.workFolder = workFolder;
    // Every intermediate of the file lives in the run's work folder under a
    // short name of its own (its position in the run), so that a recording
    // whose name is as long as the system allows converts too.
    job.workBase = workFolder + "/" + std::to_string(pos + 1);
    job.sampleRateSetting = request.sampleRateSetting;
    job.converterPath = request.converterPath;
    job.decoderPath = request.decoderPath;
    job.qcelpDecoderPath = request.qcelpDecoderPath;
    if (options.recursive) m_env.MakeFolder(outputFolders[pos], nullptr);
    jobs.push_back(std::move(job));
  }

  RunState state(observer, jobs.size());
  state.Tell([&](IBatchObserver& o) {
    o.OnRunStarted({jobs.size()});
    // Every file of the folder is accounted for: those the run goes on
    // without are told first (each by one shard only).
    for (std::size_t i = 0; i < plan.skipped.size(); ++i) {
      if (i % shardCount == shardIndex) o.OnFileSkipped(plan.skipped[i]);
    }
    for (FileOutcome& outcome : upToDate) {
      outcome.count = jobs.size();
      o.OnFileFinished(outcome);
    }
  });

  const std::string noWorkFolder = "cannot create a work folder: " + workError;
  // One file of jobs through conversion; false when a stop cut it short.
  const auto convert = [&](FileConversion& conversion, const ConversionJob& job, std::size_t index,
                           bool haveFolder, const std::string& folderError) {
    const auto started = std::chrono::steady_clock::now();
    ConversionOutcome result;
    if (!haveFolder) {
      result.reason = folderError;
      result.cutShort = FileConversion::IsCutShort(files, job.recording);
    } else {
      result = conversion.Run(job, stop);
      if (result.status == ConversionOutcome::Status::kStopped) return false;
    }
    FileOutcome outcome;
    outcome.path = job.recording;
    outcome.index = index;
    outcome.count = jobs.size();
    outcome.wavPath = result.wavPath;
    outcome.plannedWavPath = job.wavPath;
    outcome.cutShort = result.cutShort;
    outcome.success = result.status == ConversionOutcome::Status::kOk;
    outcome.reason = result.reason;
    outcome.totalFrames = result.totalFrames;
    outcome.lostFrames = result.lostFrames;
    outcome.wavResult = result.wavResult;
    outcome.codec = result.codec;
    outcome.seconds = SecondsSince(started);
    state.Finish(std::move(outcome));
    return true;
  };

  std::atomic<std::size_t> done{0};
  const std::size_t slots = std::min<std::size_t>(std::max(options.jobs, 1u), jobs.size());
  if (slots <= 1) {
    std::size_t index = 0;
    while (!stop.stop_requested() && state.StartNext(jobs, &index)) {
      if (!convert(m_conversion, jobs[index], index, !workFolder.empty(), noWorkFolder)) break;
      ++done;
    }
  } else {
    std::vector<std::jthread> threads;
    for (std::size_t slot = 0; slot < slots; ++slot) {
      threads.emplace_back([&, slot] {
        // Each job has a folder of its own: the converter writes its loss
        // record into the folder it runs in.
        const std::string folder = workFolder + "/j" + std::to_string(slot + 1);
        std::string error;
        const bool haveFolder = !workFolder.empty() && m_env.MakeFolder(folder, &error);
        const std::string folderError =
            workFolder.empty() ? noWorkFolder : "cannot create a work folder: " + error;
        FileConversion conversion(m_env);
        std::size_t index = 0;
        while (!stop.stop_requested() && state.StartNext(jobs, &index)) {
          ConversionJob job = jobs[index];
          job.workFolder = folder;
          job.workBase = folder + "/" + std::to_string(index + 1);
          if (!convert(conversion, job, index, haveFolder, folderError)) break;
          ++done;
        }
      });
    }
  }
  if (!workFolder.empty()) m_env.RemoveFolderTree(workFolder);
  return state.End(done < jobs.size() && stop.stop_requested());
}

}  // namespace wavrel
