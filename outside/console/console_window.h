// The conversion dialog's window on a console: the folders come from the
// command line as if browsed, status-line changes go to standard error and
// each file's result to standard output.
//
// Threads: the dialog calls it from the main thread, its worker and its
// animation thread; every operation takes the window's lock and prints with
// one write, so lines never interleave.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "outside/console/console_progress.h"
#include "plugin/engine/conversion_observer.h"
#include "plugin/engine/dialog_window.h"

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

class ConsoleWindow final : public IDialogWindow, public IConversionObserver {
 public:
  /// out gets the per-file lines and the summary, err the status lines.
  ConsoleWindow(std::u16string inputFolder, std::u16string outputFolder, std::FILE* out,
                std::FILE* err);

  /// Standard output as JSON Lines (one object per recording, a summary
  /// object); shard ("K/N", may be empty) goes into the summary.
  void SetJson(bool json, std::string shard) {
    m_json = json;
    m_shard = std::move(shard);
  }
  /// Status-line changes are printed from now on (not those of start-up).
  /// While a progress line is shown, the status that names the file just
  /// started is not: the progress line names it already.
  void EchoStatus(bool echo) { m_echoStatus = echo; }
  /// Keeps a progress line up to date on err (a terminal columns wide) from
  /// now on; call before the conversion starts.
  void ShowProgress(std::size_t columns);
  /// Lets the progress line's times move on; called now and then.
  void TickProgress();
  /// Takes the progress line off the screen until the next line is printed
  /// (before someone else prints on standard error).
  void HideProgress();
  /// Takes the progress line off the screen for good (before the summary).
  void EndProgress();
  /// Called on the calling thread when the dialog enables its Cancel button,
  /// that is when a conversion is about to start.
  void OnConversionStarting(std::function<void()> hook) { m_startingHook = std::move(hook); }

  bool ConversionStarted() const { return m_started; }
  bool Ended() const { return m_ended; }
  /// True when a line could not be written to the report stream (out).
  bool ReportWriteFailed() const { return m_reportWriteError != 0; }
  /// The errno of the first failed write to the report stream.
  int ReportWriteError() const { return m_reportWriteError; }
  RunTally Tally() const;
  /// The summary line for standard output (a JSON object with SetJson).
  std::string SummaryLine() const;

  // IDialogWindow
  void SetTitle(const std::u16string& title) override;
  void SetControlText(int id, const std::u16string& text) override;
  std::u16string GetControlText(int id) const override;
  void EnableControl(int id, bool enable) override;
  void ShowControl(int id, bool show) override;
  void RedrawAll() override {}
  std::optional<std::u16string> PickFolder(FolderPickerKind kind,
                                           const std::u16string& title) override;
  IPictureControl& Picture() override { return m_picture; }
  void EndDialog() override { m_ended = true; }

  // IConversionObserver
  void OnFileSkipped(const std::string& path, const std::string& reason) override;
  void OnFileStarted(const std::string& path, std::size_t index, std::size_t count) override;
  void OnFileFinished(const FileOutcome& outcome) override;
  void OnRunFinished(std::size_t files, std::size_t failed, bool cancelled) override;

 private:
  /// The console shows no pictures.
  class NoPicture final : public IPictureControl {
   public:
    bool LoadPicture(const std::u16string&) override { return true; }
    void StartDrawing() override {}
    void StopAnimation() override {}
    void ReleasePicture() override {}
  };

  void Print(std::FILE* stream, const std::string& line);
  /// Prints the held status text, if any. Called with m_mutex held.
  void ReleaseHeldStatus();

  bool m_json = false;
  std::string m_shard;
  const std::u16string m_inputFolder;
  const std::u16string m_outputFolder;
  std::FILE* const m_out;
  std::FILE* const m_err;
  NoPicture m_picture;
  std::function<void()> m_startingHook;
  std::atomic<bool> m_echoStatus{false};
  std::atomic<bool> m_started{false};
  std::atomic<bool> m_ended{false};
  std::atomic<int> m_reportWriteError{0};

  mutable std::mutex m_mutex;
  std::map<int, std::u16string> m_texts;   // guarded by m_mutex
  RunTally m_tally;                        // guarded by m_mutex
  std::optional<ProgressLine> m_progress;  // guarded by m_mutex; empty: none shown
  // While the progress line is shown, a status text waits here for the next
  // event. The dialog names a file in its status line just before it tells
  // OnFileStarted, on the same thread: such a text is dropped, any other is
  // printed before whatever comes next. Guarded by m_mutex.
  std::optional<std::u16string> m_heldStatus;
  std::thread::id m_heldStatusThread;
};

}  // namespace wavrel::host
