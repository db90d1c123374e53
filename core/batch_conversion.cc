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
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <variant>

#include "base/text.h"
#include "core/resampler.h"
#include "core/wav_names.h"

namespace wavrel {
namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string WithSlash(const std::string& folder) {
  return !folder.empty() && folder.back() == '/' ? folder : folder + "/";
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

/// The output folder of each recording: the output folder itself, or with
/// recursive runs the same subfolder below it as the recording's below the
/// input folder. Each ends in '/'.
std::vector<std::string> OutputFolders(const BatchPlan& plan) {
  const BatchRequest& request = plan.request;
  const std::string inputPrefix = WithSlash(request.inputFolder);
  const std::string outputPrefix = WithSlash(request.outputFolder);
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

std::vector<FileStamp> InputStamps(IConversionFiles& files, const BatchPlan& plan) {
  std::vector<FileStamp> stamps;
  for (const std::string& path : plan.recordings) {
    FileStamp stamp;
    if (files.StampOf(path, true, &stamp)) stamps.push_back(stamp);
  }
  return stamps;
}

bool LessByBytes(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  });
}

/// One run's shared state: the observer's lock, and what the run tells in
/// the order of the list, files, up-to-date files and files that are not
/// recordings alike: a file that finished before an earlier one waits for it.
class RunState {
 public:
  /// One place in the list: a file the run converts (its index among
  /// them), or what is told of a file at once.
  /// An outcome is held by pointer, and let go once it is told: a place
  /// costs a few words until its file is done.
  using Entry = std::variant<std::size_t, std::unique_ptr<FileOutcome>, SkippedFile>;

  RunState(IBatchObserver& observer, IConversionFiles& files, std::size_t wavsPerSync,
           std::vector<Entry> order, std::size_t count)
      : m_observer(observer),
        m_files(files),
        m_wavsPerSync(std::max<std::size_t>(wavsPerSync, 1)),
        m_order(std::move(order)),
        m_count(count) {
    for (std::size_t place = 0; place < m_order.size(); ++place) {
      if (const auto* index = std::get_if<std::size_t>(&m_order[place])) m_placeOf[*index] = place;
    }
  }

  /// Takes the next file (files start in the order of the list) and tells
  /// the observer; false when none is left.
  bool StartNext(const std::vector<ConversionJob>& jobs, std::size_t* index) {
    std::lock_guard lock(m_mutex);
    if (m_next >= jobs.size()) return false;
    *index = m_next++;
    m_observer.OnFileStarted(jobs[*index].recording, *index, m_count);
    return true;
  }

  /// A file the run converted is done; a WAV still under its temporary name
  /// (pending) is put in place at target with the others of its batch first.
  void Finish(FileOutcome outcome, PendingWav pending, WavTarget target) {
    std::lock_guard lock(m_mutex);
    if (!pending.tempPath.empty()) {
      const auto now = std::chrono::steady_clock::now();
      m_batch.push_back({std::move(outcome), std::move(pending), std::move(target), now});
      if (m_batch.size() >= m_wavsPerSync || now - m_batch.front().since >= kMaxWait) {
        CommitBatch();
      }
      return;
    }
    Place(std::move(outcome));
    Release(false);
  }

  /// Tells the observer the run starts, and what comes before its first file.
  void Start() {
    std::lock_guard lock(m_mutex);
    m_observer.OnRunStarted({m_count});
    Release(false);
  }

  /// The end of the run: files that finished after one a stop cut short,
  /// and the files that are not recordings, are told too, then the summary.
  RunSummary End(bool cancelled) {
    std::lock_guard lock(m_mutex);
    // WAVs made before a stop are whole: they are kept.
    CommitBatch();
    Release(true);
    m_summary.cancelled = cancelled;
    m_observer.OnRunFinished(m_summary);
    return m_summary;
  }

 private:
  /// A WAV waits no longer than this for others to share its sync.
  static constexpr std::chrono::milliseconds kMaxWait{250};

  struct Waiting {
    FileOutcome outcome;
    PendingWav pending;
    WavTarget target;
    std::chrono::steady_clock::time_point since;
  };

  /// With m_mutex held: the outcome takes its place in the list.
  void Place(FileOutcome outcome) {
    ++m_summary.files;
    if (!outcome.success) ++m_summary.failed;
    if (!outcome.wavPath.empty()) ++m_summary.wavsWritten;
    const std::size_t place = m_placeOf.at(outcome.index);
    m_order[place] = std::make_unique<FileOutcome>(std::move(outcome));
  }

  /// With m_mutex held: the waiting WAVs' data go to the disk in one sync
  /// of each file system they are on, then each is renamed into place, then
  /// their folders' entries go to the disk, and only then are they told.
  void CommitBatch() {
    if (m_batch.empty()) return;
    std::set<std::string> temporaryFolders;
    for (const Waiting& waiting : m_batch)
      temporaryFolders.insert(FolderOf(waiting.pending.tempPath));
    std::string syncError;
    for (const std::string& folder : temporaryFolders) {
      if (m_files.SyncFileSystemOf(folder, &syncError)) continue;
      // Most likely the folder itself went (removed during the run).
      if (m_files.HasVanished(folder, nullptr)) {
        syncError =
            "the output folder " + folder + " is gone: it was moved or deleted during the run";
      } else {
        syncError = "cannot put the WAV file on the disk: " + syncError;
      }
      break;
    }
    std::set<std::string> finalFolders;
    for (Waiting& waiting : m_batch) {
      FileOutcome& outcome = waiting.outcome;
      std::string written;
      if (!syncError.empty()) {
        DiscardWav(m_files, &waiting.pending);
        outcome.success = false;
        outcome.reason = syncError;
      } else if (CommitWav(m_files, &waiting.pending, waiting.target, &written) ==
                 WavWriteResult::kWritten) {
        outcome.wavPath = written;
        finalFolders.insert(FolderOf(written));
      } else {
        outcome.success = false;
        outcome.wavResult = WavWriteResult::kCannotCreate;
        outcome.reason = DescribeWavWriteResult(WavWriteResult::kCannotCreate);
      }
    }
    for (const std::string& folder : finalFolders) m_files.SyncFolder(folder, nullptr);
    for (Waiting& waiting : m_batch) Place(std::move(waiting.outcome));
    m_batch.clear();
    Release(false);
  }

  /// With m_mutex held; all: the run ended, the rest go as they are (files
  /// never converted are left out).
  void Release(bool all) {
    for (; m_released < m_order.size(); ++m_released) {
      Entry& entry = m_order[m_released];
      if (std::holds_alternative<std::size_t>(entry)) {
        if (!all) return;
        continue;
      }
      if (const auto* file = std::get_if<SkippedFile>(&entry)) {
        m_observer.OnFileSkipped(*file);
      } else {
        m_observer.OnFileFinished(*std::get<std::unique_ptr<FileOutcome>>(entry));
      }
      entry = Entry{};  // told: nothing of it is needed any more
    }
  }

  IBatchObserver& m_observer;
  IConversionFiles& m_files;
  const std::size_t m_wavsPerSync;
  std::vector<Waiting> m_batch;  // finished WAVs waiting for their sync
  std::vector<Entry> m_order;
  const std::size_t m_count;
  std::map<std::size_t, std::size_t> m_placeOf;  // a converted file's place in m_order
  std::mutex m_mutex;                            // held for every call of the observer
  std::size_t m_next = 0;
  std::size_t m_released = 0;  // places told so far
  RunSummary m_summary;
};

}  // namespace

std::string RelativeName(const std::string& folder, const std::string& path) {
  const std::string prefix = WithSlash(folder);
  if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0) {
    return path.substr(prefix.size());
  }
  return std::string(base::BaseName(path));
}

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
  ScanResult scan;
  if (request.inputFile.empty()) {
    scan = ScanFolder(files, request.inputFolder, request.options.recursive);
  } else if (IsRecording(files, request.inputFile)) {
    scan.recordings.push_back(request.inputFile);
  } else {
    std::vector<unsigned char> none;
    scan.skipped.push_back({request.inputFile, files.ReadFileStart(request.inputFile, 0, &none)
                                                   ? "not a QCP recording"
                                                   : "cannot be read as a file"});
  }
  plan->request = request;
  plan->recordings = std::move(scan.recordings);
  plan->skipped = std::move(scan.skipped);
  if (plan->recordings.empty()) {
    return refuse(plan->skipped.empty() ? Refusal::Kind::kNoFiles : Refusal::Kind::kNoRecordings);
  }
  if (request.options.plannedWavsAreOutput && !plan->skipped.empty()) {
    // The WAVs an earlier run made at the names this run plans to write are
    // this run's own output, not files it goes on without.
    const WavNamePlan names(files, plan->recordings, OutputFolders(*plan),
                            InputStamps(files, *plan));
    const std::set<std::string> planned(names.Paths().begin(), names.Paths().end());
    std::erase_if(plan->skipped, [&](const SkippedFile& file) {
      std::vector<unsigned char> head;
      return planned.count(file.path) != 0 && files.ReadFileStart(file.path, 12, &head) &&
             head.size() == 12 && std::equal(head.begin(), head.begin() + 4, "RIFF") &&
             std::equal(head.begin() + 8, head.end(), "WAVE");
    });
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
  // What runs that were killed, or cut off by a power cut, left behind goes
  // first: their work folders and their temporary WAVs (never a live run's).
  m_env.RemoveDeadRunsWorkFolders();
  std::string workFolder;
  std::string workError;
  if (!m_env.MakeWorkFolder(&workFolder, &workError)) workFolder.clear();
  const std::size_t shardCount = std::max<std::size_t>(options.shardCount, 1);
  const std::size_t shardIndex = options.shardIndex;

  // The names of the whole run, fixed before any file starts, so that every
  // front end, number of jobs and shard gives each recording the same WAV.
  const std::vector<FileStamp> inputStamps = InputStamps(files, plan);
  const std::vector<std::string> outputFolders = OutputFolders(plan);
  WavNamePlan names(files, plan.recordings, outputFolders, inputStamps);
  const std::vector<std::string>& wavPaths = names.Paths();

  // This shard's files, in list order with those it goes on without; with
  // skipExisting, those whose WAV is complete are told as skipped and not
  // converted.
  std::vector<ConversionJob> jobs;
  std::vector<RunState::Entry> order;
  std::set<std::string> cleaned;
  for (std::size_t pos = shardIndex; pos < plan.recordings.size(); pos += shardCount) {
    if (options.recursive) m_env.MakeFolder(outputFolders[pos], nullptr);
    if (cleaned.insert(outputFolders[pos]).second)
      files.RemoveDeadRunsTemporaries(outputFolders[pos]);
    if (options.skipExisting && IsCompleteWav(files, wavPaths[pos])) {
      FileOutcome outcome;
      outcome.path = plan.recordings[pos];
      outcome.wavPath = wavPaths[pos];
      outcome.plannedWavPath = wavPaths[pos];
      outcome.success = true;
      outcome.skipped = true;
      outcome.wavResult = WavWriteResult::kWritten;
      order.emplace_back(std::make_unique<FileOutcome>(std::move(outcome)));
      continue;
    }
    ConversionJob job;
    job.recording = plan.recordings[pos];
    FileStamp stamp;
    if (files.StampOf(job.recording, true, &stamp)) job.recordingStamp = stamp;
    job.wavPath = wavPaths[pos];
    // An earlier run's WAV at the name is replaced, but only while it is
    // still that file; anything that comes there later keeps its name.
    if (files.StampOf(job.wavPath, false, &stamp)) job.wavReplaces = stamp;
    job.nextWavName = [&names, pos] { return names.NextFreeName(pos); };
    // Every intermediate of the file lives in the run's work folder under a
    // short name of its own (its position in the run), so that a recording
    // whose name is as long as the system allows converts too. What every
    // file shares (the folder, the programs, the settings) is added as it
    // starts (withRunFields): an archive of many files holds it once.
    job.workBase = workFolder + "/" + std::to_string(pos + 1);
    order.emplace_back(jobs.size());
    jobs.push_back(std::move(job));
  }
  for (RunState::Entry& entry : order) {
    if (auto* upToDate = std::get_if<std::unique_ptr<FileOutcome>>(&entry)) {
      (*upToDate)->count = jobs.size();
    }
  }
  // Every file of the folder is accounted for, each by one shard only.
  for (std::size_t i = 0; i < plan.skipped.size(); ++i) {
    if (i % shardCount == shardIndex) order.emplace_back(plan.skipped[i]);
  }
  const auto pathOf = [&](const RunState::Entry& entry) -> const std::string& {
    if (const auto* index = std::get_if<std::size_t>(&entry)) return jobs[*index].recording;
    if (const auto* outcome = std::get_if<std::unique_ptr<FileOutcome>>(&entry)) {
      return (*outcome)->path;
    }
    return std::get<SkippedFile>(entry).path;
  };
  std::stable_sort(order.begin(), order.end(),
                   [&](const auto& a, const auto& b) { return LessByBytes(pathOf(a), pathOf(b)); });

  RunState state(observer, files, options.wavsPerSync, std::move(order), jobs.size());
  state.Start();

  const auto withRunFields = [&](ConversionJob job, const std::string& folder) {
    job.workFolder = folder;
    job.sampleRateSetting = request.sampleRateSetting;
    job.converterPath = request.converterPath;
    job.decoderPath = request.decoderPath;
    job.qcelpDecoderPath = request.qcelpDecoderPath;
    job.commitLater = options.wavsPerSync > 1;
    return job;
  };
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
    // A WAV told made survives a power cut: its data and its folder's entry
    // are on the disk first (the writer's syncs, or its batch's).
    state.Finish(std::move(outcome), std::move(result.pendingWav),
                 {job.wavPath, job.wavReplaces, job.nextWavName});
    return true;
  };

  std::atomic<std::size_t> done{0};
  const std::size_t slots = std::min<std::size_t>(std::max(options.jobs, 1u), jobs.size());
  if (slots <= 1) {
    std::size_t index = 0;
    while (!stop.stop_requested() && state.StartNext(jobs, &index)) {
      if (!convert(m_conversion, withRunFields(jobs[index], workFolder), index, !workFolder.empty(),
                   noWorkFolder)) {
        break;
      }
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
          ConversionJob job = withRunFields(jobs[index], folder);
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
