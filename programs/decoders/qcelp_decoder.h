// The QCELP-13K decoder behind qcelp_13k: the packets of a QCP file in,
// 16-bit little-endian mono PCM out, exactly one 160-sample frame for every
// packet, so a lost frame keeps its time. The speech decoding itself is
// libavcodec's QCELP decoder; lost frames are reported in the manner of
// vocrate (loss_stat.txt), so the pipeline counts them the same for both
// codecs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "formats/loss_stat.h"
#include "formats/qcp_format.h"
#include "programs/decoders/evrc_decoder.h"

namespace qcelp {

/// Largest packet handed to the library: the rate octet and 34 data bytes.
inline constexpr std::size_t kMaxPacketBytes = 1 + kMaxPacketDataBytes;
/// Bytes of PCM that one packet decodes to.
inline constexpr std::size_t kPcmBytesPerFrame = kSamplesPerPacket * 2;

enum class PacketKind {
  kSpeech,    ///< rate octet 1 to 4 with all its data bytes
  kBlank,     ///< octet 0: no data (a frame without speech data, lost)
  kErasure,   ///< octet 14: the frame was lost on the way
  kUnknown,   ///< any other octet: occupies itself alone, lost
  kCutShort,  ///< a speech rate whose data bytes the data chunk does not hold, lost
};

struct Packet {
  PacketKind kind = PacketKind::kUnknown;
  std::size_t size = 0;  ///< bytes the packet occupies, its rate octet included (>= 1)
};

/// The packet at the start of `bytes`, of which `available` (>= 1) remain in
/// the data chunk. Only a speech packet takes more than its octet; one cut
/// short by the end takes what is left.
Packet NextPacket(const std::uint8_t* bytes, std::size_t available);

/// True for every kind but kSpeech, and for an eighth-rate packet whose first
/// 16 data bits are all set (the codec's own erasure mark, which the library
/// conceals).
bool IsLost(PacketKind kind, const std::uint8_t* packet);

struct DecodeStats {
  std::uint64_t frames = 0;    ///< packets decoded, each to 160 samples
  std::uint64_t lost = 0;      ///< of them lost (IsLost), each concealed
  std::uint64_t blank = 0;     ///< octet 0
  std::uint64_t erasures = 0;  ///< octet 14, and eighth rate with FF FF
  std::uint64_t unknown = 0;   ///< octets of no rate
  std::uint64_t cutShort = 0;  ///< the last packet, cut short by the end of the data
};

/// Where the packets of a QCP file are.
struct PacketRange {
  std::uint64_t offset = qcp::kHeaderSize;
  std::uint64_t length = 0;
};

/// Reads the head of `in` (binary, not owned) and finds its packets: the data
/// chunk of its RIFF "QLCM" chunk list, without a pad byte; a header that is
/// not a well-formed chunk list is read from byte 194 to the end of the file.
/// False with a one-line reason in *err for a file that is not a QCP file or
/// whose codec is not QCELP-13K ("... holds EVRC speech, not QCELP-13K"), and
/// when it cannot be read.
bool LocatePackets(std::FILE* in, PacketRange* range, std::string* err);

/// One decoder instance. Not thread-safe; constant memory whatever the stream
/// length.
class QcelpDecoder {
 public:
  /// Sets up the library's decoder. False with a message in *err when the
  /// library has no QCELP decoder or it cannot be opened.
  bool Open(std::string* err);

  /// Decodes one packet (`size` bytes from its rate octet, as NextPacket
  /// gives them) into exactly 160 samples. A lost packet, or one the library
  /// gives no frame for, is concealed by the library (it is handed an
  /// erasure; silence as a last resort) and false is returned.
  bool DecodePacket(const std::uint8_t* packet, std::size_t size, PacketKind kind,
                    std::int16_t* pcm);

  /// Decodes range.length bytes from range.offset of `in` and writes 320 bytes
  /// of PCM per packet to `out`, reading and writing in large blocks. Every
  /// lost packet is reported to `loss` by its index among all packets, then
  /// the totals (also after a failure, with what was decoded). False with a
  /// message in *err on a read or write error; what was written stays in
  /// `out`. `stats` may be null.
  bool DecodePackets(std::FILE* in, const PacketRange& range, std::FILE* out,
                     vocrate::LossSink& loss, DecodeStats* stats, std::string* err);

 private:
  bool SendAndReceive(const std::uint8_t* packet, std::size_t size, std::int16_t* pcm);
  void Conceal(std::int16_t* pcm);

  evrc::LibraryDecoder m_library;
};

}  // namespace qcelp
