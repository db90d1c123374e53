#include "programs/decoders/evrc_decoder.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
}

namespace evrc {
namespace {

/// Records read at a time, and frames written at a time.
constexpr std::size_t kRecordsPerRead = 4096;
constexpr std::size_t kFramesPerWrite = 512;

/// The packet that makes the library conceal a frame: eighth rate, data FF FF.
constexpr std::uint8_t kErasurePacket[] = {qcp::kRateEighth, qcp::kErasureByte, qcp::kErasureByte};

std::uint16_t Word(const std::uint8_t* record, std::size_t index) {
  return static_cast<std::uint16_t>(record[2 * index] | (record[2 * index + 1] << 8));
}

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

}  // namespace

std::size_t RecordToPacket(const std::uint8_t* record, std::uint8_t* packet) {
  const std::uint16_t rate = Word(record, 0);
  const std::size_t data_bytes = qcp::DataBytesForRate(rate);
  if (data_bytes == 0) return 0;
  packet[0] = static_cast<std::uint8_t>(rate);
  for (std::size_t i = 0; i < data_bytes; ++i) {
    // Data byte 2k is the high byte of word k+1, data byte 2k+1 its low byte.
    const std::size_t word_start = 2 + 2 * (i / 2);
    packet[1 + i] = record[word_start + ((i % 2 == 0) ? 1 : 0)];
  }
  return 1 + data_bytes;
}

bool IsErasureRecord(const std::uint8_t* record) {
  return Word(record, 0) == qcp::kRateEighth && Word(record, 1) == kErasureWord;
}

void FloatToS16(const float* in, std::size_t count, std::int16_t* out) {
  // Clipping before rounding gives the same results for every finite value,
  // and keeps values beyond the range of long (where lrintf's result is
  // unspecified) and NaN (made silence) from coming out as -32768.
  for (std::size_t i = 0; i < count; ++i) {
    float x = in[i] * 32768.0f;
    if (x != x) x = 0.0f;
    x = std::min(std::max(x, -32768.0f), 32767.0f);
    out[i] = static_cast<std::int16_t>(std::lrintf(x));
  }
}

LibraryDecoder::~LibraryDecoder() {
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&context);
}

const AVCodec* LibraryDecoder::Allocate(int codecId, const char* name, std::string* err) {
  const AVCodec* codec = avcodec_find_decoder(static_cast<AVCodecID>(codecId));
  if (codec == nullptr) {
    *err = std::string("this libavcodec has no ") + name + " decoder";
    return nullptr;
  }
  context = avcodec_alloc_context3(codec);
  packet = av_packet_alloc();
  frame = av_frame_alloc();
  if (context == nullptr || packet == nullptr || frame == nullptr) {
    *err = "out of memory";
    return nullptr;
  }
  context->sample_rate = qcp::kSamplingRateHz;
  av_channel_layout_default(&context->ch_layout, 1);
  context->thread_count = 1;
  return codec;
}

bool EvrcDecoder::Open(const DecodeOptions& options, std::string* err) {
  const AVCodec* codec = m_library.Allocate(AV_CODEC_ID_EVRC, "EVRC", err);
  if (codec == nullptr) return false;
  if (av_new_packet(m_library.packet, kMaxPacketBytes) < 0) {
    *err = "out of memory";
    return false;
  }

  AVDictionary* dict = nullptr;
  av_dict_set(&dict, "postfilter", options.postfilter ? "1" : "0", 0);
  const int ret = avcodec_open2(m_library.context, codec, &dict);
  const bool option_unused = av_dict_count(dict) != 0;
  av_dict_free(&dict);
  if (ret < 0) {
    *err = "cannot open the EVRC decoder: " + AvError(ret);
    return false;
  }
  if (option_unused) {
    *err = "the EVRC decoder does not know the option \"postfilter\"";
    return false;
  }
  if (m_library.context->sample_fmt != AV_SAMPLE_FMT_FLT &&
      m_library.context->sample_fmt != AV_SAMPLE_FMT_FLTP) {
    *err = "the EVRC decoder gives an unexpected sample format";
    return false;
  }
  return true;
}

bool EvrcDecoder::PreparePacket() {
  // The library may still hold a reference to the packet's buffer: never
  // write into a buffer it shares. Normally it has let go, so this allocates
  // nothing.
  const std::size_t capacity = kMaxPacketBytes + AV_INPUT_BUFFER_PADDING_SIZE;
  if (m_library.packet->buf != nullptr && av_buffer_is_writable(m_library.packet->buf) &&
      m_library.packet->buf->size >= capacity &&
      m_library.packet->data == m_library.packet->buf->data) {
    return true;
  }
  av_packet_unref(m_library.packet);
  return av_new_packet(m_library.packet, kMaxPacketBytes) >= 0;
}

void EvrcDecoder::FillPacket(const std::uint8_t* data, std::size_t size) {
  std::memcpy(m_library.packet->data, data, size);
  // The padding after the packet must be zero for the library's bit reader.
  std::memset(m_library.packet->data + size, 0,
              kMaxPacketBytes - size + AV_INPUT_BUFFER_PADDING_SIZE);
  m_library.packet->size = static_cast<int>(size);
}

bool EvrcDecoder::DecodePacket(std::int16_t* pcm) {
  int ret = avcodec_send_packet(m_library.context, m_library.packet);
  if (ret < 0) return false;
  ret = avcodec_receive_frame(m_library.context, m_library.frame);
  if (ret < 0) return false;
  const std::size_t got = std::min<std::size_t>(
      static_cast<std::size_t>(std::max(m_library.frame->nb_samples, 0)), kSamplesPerFrame);
  const bool whole = got == kSamplesPerFrame;
  FloatToS16(reinterpret_cast<const float*>(m_library.frame->data[0]), got, pcm);
  std::fill(pcm + got, pcm + kSamplesPerFrame, std::int16_t{0});
  av_frame_unref(m_library.frame);
  // A decoder that gave more than one frame for a packet would shift the
  // timing: drop whatever else it holds.
  while (avcodec_receive_frame(m_library.context, m_library.frame) >= 0)
    av_frame_unref(m_library.frame);
  return whole;
}

bool EvrcDecoder::DecodeErasure(std::int16_t* pcm) {
  if (PreparePacket()) {
    FillPacket(kErasurePacket, sizeof kErasurePacket);
    if (DecodePacket(pcm)) return true;
  }
  std::fill(pcm, pcm + kSamplesPerFrame, std::int16_t{0});
  return false;
}

bool EvrcDecoder::DecodeRecord(const std::uint8_t* record, std::int16_t* pcm) {
  ++m_stats.frames;
  std::uint8_t packet[kMaxPacketBytes];
  const std::size_t size = RecordToPacket(record, packet);
  if (size == 0) {
    ++m_stats.unknown;
    ++m_stats.concealed;
    DecodeErasure(pcm);
    return false;
  }
  if (!PreparePacket()) {
    ++m_stats.concealed;
    DecodeErasure(pcm);
    return false;
  }
  FillPacket(packet, size);
  const bool erasure = IsErasureRecord(record);
  if (erasure) ++m_stats.erasures;
  if (!DecodePacket(pcm)) {
    ++m_stats.concealed;
    DecodeErasure(pcm);
    return false;
  }
  if (erasure) {
    ++m_stats.concealed;
    return false;
  }
  return true;
}

bool EvrcDecoder::DecodeStream(std::FILE* in, std::FILE* out, DecodeStats* stats,
                               std::string* err) {
  m_stats = DecodeStats{};
  std::vector<std::uint8_t> input(kRecordBytes * kRecordsPerRead);
  std::vector<std::int16_t> output(kSamplesPerFrame * kFramesPerWrite);
  std::size_t have = 0;    // bytes in `input`
  std::size_t frames = 0;  // frames in `output`
  bool ok = true;

  auto flush = [&]() {
    if (frames == 0) return true;
    if constexpr (std::endian::native == std::endian::big) {
      for (std::size_t i = 0; i < frames * kSamplesPerFrame; ++i) {
        const auto v = static_cast<std::uint16_t>(output[i]);
        output[i] = static_cast<std::int16_t>((v >> 8) | (v << 8));
      }
    }
    const std::size_t count = frames * kSamplesPerFrame;
    errno = 0;
    if (std::fwrite(output.data(), sizeof(std::int16_t), count, out) != count) {
      *err = std::string("cannot write the output: ") +
             (errno != 0 ? std::strerror(errno) : "write error");
      return false;
    }
    frames = 0;
    return true;
  };

  for (;;) {
    const std::size_t wanted = input.size() - have;
    errno = 0;
    const std::size_t got = std::fread(input.data() + have, 1, wanted, in);
    have += got;
    const std::size_t whole = have / kRecordBytes;
    for (std::size_t r = 0; r < whole; ++r) {
      DecodeRecord(input.data() + r * kRecordBytes, output.data() + frames * kSamplesPerFrame);
      if (++frames == kFramesPerWrite && !flush()) {
        ok = false;
        break;
      }
    }
    if (!ok) break;
    const std::size_t used = whole * kRecordBytes;
    std::memmove(input.data(), input.data() + used, have - used);
    have -= used;
    if (got < wanted) {
      if (std::ferror(in)) {
        *err = std::string("cannot read the input: ") +
               (errno != 0 ? std::strerror(errno) : "read error");
        ok = false;
      }
      break;
    }
  }
  if (ok) ok = flush();
  m_stats.trailing_bytes = ok ? have : 0;
  if (stats != nullptr) {
    stats->frames += m_stats.frames;
    stats->erasures += m_stats.erasures;
    stats->unknown += m_stats.unknown;
    stats->concealed += m_stats.concealed;
    stats->trailing_bytes += m_stats.trailing_bytes;
  }
  return ok;
}

bool DecodeEvrcStream(std::FILE* in, std::FILE* out, const DecodeOptions& options,
                      DecodeStats* stats, std::string* err) {
  EvrcDecoder decoder;
  return decoder.Open(options, err) && decoder.DecodeStream(in, out, stats, err);
}

}  // namespace evrc
