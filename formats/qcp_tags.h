// What a QCP file says about itself: the "labl" chunk (a title such as
// "Meeting 2009-03-01") and the "text" chunk (a note such as "Voice memo from
// ..."). Writers put them before the data chunk or after it, so the whole
// chunk list is walked, reading only chunk headers and the two payloads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <string>

#include "base/little_endian.h"
#include "formats/qcp_format.h"

namespace qcp {

/// Bytes of each tag taken at most; a longer one is cut there.
inline constexpr std::size_t kMaxTagBytes = 4096;
/// Chunks looked at at most: a file of millions of empty chunks ends early.
inline constexpr std::size_t kMaxChunks = 4096;

struct QcpTags {
  std::string label;  ///< the labl chunk's text, empty when there is none
  std::string text;   ///< the text chunk's text, empty when there is none
};

/// Reads up to `size` bytes at `offset` of the file into `out` and returns how
/// many it read (fewer at the end of the file or after an error).
using ReadAtFunction =
    std::function<std::size_t(std::uint64_t offset, std::uint8_t* out, std::size_t size)>;

/// The tags of a file of fileSize bytes, read through `read`. A tag is the
/// chunk's bytes up to its first NUL (no NUL: all of them), at most
/// kMaxTagBytes, never more than the file holds; the first chunk of each kind
/// counts. A file that is not a RIFF "QLCM" chunk list has no tags; the walk
/// ends at the end of the file, at a chunk header it cannot read, or after a
/// chunk that runs past the end (whose bytes that are there still count).
inline QcpTags ReadTags(const ReadAtFunction& read, std::uint64_t fileSize) {
  QcpTags tags;
  std::uint8_t riff[12];
  if (fileSize < 12 || read(0, riff, 12) != 12 || std::memcmp(riff, kRiffId.data(), 4) != 0 ||
      std::memcmp(riff + 8, kQlcmId.data(), 4) != 0) {
    return tags;
  }
  bool haveLabel = false, haveText = false;
  std::uint64_t at = 12;
  for (std::size_t chunks = 0; chunks < kMaxChunks && at + 8 <= fileSize; ++chunks) {
    std::uint8_t header[8];
    if (read(at, header, 8) != 8) break;
    const std::uint64_t size = wavrel::Le32(std::span<const std::uint8_t>(header), 4);
    const std::uint64_t payload = at + 8;
    const bool isLabel = !haveLabel && std::memcmp(header, "labl", 4) == 0;
    const bool isText = !haveText && std::memcmp(header, "text", 4) == 0;
    if (isLabel || isText) {
      std::uint64_t want = size < fileSize - payload ? size : fileSize - payload;
      if (want > kMaxTagBytes) want = kMaxTagBytes;
      std::uint8_t bytes[kMaxTagBytes];
      const std::size_t got = read(payload, bytes, static_cast<std::size_t>(want));
      const void* nul = std::memchr(bytes, 0, got);
      const std::size_t length =
          nul != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - bytes)
                         : got;
      (isLabel ? tags.label : tags.text).assign(reinterpret_cast<const char*>(bytes), length);
      (isLabel ? haveLabel : haveText) = true;
      if (haveLabel && haveText) break;
    }
    at = payload + size + size % 2;
  }
  return tags;
}

/// The same over a whole file in memory.
inline QcpTags ReadTags(const std::uint8_t* bytes, std::size_t size) {
  return ReadTags(
      [bytes, size](std::uint64_t offset, std::uint8_t* out, std::size_t want) -> std::size_t {
        if (offset >= size) return 0;
        const std::size_t n = want < size - offset ? want : static_cast<std::size_t>(size - offset);
        std::memcpy(out, bytes + offset, n);
        return n;
      },
      size);
}

}  // namespace qcp
