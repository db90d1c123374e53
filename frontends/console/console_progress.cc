#include "frontends/console/console_progress.h"

#include <sys/ioctl.h>

#include "frontends/console/console_args.h"

namespace wavrel::host {

namespace {

std::string ClockText(std::chrono::seconds time) {
  const long long total = time.count();
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof(text), "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                  total % 60);
  } else {
    std::snprintf(text, sizeof(text), "%lld:%02lld", total / 60, total % 60);
  }
  return text;
}

/// Columns a UTF-8 lead byte's character takes: wide East Asian characters
/// two, continuation bytes none.
std::size_t Columns(const std::string& text, std::size_t i) {
  const auto byte = static_cast<unsigned char>(text[i]);
  if ((byte & 0xC0) == 0x80) return 0;
  if (byte >= 0xE1 && byte <= 0xED) return 2;  // U+1000..U+DFFF: mostly CJK
  return 1;
}

/// text cut to at most columns, at a character boundary, "..." marking a cut.
std::string Fit(const std::string& text, std::size_t columns) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size(); ++i) width += Columns(text, i);
  if (width <= columns) return text;
  if (columns < 3) return std::string();
  std::string out;
  width = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t w = Columns(text, i);
    if (w != 0 && width + w > columns - 3) break;
    width += w;
    out.push_back(text[i]);
  }
  return out + "...";
}

}  // namespace

ProgressLine::ProgressLine(std::FILE* stream, bool enabled, std::size_t columns,
                           std::function<Clock::time_point()> now)
    : m_stream(stream), m_enabled(enabled), m_columns(columns), m_now(std::move(now)) {}

std::string ProgressLine::Format(std::size_t done, std::size_t total, std::chrono::seconds elapsed,
                                 const std::string& name, std::size_t columns) {
  const std::size_t percent = total == 0 ? 0 : done * 100 / total;
  std::string line = "[" + std::to_string(done) + "/" + std::to_string(total) + "] " +
                     std::to_string(percent) + "%  " + ClockText(elapsed) + " elapsed, ";
  if (done == 0) {
    line += "--:-- left";
  } else {
    line +=
        ClockText(elapsed * static_cast<long long>(total - done) / static_cast<long long>(done)) +
        " left";
  }
  if (!name.empty()) line += "  " + name;
  // One column stays free: a line that fills the last one wraps on some
  // terminals, and "\r" would then no longer return to its start.
  return Fit(line, columns > 1 ? columns - 1 : 0);
}

void ProgressLine::FileStarted(const std::string& name, std::size_t index, std::size_t count) {
  if (!m_running) {
    m_running = true;
    m_start = m_now();
  }
  m_total = count;
  m_inWork[index] = EscapeForLine(name);
  Draw();
}

void ProgressLine::FileFinished(std::size_t index) {
  // Drawn with the file's line, which follows at once.
  if (m_inWork.erase(index) != 0) ++m_done;
}

void ProgressLine::Tick() {
  if (m_shown && m_now() - m_lastDrawn >= std::chrono::seconds(1)) Draw();
}

void ProgressLine::Erase() {
  if (!m_shown) return;
  std::fputs("\r\033[K", m_stream);
  std::fflush(m_stream);
  m_shown = false;
}

void ProgressLine::Redraw() {
  if (m_running) Draw();
}

void ProgressLine::Draw() {
  if (!m_enabled) return;
  m_lastDrawn = m_now();
  const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(m_lastDrawn - m_start);
  const std::string line =
      "\r" +
      Format(m_done, m_total, elapsed, m_inWork.empty() ? std::string() : m_inWork.rbegin()->second,
             m_columns) +
      "\033[K";
  std::fwrite(line.data(), 1, line.size(), m_stream);
  std::fflush(m_stream);
  m_shown = true;
}

std::size_t TerminalColumns(int fd) {
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace wavrel::host
