// Writes the one shape of QCP file that vocrate makes: the 194-byte header
// (RIFF, "fmt ", "vrat" and "data" chunk headers), then the packets back to
// back, then a zero pad byte when the data chunk size is odd. The header is
// written last, once the sizes are known.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>

#include "formats/block_io.h"
#include "formats/qcp_format.h"

namespace vocrate {

/// The header for a data chunk of `data_size` bytes holding `packets` packets.
/// Every byte not named by the layout is zero.
std::array<std::uint8_t, qcp::kHeaderSize> BuildQcpHeader(std::uint32_t data_size,
                                                          std::uint32_t packets);

/// Writes a QCP file into `file` (opened for binary writing, positioned at its
/// start; not owned). Write failures are remembered and reported by Finish().
class QcpWriter {
 public:
  /// Leaves room for the header: packets start at byte 194.
  explicit QcpWriter(std::FILE* file);

  /// Appends one packet: the rate octet, then room for `size` data bytes (at
  /// most 22), which the caller fills through the result before the next call.
  std::uint8_t* AppendPacket(std::uint8_t rate, std::size_t size) {
    std::uint8_t* p = m_out.Append(1 + size);
    p[0] = rate;
    m_data_size += static_cast<std::uint32_t>(1 + size);
    ++m_packets;
    return p + 1;
  }
  void AppendPacket(std::uint8_t rate, std::span<const std::uint8_t> data) {
    std::uint8_t* p = AppendPacket(rate, data.size());
    for (std::size_t i = 0; i < data.size(); ++i) p[i] = data[i];
  }

  /// Pads the data chunk to an even size, writes the header with the data
  /// size and `packets_in_header` as the size in packets, and flushes.
  /// Returns false when any write to the file failed.
  bool Finish(std::uint32_t packets_in_header);

  std::uint32_t DataSize() const { return m_data_size; }
  std::uint32_t Packets() const { return m_packets; }

 private:
  std::FILE* m_file;
  BlockWriter m_out;
  std::uint32_t m_data_size = 0;
  std::uint32_t m_packets = 0;
  bool m_failed = false;
};

}  // namespace vocrate
