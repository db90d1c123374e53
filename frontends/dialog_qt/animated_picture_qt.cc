#include "frontends/dialog_qt/animated_picture_qt.h"

#include <QBuffer>
#include <QByteArray>
#include <QEvent>
#include <QFile>
#include <QImageReader>
#include <QMetaObject>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QString>
#include <QThread>
#include <chrono>
#include <new>
#include <system_error>

#include "frontends/animation/gif_walker.h"

namespace wavrel {
namespace {

QByteArray AsByteArray(std::span<const std::uint8_t> data) {
  // fromRawData does not copy: the bytes must outlive the decoding call.
  return QByteArray::fromRawData(reinterpret_cast<const char*>(data.data()),
                                 static_cast<qsizetype>(data.size()));
}

/// Decodes one picture; null when the reader cannot.
QImage Decode(std::span<const std::uint8_t> data, const char* format) {
  QByteArray bytes = AsByteArray(data);
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::ReadOnly)) return {};
  QImageReader reader(&buffer, format);
  QImage image = reader.read();
  if (image.isNull()) return {};
  return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

}  // namespace

std::uint64_t FrameWaitMs(std::uint32_t delay) {
  // A frame without a control block would otherwise stay for 497 days.
  if (delay < 5 || delay == kGifNoDelay) return 100;
  return static_cast<std::uint64_t>(delay) * 10;
}

CAnimatedPicture::CAnimatedPicture(QWidget* parent) : QWidget(parent) {
  m_paletteColor = palette().color(QPalette::Window);
  m_backgroundColor = m_paletteColor;
}

CAnimatedPicture::~CAnimatedPicture() {
  std::lock_guard lock(m_controlMutex);
  ReleaseLocked();
}

bool CAnimatedPicture::LoadPicture(const std::u16string& path) {
  QByteArray bytes;
  {
    QFile file(QString::fromStdU16String(path));
    if (!file.open(QIODevice::ReadOnly)) {
      std::lock_guard lock(m_controlMutex);
      ReleaseLocked();
      return false;
    }
    try {
      bytes = file.readAll();
    } catch (const std::bad_alloc&) {
      bytes.clear();
    }
    if (file.error() != QFileDevice::NoError) bytes.clear();
  }
  return LoadFromMemory(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                  static_cast<std::size_t>(bytes.size())));
}

bool CAnimatedPicture::LoadFromMemory(std::span<const std::uint8_t> data) {
  std::lock_guard lock(m_controlMutex);
  ReleaseLocked();
  if (data.empty()) return false;
  bool loaded = false;
  try {
    GifBlockWalker walker(data);
    loaded = walker.IsGif() ? LoadGif(walker, data) : LoadStill(data, nullptr, std::nullopt);
  } catch (const std::bad_alloc&) {
    loaded = false;
  }
  if (!loaded) ReleaseLocked();
  return loaded;
}

bool CAnimatedPicture::LoadGif(GifBlockWalker& walker, std::span<const std::uint8_t> data) {
  m_isGif = true;
  if (!walker.HasScreen()) return false;
  const QSize screen(static_cast<int>(walker.ScreenWidth()),
                     static_cast<int>(walker.ScreenHeight()));
  const std::size_t count = walker.CountFrames();
  if (count == 0) return false;
  if (count == 1) return LoadStill(data, "GIF", screen);

  walker.Rewind();
  while (std::optional<GifFrameData> cut = walker.NextFrameData()) {
    QImage decoded = Decode(cut->gif, "GIF");
    if (decoded.isNull()) continue;  // the reader rejects it: the frame is left out
    GifFrame frame;
    frame.width = cut->width;
    frame.height = cut->height;
    frame.left = cut->left;
    frame.top = cut->top;
    frame.delay = cut->delay;
    frame.disposal = cut->disposal;
    // Qt's reader paints a frame onto an image of the logical screen's size;
    // keep only the frame's own rectangle so that drawing it leaves the rest
    // of the surface as the earlier frames and disposals made it.
    const QRect rect(static_cast<int>(frame.left), static_cast<int>(frame.top),
                     static_cast<int>(frame.width), static_cast<int>(frame.height));
    if (decoded.size() != screen && decoded.size() == rect.size()) {
      frame.picture = decoded;  // a reader that gives the frame alone
    } else {
      // Clipped to what was decoded: a frame reaching past the logical
      // screen keeps only its part on the screen.
      const QRect inside = rect.intersected(decoded.rect());
      if (inside.isEmpty()) continue;
      frame.picture = decoded.copy(inside);
      frame.left = static_cast<std::uint32_t>(inside.left());
      frame.top = static_cast<std::uint32_t>(inside.top());
      frame.width = static_cast<std::uint32_t>(inside.width());
      frame.height = static_cast<std::uint32_t>(inside.height());
    }
    if (frame.picture.isNull()) continue;
    m_frames.push_back(std::move(frame));
  }
  if (m_frames.empty()) return false;
  return PrepareSurface(screen);
}

bool CAnimatedPicture::LoadStill(std::span<const std::uint8_t> data, const char* format,
                                 std::optional<QSize> size) {
  m_stillPicture = Decode(data, format);
  if (m_stillPicture.isNull()) return false;
  // A still picture is as large as its pixels; a one-frame GIF is sized to
  // its logical screen.
  return PrepareSurface(size.value_or(m_stillPicture.size()));
}

bool CAnimatedPicture::PrepareSurface(QSize size) {
  if (size.isEmpty()) return false;
  QImage surface(size, QImage::Format_ARGB32_Premultiplied);
  if (surface.isNull()) return false;  // too large to allocate
  {
    std::lock_guard lock(m_surfaceMutex);
    m_backgroundColor = m_paletteColor;
    surface.fill(m_backgroundColor);
    m_surface = std::move(surface);
    m_surfaceSize = size;
    m_surfaceReady = true;
  }
  ResizeOnGuiThread(size);
  RequestRepaint();
  return true;
}

void CAnimatedPicture::StartDrawing() {
  std::lock_guard lock(m_controlMutex);
  {
    std::lock_guard surfaceLock(m_surfaceMutex);
    if (!m_surfaceReady) return;
  }
  if (m_isGif && m_frames.size() > 1) {
    if (m_thread.joinable()) return;  // already playing: one thread per control
    m_exitRequested = false;
    try {
      m_thread = std::thread([this] { AnimationLoop(); });
    } catch (const std::system_error&) {
      // No thread: nothing further happens, as when nothing is loaded.
    }
    return;
  }
  if (m_stillPicture.isNull()) return;
  {
    std::lock_guard surfaceLock(m_surfaceMutex);
    QPainter painter(&m_surface);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(QPoint(0, 0), m_surfaceSize), m_stillPicture);
  }
  RequestRepaint();
}

void CAnimatedPicture::StopAnimation() {
  std::lock_guard lock(m_controlMutex);
  StopLocked();
}

void CAnimatedPicture::StopLocked() {
  {
    std::lock_guard waitLock(m_waitMutex);
    m_exitRequested = true;
  }
  m_waitCondition.notify_all();
  // The loop checks the request between every two steps and its wait ends
  // at once, so the join is short; it is never bounded, because the frames
  // and the surface it uses must not be freed under it.
  if (m_thread.joinable()) m_thread.join();
  m_exitRequested = false;
}

void CAnimatedPicture::ReleasePicture() {
  std::lock_guard lock(m_controlMutex);
  ReleaseLocked();
}

void CAnimatedPicture::ReleaseLocked() {
  StopLocked();
  m_stillPicture = QImage();
  m_frames.clear();
  m_frames.shrink_to_fit();
  m_savedArea.reset();
  m_savedRect = QRect();
  m_isGif = false;
  m_currentFrame = 0;
  bool hadSurface = false;
  {
    std::lock_guard surfaceLock(m_surfaceMutex);
    hadSurface = m_surfaceReady;
    m_surface = QImage();
    m_surfaceSize = QSize();
    m_surfaceReady = false;
  }
  if (hadSurface) RequestRepaint();
}

void CAnimatedPicture::AnimationLoop() {
  const auto count = static_cast<std::uint32_t>(m_frames.size());
  if (m_currentFrame >= count) m_currentFrame = 0;
  // Matters when the animation starts again after a stop.
  DisposeFrame(m_frames[m_currentFrame]);
  while (!m_exitRequested) {
    const std::uint32_t index = m_currentFrame;
    const GifFrame& frame = m_frames[index];
    if (frame.disposal == 3) {
      std::lock_guard surfaceLock(m_surfaceMutex);
      m_savedRect = FrameRect(frame);
      m_savedArea = m_surface.copy(m_savedRect);
    }
    DrawFrame(index);
    if (m_exitRequested) break;
    {
      std::unique_lock waitLock(m_waitMutex);
      m_waitCondition.wait_for(waitLock, std::chrono::milliseconds(FrameWaitMs(frame.delay)),
                               [this] { return m_exitRequested.load(); });
    }
    if (m_exitRequested) break;
    DisposeFrame(frame);
    std::uint32_t next = index + 1;
    if (next >= count) {
      next = 0;
      // Each pass starts on a clear surface.
      std::lock_guard surfaceLock(m_surfaceMutex);
      FillSurface(m_surface.rect());
    }
    m_currentFrame = next;
  }
}

QRect CAnimatedPicture::FrameRect(const GifFrame& frame) const {
  // Frames reaching past the logical screen are clipped to the surface.
  const QRect rect(static_cast<int>(frame.left), static_cast<int>(frame.top),
                   static_cast<int>(frame.width), static_cast<int>(frame.height));
  return rect.intersected(m_surface.rect());
}

void CAnimatedPicture::DisposeFrame(const GifFrame& frame) {
  std::lock_guard surfaceLock(m_surfaceMutex);
  if (frame.disposal == 2) {
    FillSurface(FrameRect(frame));
  } else if (frame.disposal == 3 && m_savedArea) {
    QPainter painter(&m_surface);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(m_savedRect.topLeft(), *m_savedArea);
    painter.end();
    m_savedArea.reset();
    m_savedRect = QRect();
  }
}

void CAnimatedPicture::DrawFrame(std::uint32_t index) {
  const GifFrame& frame = m_frames[index];
  {
    std::lock_guard surfaceLock(m_surfaceMutex);
    QPainter painter(&m_surface);
    // Transparent pixels of the frame let the surface show through.
    painter.drawImage(QPoint(static_cast<int>(frame.left), static_cast<int>(frame.top)),
                      frame.picture);
    painter.end();
    if (m_frameDrawnHook) m_frameDrawnHook(index, m_surface);
  }
  RequestRepaint();
}

void CAnimatedPicture::FillSurface(const QRect& rect) {
  if (rect.isEmpty()) return;
  QPainter painter(&m_surface);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.fillRect(rect, m_backgroundColor);
}

void CAnimatedPicture::RequestRepaint() {
  if (QThread::currentThread() == thread()) {
    update();
    return;
  }
  // Dropped by Qt if the control is gone before the call is delivered. By
  // the slot's name: the call is Qt's own event, with nothing of ours for
  // the GUI thread to read (a functor of ours would be read there under
  // Qt's event-queue lock, which ThreadSanitizer cannot see).
  QMetaObject::invokeMethod(this, "update", Qt::QueuedConnection);
}

void CAnimatedPicture::ResizeOnGuiThread(QSize size) {
  if (QThread::currentThread() == thread()) {
    resize(size);
    return;
  }
  QMetaObject::invokeMethod(
      this, [this, size] { resize(size); }, Qt::QueuedConnection);
}

void CAnimatedPicture::paintEvent(QPaintEvent* event) {
  std::lock_guard surfaceLock(m_surfaceMutex);
  if (!m_surfaceReady) return;
  QPainter painter(this);
  painter.drawImage(event->rect().topLeft(), m_surface, event->rect());
}

void CAnimatedPicture::changeEvent(QEvent* event) {
  if (event->type() == QEvent::PaletteChange) {
    // Taken on the GUI thread; the surface picks it up when next prepared.
    std::lock_guard surfaceLock(m_surfaceMutex);
    m_paletteColor = palette().color(QPalette::Window);
  }
  QWidget::changeEvent(event);
}

bool CAnimatedPicture::IsGif() const {
  std::lock_guard lock(m_controlMutex);
  return m_isGif;
}

bool CAnimatedPicture::IsPlaying() const {
  std::lock_guard lock(m_controlMutex);
  return m_thread.joinable();
}

std::size_t CAnimatedPicture::FrameCount() const {
  std::lock_guard lock(m_controlMutex);
  return m_frames.size();
}

std::optional<GifFrame> CAnimatedPicture::FrameAt(std::size_t index) const {
  std::lock_guard lock(m_controlMutex);
  if (index >= m_frames.size()) return std::nullopt;
  return m_frames[index];
}

std::uint32_t CAnimatedPicture::CurrentFrame() const { return m_currentFrame; }

QSize CAnimatedPicture::SurfaceSize() const {
  std::lock_guard surfaceLock(m_surfaceMutex);
  return m_surfaceSize;
}

QImage CAnimatedPicture::SurfaceCopy() const {
  std::lock_guard surfaceLock(m_surfaceMutex);
  return m_surface.copy();
}

QColor CAnimatedPicture::BackgroundColor() const {
  std::lock_guard surfaceLock(m_surfaceMutex);
  return m_backgroundColor;
}

void CAnimatedPicture::SetFrameDrawnHook(std::function<void(std::uint32_t, const QImage&)> hook) {
  std::lock_guard lock(m_controlMutex);
  StopLocked();
  m_frameDrawnHook = std::move(hook);
}

}  // namespace wavrel
