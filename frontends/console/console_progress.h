// The progress line of `wavrel convert` on a terminal: one line on standard
// error, rewritten in place ("\r" and clear to the end of the line) with the
// files done of the total, the percent, the elapsed and remaining time and
// the file in work. It is erased before any other line is printed and
// redrawn after it, so the lines on standard output stay exactly as they are.
//
// Not thread-safe: ConsoleReport calls it with its lock held.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <map>
#include <string>

namespace wavrel::host {

class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;

  /// Writes to stream only when enabled (the caller decides: a terminal, no
  /// --quiet, no machine-readable output). columns: the terminal's width.
  ProgressLine(std::FILE* stream, bool enabled, std::size_t columns,
               std::function<Clock::time_point()> now = Clock::now);

  /// index: the file's place in the run. With several jobs files start
  /// before the ones ahead of them have finished.
  void FileStarted(const std::string& name, std::size_t index, std::size_t count);
  /// Counts the file at index as done; the next Redraw() shows it, with the
  /// latest file started that is still in work.
  void FileFinished(std::size_t index);
  /// Redraws when a second has passed since the last drawing, so the times
  /// move on while a long file converts; not while the line is erased.
  void Tick();
  /// Takes the line off the screen (before another line is printed, and at
  /// the end); Redraw() puts it back.
  void Erase();
  void Redraw();

  /// The line's text without the control characters, at most columns wide.
  static std::string Format(std::size_t done, std::size_t total, std::chrono::seconds elapsed,
                            const std::string& name, std::size_t columns);

 private:
  void Draw();

  std::FILE* const m_stream;
  const bool m_enabled;
  const std::size_t m_columns;
  const std::function<Clock::time_point()> m_now;
  Clock::time_point m_start{};
  Clock::time_point m_lastDrawn{};
  bool m_running = false;
  bool m_shown = false;
  std::size_t m_done = 0;
  std::size_t m_total = 0;
  std::map<std::size_t, std::string> m_inWork;  ///< escaped names by place in the run
};

/// The terminal's width on fd, or 80 when it cannot be told.
std::size_t TerminalColumns(int fd);

}  // namespace wavrel::host
