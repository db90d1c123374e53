#include "converter/evrc_to_qcp.h"

#include <array>
#include <cstdint>
#include <span>

#include "converter/block_io.h"
#include "converter/qcp_format.h"
#include "converter/qcp_writer.h"

namespace vocrate {

ConversionResult ConvertEvrcToQcp(std::FILE* source, std::FILE* dest, LossSink& loss) {
  ConversionResult result;

  // Whole records in the source as it stands now. Reading stops there too, so
  // the header's size in packets always matches the packets written.
  std::uint64_t records = 0;
  if (std::fseek(source, 0, SEEK_END) == 0) {
    const long length = std::ftell(source);
    if (length > 0) records = static_cast<std::uint64_t>(length) / evrc::kRecordBytes;
  }
  std::fseek(source, 0, SEEK_SET);

  QcpWriter writer(dest);
  BlockReader in(source, records * evrc::kRecordBytes);
  std::array<std::uint8_t, qcp::kMaxPacketDataBytes> data{};
  while (in.Ensure(evrc::kRecordBytes) >= evrc::kRecordBytes) {
    const std::uint8_t* r = in.Data();
    const std::uint16_t rate = static_cast<std::uint16_t>(r[0] | r[1] << 8);
    const std::size_t size = qcp::DataBytesForRate(rate);  // 0 for unknown rates
    std::uint8_t octet = static_cast<std::uint8_t>(rate);
    if (size == 0) {
      // Unknown rate: the frame is lost and goes out as an erasure.
      octet = qcp::kRateEighth;
      data[0] = data[1] = qcp::kErasureByte;
      loss.Lost(result.frames);
      ++result.lost;
      writer.AppendPacket(octet, std::span(data.data(), 2));
    } else {
      // Data byte 2k is the high byte of word k+1, byte 2k+1 its low byte.
      for (std::size_t i = 0; i < size; ++i) data[i] = r[2 + (i ^ 1u)];
      if (rate == qcp::kRateEighth && data[0] == qcp::kErasureByte &&
          data[1] == qcp::kErasureByte) {
        loss.Lost(result.frames);
        ++result.lost;
      }
      writer.AppendPacket(octet, std::span(data.data(), size));
    }
    in.Consume(evrc::kRecordBytes);
    ++result.frames;
  }
  result.read_failed = in.Failed();
  result.write_failed = !writer.Finish(static_cast<std::uint32_t>(records));
  loss.Summary(result.frames, result.lost);
  return result;
}

}  // namespace vocrate
