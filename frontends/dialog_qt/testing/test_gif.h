// Small GIFs for tests: solid-coloured frames on a 4-colour global table.
#pragma once

#include <QColor>
#include <QCoreApplication>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace wavrel::testing {

/// Colour indices of the test palette.
enum TestColour : std::uint8_t { kRed = 0, kGreen = 1, kBlue = 2, kWhite = 3 };
QColor TestColourOf(TestColour colour);

struct TestFrame {
  int left = 0;
  int top = 0;
  int width = 1;
  int height = 1;
  TestColour colour = kRed;
  /// Hundredths of a second; no graphic control extension when empty.
  std::optional<std::uint16_t> delay;
  std::uint8_t disposal = 0;
  /// A comment extension between the control extension and the image.
  bool commentBeforeImage = false;
  /// The frame's colour is its control extension's transparent colour.
  bool transparent = false;
};

/// A solid frame; a control extension only when delay is given.
TestFrame Frame(int left, int top, int width, int height, TestColour colour,
                std::optional<std::uint16_t> delay = std::nullopt, std::uint8_t disposal = 0,
                bool commentBeforeImage = false);

/// A GIF89a of the given logical screen and frames, ending in a trailer
/// unless withTrailer is false.
std::vector<std::uint8_t> MakeTestGif(int screenWidth, int screenHeight,
                                      const std::vector<TestFrame>& frames,
                                      bool withTrailer = true);

/// Processes Qt events until done() holds or timeoutMs passes; done()'s
/// last answer.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);

/// The process's QApplication (offscreen in the tests' environment).
void EnsureTestApplication();

}  // namespace wavrel::testing
