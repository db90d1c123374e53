#include "formats/qcp_writer.h"

#include <algorithm>
#include <cstring>

#include "base/little_endian.h"

namespace vocrate {
namespace {

template <std::size_t N>
void PutBytes(std::uint8_t* header, std::size_t offset, const std::array<std::uint8_t, N>& bytes) {
  std::copy(bytes.begin(), bytes.end(), header + offset);
}

void PutId(std::uint8_t* header, std::size_t offset, const char (&id)[5]) {
  std::memcpy(header + offset, id, 4);
}

void Put16(std::uint8_t* header, std::size_t offset, std::uint16_t value) {
  wavrel::PutLe16(header + offset, value);
}

void Put32(std::uint8_t* header, std::size_t offset, std::uint32_t value) {
  wavrel::PutLe32(header + offset, value);
}

}  // namespace

std::array<std::uint8_t, qcp::kHeaderSize> BuildQcpHeader(std::uint32_t data_size,
                                                          std::uint32_t packets) {
  std::array<std::uint8_t, qcp::kHeaderSize> header{};
  std::uint8_t* h = header.data();
  PutBytes(h, qcp::kRiffIdOffset, qcp::kRiffId);
  Put32(h, qcp::kRiffSizeOffset, data_size + qcp::kRiffSizeOverData + (data_size & 1u));
  PutBytes(h, qcp::kFormTypeOffset, qcp::kQlcmId);
  PutId(h, qcp::kFmtIdOffset, "fmt ");
  Put32(h, qcp::kFmtSizeOffset, qcp::kFmtChunkSize);
  h[qcp::kMajorVersionOffset] = 1;
  h[qcp::kMinorVersionOffset] = 0;
  PutBytes(h, qcp::kCodecGuidOffset, qcp::kEvrcCodecGuid);
  Put16(h, qcp::kCodecVersionOffset, qcp::kCodecVersion);
  std::memcpy(h + qcp::kCodecNameOffset, qcp::kEvrcCodecName, sizeof qcp::kEvrcCodecName - 1);
  Put16(h, qcp::kAvgBpsOffset, qcp::kAverageBitsPerSecond);
  Put16(h, qcp::kPacketSizeOffset, qcp::kMaxPacketDataBytes);
  Put16(h, qcp::kBlockSizeOffset, qcp::kSamplesPerPacket);
  Put16(h, qcp::kSamplingRateOffset, qcp::kSamplingRateHz);
  Put16(h, qcp::kSampleSizeOffset, qcp::kSampleSizeBits);
  Put32(h, qcp::kNumRatesOffset, qcp::kNumberOfRates);
  for (std::size_t i = 0; i < qcp::kRateMap.size(); ++i) {
    PutBytes(h, qcp::kRateMapOffset + 2 * i, qcp::kRateMap[i]);
  }
  PutId(h, qcp::kVratIdOffset, "vrat");
  Put32(h, qcp::kVratSizeOffset, qcp::kVratChunkSize);
  Put32(h, qcp::kVarRateFlagOffset, qcp::kVariableRateFlag);
  Put32(h, qcp::kSizeInPacketsOffset, packets);
  PutId(h, qcp::kDataIdOffset, "data");
  Put32(h, qcp::kDataSizeOffset, data_size);
  return header;
}

QcpWriter::QcpWriter(std::FILE* file) : m_file(file), m_out(file) {
  if (std::fseek(m_file, static_cast<long>(qcp::kHeaderSize), SEEK_SET) != 0) m_failed = true;
}

bool QcpWriter::Finish(std::uint32_t packets_in_header) {
  if (m_data_size & 1u) *m_out.Append(1) = 0;
  m_out.Flush();
  const auto header = BuildQcpHeader(m_data_size, packets_in_header);
  if (std::fseek(m_file, 0, SEEK_SET) != 0 ||
      std::fwrite(header.data(), 1, header.size(), m_file) != header.size() ||
      std::fflush(m_file) != 0) {
    m_failed = true;
  }
  return !m_failed && !m_out.Failed();
}

}  // namespace vocrate
