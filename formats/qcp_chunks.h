// Where a QCP file's packets are. A QCP file is a RIFF "QLCM" chunk list:
// after the 12-byte RIFF header come chunks of a 4-byte id, a 4-byte
// little-endian payload size and the payload, padded to an even size. The
// packets are the payload of the "data" chunk. Other writers put chunks of
// their own before it ("labl") or after it ("text"), so the list is walked.
//
// vocrate's own files have their data payload at kHeaderSize and nothing
// after it but the pad byte; they, and files whose header is not a
// well-formed chunk list, are read from kHeaderSize to the end of the file,
// the pad byte included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/little_endian.h"
#include "formats/qcp_format.h"

namespace qcp {

/// Bytes from the start of a file that LocateData looks at: chunks before
/// "data" must have their headers within them.
inline constexpr std::size_t kChunkListBytes = 64 * 1024;

struct DataLocation {
  std::uint64_t offset = kHeaderSize;  ///< first packet byte
  std::uint64_t length = 0;            ///< packet bytes to read from offset
  bool wellFormed = false;             ///< the chunk list leads to a data chunk
  bool cutShort = false;               ///< the data chunk claims more than the file holds
  /// With wellFormed: the data chunk's payload as its size field gives it,
  /// bounded by the file, never counting a pad byte (length may, for
  /// vocrate's own shape). Readers of codecs where a lone byte is a packet of
  /// its own (QCELP's blank) read this many.
  std::uint64_t chunkLength = 0;
};

/// Finds the packets of a file of fileSize bytes whose first headSize bytes
/// are head (headSize may be less than fileSize).
inline DataLocation LocateData(const std::uint8_t* head, std::size_t headSize,
                               std::uint64_t fileSize) {
  DataLocation found;
  found.length = fileSize > kHeaderSize ? fileSize - kHeaderSize : 0;
  const auto is = [&](std::uint64_t at, const char* id) {
    for (int i = 0; i < 4; ++i) {
      if (head[at + i] != static_cast<std::uint8_t>(id[i])) return false;
    }
    return true;
  };
  const auto le32 = [&](std::uint64_t at) {
    return wavrel::Le32(std::span<const std::uint8_t>(head, headSize), at);
  };
  if (headSize < 12 || fileSize < 12 || !is(0, "RIFF") || !is(8, "QLCM")) return found;
  std::uint64_t at = 12;
  while (at + 8 <= headSize && at + 8 <= fileSize) {
    const std::uint64_t size = le32(at + 4);
    const std::uint64_t payload = at + 8;
    if (is(at, "data")) {
      const std::uint64_t held = fileSize - payload;
      found.wellFormed = true;
      found.cutShort = size > held;
      found.offset = payload;
      found.length = found.cutShort ? held : size;
      found.chunkLength = found.length;
      // vocrate's own shape: read as it always was, pad byte included.
      const std::uint64_t end = payload + size;
      if (payload == kHeaderSize && (fileSize == end || (size % 2 == 1 && fileSize == end + 1))) {
        found.length = fileSize - kHeaderSize;
      }
      return found;
    }
    at = payload + size + size % 2;
    if (at > fileSize) break;  // a chunk before data runs past the end
  }
  return found;
}

}  // namespace qcp
