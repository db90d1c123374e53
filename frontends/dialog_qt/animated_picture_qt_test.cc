#include "frontends/dialog_qt/animated_picture_qt.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QPalette>
#include <QTemporaryDir>
#include <chrono>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "frontends/dialog_qt/testing/test_gif.h"

namespace wavrel {
namespace {

using testing::EnsureTestApplication;
using testing::Frame;
using testing::kBlue;
using testing::kGreen;
using testing::kRed;
using testing::kWhite;
using testing::MakeTestGif;
using testing::TestColourOf;
using testing::TestFrame;
using testing::WaitUntil;

QRgb Rgb(testing::TestColour colour) { return TestColourOf(colour).rgb(); }

/// Records the surface after every frame the drawing thread draws.
class FrameRecorder {
 public:
  explicit FrameRecorder(CAnimatedPicture& picture) {
    picture.SetFrameDrawnHook([this](std::uint32_t index, const QImage& surface) {
      std::lock_guard lock(m_mutex);
      m_frames.push_back(index);
      m_surfaces.push_back(surface.copy());
    });
  }
  std::size_t Count() const {
    std::lock_guard lock(m_mutex);
    return m_frames.size();
  }
  std::uint32_t FrameIndex(std::size_t i) const {
    std::lock_guard lock(m_mutex);
    return m_frames.at(i);
  }
  QImage Surface(std::size_t i) const {
    std::lock_guard lock(m_mutex);
    return m_surfaces.at(i);
  }

 private:
  mutable std::mutex m_mutex;
  std::vector<std::uint32_t> m_frames;
  std::vector<QImage> m_surfaces;
};

class AnimatedPictureTest : public ::testing::Test {
 protected:
  void SetUp() override { EnsureTestApplication(); }
};

TEST(FrameWaitTest, DelaysBelowFiveAndMissingDelaysWaitOneTenthSecond) {
  for (std::uint32_t delay = 0; delay <= 4; ++delay) EXPECT_EQ(FrameWaitMs(delay), 100u) << delay;
  EXPECT_EQ(FrameWaitMs(5), 50u);
  EXPECT_EQ(FrameWaitMs(100), 1000u);
  EXPECT_EQ(FrameWaitMs(kGifNoDelay), 100u);
  EXPECT_EQ(FrameWaitMs(0xFFFFFFFEu), 0xFFFFFFFEull * 10);  // no 32-bit wrap
}

TEST_F(AnimatedPictureTest, CutsAnAnimatedGifIntoFramesInFileOrder) {
  const std::vector<std::uint8_t> gif =
      MakeTestGif(8, 6,
                  {Frame(0, 0, 8, 6, kRed, 10, 2), Frame(2, 1, 3, 2, kBlue, 7, 3, true),
                   Frame(5, 4, 2, 2, kGreen)});
  for (bool withTrailer : {true, false}) {
    SCOPED_TRACE(withTrailer ? "with trailer" : "without trailer");
    std::vector<std::uint8_t> data = gif;
    if (!withTrailer) data.pop_back();
    CAnimatedPicture picture;
    picture.move(30, 40);
    ASSERT_TRUE(picture.LoadFromMemory(data));
    EXPECT_TRUE(picture.IsGif());
    ASSERT_EQ(picture.FrameCount(), 3u);
    // The control takes the logical screen's size, its top-left kept.
    EXPECT_EQ(picture.SurfaceSize(), QSize(8, 6));
    EXPECT_EQ(picture.geometry(), QRect(30, 40, 8, 6));

    const GifFrame first = *picture.FrameAt(0);
    EXPECT_EQ(first.delay, 10u);
    EXPECT_EQ(first.disposal, 2u);
    EXPECT_EQ(first.picture.size(), QSize(8, 6));

    const GifFrame second = *picture.FrameAt(1);
    EXPECT_EQ(std::tuple(second.left, second.top, second.width, second.height),
              std::tuple(2u, 1u, 3u, 2u));
    EXPECT_EQ(std::tuple(second.delay, second.disposal), std::tuple(7u, 3u));
    ASSERT_EQ(second.picture.size(), QSize(3, 2));
    EXPECT_EQ(second.picture.pixel(0, 0), Rgb(kBlue));
    EXPECT_EQ(second.picture.pixel(2, 1), Rgb(kBlue));

    const GifFrame third = *picture.FrameAt(2);
    EXPECT_EQ(std::tuple(third.delay, third.disposal), std::tuple(kGifNoDelay, 0u));
    EXPECT_EQ(third.picture.pixel(1, 1), Rgb(kGreen));
    EXPECT_FALSE(picture.FrameAt(3).has_value());

    // Loaded but not started: the surface is all background.
    const QImage surface = picture.SurfaceCopy();
    EXPECT_EQ(surface.pixel(0, 0), picture.BackgroundColor().rgb());
    EXPECT_EQ(surface.pixel(7, 5), picture.BackgroundColor().rgb());
  }
}

TEST_F(AnimatedPictureTest, FramesReachingPastTheLogicalScreenAreClippedToIt) {
  CAnimatedPicture picture;
  ASSERT_TRUE(picture.LoadFromMemory(
      MakeTestGif(4, 4, {Frame(0, 0, 4, 4, kRed, 1), Frame(2, 2, 40, 40, kBlue, 1000, 3)})));
  ASSERT_EQ(picture.FrameCount(), 2u);
  const GifFrame big = *picture.FrameAt(1);
  EXPECT_LE(big.left + big.width, 4u);
  EXPECT_LE(big.top + big.height, 4u);
  FrameRecorder recorder(picture);
  picture.StartDrawing();
  ASSERT_TRUE(WaitUntil([&] { return recorder.Count() >= 2; }, 5000));
  picture.StopAnimation();
  const QImage surface = recorder.Surface(1);
  EXPECT_EQ(surface.pixel(3, 3), Rgb(kBlue));
  EXPECT_EQ(surface.pixel(1, 1), Rgb(kRed));
}

TEST_F(AnimatedPictureTest, TransparentPixelsOfAFrameLeaveTheSurfaceShowingThrough) {
  TestFrame clear = Frame(0, 0, 4, 4, kWhite, 1000);
  clear.transparent = true;
  CAnimatedPicture picture;
  ASSERT_TRUE(picture.LoadFromMemory(MakeTestGif(4, 4, {Frame(0, 0, 4, 4, kRed, 1), clear})));
  FrameRecorder recorder(picture);
  picture.StartDrawing();
  ASSERT_TRUE(WaitUntil([&] { return recorder.Count() >= 2; }, 5000));
  picture.StopAnimation();
  EXPECT_EQ(recorder.Surface(1).pixel(2, 2), Rgb(kRed));
}

TEST_F(AnimatedPictureTest, OneFrameGifsAndOtherPicturesAreStills) {
  CAnimatedPicture picture;
  // One frame: no frame list; the surface has the logical screen's size.
  ASSERT_TRUE(picture.LoadFromMemory(MakeTestGif(6, 5, {Frame(0, 0, 6, 5, kWhite)})));
  EXPECT_EQ(picture.FrameCount(), 0u);
  EXPECT_EQ(picture.SurfaceSize(), QSize(6, 5));
  picture.StartDrawing();
  EXPECT_FALSE(picture.IsPlaying());
  EXPECT_EQ(picture.SurfaceCopy().pixel(3, 2), Rgb(kWhite));

  // A PNG: its pixel size, drawn upright.
  QImage png(5, 3, QImage::Format_RGB32);
  png.fill(TestColourOf(kBlue));
  png.setPixel(0, 0, Rgb(kRed));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
  ASSERT_TRUE(png.save(&buffer, "PNG"));
  ASSERT_TRUE(
      picture.LoadFromMemory(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                       static_cast<std::size_t>(bytes.size()))));
  EXPECT_FALSE(picture.IsGif());
  EXPECT_EQ(picture.SurfaceSize(), QSize(5, 3));
  EXPECT_EQ(picture.size(), QSize(5, 3));
  picture.StartDrawing();
  const QImage surface = picture.SurfaceCopy();
  EXPECT_EQ(surface.pixel(0, 0), Rgb(kRed));
  EXPECT_EQ(surface.pixel(4, 2), Rgb(kBlue));

  // The same through a file, and painting copies the surface to the window.
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("still.png");
  ASSERT_TRUE(png.save(path, "PNG"));
  ASSERT_TRUE(picture.LoadPicture(path.toStdU16String()));
  picture.StartDrawing();
  const QImage shown = picture.grab().toImage();
  EXPECT_EQ(shown.pixel(0, 0), Rgb(kRed));
  EXPECT_EQ(shown.pixel(3, 1), Rgb(kBlue));
}

TEST_F(AnimatedPictureTest, UnloadableDataLeavesTheControlEmpty) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string empty = dir.filePath("empty.gif").toStdString();
  std::ofstream(empty).close();
  const std::string garbage = dir.filePath("garbage.bin").toStdString();
  std::ofstream(garbage) << "this is not a picture at all";

  CAnimatedPicture picture;
  ASSERT_TRUE(picture.LoadFromMemory(MakeTestGif(4, 4, {Frame(0, 0, 4, 4, kRed)})));
  // Each failing load also drops what was loaded before.
  EXPECT_FALSE(picture.LoadPicture(QString::fromStdString(empty).toStdU16String()));
  EXPECT_EQ(picture.SurfaceSize(), QSize());
  EXPECT_FALSE(picture.LoadPicture(QString::fromStdString(garbage).toStdU16String()));
  EXPECT_FALSE(picture.LoadPicture(dir.filePath("missing.gif").toStdU16String()));
  // A GIF without frames, and one cut short inside its global colour table.
  const std::vector<std::uint8_t> noFrames = MakeTestGif(4, 4, {});
  EXPECT_FALSE(picture.LoadFromMemory(noFrames));
  EXPECT_FALSE(picture.LoadFromMemory(std::span(noFrames).first(15)));
  // A logical screen too large to hold a surface for.
  EXPECT_FALSE(picture.LoadFromMemory(
      MakeTestGif(65535, 65535, {Frame(0, 0, 1, 1, kRed, 1), Frame(0, 0, 1, 1, kRed, 1)})));
  EXPECT_EQ(picture.SurfaceSize(), QSize());
  EXPECT_TRUE(picture.SurfaceCopy().isNull());
  picture.StartDrawing();  // nothing loaded: nothing happens
  EXPECT_FALSE(picture.IsPlaying());
  picture.StopAnimation();
  picture.ReleasePicture();
}

TEST_F(AnimatedPictureTest, DisposalMethodsAndTheClearAfterTheLastFrame) {
  CAnimatedPicture picture;
  ASSERT_TRUE(picture.LoadFromMemory(
      MakeTestGif(8, 8,
                  {Frame(0, 0, 8, 4, kRed, 1, 1), Frame(2, 2, 3, 3, kBlue, 1, 2),
                   Frame(0, 0, 1, 1, kGreen, 1, 3), Frame(5, 5, 2, 2, kWhite, 0)})));
  const QRgb background = picture.BackgroundColor().rgb();
  FrameRecorder recorder(picture);
  picture.StartDrawing();
  ASSERT_TRUE(WaitUntil([&] { return recorder.Count() >= 5; }, 10000));
  picture.StopAnimation();

  for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(recorder.FrameIndex(i), i % 4);
  const QImage first = recorder.Surface(0);
  EXPECT_EQ(first.pixel(0, 0), Rgb(kRed));
  EXPECT_EQ(first.pixel(6, 6), background);

  const QImage second = recorder.Surface(1);
  EXPECT_EQ(second.pixel(2, 2), Rgb(kBlue));
  EXPECT_EQ(second.pixel(4, 4), Rgb(kBlue));
  EXPECT_EQ(second.pixel(0, 0), Rgb(kRed));

  // Disposal 2 cleared the blue square to the background, red included.
  const QImage third = recorder.Surface(2);
  EXPECT_EQ(third.pixel(2, 2), background);
  EXPECT_EQ(third.pixel(4, 4), background);
  EXPECT_EQ(third.pixel(5, 2), Rgb(kRed));
  EXPECT_EQ(third.pixel(0, 0), Rgb(kGreen));

  // Disposal 3 gave the red pixel back.
  const QImage fourth = recorder.Surface(3);
  EXPECT_EQ(fourth.pixel(0, 0), Rgb(kRed));
  EXPECT_EQ(fourth.pixel(5, 5), Rgb(kWhite));
  EXPECT_EQ(fourth.pixel(2, 2), background);

  // After the last frame the whole surface was cleared before frame 0.
  const QImage again = recorder.Surface(4);
  EXPECT_EQ(again.pixel(5, 5), background);
  EXPECT_EQ(again.pixel(2, 2), Rgb(kRed));
  EXPECT_EQ(again.pixel(0, 0), Rgb(kRed));
}

TEST_F(AnimatedPictureTest, StopEndsALongWaitAtOnceAndStartContinuesFromTheFrame) {
  CAnimatedPicture picture;
  ASSERT_TRUE(picture.LoadFromMemory(
      MakeTestGif(4, 4,
                  {Frame(0, 0, 4, 4, kRed, 1), Frame(1, 1, 2, 2, kBlue, 1000, 2),
                   Frame(0, 0, 1, 1, kGreen, 1)})));
  FrameRecorder recorder(picture);
  picture.StopAnimation();  // nothing runs: harmless
  picture.StartDrawing();
  picture.StartDrawing();  // already playing: still one drawing thread
  ASSERT_TRUE(WaitUntil([&] { return recorder.Count() >= 2; }, 5000));
  EXPECT_EQ(recorder.FrameIndex(1), 1u);
  EXPECT_TRUE(picture.IsPlaying());

  QElapsedTimer timer;
  timer.start();
  picture.StopAnimation();  // frame 1 waits ten seconds
  EXPECT_LT(timer.elapsed(), 500);
  EXPECT_FALSE(picture.IsPlaying());
  EXPECT_EQ(picture.CurrentFrame(), 1u);
  EXPECT_EQ(recorder.Count(), 2u);
  // Stopping keeps what is on the surface.
  EXPECT_EQ(picture.SurfaceCopy().pixel(1, 1), Rgb(kBlue));

  picture.StartDrawing();
  ASSERT_TRUE(WaitUntil([&] { return recorder.Count() >= 3; }, 5000));
  EXPECT_EQ(recorder.FrameIndex(2), 1u);  // the stopped frame is drawn again
  timer.restart();
  picture.ReleasePicture();
  EXPECT_LT(timer.elapsed(), 500);
  EXPECT_EQ(picture.FrameCount(), 0u);
  EXPECT_EQ(picture.SurfaceSize(), QSize());
  EXPECT_EQ(picture.CurrentFrame(), 0u);
}

TEST_F(AnimatedPictureTest, CallsFromAnotherThreadReachTheWidgetQueued) {
  auto picture = std::make_unique<CAnimatedPicture>();
  picture->move(3, 4);
  const std::vector<std::uint8_t> gif =
      MakeTestGif(12, 7, {Frame(0, 0, 12, 7, kGreen, 1000), Frame(0, 0, 1, 1, kRed, 1000)});
  FrameRecorder recorder(*picture);
  bool loaded = false;
  std::thread animation([&] {
    loaded = picture->LoadFromMemory(gif);
    picture->StartDrawing();
  });
  animation.join();  // never waited for the GUI thread
  ASSERT_TRUE(loaded);
  EXPECT_TRUE(WaitUntil([&] { return picture->geometry() == QRect(3, 4, 12, 7); }, 5000));
  ASSERT_TRUE(WaitUntil([&] { return recorder.Count() >= 1; }, 5000));
  EXPECT_TRUE(
      WaitUntil([&] { return picture->grab().toImage().pixel(6, 3) == Rgb(kGreen); }, 5000));

  // Destroying the control while it plays ends the drawing thread.
  QElapsedTimer timer;
  timer.start();
  picture.reset();
  EXPECT_LT(timer.elapsed(), 500);
}

TEST_F(AnimatedPictureTest, TheDialogsPicturesAreDrawnOnTheWindowsOwnBackground) {
  // A dark style: the strip between the dots and inside the bar is the
  // window's colour, not white.
  for (const QColor window : {QColor(0x2A, 0x2E, 0x32), QColor(0xEF, 0xF0, 0xF1)}) {
    QWidget dialog;
    QPalette palette = dialog.palette();
    palette.setColor(QPalette::Window, window);
    dialog.setPalette(palette);
    auto* picture = new CAnimatedPicture(&dialog);
    const QString resources = QStringLiteral(WAVREL_TEST_RESOURCES_DIR);
    ASSERT_TRUE(picture->LoadPicture((resources + "/static.gif").toStdU16String()));
    picture->StartDrawing();
    EXPECT_EQ(picture->SurfaceCopy().pixel(1, 1), window.rgb());  // inside the bar's border
    EXPECT_EQ(picture->SurfaceCopy().pixel(0, 0), qRgb(0x80, 0x80, 0x80));  // the border

    FrameRecorder recorder(*picture);
    ASSERT_TRUE(picture->LoadPicture((resources + "/process.gif").toStdU16String()));
    picture->StartDrawing();
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count() >= 2; }, 5000));
    picture->StopAnimation();
    EXPECT_EQ(recorder.Surface(1).pixel(0, 0), window.rgb());
    EXPECT_EQ(recorder.Surface(1).pixel(0, 12), window.rgb());
  }
}

}  // namespace
}  // namespace wavrel
