#include "formats/evrc_to_qcp.h"

#include <cstdint>

#include "formats/block_io.h"
#include "formats/qcp_format.h"
#include "formats/qcp_writer.h"
#include "formats/word_order.h"

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
  for (;;) {
    if (in.Available() < evrc::kRecordBytes && in.Ensure(evrc::kRecordBytes) < evrc::kRecordBytes) {
      break;
    }
    const std::uint8_t* r = in.Data();
    const std::uint8_t* words = r + 2;  // word 1 onwards
    const std::uint16_t rate = static_cast<std::uint16_t>(r[0] | r[1] << 8);
    switch (rate) {
      case qcp::kRateFull:
        WordsToPacket<22>(words, writer.AppendPacket(qcp::kRateFull, 22));
        break;
      case qcp::kRateHalf:
        WordsToPacket<10>(words, writer.AppendPacket(qcp::kRateHalf, 10));
        break;
      case qcp::kRateQuarter:
        WordsToPacket<5>(words, writer.AppendPacket(qcp::kRateQuarter, 5));
        break;
      case qcp::kRateEighth:
        WordsToPacket<2>(words, writer.AppendPacket(qcp::kRateEighth, 2));
        if (words[0] == qcp::kErasureByte && words[1] == qcp::kErasureByte) {
          loss.Lost(result.frames);
          ++result.lost;
        }
        break;
      default: {
        // Unknown rate (compared as the whole word: 0x0104 is not full rate):
        // the frame is lost and goes out as an erasure.
        std::uint8_t* data = writer.AppendPacket(qcp::kRateEighth, 2);
        data[0] = data[1] = qcp::kErasureByte;
        loss.Lost(result.frames);
        ++result.lost;
        break;
      }
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
