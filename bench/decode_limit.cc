// decode_limit OUT_DIR RECORDING...: the limit of a batch conversion, in one
// process: each EVRC recording's packets decoded by libavcodec, every packet,
// and its WAV (8 kHz, 16 bits, mono) written to OUT_DIR. No intermediate
// files, no checks beyond what the decoding needs, nothing started: what a
// conversion of the same files cannot beat. bench/batch_bench.sh measures
// `wavrel convert` against it.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include "base/little_endian.h"
#include "formats/qcp_chunks.h"

namespace {

/// Data bytes after an EVRC rate octet (blank, eighth, quarter, half, full).
int EvrcDataBytes(std::uint8_t octet) {
  static constexpr int kBytes[] = {0, 2, 5, 10, 22};
  return octet < 5 ? kBytes[octet] : -1;
}

bool Convert(const std::string& in, const std::string& out, AVPacket* packet, AVFrame* frame) {
  std::FILE* file = std::fopen(in.c_str(), "rb");
  if (file == nullptr) return false;
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    bytes.insert(bytes.end(), chunk, chunk + got);
  std::fclose(file);
  const qcp::DataLocation data =
      qcp::LocateData(bytes.data(), std::min(bytes.size(), qcp::kChunkListBytes), bytes.size());
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_EVRC);
  AVCodecContext* context = avcodec_alloc_context3(codec);
  context->sample_rate = 8000;
  av_channel_layout_default(&context->ch_layout, 1);
  if (avcodec_open2(context, codec, nullptr) < 0) return false;
  std::vector<std::uint8_t> wav(44);
  std::uint64_t at = data.offset;
  const std::uint64_t end = std::min<std::uint64_t>(data.offset + data.length, bytes.size());
  while (at < end) {
    const int size = EvrcDataBytes(bytes[at]);
    if (size < 0 || at + 1 + size > end) {
      ++at;
      continue;
    }
    av_new_packet(packet, size + 1);
    std::copy(bytes.begin() + at, bytes.begin() + at + 1 + size, packet->data);
    at += 1 + size;
    if (avcodec_send_packet(context, packet) == 0 && avcodec_receive_frame(context, frame) == 0) {
      const float* samples = reinterpret_cast<const float*>(frame->data[0]);
      for (int i = 0; i < frame->nb_samples; ++i) {
        const long v = std::lrintf(samples[i] * 32768.0f);
        const std::int16_t s = static_cast<std::int16_t>(v < -32768  ? -32768
                                                         : v > 32767 ? 32767
                                                                     : v);
        wav.push_back(static_cast<std::uint8_t>(s & 0xFF));
        wav.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
      }
    }
    av_packet_unref(packet);
  }
  avcodec_free_context(&context);
  const std::uint32_t dataBytes = static_cast<std::uint32_t>(wav.size() - 44);
  const std::uint8_t header[44] = {'R', 'I', 'F',  'F',  0,   0,   0,    0,    'W', 'A', 'V',
                                   'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,   1,   0,
                                   1,   0,   0x40, 0x1F, 0,   0,   0x80, 0x3E, 0,   0,   2,
                                   0,   16,  0,    'd',  'a', 't', 'a',  0,    0,   0,   0};
  std::copy(header, header + 44, wav.begin());
  wavrel::PutLe32(wav.data() + 4, dataBytes + 36);
  wavrel::PutLe32(wav.data() + 40, dataBytes);
  std::FILE* wavFile = std::fopen(out.c_str(), "wb");
  if (wavFile == nullptr) return false;
  const bool written = std::fwrite(wav.data(), 1, wav.size(), wavFile) == wav.size();
  return std::fclose(wavFile) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: decode_limit OUT_DIR RECORDING...\n", stderr);
    return 2;
  }
  av_log_set_level(AV_LOG_QUIET);
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  int failed = 0;
  for (int i = 2; i < argc; ++i) {
    std::string name = argv[i];
    name = name.substr(name.rfind('/') + 1);
    if (!Convert(argv[i], std::string(argv[1]) + "/" + name + ".wav", packet, frame)) ++failed;
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  return failed == 0 ? 0 : 1;
}
