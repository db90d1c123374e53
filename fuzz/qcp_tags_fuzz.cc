// The tag chunk reader over any file, and the WAV LIST/INFO chunk built from
// what it found: every tag bounded and without a NUL, the same through a
// reader that gives the file in small pieces, and the chunk parses back to
// the same texts with even sizes.
#include <cstring>
#include <string>

#include "core/wav_tags.h"
#include "formats/qcp_tags.h"
#include "fuzz/fuzz_target.h"

namespace {

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

WAVREL_FUZZ_TARGET(qcp_tags)(const std::uint8_t* data, std::size_t size) {
  const qcp::QcpTags tags = qcp::ReadTags(data, size);
  for (const std::string* tag : {&tags.label, &tags.text}) {
    FUZZ_CHECK(tag->size() <= qcp::kMaxTagBytes);
    FUZZ_CHECK(tag->find('\0') == std::string::npos);
  }
  // Through a reader that counts its calls: the walk is bounded.
  std::size_t calls = 0;
  const qcp::QcpTags again = qcp::ReadTags(
      [&](std::uint64_t offset, std::uint8_t* out, std::size_t want) -> std::size_t {
        ++calls;
        if (offset >= size) return 0;
        const std::size_t n = std::min<std::size_t>(want, size - offset);
        std::memcpy(out, data + offset, n);
        return n;
      },
      size);
  FUZZ_CHECK(again.label == tags.label && again.text == tags.text);
  FUZZ_CHECK(calls <= 3 + 2 * qcp::kMaxChunks);

  // The WAV chunk, for a data chunk of odd or even length.
  const std::uint64_t pcm = size % 2;
  const std::vector<std::uint8_t> trailer =
      wavrel::BuildWavTagTrailer(pcm, {tags.label, tags.text});
  if (tags.label.empty() && tags.text.empty()) {
    FUZZ_CHECK(trailer.empty());
    return 0;
  }
  const std::uint8_t* p = trailer.data() + pcm;
  FUZZ_CHECK(trailer.size() % 2 == pcm);
  FUZZ_CHECK(std::memcmp(p, "LIST", 4) == 0 && std::memcmp(p + 8, "INFO", 4) == 0);
  FUZZ_CHECK(Le32(p + 4) == trailer.size() - pcm - 8);
  std::string found[2];
  for (std::size_t at = 12; at < trailer.size() - pcm;) {
    const std::uint32_t n = Le32(p + at + 4);
    FUZZ_CHECK(n >= 2 && p[at + 8 + n - 1] == 0);
    const bool title = std::memcmp(p + at, "INAM", 4) == 0;
    FUZZ_CHECK(title || std::memcmp(p + at, "ICMT", 4) == 0);
    found[title ? 0 : 1].assign(reinterpret_cast<const char*>(p + at + 8), n - 1);
    at += 8 + n + n % 2;
    FUZZ_CHECK(at <= trailer.size() - pcm);
  }
  FUZZ_CHECK(found[0] == tags.label.substr(0, wavrel::kMaxWavTagBytes));
  FUZZ_CHECK(found[1] == tags.text.substr(0, wavrel::kMaxWavTagBytes));
  return 0;
}
