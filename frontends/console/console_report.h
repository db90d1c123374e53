// What `wavrel convert` prints of a run: one line per file on standard output
// (or one JSON object with --json), the status lines and the dialog's
// message boxes on standard error, and the progress line on a terminal. It is
// the console's observer of the conversion core.
//
// Threads: the core calls it from its run and job threads, the main thread
// for the progress line and the run's start and cancel; every operation takes
// the report's lock and prints with one write, so lines never interleave.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/batch_observer.h"
#include "frontends/console/console_progress.h"
#include "frontends/dialog/dialog_texts.h"

namespace wavrel::host {

/// What a run reported, summed over its files.
struct RunTally {
  std::size_t filesStarted = 0;
  std::size_t filesOk = 0;
  std::size_t filesFailed = 0;
  std::size_t filesUpToDate = 0;  ///< skipped: the WAV was already complete
  std::size_t filesNotQcp = 0;    ///< skipped: not a QCP recording
  std::int64_t framesTotal = 0;   ///< over the files whose frames are known
  std::int64_t framesLost = 0;
  bool finished = false;   ///< OnRunFinished came
  bool cancelled = false;  ///< ... and said the run was cut short
  std::size_t listed = 0;  ///< files in the run's list
};

class ConsoleReport final : public IBatchObserver {
 public:
  /// Shows a message box (the host's message-box library prints it on
  /// standard error); true when answered OK.
  using ShowBox = std::function<bool(const std::u16string& text, std::uint32_t style)>;

  /// out gets the per-file lines and the summary, err the status lines; the
  /// texts are the dialog's, in the language chosen. yes: the question
  /// whether to go on without the files that are not recordings is answered
  /// OK without asking. Files are named by their path below inputFolder.
  ConsoleReport(std::FILE* out, std::FILE* err, const DialogTexts& texts, ShowBox showBox, bool yes,
                std::string inputFolder);

  /// Standard output as JSON Lines (one object per recording, a summary
  /// object); shard ("K/N", may be empty) goes into the summary.
  void SetJson(bool json, std::string shard) {
    m_json = json;
    m_shard = std::move(shard);
  }
  /// Keeps a progress line up to date on err (a terminal columns wide) from
  /// now on; call before the run starts. While it is shown, the status line
  /// that names each file as it starts is not printed: the progress line
  /// names it already.
  void ShowProgress(std::size_t columns);
  /// Lets the progress line's times move on; called now and then.
  void TickProgress();
  /// Takes the progress line off the screen for good (before the summary).
  void EndProgress();

  /// A message box of the checks before the run (the progress line steps
  /// aside for it).
  bool Box(const std::u16string& text, std::uint32_t style);
  /// Status lines: the run starts, and a cancel has begun.
  void RunStarting();
  void Cancelling();

  /// True when a line could not be written to the report stream (out).
  bool ReportWriteFailed() const { return m_reportWriteError != 0; }
  /// The errno of the first failed write to the report stream.
  int ReportWriteError() const { return m_reportWriteError; }
  RunTally Tally() const;
  /// The summary line for standard output (a JSON object with SetJson).
  std::string SummaryLine() const;

  // IBatchObserver
  bool GoOnWithout(const std::vector<SkippedFile>& nonRecordings) override;
  void OnRunStarted(const RunStart& start) override;
  void OnFileSkipped(const SkippedFile& file) override;
  void OnFileStarted(const std::string& path, std::size_t index, std::size_t count) override;
  void OnFileFinished(const FileOutcome& outcome) override;
  void OnRunFinished(const RunSummary& summary) override;

 private:
  /// What a line calls the file at path: its path below the input folder.
  std::string Name(const std::string& path) const;
  /// Called with m_mutex held. The progress line steps aside for the line.
  void Print(std::FILE* stream, const std::string& line);
  void PrintStatus(const std::u16string& text);
  /// Called with m_mutex held.
  bool BoxLocked(const std::u16string& text, std::uint32_t style);

  std::FILE* const m_out;
  std::FILE* const m_err;
  const DialogTexts& m_texts;
  const ShowBox m_showBox;
  const bool m_yes;
  const std::string m_inputFolder;
  bool m_json = false;
  std::string m_shard;
  std::atomic<int> m_reportWriteError{0};

  mutable std::mutex m_mutex;
  RunTally m_tally;                        // guarded by m_mutex
  std::optional<ProgressLine> m_progress;  // guarded by m_mutex; empty: none shown
  bool m_failureBoxShown = false;          // guarded by m_mutex: one box per run
  std::vector<FileOutcome> m_outcomes;     // guarded by m_mutex: for the end report
  std::vector<SkippedFile> m_skipped;      // guarded by m_mutex: ditto
};

}  // namespace wavrel::host
