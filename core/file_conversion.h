// FileConversion: one recording through the pipeline's four steps -- the
// converter (QCP to EVRC), the decoder (EVRC to PCM), the WAV (written under
// a temporary name and renamed into place) and the clean-up of the
// intermediates -- returning an outcome value. It reaches the outside world
// only through an IConversionEnvironment and is stopped at any step through
// the stop token given to Run.
//
// Threads: Run belongs to one thread; Step may be read from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "core/conversion_environment.h"
#include "core/wav_writer.h"

namespace wavrel {

/// Steps of the file in work. A QCELP-13K recording has no converter step
/// of its own (its decoder reads the QCP file itself): its step 1 starts
/// nothing.
enum PipelineStep : std::int32_t {
  kStepIdle = 0,       ///< no file started yet
  kStepConverter = 1,  ///< the converter may be running
  kStepDecoder = 2,    ///< the decoder may be running
  kStepWav = 3,        ///< the WAV writer's files may be open
  kStepCleanUp = 4,    ///< intermediates being deleted; stays until the next file
};

/// One recording to convert (paths are bytes).
struct ConversionJob {
  std::string recording;                    ///< the QCP file
  std::optional<FileStamp> recordingStamp;  ///< the recording as the run found it
  std::string wavPath;                      ///< the WAV to write (its name fixed beforehand)
  /// What was at wavPath when the run fixed the name: replaced only while it
  /// is still that file.
  std::optional<FileStamp> wavReplaces;
  /// The next free name when something else has come to wavPath since.
  std::function<std::string()> nextWavName;
  /// The WAV is left under its temporary name for the caller to put in
  /// place with others after one sync (ConversionOutcome::pendingWav).
  bool commitLater = false;
  std::string workFolder;  ///< private folder for the intermediates
  std::string workBase;    ///< workFolder + "/" + a short name of the file's own
  std::int32_t sampleRateSetting = -1;
  std::string converterPath;     ///< vocrate (EVRC recordings)
  std::string decoderPath;       ///< evrc_2004 (EVRC recordings)
  std::string qcelpDecoderPath;  ///< qcelp_13k (QCELP-13K recordings)
};

struct ConversionOutcome {
  enum class Status { kOk, kFailed, kStopped };
  Status status = Status::kFailed;
  std::string reason;   ///< first failure; empty when ok or stopped
  std::string wavPath;  ///< the WAV made, empty when none
  WavWriteResult wavResult = WavWriteResult::kNoPcm;
  std::optional<std::int32_t> totalFrames;  ///< frames in the WAV; else the converter's count
  std::optional<std::int32_t> lostFrames;   ///< from the converter's loss record
  bool cutShort = false;                    ///< the data chunk claims more than the file holds
  std::string codec;  ///< the recording's speech codec ("EVRC", "QCELP-13K", ...), when known
  /// With ConversionJob::commitLater: the whole WAV, not yet in place
  /// (wavPath is then empty until CommitWav).
  PendingWav pendingWav;
};

class FileConversion {
 public:
  explicit FileConversion(IConversionEnvironment& environment);
  FileConversion(const FileConversion&) = delete;
  FileConversion& operator=(const FileConversion&) = delete;
  ~FileConversion();

  /// Runs the four steps. A stop requested on token ends the step in work at
  /// once: its program is ended, the intermediates of the step reached are
  /// deleted and a partial WAV is gone by the time Run returns kStopped; the
  /// step reached is kept (Step).
  ConversionOutcome Run(const ConversionJob& job, std::stop_token token);

  std::int32_t Step() const { return m_step.load(); }
  void ResetStep() { m_step = kStepIdle; }
  PcmWavWriter& WavWriter() { return m_wavWriter; }

  /// True when the recording's data chunk claims more than the file holds.
  static bool IsCutShort(IConversionFiles& files, const std::string& qcpPath);

 private:
  /// RunConverter, RunDecoder: one program of the pipeline, waited for;
  /// false when a stop ended the wait (the program still runs).
  bool RunProgram(IProgramRun& run, const char* what, const std::string& program,
                  const std::vector<std::string>& args, const std::string& workFolder,
                  std::stop_token token, ConversionOutcome* outcome);
  /// After a stop: no program left, the intermediates of the step reached deleted.
  void CleanUpAfterStop();
  void DeleteIntermediates();

  IConversionEnvironment& m_environment;
  // The converter, then the decoder: one program at a time, through one
  // launch record (a worker keeps serving the same job's recordings).
  const std::unique_ptr<IProgramRun> m_program;
  PcmWavWriter m_wavWriter;
  std::atomic<std::int32_t> m_step{kStepIdle};
  std::string m_workBase;  // of the file in work; Run's thread, or after it
};

/// "<what> exited with status N" / "<what> killed by signal N"; empty for a
/// clean end.
std::string DescribeExit(const char* what, const ChildExit& exit);

}  // namespace wavrel
