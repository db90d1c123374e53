// CAnimatedPicture: picture control 3005 of the conversion dialog. It loads a
// picture file, shows a still picture, and plays an animated GIF on a
// drawing thread of its own, frame after frame with each frame's delay and
// disposal method, without end, until stopped.
//
// Loading cuts every GIF frame out as a stand-alone single-frame GIF (the
// GifBlockWalker) and decodes each once with Qt's image readers; anything
// that is not a GIF, and a GIF of one frame, is decoded whole as a still
// picture. All drawing goes to an off-screen surface of the picture's size;
// painting only copies that surface.
//
// Threads: LoadPicture, LoadFromMemory, StartDrawing, StopAnimation,
// ReleasePicture and the observers may be called from any thread (the
// dialog's animation thread calls them); they are serialised by one lock.
// The widget itself belongs to the GUI thread: a size change and a repaint
// requested from another thread are queued onto it, never waited for. The
// surface is shared with paintEvent under its own lock.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "frontends/animation/gif_walker.h"
#include "frontends/animation/picture_control.h"

namespace wavrel {

/// One frame of an animation.
struct GifFrame {
  QImage picture;  // the frame's pixels, width x height, decoded at load time
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t left = 0;  // position on the logical screen, pixels
  std::uint32_t top = 0;
  std::uint32_t delay = 0;     // hundredths of a second; kGifNoDelay without a control block
  std::uint32_t disposal = 0;  // 0..7; 2 clears to the background, 3 restores
};

/// How long a frame stays on screen: delays below 5 hundredths (and a frame
/// without a delay) give 100 ms, others delay x 10 ms.
std::uint64_t FrameWaitMs(std::uint32_t delay);

class CAnimatedPicture : public QWidget, public IPictureControl {
  Q_OBJECT

 public:
  explicit CAnimatedPicture(QWidget* parent = nullptr);
  /// Stops the drawing thread (joined) and frees everything.
  ~CAnimatedPicture() override;

  /// Reads the whole file and loads it as LoadFromMemory does; false for a
  /// file that cannot be read or is empty.
  bool LoadPicture(const std::u16string& path) override;
  /// Replaces any loaded picture with the one in data (copied as needed).
  /// On success the surface has the picture's size, is filled with the
  /// background colour, and the control is resized to it (top-left kept).
  /// On failure nothing is loaded and StartDrawing does nothing.
  bool LoadFromMemory(std::span<const std::uint8_t> data);
  /// Draws the still picture, or starts the drawing thread for an animation
  /// (nothing when it already plays, or when nothing is loaded).
  void StartDrawing() override;
  /// Ends the drawing thread at once (its wait is cut short) and joins it;
  /// the current frame and the surface's content are kept, so StartDrawing
  /// continues from that frame after applying its disposal.
  void StopAnimation() override;
  /// Stops, and frees the pictures, the frames and the surface.
  void ReleasePicture() override;

  // Observers, for the dialog and for tests; any thread.
  bool IsGif() const;
  bool IsPlaying() const;
  std::size_t FrameCount() const;
  /// Frame index's data (with its picture), or nothing when out of range.
  std::optional<GifFrame> FrameAt(std::size_t index) const;
  std::uint32_t CurrentFrame() const;
  /// The picture's size in pixels; empty when nothing is loaded.
  QSize SurfaceSize() const;
  /// A copy of the surface; null when there is none.
  QImage SurfaceCopy() const;
  QColor BackgroundColor() const;

  /// Called on the drawing thread after each frame has been drawn, with the
  /// frame's index and the surface (valid only during the call). For tests;
  /// set it while nothing plays.
  void SetFrameDrawnHook(std::function<void(std::uint32_t, const QImage&)> hook);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  bool LoadGif(GifBlockWalker& walker, std::span<const std::uint8_t> data);
  bool LoadStill(std::span<const std::uint8_t> data, const char* format, std::optional<QSize> size);
  bool PrepareSurface(QSize size);
  void StopLocked();
  void ReleaseLocked();
  void AnimationLoop();
  void DisposeFrame(const GifFrame& frame);
  void DrawFrame(std::uint32_t index);
  void FillSurface(const QRect& rect);
  QRect FrameRect(const GifFrame& frame) const;
  void RequestRepaint();
  void ResizeOnGuiThread(QSize size);

  // Serialises the public operations; held while the drawing thread is joined.
  mutable std::mutex m_controlMutex;
  bool m_isGif = false;
  std::vector<GifFrame> m_frames;  // the drawing thread's alone while it runs
  QImage m_stillPicture;
  std::atomic<std::uint32_t> m_currentFrame{0};
  std::function<void(std::uint32_t, const QImage&)> m_frameDrawnHook;

  // The area under a frame with disposal 3 while that frame is shown.
  std::optional<QImage> m_savedArea;
  QRect m_savedRect;

  // The drawing thread and its stop request.
  std::thread m_thread;
  std::mutex m_waitMutex;
  std::condition_variable m_waitCondition;
  std::atomic<bool> m_exitRequested{false};

  // The surface, shared with paintEvent.
  mutable std::mutex m_surfaceMutex;
  QImage m_surface;
  QSize m_surfaceSize;
  bool m_surfaceReady = false;
  QColor m_backgroundColor;  // the dialog's background colour
  QColor m_paletteColor;     // the current palette's, taken on the GUI thread
};

}  // namespace wavrel
