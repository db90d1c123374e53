// The GIF block walker over any bytes, and the frame cutting of the animated
// picture: every frame counted is cut, and every cut frame is itself a GIF
// of one frame with the same fields, made only of the data's own bytes.
#include <span>

#include "frontends/animation/gif_walker.h"
#include "fuzz/fuzz_target.h"

using wavrel::GifBlockWalker;

WAVREL_FUZZ_TARGET(gif_walker)(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  GifBlockWalker walker(bytes);
  const std::size_t frames = walker.CountFrames();
  if (!walker.IsGif() || !walker.HasScreen()) {
    FUZZ_CHECK(frames == 0 && !walker.NextFrameData());
    return 0;
  }
  FUZZ_CHECK(walker.ReadOffset() == walker.FirstBlockOffset());
  const std::size_t head = walker.FirstBlockOffset();
  FUZZ_CHECK(head <= size);

  std::size_t cut = 0;
  while (auto frame = walker.NextFrameData()) {
    ++cut;
    FUZZ_CHECK(cut <= frames);
    FUZZ_CHECK(walker.ReadOffset() <= size);
    const std::vector<std::uint8_t>& gif = frame->gif;
    // Header, screen and table of the data, the frame's blocks, a trailer.
    FUZZ_CHECK(gif.size() > head && gif.size() <= size + 1);
    FUZZ_CHECK(std::equal(gif.begin(), gif.begin() + static_cast<std::ptrdiff_t>(head), data));
    FUZZ_CHECK(gif.back() == 0x3B);
    FUZZ_CHECK(frame->disposal <= 7);

    GifBlockWalker single(gif);
    FUZZ_CHECK(single.IsGif() && single.HasScreen());
    FUZZ_CHECK(single.CountFrames() == 1);
    auto again = single.NextFrameData();
    FUZZ_CHECK(again && again->gif == gif);
    FUZZ_CHECK(again->width == frame->width && again->height == frame->height);
    FUZZ_CHECK(again->left == frame->left && again->top == frame->top);
    FUZZ_CHECK(again->delay == frame->delay && again->disposal == frame->disposal);
    FUZZ_CHECK(!single.NextFrameData());
  }
  FUZZ_CHECK(cut == frames);
  return 0;
}
