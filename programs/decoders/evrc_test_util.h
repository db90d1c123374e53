// Helpers shared by the decoder's tests: sample files, the QCP packet stream
// unpacked into raw EVRC records, MD5 digests.
#pragma once

#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

extern "C" {
#include <libavutil/md5.h>
}

#include "formats/qcp_format.h"
#include "testing/files.h"

namespace evrc::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ReadFile(const std::string& path) {
  const std::string bytes = wavrel::testing::Slurp(path);
  return Bytes(bytes.begin(), bytes.end());
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  wavrel::testing::WriteFile(
      path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

/// The packets of a sample recording (WAVREL_SAMPLES_DIR) from byte 194 as
/// 24-byte records. A rate octet of no known rate occupies itself alone; a
/// lone trailing octet (the pad byte of an odd data chunk) makes no record.
inline Bytes SampleRecords(const std::string& name) {
  const Bytes qcp = ReadFile(std::string(WAVREL_SAMPLES_DIR) + "/" + name);
  Bytes records;
  for (std::size_t pos = qcp::kHeaderSize; pos < qcp.size();) {
    const std::uint8_t rate = qcp[pos++];
    std::size_t size = qcp::DataBytesForRate(rate);
    if (size == 0 && pos == qcp.size()) break;
    std::uint8_t record[kRecordBytes] = {rate};
    for (std::size_t i = 0; i < size && pos < qcp.size(); ++i) {
      record[2 + 2 * (i / 2) + (i % 2 == 0 ? 1 : 0)] = qcp[pos++];
    }
    records.insert(records.end(), record, record + kRecordBytes);
  }
  return records;
}

inline std::string Md5Hex(const Bytes& bytes) {
  std::uint8_t digest[16];
  av_md5_sum(digest, bytes.data(), bytes.size());
  std::string hex;
  for (std::uint8_t b : digest)
    hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
  return hex;
}

/// What Debian 12's libavcodec decodes each sample recording to: name -> MD5.
inline std::map<std::string, std::string> LibavcodecDigests() {
  const Bytes text = ReadFile(std::string(DECODER_TESTDATA_DIR) + "/libavcodec-s16le.md5");
  std::istringstream lines(std::string(text.begin(), text.end()));
  std::map<std::string, std::string> digests;
  for (std::string md5, name; lines >> md5 >> name;) digests[name] = md5;
  return digests;
}

}  // namespace evrc::test
