#include "formats/qcp_to_evrc.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "formats/block_io.h"
#include "formats/qcp_chunks.h"
#include "formats/qcp_codec.h"
#include "formats/qcp_format.h"
#include "formats/word_order.h"

namespace vocrate {
namespace {

long SeekToPackets(std::FILE* source, std::uint64_t* packet_bytes) {
  // The file's length now bounds the reading, so a file that grows while it
  // is read (loss_stat.txt given as the source) still ends.
  *packet_bytes = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t offset = qcp::kHeaderSize;
  if (std::fseek(source, 0, SEEK_END) == 0) {
    const long length = std::ftell(source);
    if (length >= 0 && std::fseek(source, 0, SEEK_SET) == 0) {
      std::vector<std::uint8_t> head(qcp::kChunkListBytes);
      head.resize(std::fread(head.data(), 1, head.size(), source));
      const qcp::DataLocation data =
          qcp::LocateData(head.data(), head.size(), static_cast<std::uint64_t>(length));
      offset = data.offset;
      *packet_bytes = data.length;
    }
  }
  std::fseek(source, static_cast<long>(offset), SEEK_SET);
  return std::ftell(source);
}

ConversionResult ConvertPackets(std::FILE* source, std::uint64_t packet_bytes, std::FILE* dest,
                                LossSink& loss) {
  constexpr std::size_t kLongestPacket = 1 + qcp::kMaxPacketDataBytes;

  ConversionResult result;
  BlockReader in(source, packet_bytes);
  BlockWriter out(dest);
  for (;;) {
    std::size_t available = in.Available();
    if (available < kLongestPacket) available = in.Ensure(kLongestPacket);
    if (available == 0) break;
    const std::uint8_t* p = in.Data();
    const std::uint8_t octet = p[0];
    const std::size_t after = available - 1;  // bytes present after the octet
    const std::size_t size = qcp::DataBytesForRate(octet);
    if (size == 0) {
      // A blank packet or an octet of no rate: one lost frame that occupies
      // its octet alone, so the packets after it stay in step. A lone octet
      // at the end is the pad byte of an odd data chunk: a frame, not lost.
      in.Consume(1);
      if (after != 0) {
        loss.Lost(result.frames);
        ++result.lost;
        std::uint8_t* record = out.Append(evrc::kRecordBytes);
        std::memset(record, 0, evrc::kRecordBytes);
        record[0] = octet;
      }
      ++result.frames;
      continue;
    }

    std::uint8_t* record = out.Append(evrc::kRecordBytes);
    std::memset(record, 0, evrc::kRecordBytes);
    record[0] = octet;
    const std::uint8_t* data = p + 1;
    if (after >= size) {
      if (octet == qcp::kRateEighth && data[0] == qcp::kErasureByte &&
          data[1] == qcp::kErasureByte) {
        loss.Lost(result.frames);
        ++result.lost;
      }
      switch (size) {
        case 22:
          PacketToWords<22>(data, record + 2);
          break;
        case 10:
          PacketToWords<10>(data, record + 2);
          break;
        case 5:
          PacketToWords<5>(data, record + 2);
          break;
        default:
          PacketToWords<2>(data, record + 2);
          break;
      }
      in.Consume(1 + size);
    } else {
      // The file ends inside the packet: what is there goes in file order.
      std::memcpy(record + 2, data, after);
      in.Consume(1 + after);
    }
    ++result.frames;
  }
  out.Flush();
  result.read_failed = in.Failed();
  result.write_failed = out.Failed();
  loss.Summary(result.frames, result.lost);
  return result;
}

}  // namespace

bool IsOtherCodec(std::FILE* source, std::string* codec) {
  bool other = false;
  if (std::fseek(source, 0, SEEK_END) == 0) {
    const long length = std::ftell(source);
    if (length >= 0 && std::fseek(source, 0, SEEK_SET) == 0) {
      std::vector<std::uint8_t> head(qcp::kChunkListBytes);
      head.resize(std::fread(head.data(), 1, head.size(), source));
      if (qcp::LocateData(head.data(), head.size(), static_cast<std::uint64_t>(length))
              .wellFormed) {
        const qcp::CodecId id = qcp::IdentifyCodec(head.data(), head.size());
        other = id.codec != qcp::Codec::kEvrc;
        if (other) *codec = id.name;
      }
    }
  }
  std::clearerr(source);
  std::fseek(source, 0, SEEK_SET);
  return other;
}

ConversionResult ConvertQcpToEvrc(std::FILE* source, std::FILE* dest, LossSink& loss,
                                  const std::function<void(long)>& on_position) {
  std::uint64_t packet_bytes = 0;
  const long position = SeekToPackets(source, &packet_bytes);
  if (on_position) on_position(position);
  return ConvertPackets(source, packet_bytes, dest, loss);
}

}  // namespace vocrate
