#include "frontends/dialog_qt/testing/test_gif.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

namespace wavrel::testing {
namespace {

void Put16(std::vector<std::uint8_t>& out, int value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

/// LZW data that never lets the code table grow past 3-bit codes: a clear
/// code before every two pixels (minimum code size 2).
std::vector<std::uint8_t> SolidImageData(int pixels, std::uint8_t index) {
  constexpr int kClear = 4;
  constexpr int kEnd = 5;
  std::vector<int> codes;
  for (int i = 0; i < pixels; i += 2) {
    codes.push_back(kClear);
    codes.push_back(index);
    if (i + 1 < pixels) codes.push_back(index);
  }
  codes.push_back(kEnd);
  std::vector<std::uint8_t> packed;
  unsigned accumulator = 0;
  int bits = 0;
  for (int code : codes) {
    accumulator |= static_cast<unsigned>(code) << bits;
    bits += 3;
    while (bits >= 8) {
      packed.push_back(static_cast<std::uint8_t>(accumulator & 0xFF));
      accumulator >>= 8;
      bits -= 8;
    }
  }
  if (bits > 0) packed.push_back(static_cast<std::uint8_t>(accumulator & 0xFF));
  std::vector<std::uint8_t> blocks;
  for (std::size_t at = 0; at < packed.size(); at += 255) {
    const std::size_t n = std::min<std::size_t>(255, packed.size() - at);
    blocks.push_back(static_cast<std::uint8_t>(n));
    blocks.insert(blocks.end(), packed.begin() + static_cast<std::ptrdiff_t>(at),
                  packed.begin() + static_cast<std::ptrdiff_t>(at + n));
  }
  blocks.push_back(0);
  return blocks;
}

}  // namespace

QColor TestColourOf(TestColour colour) {
  switch (colour) {
    case kRed:
      return QColor(255, 0, 0);
    case kGreen:
      return QColor(0, 255, 0);
    case kBlue:
      return QColor(0, 0, 255);
    case kWhite:
      return QColor(255, 255, 255);
  }
  return {};
}

TestFrame Frame(int left, int top, int width, int height, TestColour colour,
                std::optional<std::uint16_t> delay, std::uint8_t disposal,
                bool commentBeforeImage) {
  TestFrame frame;
  frame.left = left;
  frame.top = top;
  frame.width = width;
  frame.height = height;
  frame.colour = colour;
  frame.delay = delay;
  frame.disposal = disposal;
  frame.commentBeforeImage = commentBeforeImage;
  return frame;
}

std::vector<std::uint8_t> MakeTestGif(int screenWidth, int screenHeight,
                                      const std::vector<TestFrame>& frames, bool withTrailer) {
  std::vector<std::uint8_t> out{'G', 'I', 'F', '8', '9', 'a'};
  Put16(out, screenWidth);
  Put16(out, screenHeight);
  out.push_back(0x81);  // global table of 4 entries
  out.push_back(0);
  out.push_back(0);
  for (TestColour c : {kRed, kGreen, kBlue, kWhite}) {
    const QColor rgb = TestColourOf(c);
    out.push_back(static_cast<std::uint8_t>(rgb.red()));
    out.push_back(static_cast<std::uint8_t>(rgb.green()));
    out.push_back(static_cast<std::uint8_t>(rgb.blue()));
  }
  for (const TestFrame& frame : frames) {
    if (frame.delay) {
      const auto packed = static_cast<std::uint8_t>((frame.disposal << 2) | frame.transparent);
      out.insert(out.end(), {0x21, 0xF9, 4, packed});
      Put16(out, *frame.delay);
      out.insert(out.end(), {static_cast<std::uint8_t>(frame.colour), 0});
    }
    if (frame.commentBeforeImage) out.insert(out.end(), {0x21, 0xFE, 2, 'h', 'i', 0});
    out.push_back(0x2C);
    Put16(out, frame.left);
    Put16(out, frame.top);
    Put16(out, frame.width);
    Put16(out, frame.height);
    out.push_back(0);
    out.push_back(2);  // LZW minimum code size
    const std::vector<std::uint8_t> data = SolidImageData(frame.width * frame.height, frame.colour);
    out.insert(out.end(), data.begin(), data.end());
  }
  if (withTrailer) out.push_back(0x3B);
  return out;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return true;
}

void EnsureTestApplication() {
  static int argc = 1;
  static char name[] = "wavrel_ui_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);  // lives until exit
  (void)app;
}

}  // namespace wavrel::testing

// Read by LeakSanitizer in a sanitizer build: fontconfig keeps its font
// caches for the life of the process (Qt never calls FcFini).
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
