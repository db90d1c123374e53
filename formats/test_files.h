// Helpers shared by the converter's tests: temporary folders and files, and
// conversions run over byte vectors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/conversion.h"
#include "formats/loss_stat.h"
#include "testing/files.h"

namespace vocrate::testing {

using Bytes = std::vector<std::uint8_t>;

/// A fresh folder below $TMPDIR (or /tmp), removed with its contents; its
/// paths as strings.
class TempDir {
 public:
  const std::string& Path() const { return m_path; }
  std::string operator/(const std::string& name) const { return m_path + "/" + name; }

 private:
  wavrel::testing::TempFolder m_folder{"vocrate_test"};
  std::string m_path = m_folder.Path().string();
};

Bytes ReadFileBytes(const std::string& path);
std::string ReadFileText(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& bytes);
bool FileExists(const std::string& path);

/// Keeps what a conversion reported.
class RecordingLoss final : public LossSink {
 public:
  void Lost(std::uint32_t position) override { positions.push_back(position); }
  void Summary(std::uint32_t frames, std::uint32_t lost) override {
    ++summaries;
    summary_frames = frames;
    summary_lost = lost;
  }
  std::vector<std::uint32_t> positions;
  int summaries = 0;
  std::uint32_t summary_frames = 0;
  std::uint32_t summary_lost = 0;
};

struct Converted {
  Bytes output;
  ConversionResult result;
  RecordingLoss loss;
  long position = -1;  ///< the read position reported by QCP to EVRC
};

/// Runs a conversion over temporary files holding `source`.
Converted EvrcToQcp(const Bytes& source);
Converted QcpToEvrc(const Bytes& source);

/// One raw EVRC record: the rate word, then up to 11 data words.
Bytes Record(std::uint16_t rate, std::vector<std::uint16_t> words = {});
/// A QCP file: a 194-byte header of zeros, then `packets`.
Bytes QcpBody(const Bytes& packets);

}  // namespace vocrate::testing
