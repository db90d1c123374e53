#include "formats/block_io.h"

#include <algorithm>
#include <cstring>

namespace vocrate {

// A source shorter than a block gets a buffer of its own size: a small file
// costs no 1 MiB to convert.
BlockReader::BlockReader(std::FILE* file, std::uint64_t limit)
    : m_file(file),
      m_left(limit),
      m_buffer(static_cast<std::size_t>(std::min<std::uint64_t>(limit, kBlockBytes))) {}

std::size_t BlockReader::Ensure(std::size_t want) {
  want = std::min(want, m_buffer.size());
  if (Available() >= want || m_eof) return Available();
  // Keep the unread tail, then fill the rest of the block.
  const std::size_t tail = Available();
  if (m_begin != 0) {
    std::memmove(m_buffer.data(), m_buffer.data() + m_begin, tail);
    m_begin = 0;
    m_end = tail;
  }
  while (m_end < want && !m_eof) {
    const std::size_t room =
        static_cast<std::size_t>(std::min<std::uint64_t>(m_buffer.size() - m_end, m_left));
    const std::size_t got = room == 0 ? 0 : std::fread(m_buffer.data() + m_end, 1, room, m_file);
    m_end += got;
    m_left -= got;
    if (got < room || m_left == 0) {
      m_eof = true;
      if (room != 0 && std::ferror(m_file)) m_failed = true;
    }
  }
  return Available();
}

BlockWriter::BlockWriter(std::FILE* file) : m_file(file), m_buffer(kFirstBlockBytes) {}

void BlockWriter::Make(std::size_t n) {
  // The buffer grows to a whole block before anything is written out.
  if (m_buffer.size() < kBlockBytes) {
    m_buffer.resize(std::min(kBlockBytes, std::max(m_buffer.size() * 2, m_used + n)));
    if (m_used + n <= m_buffer.size()) return;
  }
  Drain();
}

void BlockWriter::Drain() {
  if (m_used != 0 && std::fwrite(m_buffer.data(), 1, m_used, m_file) != m_used) m_failed = true;
  m_used = 0;
}

void BlockWriter::Flush() {
  Drain();
  if (std::fflush(m_file) != 0) m_failed = true;
}

}  // namespace vocrate
