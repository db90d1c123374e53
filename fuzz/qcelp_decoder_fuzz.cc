// qcelp_13k's packet walker and its feed into libavcodec, over any QCP file:
// every byte of the data is one packet's, every packet gives one frame of
// 160 samples, every lost one is reported in order, and decoding packet by
// packet through a fresh decoder gives the same samples.
#include <cstring>
#include <vector>

#include "formats/qcp_format.h"
#include "fuzz/fuzz_target.h"
#include "fuzz/memory_file.h"
#include "programs/decoders/qcelp_decoder.h"

namespace {

class Positions final : public vocrate::LossSink {
 public:
  void Lost(std::uint32_t position) override { lost.push_back(position); }
  void Summary(std::uint32_t f, std::uint32_t l) override { frames = f, total = l, ++summaries; }
  std::vector<std::uint32_t> lost;
  std::uint32_t frames = 0, total = 0;
  int summaries = 0;
};

/// A QCELP-13K file of vocrate's shape around `packets`.
std::vector<std::uint8_t> QcelpFile(const std::uint8_t* packets, std::size_t size) {
  std::vector<std::uint8_t> file(qcp::kHeaderSize, 0);
  std::memcpy(file.data(), "RIFF", 4);
  std::memcpy(file.data() + qcp::kFormTypeOffset, "QLCM", 4);
  std::memcpy(file.data() + qcp::kFmtIdOffset, "fmt ", 4);
  file[qcp::kFmtSizeOffset] = 150;
  std::memcpy(file.data() + qcp::kCodecGuidOffset, qcp::kQcelp13kGuid2.data(), 16);
  std::memcpy(file.data() + qcp::kVratIdOffset, "vrat", 4);
  file[qcp::kVratSizeOffset] = 8;
  std::memcpy(file.data() + qcp::kDataIdOffset, "data", 4);
  for (int i = 0; i < 4; ++i) {
    file[qcp::kDataSizeOffset + i] = static_cast<std::uint8_t>(size >> (8 * i));
  }
  file.insert(file.end(), packets, packets + size);
  return file;
}

}  // namespace

WAVREL_FUZZ_TARGET(qcelp_decoder)(const std::uint8_t* data, std::size_t size) {
  using namespace wavrel::fuzz;
  // An even first byte: the rest are the packets of a well-formed file; an
  // odd one: the rest is the whole file, header and all.
  if (size == 0) return 0;
  const std::vector<std::uint8_t> file = (data[0] & 1) == 0
                                             ? QcelpFile(data + 1, size - 1)
                                             : std::vector<std::uint8_t>(data + 1, data + size);
  InputFile in(file.data(), file.size());
  qcelp::PacketRange range;
  std::string err;
  if (!qcelp::LocatePackets(in.get(), &range, &err)) {
    FUZZ_CHECK(!err.empty() && err.find('\n') == std::string::npos);
    return 0;
  }
  // (a file shorter than vocrate's header has nothing at 194 to read)
  FUZZ_CHECK(range.length == 0 || range.offset + range.length <= file.size());
  qcelp::QcelpDecoder decoder;
  FUZZ_CHECK(decoder.Open(&err));
  OutputFile out;
  Positions loss;
  qcelp::DecodeStats stats;
  FUZZ_CHECK(decoder.DecodePackets(in.get(), range, out.get(), loss, &stats, &err));
  const std::string pcm = out.Bytes();

  // Walk the packets again: they tile the data exactly, one frame each.
  const std::uint8_t* bytes = file.data() + range.offset;
  std::vector<std::uint32_t> lost;
  std::size_t frames = 0;
  for (std::size_t at = 0; at < range.length; ++frames) {
    const qcelp::Packet p = qcelp::NextPacket(bytes + at, range.length - at);
    FUZZ_CHECK(p.size >= 1 && p.size <= range.length - at);
    FUZZ_CHECK(p.size <= qcelp::kMaxPacketBytes);
    if (qcelp::IsLost(p.kind, bytes + at)) lost.push_back(static_cast<std::uint32_t>(frames));
    at += p.size;
  }
  FUZZ_CHECK(stats.frames == frames && loss.frames == frames);
  FUZZ_CHECK(pcm.size() == frames * qcelp::kPcmBytesPerFrame);
  FUZZ_CHECK(loss.summaries == 1 && loss.lost == lost && loss.total == lost.size());
  FUZZ_CHECK(stats.lost == lost.size());
  FUZZ_CHECK(stats.blank + stats.erasures + stats.unknown + stats.cutShort == stats.lost);
  FUZZ_CHECK(stats.cutShort <= 1);

  // Packet by packet through a fresh decoder: the same samples.
  qcelp::QcelpDecoder again;
  FUZZ_CHECK(again.Open(&err));
  std::int16_t samples[qcelp::kSamplesPerPacket + 1];
  std::size_t k = 0;
  for (std::size_t at = 0; at < range.length; ++k) {
    const qcelp::Packet p = qcelp::NextPacket(bytes + at, range.length - at);
    samples[qcelp::kSamplesPerPacket] = 0x5A5A;  // guard: exactly 160 samples come out
    again.DecodePacket(bytes + at, p.size, p.kind, samples);
    FUZZ_CHECK(samples[qcelp::kSamplesPerPacket] == 0x5A5A);
    FUZZ_CHECK(std::memcmp(samples, pcm.data() + k * qcelp::kPcmBytesPerFrame,
                           qcelp::kPcmBytesPerFrame) == 0);
    at += p.size;
  }
  return 0;
}
