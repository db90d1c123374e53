#include "converter/loss_stat.h"

namespace vocrate {
namespace {

// Writes "%d, " for the value read as a signed 32-bit number; returns the
// length. `out` holds at least 13 bytes.
std::size_t PutPosition(std::uint32_t position, char* out) {
  char digits[10];
  std::size_t n = 0;
  const bool negative = static_cast<std::int32_t>(position) < 0;
  std::uint32_t magnitude = negative ? 0u - position : position;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  std::size_t len = 0;
  if (negative) out[len++] = '-';
  while (n != 0) out[len++] = digits[--n];
  out[len++] = ',';
  out[len++] = ' ';
  return len;
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

namespace {
constexpr std::size_t kPendingLimit = std::size_t{64} << 10;
}  // namespace

LossStatFile::LossStatFile(std::FILE* file) : m_file(file) {
  m_pending.reserve(kPendingLimit + 64);
}

void LossStatFile::Header(std::string_view source_path) {
  m_pending += FormatLossHeader(source_path);
}

void LossStatFile::Lost(std::uint32_t position) {
  char buffer[16];
  m_pending.append(buffer, PutPosition(position, buffer));
  if (m_pending.size() >= kPendingLimit) {
    if (std::fwrite(m_pending.data(), 1, m_pending.size(), m_file) != m_pending.size()) {
      m_failed = true;
    }
    m_pending.clear();
  }
}

void LossStatFile::Summary(std::uint32_t frames, std::uint32_t lost) {
  m_pending += FormatLossSummary(frames, lost);
  Flush();
}

bool LossStatFile::Flush() {
  if (!m_pending.empty() &&
      std::fwrite(m_pending.data(), 1, m_pending.size(), m_file) != m_pending.size()) {
    m_failed = true;
  }
  m_pending.clear();
  if (std::fflush(m_file) != 0) m_failed = true;
  return !m_failed;
}

}  // namespace vocrate
