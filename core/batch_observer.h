// What a conversion run tells its front end, and the one question it asks.
// The console prints it; the dialog shows it in its window and message boxes.
//
// Threads: Prepare's question comes on the thread that calls Prepare. Run's
// calls come from the thread that calls Run or from the run's job threads,
// one at a time (the core serialises them); finished, up-to-date and skipped
// files in the order of the list (by their bytes). An observer may block (a message box that waits
// for the user): the run's other jobs then neither start nor finish a file until it returns. It
// must not call back into the BatchConversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/wav_writer.h"

namespace wavrel {

/// A file of the input folder that the run goes on without.
struct SkippedFile {
  std::string path;    ///< bytes, as listed
  std::string reason;  ///< short English text ("not a QCP recording", ...)
};

/// The result of one recording.
struct FileOutcome {
  std::string path;            ///< the recording (bytes)
  std::string wavPath;         ///< the WAV file written, empty when none was
  std::string plannedWavPath;  ///< the WAV the recording was to get (its name fixed for the run)
  bool success = false;        ///< the WAV was written and both programs ended with status 0
  std::string reason;          ///< short English text of the first failure; empty on success
  std::size_t index = 0;       ///< zero-based position among the files the run converts
  std::size_t count = 0;       ///< files the run converts
  std::optional<std::int32_t> totalFrames;  ///< frames in the WAV; else the converter's count
  std::optional<std::int32_t> lostFrames;   ///< from the converter's loss record, when known
  bool cutShort = false;  ///< the recording's data chunk claims more than the file holds
  bool skipped = false;   ///< its WAV was already complete (RunOptions::skipExisting)
  std::string codec;      ///< the recording's speech codec ("EVRC", "QCELP-13K", ...), when known
  /// How the WAV step ended (kCannotCreate: the WAV file could not be made).
  WavWriteResult wavResult = WavWriteResult::kNoPcm;
  double seconds = 0;  ///< wall time the file took
};

/// What a run is about to do, before its first file.
struct RunStart {
  std::size_t files = 0;  ///< files it converts (each gets OnFileStarted)
};

/// How a run ended.
struct RunSummary {
  std::size_t files = 0;        ///< files that went through the pipeline
  std::size_t failed = 0;       ///< of them, those without a WAV
  std::size_t wavsWritten = 0;  ///< WAV files the run made (and keeps)
  bool cancelled = false;       ///< a stop cut the run short
};

class IBatchObserver {
 public:
  virtual ~IBatchObserver() = default;
  /// Some files of the input folder are not recordings: true to convert the
  /// others, false to convert nothing.
  virtual bool GoOnWithout(const std::vector<SkippedFile>& /*nonRecordings*/) { return true; }
  virtual void OnRunStarted(const RunStart& /*start*/) {}
  /// A file of the input folder that the run goes on without (not a QCP
  /// recording), in its place in the list.
  virtual void OnFileSkipped(const SkippedFile& /*file*/) {}
  /// A file enters the pipeline.
  virtual void OnFileStarted(const std::string& path, std::size_t index, std::size_t count) = 0;
  /// A file has left the pipeline (its intermediates are deleted), or was
  /// skipped because its WAV was already complete (outcome.skipped).
  virtual void OnFileFinished(const FileOutcome& outcome) = 0;
  /// The run has ended; nothing of it runs any more.
  virtual void OnRunFinished(const RunSummary& summary) = 0;
};

}  // namespace wavrel
