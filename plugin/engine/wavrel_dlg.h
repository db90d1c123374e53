// CWavrelDlg: the conversion dialog's logic without a toolkit. It checks the
// two folders, scans the input folder for EVRC QCP recordings, runs each one
// through the converter, the decoder and the WAV writer on a worker thread,
// plays the progress picture on an animation thread, and cancels or closes.
// It talks to its window only through IDialogWindow.
//
// Threads: the handlers (On*, InitDialog, AttachWindow, SetObserver) run on
// the user-interface thread; ConvertAll on m_workerThread and PlayAnimation on
// m_animationThread. Each file goes through a FileConversion; the worker and
// the handlers share the conversion's step (atomic) and its launch records
// (each guarded by its own lock). With RunOptions::jobs above 1 (the console's
// --jobs) the worker runs that many conversions at a time, each in a folder of
// its own below the run's work folder; a stop then stops them all.
//
// Message boxes during a run: the worker shows at most one failure box per
// run and, at the end, one report box; after a cancel the report of the files
// done before it comes from the worker too (started again for it when the
// cancel stopped the run). While the worker waits for one of them, cancel
// and close cannot stop it (it waits for the user, on the user-interface
// thread); they are noted instead and the worker carries them out as soon as
// the box is answered.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "base/jthread.h"
#include "plugin/engine/conversion_observer.h"
#include "plugin/engine/dialog_window.h"
#include "plugin/engine/engine_environment.h"
#include "plugin/engine/file_conversion.h"
#include "plugin/engine/wav_writer.h"
#include "plugin/platform/auto_reset_event.h"

class CXmlReader;

namespace wavrel {

/// The sample rate that a parsed settings document gives: the text of the
/// last <property> of <converwavset> whose first attribute is "name", read
/// like atoi; -1 when there is none. Walks from the reader's position.
std::int32_t SampleRateFromSettings(CXmlReader& reader);

/// How a run goes through its list (the console's options; the dialog
/// keeps the defaults).
struct RunOptions {
  unsigned jobs = 1;           ///< recordings converted at a time
  std::size_t shardIndex = 0;  ///< convert positions shardIndex, +shardCount, ...
  std::size_t shardCount = 1;  ///< of the sorted list of the whole run
  bool recursive = false;      ///< enter subfolders, mirror them in the output
  bool skipExisting = false;   ///< a complete WAV already there is not made again
  /// After a cancel, the end report of the files done before it (a front
  /// end that tells every file itself, as the console does, turns it off).
  bool reportAfterCancel = true;
};

class CWavrelDlg {
 public:
  /// The environment outlives the dialog (ProductionEnvironment() of
  /// plugin/frame for a real run).
  explicit CWavrelDlg(IEngineEnvironment& environment);
  CWavrelDlg(const CWavrelDlg&) = delete;
  CWavrelDlg& operator=(const CWavrelDlg&) = delete;
  /// Stops both threads (5 s grace each), ends any child still running and
  /// removes the run's work folder.
  virtual ~CWavrelDlg();

  /// The window to drive; before InitDialog. Null detaches.
  void AttachWindow(IDialogWindow* window);
  /// Optional; called on the worker thread. Set while no conversion runs.
  void SetObserver(IConversionObserver* observer);
  /// Set while no conversion runs.
  void SetRunOptions(const RunOptions& options) { m_options = options; }

  /// Start-up: texts, program paths, ready state, the sample-rate setting.
  bool InitDialog();

  void OnBrowseInput();
  void OnBrowseOutput();
  void OnConvert();
  void OnCancelConversion();
  void OnCloseRequest();
  /// Enter and Escape: nothing happens.
  void OnOK();
  void OnCancel();

  /// True while the worker runs.
  bool IsConverting() const;
  /// True while the animation thread runs.
  bool IsAnimating() const;

  // Thread bodies, bound by JThreadT.
  void ConvertAll();
  void PlayAnimation();

  /// The sample-rate setting from the settings file, -1 when it gives none.
  std::int32_t ReadSampleRateSetting();
  /// True when path is an EVRC QCP file by its first bytes.
  bool IsQcpFile(const std::u16string& path);
  /// Lists folder's regular files into m_fileList (QCP files) and
  /// m_foundNonQcp (any other file).
  void ScanInputFolder(const std::u16string& folder);

  // State for the front ends and tests.
  std::int32_t Step() const { return m_conversion.Step(); }
  std::int32_t SampleRateSetting() const { return m_sampleRateSetting; }
  const std::vector<std::string>& FileList() const { return m_fileList; }
  bool FoundNonQcp() const { return m_foundNonQcp; }
  const std::u16string& ConverterPath() const { return m_converterPath; }
  const std::u16string& DecoderPath() const { return m_decoderPath; }
  /// The current run's private work folder (UTF-8), empty between runs.
  std::string WorkFolder() const;
  PcmWavWriter& WavWriterForTesting() { return m_conversion.WavWriter(); }

 private:
  /// The run's files from the sorted list: sequentially through
  /// m_conversion, or RunOptions::jobs at a time. Returns false when a stop
  /// cut the run short; done and failed count the files through the pipeline.
  bool ConvertSequentially(const std::vector<ConversionJob>& jobs, std::size_t* done,
                           std::size_t* failed);
  bool ConvertInParallel(const std::vector<ConversionJob>& jobs, std::size_t* done,
                         std::size_t* failed);
  static constexpr std::size_t kNoFile = static_cast<std::size_t>(-1);
  /// Takes the next file of jobs (*next, then advanced) and tells the status
  /// line and the observer; kNoFile when none is left.
  std::size_t StartNextFile(const std::vector<ConversionJob>& jobs, std::size_t* next);
  /// Hands finished files to the observer and the end report in list order.
  void ReleaseOutcomes(bool all);
  /// The outcome of a file that had no work folder.
  ConversionOutcome WorkFolderFailure(const ConversionJob& job) const;
  /// The failure box, the observer and the end report's record of one file.
  void FileFinished(const ConversionJob& job, const ConversionOutcome& outcome, std::size_t index,
                    std::size_t count, double seconds);
  /// The actions of cancel (request kCancelRequest) or close at the step reached.
  void StopAtStep(int request);
  IDialogWindow& Window() const;
  bool RunChecks();
  /// True once cancel or close has begun, or the worker was asked to stop.
  bool StopRequested() const;
  void StopThread(JThreadT<CWavrelDlg>& thread);
  /// After cancel or close stopped the threads: no child left, the file's
  /// intermediates deleted by step, the work folder removed.
  void FinishStop();
  void TerminateDecoderWithRetries();
  void SleepMs(int ms);
  void SetStatus(const std::u16string& text);
  /// Enables (idle) or disables Convert and the two browse buttons.
  void SetButtonsIdle(bool idle);
  void RemoveWorkFolder();
  /// Text of the output field, ending in '/'.
  std::u16string OutputFolderText() const;
  std::u16string FinishedStatusText(std::size_t failed, std::size_t total) const;
  /// "n of N: name" while converting (IDS_CONVER_PROGRESS), or the
  /// converting text followed by " (n/N)" when the host has no text for it.
  std::u16string ProgressText(std::size_t number, std::size_t total,
                              const std::u16string& name) const;
  /// The status after a cancel: how many WAV files the run made and kept.
  std::u16string CancelledStatusText() const;
  /// At the end of a run: the offer to open the output folder, saying how
  /// many WAV files the run made there (IDS_MADE_WAVS, IDS_OPEN_FOLDER).
  void OfferOutputFolder();
  /// The end report of the run: each failed, cut-short or skipped file with
  /// its reason, the first few of them and a count of the rest; empty when
  /// there is nothing to report.
  std::u16string EndReportText() const;
  /// A box shown by the worker during a run (see the class comment): a
  /// cancel or close that comes while it shows is noted and carried out once
  /// it is answered.
  void ShowRunBox(const std::u16string& text);
  /// A handler's request while a run box shows or a noted request is being
  /// carried out: noted (close outranks cancel), true. False otherwise: the
  /// handler acts as usual.
  bool DeferStopRequest(int request);
  /// Worker, at the end of a run: carries out a noted cancel or close and
  /// returns it (kNoRequest when none was noted).
  int FinishDeferredStop(bool runComplete);
  /// The end report after a cancel, if there is one (cancelled status
  /// already shown): worker only, shown as a run box; a close noted while it
  /// shows ends the dialog, otherwise the buttons come back.
  void ReportCancelledRun();
  /// The report ReportCancelledRun would show (empty when none is due).
  std::u16string CancelReportText() const;
  /// Shows a box captioned IDS_PROMPT; true when closed with OK.
  bool MessageBox(const std::u16string& text, std::uint32_t style);

  IEngineEnvironment& m_env;
  RunOptions m_options;
  JThreadT<CWavrelDlg> m_animationThread;
  JThreadT<CWavrelDlg> m_workerThread;
  std::atomic<IDialogWindow*> m_window{nullptr};
  IConversionObserver* m_observer = nullptr;

  // Texts looked up at start-up.
  std::u16string m_textTitle, m_textPromptInfo, m_textContentInfo, m_textResourcePath,
      m_textTargetName, m_textConvert, m_textCancel, m_textMessageNoEmpty, m_textConverting,
      m_textConverted, m_textCancelling, m_textCancelled, m_textQuitMessage, m_textProgramMissing,
      m_textNoOpenFile, m_textCheckFolder, m_textSaveQcpFolder, m_textSomeNoQcp, m_textPrompt,
      m_textNoQcpFileOnFolder, m_textNoQcpFormat, m_textSelectFolder, m_textConversionFailed,
      m_textOutputNotWritable, m_textConversionProgress, m_textCancelledKept, m_textEndReport,
      m_textReportMore, m_textReportCutShort, m_textReportSkipped, m_textMadeWavs, m_textOpenFolder;

  std::u16string m_converterPath;
  std::u16string m_decoderPath;
  std::u16string m_pluginDirectory;
  std::vector<std::string> m_fileList;
  // Files of the folder that are not QCP files, with the reason.
  std::vector<std::pair<std::string, std::string>> m_skippedFiles;
  bool m_foundNonQcp = false;
  std::u16string m_inputFolder;
  std::string m_scanPrefix;  // the scanned folder, ending in '/'
  std::string m_workError;   // why the run has no work folder
  std::int32_t m_sampleRateSetting = -1;

  FileConversion m_conversion;  // the file in work when converting one at a time

  AutoResetEvent m_conversionDoneEvent;
  mutable std::mutex m_workFolderMutex;
  std::string m_workFolder;                // guarded by m_workFolderMutex
  std::atomic<bool> m_runComplete{false};  // the worker has done its last step
  std::atomic<bool> m_stopPending{false};  // cancel or close has begun
  // Stops the run's conversions: asked with m_stopPending and by a stop of
  // the worker. Replaced by OnConvert while no worker runs.
  std::stop_source m_runStop;
  std::mutex m_outcomeMutex;                             // the worker's jobs report through it
  std::vector<FileOutcome> m_runOutcomes;                // files of the run through the pipeline
  std::map<std::size_t, FileOutcome> m_pendingOutcomes;  // finished before an earlier one
  std::size_t m_nextOutcome = 0;                         // index the observer waits for
  std::mutex m_runBoxMutex;                              // held while a run box shows
  std::atomic<std::size_t> m_wavsWritten{0};             // WAV files the run made (and keeps)
  bool m_failureBoxShown = false;  // worker: the run's one failure box is used
  // Set by the worker when a cancel or close handler stopped it: the report
  // of the files done is left to that handler (a cancel's).
  std::atomic<bool> m_stoppedByHandler{false};

  enum StopRequest : int { kNoRequest = 0, kCancelRequest = 1, kCloseRequest = 2 };
  std::mutex m_deferMutex;  // guards the two members below
  bool m_boxShowing = false;
  int m_deferredRequest = kNoRequest;
};

}  // namespace wavrel
