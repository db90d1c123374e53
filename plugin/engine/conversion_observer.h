// What a conversion run tells an observer (the console front end prints it).
//
// Threads: every call comes from the dialog's worker thread. An observer must
// not block and must not call back into the dialog.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace wavrel {

/// The result of one input file.
struct FileOutcome {
  std::string path;       ///< the QCP file (UTF-8)
  std::string wavPath;    ///< the WAV file written, empty when none was
  bool success = false;   ///< the WAV was written and both programs ended with status 0
  std::string reason;     ///< short English text of the first failure; empty on success
  std::size_t index = 0;  ///< zero-based position in the sorted list
  std::size_t count = 0;  ///< files in the run
  std::optional<std::int32_t> totalFrames;  ///< frames in the WAV; else the converter's count
  std::optional<std::int32_t> lostFrames;   ///< from the converter's loss record, when known
  bool cutShort = false;  ///< the recording's data chunk claims more than the file holds
  bool skipped = false;   ///< its WAV was already complete (RunOptions::skipExisting)
  double seconds = 0;     ///< wall time the file took
};

class IConversionObserver {
 public:
  virtual ~IConversionObserver() = default;
  /// A file of the input folder that the run goes on without (not a QCP
  /// recording), before the first file starts.
  virtual void OnFileSkipped(const std::string& /*path*/, const std::string& /*reason*/) {}
  /// A file enters the pipeline.
  virtual void OnFileStarted(const std::string& path, std::size_t index, std::size_t count) = 0;
  /// A file has left the pipeline (its intermediates are deleted), or was
  /// skipped because its WAV was already complete (outcome.skipped).
  virtual void OnFileFinished(const FileOutcome& outcome) = 0;
  /// The run has ended: files that went through the pipeline, how many of
  /// them failed, and whether a stop request cut the run short.
  virtual void OnRunFinished(std::size_t files, std::size_t failed, bool cancelled) = 0;
};

}  // namespace wavrel
