// FileConversion: one recording through the engine's four steps -- the
// converter (QCP to EVRC), the decoder (EVRC to PCM), the WAV (written under
// a temporary name and renamed into place) and the clean-up of the
// intermediates -- returning an outcome value. It reaches the outside world
// only through an IEngineEnvironment and can be stopped at any step through
// the stop token given to Run.
//
// Threads: Run belongs to one thread. Step, TerminatePrograms, CloseFiles and
// CleanUpAfterStop may be called from another thread while Run blocks (the
// dialog's handlers do); CleanUpAfterStop also after Run returned kStopped.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "plugin/engine/engine_environment.h"
#include "plugin/engine/wav_writer.h"

namespace wavrel {

/// Steps of the file in work.
enum PipelineStep : std::int32_t {
  kStepIdle = 0,       ///< no file started yet
  kStepConverter = 1,  ///< the converter may be running
  kStepDecoder = 2,    ///< the decoder may be running
  kStepWav = 3,        ///< the WAV writer's files may be open
  kStepCleanUp = 4,    ///< intermediates being deleted; stays until the next file
};

/// One recording to convert (paths are UTF-8 bytes).
struct ConversionJob {
  std::string recording;   ///< the QCP file
  std::string wavPath;     ///< the WAV to write (its name fixed beforehand)
  std::string workFolder;  ///< private folder for the intermediates
  std::string workBase;    ///< workFolder + "/" + a short name of the file's own
  std::int32_t sampleRateSetting = -1;
  std::string converterPath;  ///< vocrate
  std::string decoderPath;    ///< evrc_2004
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
};

class FileConversion {
 public:
  explicit FileConversion(IEngineEnvironment& environment);
  FileConversion(const FileConversion&) = delete;
  FileConversion& operator=(const FileConversion&) = delete;
  ~FileConversion();

  /// Runs the four steps. On kStopped the step reached is kept (Step) and
  /// the caller calls CleanUpAfterStop, at once or after its own actions.
  ConversionOutcome Run(const ConversionJob& job, std::stop_token token);

  std::int32_t Step() const { return m_step.load(); }
  void ResetStep() { m_step = kStepIdle; }
  /// Ends the converter or the decoder while it runs; true when none is left.
  bool TerminateConverter();
  bool TerminateDecoder();
  /// Closes the WAV writer's files (an unfinished WAV goes).
  void CloseFiles() { m_wavWriter.CloseFiles(); }
  /// After a stop: no program left, the intermediates of the step reached
  /// deleted, no partial WAV.
  void CleanUpAfterStop();
  PcmWavWriter& WavWriter() { return m_wavWriter; }

  /// True when the recording's data chunk claims more than the file holds.
  static bool IsCutShort(IEngineFiles& files, const std::string& qcpPath);

 private:
  void DeleteIntermediates();

  IEngineEnvironment& m_environment;
  const std::unique_ptr<IProgramRun> m_converter;
  const std::unique_ptr<IProgramRun> m_decoder;
  PcmWavWriter m_wavWriter;
  std::atomic<std::int32_t> m_step{kStepIdle};
  std::string m_workBase;  // of the file in work; Run's thread, or after it
};

/// "<what> exited with status N" / "<what> killed by signal N"; empty for a
/// clean end.
std::string DescribeExit(const char* what, const ChildExit& exit);

}  // namespace wavrel
