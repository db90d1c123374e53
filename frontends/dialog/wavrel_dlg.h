// CWavrelDlg: the conversion dialog's presenter over the conversion core
// (BatchConversion). It shows the dialog's texts by key, runs the checks
// before converting with their messages, hands the run to the core on a
// worker thread, shows what the core tells it in the status line and in
// message boxes, plays the progress picture on an animation thread, and
// cancels or closes. It talks to its window only through IDialogWindow and to
// the host only through its IDialogEnvironment; it holds no toolkit.
//
// Threads: the handlers (On*, InitDialog, AttachWindow, SetObserver) run on
// the user-interface thread; ConvertAll on m_workerThread (where the core
// calls the dialog back as its observer) and PlayAnimation on
// m_animationThread. A stop of the worker is the core's stop token: the core
// ends the program in work, deletes the file's intermediates and any partial
// WAV, and removes its work folder before the worker returns.
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
#include <mutex>
#include <string>
#include <vector>

#include "base/jthread.h"
#include "core/batch_conversion.h"
#include "frontends/dialog/dialog_environment.h"
#include "frontends/dialog/dialog_texts.h"
#include "frontends/dialog/dialog_window.h"
#include "platform/auto_reset_event.h"

namespace wavrel {

class CWavrelDlg : private IBatchObserver {
 public:
  /// The environment outlives the dialog (ProductionEnvironment() of
  /// plugin/ for a real run).
  explicit CWavrelDlg(IDialogEnvironment& environment);
  CWavrelDlg(const CWavrelDlg&) = delete;
  CWavrelDlg& operator=(const CWavrelDlg&) = delete;
  /// Stops both threads (5 s grace each); the run stops as a cancel stops it.
  virtual ~CWavrelDlg();

  /// The window to drive; before InitDialog. Null detaches.
  void AttachWindow(IDialogWindow* window);
  /// Optional: told on the worker thread what the core tells the dialog.
  /// Set while no conversion runs.
  void SetObserver(IBatchObserver* observer) { m_observer = observer; }

  /// Start-up: texts, program paths, ready state, the sample-rate setting.
  bool InitDialog();

  void OnBrowseInput();
  void OnBrowseOutput();
  void OnConvert();
  void OnCancelConversion();
  void OnCloseRequest();
  /// Enter and Escape: nothing happens.
  void OnOK() {}
  void OnCancel() {}

  /// True while the worker runs.
  bool IsConverting() const { return m_workerThread.IsRunning(); }
  /// True while the animation thread runs.
  bool IsAnimating() const { return m_animationThread.IsRunning(); }

  // Thread bodies, bound by JThreadT.
  void ConvertAll();
  void PlayAnimation();

  /// The sample-rate setting from the settings file, -1 when it gives none.
  std::int32_t ReadSampleRateSetting();
  /// True when path is a QCP recording (of any codec) by its first bytes.
  bool IsQcpFile(const std::u16string& path);
  /// Lists folder's regular files into m_fileList (QCP files) and
  /// m_foundNonQcp (any other file).
  void ScanInputFolder(const std::u16string& folder);

  // State for the front ends and tests.
  std::int32_t Step() const { return m_core.Step(); }
  std::int32_t SampleRateSetting() const { return m_sampleRateSetting; }
  const std::vector<std::string>& FileList() const { return m_fileList; }
  bool FoundNonQcp() const { return m_foundNonQcp; }
  const std::u16string& ConverterPath() const { return m_converterPath; }
  const std::u16string& DecoderPath() const { return m_decoderPath; }
  PcmWavWriter& WavWriterForTesting() { return m_core.WavWriterForTesting(); }

 private:
  // IBatchObserver: the question on the user-interface thread (RunChecks),
  // the rest on the worker thread.
  bool GoOnWithout(const std::vector<SkippedFile>& nonRecordings) override;
  void OnRunStarted(const RunStart& start) override;
  void OnFileSkipped(const SkippedFile& file) override;
  void OnFileStarted(const std::string& path, std::size_t index, std::size_t count) override;
  void OnFileFinished(const FileOutcome& outcome) override;
  void OnRunFinished(const RunSummary& summary) override;

  enum StopRequest : int { kNoRequest = 0, kCancelRequest = 1, kCloseRequest = 2 };

  IDialogWindow& Window() const;
  void SetStatus(const std::u16string& text);
  /// Enables (idle) or disables Convert and the two browse buttons.
  void SetButtonsIdle(bool idle);
  /// Shows a box captioned IDS_PROMPT; true when closed with OK.
  bool MessageBox(const std::u16string& text, std::uint32_t style);
  /// The checks before converting, with their messages; true when the run
  /// may start (m_plan is then the run's).
  bool RunChecks();
  /// The actions of cancel or close at the step reached.
  void StopAtStep(int request);
  /// A box shown by the worker during a run (see the class comment): a
  /// cancel or close that comes while it shows is noted and carried out once
  /// it is answered. Not shown once a stop was asked.
  void ShowRunBox(const std::u16string& text);
  /// A handler's stop: while a run box shows (or a noted request is being
  /// carried out), noted (close outranks cancel) and true; otherwise the
  /// worker is asked to stop and false (the handler acts as usual).
  bool DeferStopRequest(int request);
  void SetHandlerStopping(bool stopping);
  /// Worker, at the end of a run: carries out a noted cancel or close and
  /// returns it (kNoRequest when none was noted).
  int FinishDeferredStop(bool runComplete);
  /// The end report after a cancel, if there is one (cancelled status
  /// already shown): worker only, shown as a run box; a close noted while it
  /// shows ends the dialog, otherwise the buttons come back.
  void ReportCancelledRun();

  IDialogEnvironment& m_env;
  BatchConversion m_core;
  JThreadT<CWavrelDlg> m_animationThread;
  JThreadT<CWavrelDlg> m_workerThread;
  std::atomic<IDialogWindow*> m_window{nullptr};
  IBatchObserver* m_observer = nullptr;
  DialogTexts m_texts;  // looked up at start-up

  std::u16string m_converterPath;
  std::u16string m_decoderPath;
  std::u16string m_qcelpDecoderPath;  // QCELP-13K recordings' decoder
  std::u16string m_pluginDirectory;
  std::vector<std::string> m_fileList;
  bool m_foundNonQcp = false;
  std::u16string m_inputFolder;
  std::int32_t m_sampleRateSetting = -1;
  AutoResetEvent m_conversionDoneEvent;

  // The run: prepared on the user-interface thread, then the worker's until
  // it returns.
  BatchPlan m_plan;
  std::vector<FileOutcome> m_outcomes;     // files through the pipeline, for the end report
  std::size_t m_wavsWritten = 0;           // WAV files the run made (and keeps)
  bool m_failureBoxShown = false;          // the run's one failure box is used
  std::atomic<bool> m_runComplete{false};  // the worker has done its last step
  // Set by the worker when a cancel or close handler stopped it: the report
  // of the files done is left to that handler (a cancel's).
  std::atomic<bool> m_stoppedByHandler{false};

  std::mutex m_deferMutex;  // guards the three members below
  bool m_boxShowing = false;
  int m_deferredRequest = kNoRequest;
  bool m_handlerStopping = false;  // a handler stops the worker and waits for it
};

}  // namespace wavrel
