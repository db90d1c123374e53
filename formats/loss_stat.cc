#include "formats/loss_stat.h"

#include <cstring>

namespace vocrate {
namespace {

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes "%d, " for the value read as a signed 32-bit number; returns the
// length, at most 13.
std::size_t PutPosition(std::uint32_t position, char* out) {
  char digits[12];
  char* const end = digits + sizeof digits;
  char* p = end;
  const bool negative = static_cast<std::int32_t>(position) < 0;
  std::uint32_t magnitude = negative ? 0u - position : position;
  while (magnitude >= 100) {
    p -= 2;
    std::memcpy(p, kDigitPairs + 2 * (magnitude % 100), 2);
    magnitude /= 100;
  }
  if (magnitude >= 10) {
    p -= 2;
    std::memcpy(p, kDigitPairs + 2 * magnitude, 2);
  } else {
    *--p = static_cast<char>('0' + magnitude);
  }
  if (negative) *--p = '-';
  const std::size_t n = static_cast<std::size_t>(end - p);
  std::memcpy(out, p, n);
  out[n] = ',';
  out[n + 1] = ' ';
  return n + 2;
}

}  // namespace

std::string FormatLossHeader(std::string_view source_path) {
  std::string text = "FILE : ";
  text.append(source_path);
  text.append(" is opened. LOSS PACKAGE POS:\r\n ");
  return text;
}

std::string FormatLossPosition(std::uint32_t position) {
  char buffer[16];
  return std::string(buffer, PutPosition(position, buffer));
}

std::string FormatLossSummary(std::uint32_t frames, std::uint32_t lost) {
  char rate[64];
  if (frames == 0) {
    std::snprintf(rate, sizeof rate, "%s", "-nan");
  } else {
    std::snprintf(rate, sizeof rate, "%f", static_cast<double>(lost) / static_cast<double>(frames));
  }
  char text[160];
  std::snprintf(text, sizeof text,
                "\r\n TOTAL FRAMES = %d, TOTAL LOSS PACKAGE = %d, loss rate = %s \r\n\r\n ",
                static_cast<int>(static_cast<std::int32_t>(frames)),
                static_cast<int>(static_cast<std::int32_t>(lost)), rate);
  return text;
}

LossStatFile::LossStatFile(std::FILE* file) : m_file(file), m_pending(kPendingLimit + 64) {}

void LossStatFile::Append(std::string_view text) {
  if (m_used + text.size() > m_pending.size()) Drain();
  if (text.size() > m_pending.size()) {
    Write(text.data(), text.size());
    return;
  }
  std::memcpy(m_pending.data() + m_used, text.data(), text.size());
  m_used += text.size();
}

void LossStatFile::Header(std::string_view source_path) { Append(FormatLossHeader(source_path)); }

void LossStatFile::Lost(std::uint32_t position) {
  m_used += PutPosition(position, m_pending.data() + m_used);
  if (m_used >= kPendingLimit) Drain();
}

void LossStatFile::Summary(std::uint32_t frames, std::uint32_t lost) {
  Append(FormatLossSummary(frames, lost));
  Flush();
}

void LossStatFile::Write(const char* data, std::size_t size) {
  if (size != 0 && std::fwrite(data, 1, size, m_file) != size) m_failed = true;
}

void LossStatFile::Drain() {
  Write(m_pending.data(), m_used);
  m_used = 0;
}

bool LossStatFile::Flush() {
  Drain();
  if (std::fflush(m_file) != 0) m_failed = true;
  return !m_failed;
}

}  // namespace vocrate
