// What a recording says about itself, carried into its WAV file: a RIFF
// LIST chunk of form "INFO" after the data chunk, with the title (INAM, from
// the QCP file's labl chunk) and the comment (ICMT, from its text chunk).
// It comes after the samples so that the first 44 bytes stay the canonical
// header that every tool (and --skip-existing) reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace wavrel {

struct WavTags {
  std::string title;    ///< INAM; bytes, as the recording gave them
  std::string comment;  ///< ICMT
};

/// Bytes of each text written at most; a longer one is cut there.
inline constexpr std::size_t kMaxWavTagBytes = 4096;

/// The bytes that follow the PCM bytes of a WAV whose data chunk holds
/// pcmLength bytes: one pad byte when pcmLength is odd (so the LIST chunk
/// starts on an even offset), then "LIST", its size, "INFO", and an INAM and
/// an ICMT subchunk, each holding its text up to its first NUL and at most
/// kMaxWavTagBytes, then a terminating NUL, padded to an even size. An empty
/// text gets no subchunk; with both empty the result is empty, and the WAV
/// stays byte for byte what it is without tags. The header's RIFF size must
/// count these bytes: 36 + pcmLength + the size of the result (which is at
/// most 2 * kMaxWavTagBytes + 32).
std::vector<std::uint8_t> BuildWavTagTrailer(std::uint64_t pcmLength, const WavTags& tags);

}  // namespace wavrel
