// The picture control of the conversion dialog as its logic sees it: the
// dialog's window hands one out (IDialogWindow::Picture), the Qt window's is
// CAnimatedPicture (frontends/dialog_qt). Threads: see IDialogWindow.
#pragma once

#include <string>

namespace wavrel {

/// The picture control 3005 (CAnimatedPicture on screen).
class IPictureControl {
 public:
  virtual ~IPictureControl() = default;
  /// Loads a picture file (an animated GIF plays frame by frame); false and
  /// nothing shown when it cannot be loaded.
  virtual bool LoadPicture(const std::u16string& path) = 0;
  /// Shows a still picture or starts the animation; nothing when empty.
  virtual void StartDrawing() = 0;
  /// Stops the animation, keeping the current frame.
  virtual void StopAnimation() = 0;
  /// Stops and frees everything loaded.
  virtual void ReleasePicture() = 0;
};

}  // namespace wavrel
