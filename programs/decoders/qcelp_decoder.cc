#include "programs/decoders/qcelp_decoder.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
}

#include "formats/qcp_chunks.h"
#include "formats/qcp_codec.h"
#include "programs/decoders/evrc_decoder.h"

namespace qcelp {
namespace {

/// Bytes read at a time, and frames written at a time.
constexpr std::size_t kReadBytes = 64 * 1024;
constexpr std::size_t kFramesPerWrite = 512;

/// A one-byte packet whose octet claims more than it holds: the library
/// cannot tell its rate and conceals the frame.
constexpr std::uint8_t kErasurePacket[] = {kRateErasure};

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

std::string Errno(const char* what) {
  return std::string(what) + ": " + (errno != 0 ? std::strerror(errno) : "I/O error");
}

}  // namespace

Packet NextPacket(const std::uint8_t* bytes, std::size_t available) {
  const std::uint8_t octet = bytes[0];
  const std::size_t data = DataBytesForRate(octet);
  if (data == 0) {
    const PacketKind kind = octet == kRateBlank     ? PacketKind::kBlank
                            : octet == kRateErasure ? PacketKind::kErasure
                                                    : PacketKind::kUnknown;
    return {kind, 1};
  }
  if (available < 1 + data) return {PacketKind::kCutShort, available};
  return {PacketKind::kSpeech, 1 + data};
}

bool IsLost(PacketKind kind, const std::uint8_t* packet) {
  if (kind != PacketKind::kSpeech) return true;
  return packet[0] == 1 && packet[1] == 0xFF && packet[2] == 0xFF;
}

bool LocatePackets(std::FILE* in, PacketRange* range, std::string* err) {
  errno = 0;
  std::vector<std::uint8_t> head(qcp::kChunkListBytes);
  if (std::fseek(in, 0, SEEK_END) != 0) {
    *err = Errno("cannot read the input");
    return false;
  }
  const long size = std::ftell(in);
  if (size < 0 || std::fseek(in, 0, SEEK_SET) != 0) {
    *err = Errno("cannot read the input");
    return false;
  }
  head.resize(std::fread(head.data(), 1, head.size(), in));
  if (std::ferror(in)) {
    *err = Errno("cannot read the input");
    return false;
  }
  if (!qcp::IsQcpContainer(head.data(), head.size())) {
    *err = "the input is not a QCP file (RIFF \"QLCM\")";
    return false;
  }
  const qcp::CodecId codec = qcp::IdentifyCodec(head.data(), head.size());
  if (codec.codec != qcp::Codec::kQcelp13k) {
    *err = "the input holds " + codec.name +
           (codec.codec == qcp::Codec::kUnknown ? "" : " speech") + ", not QCELP-13K";
    return false;
  }
  const qcp::DataLocation data =
      qcp::LocateData(head.data(), head.size(), static_cast<std::uint64_t>(size));
  range->offset = data.offset;
  range->length = data.wellFormed ? data.chunkLength : data.length;
  return true;
}

bool QcelpDecoder::Open(std::string* err) {
  const AVCodec* codec = m_library.Allocate(AV_CODEC_ID_QCELP, "QCELP", err);
  if (codec == nullptr) return false;
  const int ret = avcodec_open2(m_library.context, codec, nullptr);
  if (ret < 0) {
    *err = "cannot open the QCELP decoder: " + AvError(ret);
    return false;
  }
  if (m_library.context->sample_fmt != AV_SAMPLE_FMT_FLT &&
      m_library.context->sample_fmt != AV_SAMPLE_FMT_FLTP) {
    *err = "the QCELP decoder gives an unexpected sample format";
    return false;
  }
  return true;
}

bool QcelpDecoder::SendAndReceive(const std::uint8_t* packet, std::size_t size, std::int16_t* pcm) {
  // The packet's buffer is reused while the library holds no reference to
  // it; its bit reader wants zeroed padding after the data.
  const std::size_t capacity = kMaxPacketBytes + AV_INPUT_BUFFER_PADDING_SIZE;
  if (m_library.packet->buf == nullptr || !av_buffer_is_writable(m_library.packet->buf) ||
      m_library.packet->buf->size < capacity ||
      m_library.packet->data != m_library.packet->buf->data) {
    av_packet_unref(m_library.packet);
    if (av_new_packet(m_library.packet, kMaxPacketBytes) < 0) return false;
  }
  std::memcpy(m_library.packet->data, packet, size);
  std::memset(m_library.packet->data + size, 0, capacity - size);
  m_library.packet->size = static_cast<int>(size);
  if (avcodec_send_packet(m_library.context, m_library.packet) < 0) return false;
  if (avcodec_receive_frame(m_library.context, m_library.frame) < 0) return false;
  const std::size_t got = std::min<std::size_t>(
      static_cast<std::size_t>(std::max(m_library.frame->nb_samples, 0)), kSamplesPerPacket);
  evrc::FloatToS16(reinterpret_cast<const float*>(m_library.frame->data[0]), got, pcm);
  std::fill(pcm + got, pcm + kSamplesPerPacket, std::int16_t{0});
  av_frame_unref(m_library.frame);
  // More than one frame for a packet would shift the timing: drop the rest.
  while (avcodec_receive_frame(m_library.context, m_library.frame) >= 0)
    av_frame_unref(m_library.frame);
  return got == kSamplesPerPacket;
}

void QcelpDecoder::Conceal(std::int16_t* pcm) {
  if (!SendAndReceive(kErasurePacket, sizeof kErasurePacket, pcm)) {
    std::fill(pcm, pcm + kSamplesPerPacket, std::int16_t{0});
  }
}

bool QcelpDecoder::DecodePacket(const std::uint8_t* packet, std::size_t size, PacketKind kind,
                                std::int16_t* pcm) {
  if (IsLost(kind, packet)) {
    Conceal(pcm);
    return false;
  }
  if (!SendAndReceive(packet, size, pcm)) {
    Conceal(pcm);
    return false;
  }
  return true;
}

bool QcelpDecoder::DecodePackets(std::FILE* in, const PacketRange& range, std::FILE* out,
                                 vocrate::LossSink& loss, DecodeStats* stats, std::string* err) {
  DecodeStats counts;
  std::vector<std::uint8_t> input(kReadBytes + kMaxPacketBytes);
  std::vector<std::int16_t> output(kSamplesPerPacket * kFramesPerWrite);
  std::size_t have = 0;    // bytes in `input`
  std::size_t frames = 0;  // frames in `output`
  std::uint64_t left = range.length;
  bool ok = true;

  const auto flush = [&]() {
    if (frames == 0) return true;
    const std::size_t count = frames * kSamplesPerPacket;
    if constexpr (std::endian::native == std::endian::big) {
      for (std::size_t i = 0; i < count; ++i) {
        const auto v = static_cast<std::uint16_t>(output[i]);
        output[i] = static_cast<std::int16_t>((v >> 8) | (v << 8));
      }
    }
    errno = 0;
    if (std::fwrite(output.data(), sizeof(std::int16_t), count, out) != count) {
      *err = Errno("cannot write the output");
      return false;
    }
    frames = 0;
    return true;
  };

  // (nothing to read, nothing to seek: a file shorter than its header)
  if (left != 0 && std::fseek(in, static_cast<long>(range.offset), SEEK_SET) != 0) {
    *err = Errno("cannot read the input");
    ok = false;
  }
  while (ok) {
    // Keep at least one whole packet ahead, unless the data ends first.
    if (have < kMaxPacketBytes && left > 0) {
      const std::size_t want =
          static_cast<std::size_t>(std::min<std::uint64_t>(left, input.size() - have));
      errno = 0;
      const std::size_t got = std::fread(input.data() + have, 1, want, in);
      have += got;
      left -= got;
      if (got < want) {
        if (std::ferror(in)) {
          *err = Errno("cannot read the input");
          ok = false;
          break;
        }
        left = 0;  // the file is shorter than it was: what is there is read
      }
    }
    if (have == 0) break;
    std::size_t used = 0;
    // Decode while a whole packet is sure to be there, or to the end.
    while (used < have && (have - used >= kMaxPacketBytes || left == 0)) {
      const Packet packet = NextPacket(input.data() + used, have - used);
      const std::uint8_t* bytes = input.data() + used;
      const bool lost = IsLost(packet.kind, bytes);
      if (lost) {
        loss.Lost(static_cast<std::uint32_t>(counts.frames));
        ++counts.lost;
        switch (packet.kind) {
          case PacketKind::kBlank:
            ++counts.blank;
            break;
          case PacketKind::kUnknown:
            ++counts.unknown;
            break;
          case PacketKind::kCutShort:
            ++counts.cutShort;
            break;
          default:
            ++counts.erasures;
            break;
        }
      }
      DecodePacket(bytes, packet.size, packet.kind, output.data() + frames * kSamplesPerPacket);
      ++counts.frames;
      used += packet.size;
      if (++frames == kFramesPerWrite && !flush()) {
        ok = false;
        break;
      }
    }
    std::memmove(input.data(), input.data() + used, have - used);
    have -= used;
  }
  if (ok) ok = flush();
  loss.Summary(static_cast<std::uint32_t>(counts.frames), static_cast<std::uint32_t>(counts.lost));
  if (stats != nullptr) *stats = counts;
  return ok;
}

}  // namespace qcelp
