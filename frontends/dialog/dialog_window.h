// The conversion dialog's window as its logic sees it. CWavrelDlg talks to
// its window only through these interfaces; the Qt window (frontends/dialog_qt), the
// console front end and the tests' recording fake implement them.
//
// Threads: every operation may be called from the user-interface thread, the
// worker and the animation thread. An implementation never blocks the caller
// on the user-interface thread (changes are queued onto it), except
// PickFolder, which only the user-interface thread calls. GetControlText
// answers from the window's own copy of the texts, so reading the output
// folder from the worker is safe.
#pragma once

#include <optional>
#include <string>

#include "frontends/animation/picture_control.h"

namespace wavrel {

/// Control ids of dialog template 3000.
enum ControlId : int {
  kIdConvert = 3001,           // push button "Convert"
  kIdCancelConversion = 3002,  // push button "Cancel" (not Escape, which does nothing)
  kIdPicture = 3005,           // animated picture frame
  kIdBrowseInput = 3006,       // "..." for the input folder
  kIdInputEdit = 3007,         // read-only edit: input folder
  kIdOutputEdit = 3008,        // read-only edit: output folder (ends in '/')
  kIdBrowseOutput = 3009,      // "..." for the output folder
  kIdStatus = 3010,            // status line
  kIdInputLabel = 3011,
  kIdOutputLabel = 3012,
  kIdPromptGroup = 3013,
};

/// Which folder picker: the input picker (classic) or the output picker
/// (resizable, with a button to make a new folder).
enum class FolderPickerKind { kInput, kOutput };

class IDialogWindow {
 public:
  virtual ~IDialogWindow() = default;

  virtual void SetTitle(const std::u16string& title) = 0;
  virtual void SetControlText(int id, const std::u16string& text) = 0;
  /// The control's current text, as last set through SetControlText.
  virtual std::u16string GetControlText(int id) const = 0;
  virtual void EnableControl(int id, bool enable) = 0;
  virtual void ShowControl(int id, bool show) = 0;
  /// Redraws the whole dialog at once.
  virtual void RedrawAll() = 0;
  /// Asks the user for a folder; the path without a trailing '/' (except the
  /// root), or nothing when the user cancelled. User-interface thread only.
  virtual std::optional<std::u16string> PickFolder(FolderPickerKind kind,
                                                   const std::u16string& title) = 0;
  virtual IPictureControl& Picture() = 0;
  /// Ends the modal dialog (the standard OK ending).
  virtual void EndDialog() = 0;
  /// At the end of a run: offers to open folder (the output folder, no
  /// trailing '/') in the desktop's file manager; text says what the run
  /// made there, action is the caption of the offer. Any thread. A window
  /// that has no file manager to offer ignores it.
  virtual void OfferFolder(const std::u16string& folder, const std::u16string& text,
                           const std::u16string& action) {
    (void)folder;
    (void)text;
    (void)action;
  }
};

}  // namespace wavrel
