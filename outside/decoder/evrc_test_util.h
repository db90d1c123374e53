// Helpers shared by the decoder's tests: sample files, the QCP packet stream
// unpacked into raw EVRC records, MD5 digests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/md5.h>
}

#include "converter/qcp_format.h"

namespace evrc::test {

using Bytes = std::vector<std::uint8_t>;

inline const char* const kRecordings[] = {"greeting.qcp", "lossy_call.qcp", "meeting_notes.qcp",
                                          "voicemail.dat", "zh_call.qcp"};

inline Bytes ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

inline std::string SamplePath(const std::string& name) {
  return std::string(WAVREL_SAMPLES_DIR) + "/" + name;
}

inline std::string TestDataPath(const std::string& name) {
  return std::string(DECODER_TESTDATA_DIR) + "/" + name;
}

/// The packets of a QCP file from byte 194 as 24-byte records: rate word,
/// then the data bytes two to a word, the earlier byte high. A rate octet of
/// no known rate takes 4 bytes and keeps its octet; a lone trailing octet
/// (the pad byte of an odd data chunk) makes no record.
inline Bytes QcpToRecords(const Bytes& qcp) {
  Bytes records;
  std::size_t pos = qcp::kHeaderSize;
  while (pos < qcp.size()) {
    const std::uint8_t rate = qcp[pos++];
    std::size_t size = qcp::DataBytesForRate(rate);
    if (size == 0) {
      if (pos >= qcp.size()) break;
      pos += 2;
      size = 2;
    }
    std::uint8_t record[kRecordBytes] = {rate};
    for (std::size_t i = 0; i < size && pos < qcp.size(); ++i, ++pos) {
      record[2 + 2 * (i / 2) + (i % 2 == 0 ? 1 : 0)] = qcp[pos];
    }
    records.insert(records.end(), record, record + kRecordBytes);
  }
  return records;
}

inline std::string Md5Hex(const Bytes& bytes) {
  std::uint8_t digest[16];
  av_md5_sum(digest, bytes.data(), bytes.size());
  std::string hex;
  for (std::uint8_t b : digest) {
    static const char kDigits[] = "0123456789abcdef";
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

/// The digests file: "md5  name" per line.
inline std::map<std::string, std::string> ReadDigests() {
  std::map<std::string, std::string> digests;
  const Bytes text = ReadFile(TestDataPath("libavcodec-s16le.md5"));
  std::istringstream lines(std::string(text.begin(), text.end()));
  std::string md5, name;
  while (lines >> md5 >> name) digests[name] = md5;
  return digests;
}

}  // namespace evrc::test
