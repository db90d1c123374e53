// Block-buffered reading and writing over stdio files. The converters move a
// few bytes per packet; going through fread/fwrite for each packet would cost
// more than the conversion itself, so both sides work on 1 MiB blocks and keep
// memory constant whatever the file size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <vector>

namespace vocrate {

inline constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

/// Reads a stdio file from its current position in large blocks. Does not own
/// the file. At most `limit` bytes are taken from the file, so a file that
/// grows while it is read (for instance one the run itself appends to) still
/// ends.
class BlockReader {
 public:
  explicit BlockReader(std::FILE* file,
                       std::uint64_t limit = std::numeric_limits<std::uint64_t>::max());

  /// Makes at least `want` bytes (at most kBlockBytes) available at Data()
  /// unless the file or the limit ends first. Returns the bytes available.
  std::size_t Ensure(std::size_t want);
  const std::uint8_t* Data() const { return m_buffer.data() + m_begin; }
  std::size_t Available() const { return m_end - m_begin; }
  void Consume(std::size_t n) { m_begin += n; }

  /// True when a read failed for another reason than the end of the file.
  bool Failed() const { return m_failed; }

 private:
  std::FILE* m_file;
  std::uint64_t m_left;
  std::vector<std::uint8_t> m_buffer;
  std::size_t m_begin = 0;
  std::size_t m_end = 0;
  bool m_eof = false;
  bool m_failed = false;
};

/// Appends to a stdio file in large blocks (the buffer grows to one block as
/// data comes, so a short output costs little). Does not own the file; Flush()
/// hands everything buffered to the file (and the file's own buffer to the
/// system). A failed write is remembered, never thrown.
class BlockWriter {
 public:
  explicit BlockWriter(std::FILE* file);
  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;

  /// Room for `n` bytes (n <= kBlockBytes) at the end of the buffer; the
  /// caller fills all of them.
  std::uint8_t* Append(std::size_t n) {
    if (m_used + n > m_buffer.size()) Make(n);
    std::uint8_t* p = m_buffer.data() + m_used;
    m_used += n;
    return p;
  }
  void Flush();
  bool Failed() const { return m_failed; }

 private:
  /// Room for n more bytes: grows the buffer while it is smaller than a
  /// block, else writes out what it holds.
  void Make(std::size_t n);
  void Drain();

  /// The buffer starts this small and doubles up to kBlockBytes.
  static constexpr std::size_t kFirstBlockBytes = std::size_t{4} << 10;

  std::FILE* m_file;
  std::vector<std::uint8_t> m_buffer;
  std::size_t m_used = 0;
  bool m_failed = false;
};

}  // namespace vocrate
