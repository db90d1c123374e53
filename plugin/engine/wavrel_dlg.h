// CWavrelDlg: the conversion dialog's logic without a toolkit. It checks the
// two folders, scans the input folder for EVRC QCP recordings, runs each one
// through the converter, the decoder and the WAV writer on a worker thread,
// plays the progress picture on an animation thread, and cancels or closes.
// It talks to its window only through IDialogWindow.
//
// Threads: the handlers (On*, InitDialog, AttachWindow, SetObserver) run on
// the user-interface thread; ConvertAll on m_workerThread and PlayAnimation on
// m_animationThread. The worker and the handlers share m_step (atomic) and the
// two launch records (each guarded by its own lock).
//
// Message boxes during a run: the worker shows at most one failure box per
// run and, at the end, one report box. While the worker waits for one of
// them, cancel and close cannot stop it (it waits for the user, on the
// user-interface thread); they are noted instead and the worker carries them
// out as soon as the box is answered.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "plugin/engine/conversion_observer.h"
#include "plugin/engine/wav_writer.h"
#include "plugin/frame/jthread.h"
#include "plugin/platform/auto_reset_event.h"
#include "plugin/platform/dialog_window.h"
#include "plugin/platform/process.h"

class CXmlReader;

namespace wavrel {

/// The sample rate that a parsed settings document gives: the text of the
/// last <property> of <converwavset> whose first attribute is "name", read
/// like atoi; -1 when there is none. Walks from the reader's position.
std::int32_t SampleRateFromSettings(CXmlReader& reader);

/// Pipeline steps of the file in work (m_step).
enum PipelineStep : std::int32_t {
  kStepIdle = 0,       ///< no file started since the dialog opened
  kStepConverter = 1,  ///< the converter may be running
  kStepDecoder = 2,    ///< the decoder may be running
  kStepWav = 3,        ///< the WAV writer's files may be open
  kStepCleanUp = 4,    ///< intermediates being deleted; stays until the next file
};

class CWavrelDlg {
 public:
  CWavrelDlg();
  CWavrelDlg(const CWavrelDlg&) = delete;
  CWavrelDlg& operator=(const CWavrelDlg&) = delete;
  /// Stops both threads (5 s grace each), ends any child still running and
  /// removes the run's work folder.
  virtual ~CWavrelDlg();

  /// The window to drive; before InitDialog. Null detaches.
  void AttachWindow(IDialogWindow* window);
  /// Optional; called on the worker thread. Set while no conversion runs.
  void SetObserver(IConversionObserver* observer);

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
  std::int32_t Step() const { return m_step.load(); }
  std::int32_t SampleRateSetting() const { return m_sampleRateSetting; }
  const std::vector<std::string>& FileList() const { return m_fileList; }
  bool FoundNonQcp() const { return m_foundNonQcp; }
  const std::u16string& ConverterPath() const { return m_converterPath; }
  const std::u16string& DecoderPath() const { return m_decoderPath; }
  /// The current run's private work folder (UTF-8), empty between runs.
  std::string WorkFolder() const;
  PcmWavWriter& WavWriterForTesting() { return m_wavWriter; }

 protected:
  void RunConverter(const std::u16string& qcpPath);
  void RunDecoder(const std::u16string& workBase);
  void WritePcmAsWav(const std::u16string& pcmPath, const std::u16string& wavPath);
  void DeleteIntermediates(const std::u16string& workBase);

 private:
  IDialogWindow& Window() const;
  bool RunChecks();
  /// True once cancel or close has begun, or the worker was asked to stop.
  bool StopRequested() const;
  void StopThread(JThreadT<CWavrelDlg>& thread);
  /// After cancel or close stopped the threads: no child left, the file's
  /// intermediates deleted by step, the work folder removed.
  void FinishStop();
  void TerminateWithRetries(ChildProcess& launch);
  void SleepMs(int ms);
  void SetStatus(const std::u16string& text);
  /// Enables (idle) or disables Convert and the two browse buttons.
  void SetButtonsIdle(bool idle);
  void RemoveWorkFolder();
  /// Text of the output field, ending in '/'.
  std::u16string OutputFolderText() const;
  std::u16string UniqueWavPath(const std::u16string& folder, const std::u16string& stem);
  /// True when path is one of the run's recordings (a hard link counts).
  bool IsRunInput(const std::string& path) const;
  /// True when the recording's data chunk claims more than the file holds.
  static bool IsCutShort(const std::string& qcpPath);
  std::u16string FinishedStatusText(std::size_t failed, std::size_t total) const;
  /// "n of N: name" while converting (IDS_CONVER_PROGRESS), or the
  /// converting text followed by " (n/N)" when the host has no text for it.
  std::u16string ProgressText(std::size_t number, std::size_t total,
                              const std::u16string& name) const;
  /// The status after a cancel: how many WAV files the run made and kept.
  std::u16string CancelledStatusText() const;
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
  /// Shows a box captioned IDS_PROMPT; true when closed with OK.
  bool MessageBox(const std::u16string& text, std::uint32_t style);
  void NoteFailure(const std::string& reason);

  JThreadT<CWavrelDlg> m_animationThread;
  JThreadT<CWavrelDlg> m_workerThread;
  std::atomic<IDialogWindow*> m_window{nullptr};
  IConversionObserver* m_observer = nullptr;

  std::u16string m_currentStem;
  // Texts looked up at start-up.
  std::u16string m_textTitle, m_textPromptInfo, m_textContentInfo, m_textResourcePath,
      m_textTargetName, m_textConvert, m_textCancel, m_textMessageNoEmpty, m_textConvering,
      m_textConvered, m_textConverCancleing, m_textConverCancleed, m_textQuitMessage,
      m_textLoseExeFile, m_textNoOpenFile, m_textCheckFolder, m_textSaveQcpFolder, m_textSomeNoQcp,
      m_textPrompt, m_textNoQcpFileOnFolder, m_textNoQcpFormat, m_textSelectFolder,
      m_textConverFailed, m_textOutputNotWritable, m_textConverProgress, m_textCancelledKept,
      m_textEndReport, m_textReportMore, m_textReportCutShort, m_textReportSkipped;

  std::u16string m_converterPath;
  std::u16string m_decoderPath;
  std::u16string m_pluginDirectory;
  std::vector<std::string> m_fileList;
  // Files of the folder that are not QCP files, with the reason.
  std::vector<std::pair<std::string, std::string>> m_skippedFiles;
  bool m_foundNonQcp = false;
  std::u16string m_inputFolder;
  std::u16string m_currentFile;
  PcmWavWriter m_wavWriter;  // holds m_pcmFile and m_wavFile
  std::int32_t m_sampleRateSetting = -1;

  ChildProcess m_converterLaunch;
  ChildProcess m_decoderLaunch;
  std::atomic<std::int32_t> m_step{kStepIdle};

  AutoResetEvent m_conversionDoneEvent;
  mutable std::mutex m_workFolderMutex;
  std::string m_workFolder;  // guarded by m_workFolderMutex
  // Written by the worker; read by the handlers only after the worker ended.
  std::u16string m_currentWorkBase;         // work folder + "/" + stem
  std::u16string m_currentWavPath;          // WAV path of the file in work
  std::set<std::string> m_wavPathsWritten;  // WAV files written in this run
  std::vector<FileStamp> m_inputStamps;     // the run's recordings
  std::size_t m_currentIndex = 0;           // position of the file in work
  std::string m_currentFailure;             // first failure of the file in work
  WavWriteResult m_lastWavResult = WavWriteResult::kNoPcm;
  std::optional<std::int32_t> m_currentTotalFrames;
  std::optional<std::int32_t> m_currentLostFrames;
  std::atomic<bool> m_runComplete{false};     // the worker has done its last step
  std::atomic<bool> m_stopPending{false};     // cancel or close has begun
  std::vector<FileOutcome> m_runOutcomes;     // files of the run through the pipeline
  std::atomic<std::size_t> m_wavsWritten{0};  // WAV files the run made (and keeps)
  bool m_failureBoxShown = false;             // worker: the run's one failure box is used

  enum StopRequest : int { kNoRequest = 0, kCancelRequest = 1, kCloseRequest = 2 };
  std::mutex m_deferMutex;  // guards the two members below
  bool m_boxShowing = false;
  int m_deferredRequest = kNoRequest;
};

}  // namespace wavrel
