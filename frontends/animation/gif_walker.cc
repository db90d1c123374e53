#include "frontends/animation/gif_walker.h"

#include <cstring>

namespace wavrel {

namespace {

constexpr std::size_t kHeaderSize = 6;
constexpr std::size_t kScreenEnd = 13;  // header + logical screen descriptor
constexpr std::size_t kGraphicControlSize = 8;
constexpr std::uint8_t kExtension = 0x21;
constexpr std::uint8_t kImage = 0x2C;
constexpr std::uint8_t kTrailer = 0x3B;

// Bytes of a colour table whose packed byte is packed, 0 without one.
std::size_t ColourTableSize(std::uint8_t packed) {
  if ((packed & 0x80) == 0) return 0;
  return std::size_t{3} << ((packed & 7) + 1);
}

}  // namespace

GifBlockWalker::GifBlockWalker(std::span<const std::uint8_t> data) : m_data(data) {
  if (Has(0, kHeaderSize) && std::memcmp(m_data.data(), "GIF", 3) == 0 &&
      (std::memcmp(m_data.data() + 3, "87a", 3) == 0 ||
       std::memcmp(m_data.data() + 3, "89a", 3) == 0)) {
    m_info.isGif = true;
    m_info.width = Word(6);
    m_info.height = Word(8);
    if (Has(0, kScreenEnd)) m_info.globalTableSize = ColourTableSize(Byte(10));
  }
  Rewind();
}

bool GifBlockWalker::Has(std::size_t offset, std::size_t length) const {
  return offset <= m_data.size() && length <= m_data.size() - offset;
}

std::uint8_t GifBlockWalker::Byte(std::size_t offset) const {
  return offset < m_data.size() ? m_data[offset] : 0;
}

std::uint16_t GifBlockWalker::Word(std::size_t offset) const {
  return static_cast<std::uint16_t>(Byte(offset) | (Byte(offset + 1) << 8));
}

bool GifBlockWalker::HasScreen() const { return m_info.isGif && Has(0, FirstBlockOffset()); }

GifBlockKind GifBlockWalker::BlockKindAt() const {
  const std::size_t at = m_readOffset;
  if (at >= m_data.size()) return GifBlockKind::kUnrecognised;
  switch (m_data[at]) {
    case kImage:
      return GifBlockKind::kImage;
    case kTrailer:
      return GifBlockKind::kTrailer;
    case kExtension:
      if (at + 1 >= m_data.size()) return GifBlockKind::kUnrecognised;
      switch (m_data[at + 1]) {
        case 0xFF:
          return GifBlockKind::kApplication;
        case 0xFE:
          return GifBlockKind::kComment;
        case 0xF9:
          return GifBlockKind::kGraphicControl;
        case 0x01:
          return GifBlockKind::kPlainText;
        default:
          return GifBlockKind::kUnrecognised;
      }
    default:
      return GifBlockKind::kUnrecognised;
  }
}

std::optional<std::size_t> GifBlockWalker::SubBlocksLength(std::size_t offset) const {
  std::size_t length = 0;
  std::size_t at = offset;
  while (at < m_data.size()) {
    const std::size_t size = m_data[at];
    if (size == 0) return length + 1;
    length += size + 1;
    at += size + 1;
  }
  return std::nullopt;  // the run reaches the end of the data
}

std::optional<std::size_t> GifBlockWalker::BlockLength() const {
  const std::size_t at = m_readOffset;
  auto fixedThenSubBlocks = [&](std::size_t fixed) -> std::optional<std::size_t> {
    const std::optional<std::size_t> rest = SubBlocksLength(at + fixed);
    if (!rest) return std::nullopt;
    return fixed + *rest;
  };
  switch (BlockKindAt()) {
    case GifBlockKind::kApplication:
      return fixedThenSubBlocks(14);
    case GifBlockKind::kComment:
      return fixedThenSubBlocks(2);
    case GifBlockKind::kGraphicControl:
      return kGraphicControlSize;  // fixed: the block-size byte is not read
    case GifBlockKind::kPlainText:
      return fixedThenSubBlocks(15);
    case GifBlockKind::kImage:
      // 10-byte image descriptor, local colour table, LZW minimum code size.
      if (!Has(at, 10)) return std::nullopt;
      return fixedThenSubBlocks(11 + ColourTableSize(m_data[at + 9]));
    case GifBlockKind::kTrailer:
      return 1;
    case GifBlockKind::kUnrecognised:
      break;
  }
  return std::nullopt;
}

bool GifBlockWalker::SkipBlock() {
  if (m_data.empty()) return false;
  const std::optional<std::size_t> length = BlockLength();
  if (!length || !Has(m_readOffset, *length)) return false;
  m_readOffset += *length;
  return true;
}

bool GifBlockWalker::WalkFrame(GifFrameData* frame) {
  if (!HasScreen()) return false;
  const std::size_t entry = m_readOffset;
  auto fail = [&] {
    m_readOffset = entry;
    return false;
  };

  GifBlockKind kind = BlockKindAt();
  while (kind == GifBlockKind::kApplication || kind == GifBlockKind::kComment) {
    if (!SkipBlock()) return fail();
    kind = BlockKindAt();
  }
  if (kind == GifBlockKind::kUnrecognised || kind == GifBlockKind::kTrailer) return fail();

  const std::size_t start = m_readOffset;
  if (!BlockLength()) return fail();
  std::uint32_t delay = kGifNoDelay;
  std::uint32_t disposal = 0;
  if (kind == GifBlockKind::kGraphicControl) {
    if (!Has(start, kGraphicControlSize)) return fail();
    disposal = (Byte(start + 3) >> 2) & 7;
    delay = Word(start + 4);
    if (!SkipBlock()) return fail();
    // Extensions up to the image; the first graphic control extension holds.
    for (kind = BlockKindAt(); kind != GifBlockKind::kImage && kind != GifBlockKind::kPlainText;
         kind = BlockKindAt()) {
      if (kind != GifBlockKind::kApplication && kind != GifBlockKind::kComment &&
          kind != GifBlockKind::kGraphicControl) {
        return fail();
      }
      if (!SkipBlock()) return fail();
    }
  }

  const std::size_t last = m_readOffset;
  if (!SkipBlock()) return fail();
  if (frame == nullptr) return true;

  frame->delay = delay;
  frame->disposal = disposal;
  // Image descriptor: left, top, width, height from +1; a plain text
  // extension's text grid: the same four from +3. SkipBlock has checked
  // that both lie inside the data.
  const std::size_t geometry = last + (kind == GifBlockKind::kImage ? 1 : 3);
  frame->left = Word(geometry);
  frame->top = Word(geometry + 2);
  frame->width = Word(geometry + 4);
  frame->height = Word(geometry + 6);

  const std::size_t head = FirstBlockOffset();
  frame->gif.clear();
  frame->gif.reserve(head + (m_readOffset - start) + 1);
  frame->gif.insert(frame->gif.end(), m_data.begin(), m_data.begin() + head);
  frame->gif.insert(frame->gif.end(), m_data.begin() + start, m_data.begin() + m_readOffset);
  frame->gif.push_back(kTrailer);
  return true;
}

bool GifBlockWalker::SkipFrame() { return WalkFrame(nullptr); }

std::size_t GifBlockWalker::CountFrames() {
  if (!HasScreen()) return 0;
  Rewind();
  std::size_t count = 0;
  while (SkipFrame()) ++count;
  Rewind();
  return count;
}

std::optional<GifFrameData> GifBlockWalker::NextFrameData() {
  GifFrameData frame;
  if (!WalkFrame(&frame)) return std::nullopt;
  return frame;
}

}  // namespace wavrel
