// The lost-frame record that every run appends to loss_stat.txt: a header
// line naming the source, the position of each lost frame as it is found,
// and a summary with the totals and the loss rate. Line ends are CR LF on
// every platform; the file's format does not follow the platform.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace vocrate {

/// Where a conversion reports lost frames and its totals.
class LossSink {
 public:
  virtual ~LossSink() = default;
  /// A lost frame at `position`, its index among all frames of the run.
  virtual void Lost(std::uint32_t position) = 0;
  /// The end of the run: all frames and the lost ones among them.
  virtual void Summary(std::uint32_t frames, std::uint32_t lost) = 0;
};

/// "FILE : <source> is opened. LOSS PACKAGE POS:" CR LF, then one blank.
std::string FormatLossHeader(std::string_view source_path);
/// One position, "%d, ": the count is printed as a signed 32-bit number.
std::string FormatLossPosition(std::uint32_t position);
/// CR LF " TOTAL FRAMES = f, TOTAL LOSS PACKAGE = l, loss rate = r " CR LF CR LF
/// and one blank. The rate is lost / frames in double precision with six
/// decimals; with no frames at all the quotient 0/0 is not a number and is
/// written "-nan", as glibc's printf spells the x86-64 result of 0.0 / 0.0,
/// whatever the machine, so the record reads the same everywhere.
std::string FormatLossSummary(std::uint32_t frames, std::uint32_t lost);

/// Writes the record into an open loss_stat.txt (opened for binary append;
/// not owned). Positions are formatted without printf: a hostile input can
/// make every frame a lost one.
/// The text is gathered in a buffer of its own and handed to the file in
/// large pieces; Summary() and Flush() hand over everything gathered.
class LossStatFile final : public LossSink {
 public:
  explicit LossStatFile(std::FILE* file);
  ~LossStatFile() override { Flush(); }
  LossStatFile(const LossStatFile&) = delete;
  LossStatFile& operator=(const LossStatFile&) = delete;

  void Header(std::string_view source_path);
  void Lost(std::uint32_t position) override;
  void Summary(std::uint32_t frames, std::uint32_t lost) override;
  /// Writes out the gathered text and flushes the file; false when a write failed.
  bool Flush();

  /// Text is handed to the file once this much has gathered.
  static constexpr std::size_t kPendingLimit = std::size_t{64} << 10;

 private:
  void Append(std::string_view text);
  void Write(const char* data, std::size_t size);
  void Drain();

  std::FILE* m_file;
  std::vector<char> m_pending;  // kPendingLimit + room for one position
  std::size_t m_used = 0;
  bool m_failed = false;
};

}  // namespace vocrate
