// The GIF block walker: the toolkit-free half of the animated picture
// control. It reads only the GIF block structure (no image data is decoded):
// it tells a GIF from other data, reads the logical screen, counts frames and
// cuts every frame out as a stand-alone single-frame GIF that any picture
// loader can decode.
//
// Layout relied on (GIF87a/GIF89a, 16-bit values little-endian): a 6-byte
// header ("GIF" and "87a" or "89a"), the 7-byte logical screen descriptor
// (width, height, packed byte, background index, aspect ratio), a global
// colour table of 3 * 2^((packed & 7) + 1) bytes when bit 7 of the packed
// byte is set, then blocks. The first block starts at 13 + globalTableSize.
//
// Every field is read with a bounds check: no input makes the walker read
// past the end of its data. A damaged GIF is walked as far as its blocks can
// be passed; the walk stops at the first block that is unrecognised, has no
// length, or would reach past the end.
//
// Typical use by the picture control:
//
//   GifBlockWalker walker(bytes);
//   if (!walker.IsGif()) -> hand the bytes to the picture loader whole
//   else if (!walker.HasScreen()) -> the load fails
//   else switch (walker.CountFrames()):
//     0 -> the load fails; 1 -> load the bytes whole as a still picture;
//     n -> while (auto frame = walker.NextFrameData()) load frame->gif.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace wavrel {

/// The delay of a frame that has no graphic control extension.
inline constexpr std::uint32_t kGifNoDelay = 0xFFFFFFFF;

/// Kind of the block at an offset, by its first byte (and for 0x21 the label
/// byte after it).
enum class GifBlockKind {
  kApplication,     // 0x21 0xFF
  kComment,         // 0x21 0xFE
  kGraphicControl,  // 0x21 0xF9
  kPlainText,       // 0x21 0x01
  kImage,           // 0x2C
  kTrailer,         // 0x3B
  kUnrecognised,    // anything else, also at or past the end: cannot be passed
};

/// One frame cut out of an animated GIF.
struct GifFrameData {
  /// A complete single-frame GIF: the data's own header, logical screen
  /// descriptor and global colour table, the frame's blocks (its graphic
  /// control extension, any extensions after it, the image), and 0x3B.
  std::vector<std::uint8_t> gif;
  /// Size and position on the logical screen, in pixels, from the image
  /// descriptor. A frame made of a plain text extension has no image
  /// descriptor: these then hold its text grid's size and position.
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t left = 0;
  std::uint32_t top = 0;
  /// Hundredths of a second from the frame's first graphic control
  /// extension; kGifNoDelay when it has none.
  std::uint32_t delay = kGifNoDelay;
  /// Disposal method 0 to 7 ((packed >> 2) & 7); 0 without an extension.
  std::uint32_t disposal = 0;
};

/// What the first 13 bytes say.
struct GifInfo {
  bool isGif = false;               // signature "GIF", version "87a" or "89a"
  std::uint32_t width = 0;          // logical screen, pixels
  std::uint32_t height = 0;         // logical screen, pixels
  std::size_t globalTableSize = 0;  // bytes, 0 without a global colour table
};

/// Walks the blocks of a GIF held in memory. It does not copy the data: the
/// caller keeps the bytes alive and unchanged while the walker is used. Not
/// thread-safe; one walker per load.
class GifBlockWalker {
 public:
  explicit GifBlockWalker(std::span<const std::uint8_t> data);

  /// True for the signature "GIF" with version "87a" or "89a". Other
  /// versions are not walked: such data goes to the picture loader whole,
  /// like any data that is not a GIF.
  bool IsGif() const { return m_info.isGif; }
  /// True for a GIF whose data holds at least the header, the logical screen
  /// descriptor and the whole global colour table; a GIF without them cannot
  /// be loaded.
  bool HasScreen() const;
  std::uint32_t ScreenWidth() const { return m_info.width; }
  std::uint32_t ScreenHeight() const { return m_info.height; }
  std::size_t GlobalTableSize() const { return m_info.globalTableSize; }
  const GifInfo& Info() const { return m_info; }

  /// 13 + GlobalTableSize(): where the first block starts.
  std::size_t FirstBlockOffset() const { return 13 + m_info.globalTableSize; }
  /// Offset of the next block to be read.
  std::size_t ReadOffset() const { return m_readOffset; }
  /// Back to the first block.
  void Rewind() { m_readOffset = FirstBlockOffset(); }

  /// Kind of the block at ReadOffset().
  GifBlockKind BlockKindAt() const;
  /// Length of a run of sub-blocks starting at offset, its zero terminator
  /// included; none when the run reaches the end of the data.
  std::optional<std::size_t> SubBlocksLength(std::size_t offset) const;
  /// Length of the whole block at ReadOffset(); none when it has none (an
  /// unrecognised block) or its fields lie past the end of the data.
  std::optional<std::size_t> BlockLength() const;
  /// Moves ReadOffset() past the block there. False, leaving the offset, for
  /// a block without a length or one that would reach past the end.
  bool SkipBlock();

  /// Passes one frame from ReadOffset(); false, at the trailer or on a block
  /// that cannot be passed. A failed call leaves ReadOffset() where it was.
  bool SkipFrame();
  /// Number of frames from the first block on (SkipFrame until it fails).
  /// Rewinds before and after, so NextFrameData then starts at frame one.
  /// 0 when !IsGif() or !HasScreen().
  std::size_t CountFrames();
  /// Cuts out the frame at ReadOffset() and moves past it; none at the
  /// trailer, on a block that cannot be passed, or when !HasScreen(); a
  /// failed call leaves ReadOffset() where it was.
  std::optional<GifFrameData> NextFrameData();

 private:
  bool WalkFrame(GifFrameData* frame);
  bool Has(std::size_t offset, std::size_t length) const;
  std::uint8_t Byte(std::size_t offset) const;
  std::uint16_t Word(std::size_t offset) const;

  std::span<const std::uint8_t> m_data;
  GifInfo m_info;
  std::size_t m_readOffset = 0;
};

}  // namespace wavrel
