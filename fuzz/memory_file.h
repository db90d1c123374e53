// stdio files over memory, for targets whose reader takes a FILE*.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace wavrel::fuzz {

/// A read-only FILE* over a copy of data (also for no data at all, which
/// fmemopen does not take).
class InputFile {
 public:
  InputFile(const std::uint8_t* data, std::size_t size) : m_bytes(data, data + size) {
    m_file = size == 0 ? std::fopen("/dev/null", "rb") : fmemopen(m_bytes.data(), size, "rb");
    if (!m_file) std::abort();
  }
  ~InputFile() { std::fclose(m_file); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  std::FILE* get() const { return m_file; }

 private:
  std::vector<std::uint8_t> m_bytes;
  std::FILE* m_file = nullptr;
};

/// A growing, seekable, writable FILE* in memory (fopencookie: open_memstream
/// reports the position at close as the size, which loses what lies past a
/// header written last); Bytes() closes it and hands over what was written.
class OutputFile {
 public:
  OutputFile() {
    const cookie_io_functions_t io{
        .read = nullptr, .write = &Write, .seek = &Seek, .close = nullptr};
    m_file = fopencookie(this, "wb", io);
    if (!m_file) std::abort();
  }
  ~OutputFile() {
    if (m_file) std::fclose(m_file);
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  std::FILE* get() const { return m_file; }
  std::string Bytes() {
    if (m_file) std::fclose(m_file), m_file = nullptr;
    return m_bytes;
  }

 private:
  static ssize_t Write(void* cookie, const char* data, std::size_t size) {
    auto* self = static_cast<OutputFile*>(cookie);
    if (self->m_bytes.size() < self->m_position + size)
      self->m_bytes.resize(self->m_position + size);
    self->m_bytes.replace(self->m_position, size, data, size);
    self->m_position += size;
    return static_cast<ssize_t>(size);
  }
  static int Seek(void* cookie, off64_t* offset, int whence) {
    auto* self = static_cast<OutputFile*>(cookie);
    const off64_t base = whence == SEEK_SET   ? 0
                         : whence == SEEK_CUR ? static_cast<off64_t>(self->m_position)
                                              : static_cast<off64_t>(self->m_bytes.size());
    if (base + *offset < 0) return -1;
    self->m_position = static_cast<std::size_t>(base + *offset);
    *offset = base + *offset;
    return 0;
  }

  std::string m_bytes;
  std::size_t m_position = 0;
  std::FILE* m_file = nullptr;
};

}  // namespace wavrel::fuzz
