// The EVRC decoder behind evrc_2004: raw EVRC packet records in, 16-bit
// little-endian mono PCM out, one 160-sample frame for every whole record.
// The speech decoding itself is libavcodec's EVRC decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "formats/qcp_format.h"

struct AVCodec;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;

namespace evrc {

/// Largest packet handed to the library: the rate octet and 22 data bytes.
inline constexpr std::size_t kMaxPacketBytes = 1 + qcp::kMaxPacketDataBytes;
/// Bytes of PCM that one record decodes to.
inline constexpr std::size_t kPcmBytesPerFrame = kSamplesPerFrame * 2;

/// Turns one 24-byte record into the packet the library takes: the rate
/// octet, then the rate's data bytes in stream order (the earlier byte of each
/// word is its high half). Returns the packet size (23, 11, 6 or 3), or 0 when
/// word 0 is not a known rate; `packet` then holds nothing useful.
std::size_t RecordToPacket(const std::uint8_t* record, std::uint8_t* packet);

/// True when the record is an eighth-rate record whose word 1 is 0xFFFF.
bool IsErasureRecord(const std::uint8_t* record);

/// Converts library float samples to 16 bits as FFmpeg's own sample-format
/// converter does: lrintf(x * 32768) clipped to [-32768, 32767]; a NaN
/// sample becomes 0, an infinite one the nearest limit.
void FloatToS16(const float* in, std::size_t count, std::int16_t* out);

struct DecodeOptions {
  bool postfilter = true;  ///< the library's "postfilter" option
};

struct DecodeStats {
  std::uint64_t frames = 0;        ///< records decoded, each to 160 samples
  std::uint64_t erasures = 0;      ///< records that stand for a lost frame
  std::uint64_t unknown = 0;       ///< records whose rate word is not 1..4
  std::uint64_t concealed = 0;     ///< frames made up for lost, unknown or rejected records
  std::size_t trailing_bytes = 0;  ///< bytes after the last whole record, ignored
};

/// What a decoder of the library needs: its context (8 kHz, mono, one
/// thread), a packet and a frame, freed with the object.
struct LibraryDecoder {
  LibraryDecoder() = default;
  LibraryDecoder(const LibraryDecoder&) = delete;
  LibraryDecoder& operator=(const LibraryDecoder&) = delete;
  ~LibraryDecoder();
  /// Finds the library's decoder `codecId` (an AVCodecID) and allocates the
  /// three; nullptr with *err ("this libavcodec has no NAME decoder", "out of
  /// memory") when it cannot. The caller opens the context.
  const AVCodec* Allocate(int codecId, const char* name, std::string* err);

  AVCodecContext* context = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
};

/// One decoder instance. Not thread-safe; holds constant memory whatever the
/// stream length.
class EvrcDecoder {
 public:
  /// Sets up the library's decoder. False with a message in *err when the
  /// library has no EVRC decoder or refuses the options.
  bool Open(const DecodeOptions& options, std::string* err);

  /// Decodes one record into exactly 160 samples. A record that is an erasure,
  /// of unknown rate, or that the library rejects is concealed (the library is
  /// given an erasure; silence as a last resort) and false is returned.
  bool DecodeRecord(const std::uint8_t* record, std::int16_t* pcm);

  /// Reads records from `in` until its end and writes 320 bytes of PCM per
  /// whole record to `out`; a trailing fragment shorter than a record is
  /// ignored. Reads and writes in large blocks. False with a message in *err
  /// on a read or write error (what was written so far stays in `out`; the
  /// caller decides what to do with it). `stats` is added to, may be null.
  bool DecodeStream(std::FILE* in, std::FILE* out, DecodeStats* stats, std::string* err);

 private:
  /// Makes m_packet a writable buffer of kMaxPacketBytes plus padding.
  bool PreparePacket();
  void FillPacket(const std::uint8_t* data, std::size_t size);
  /// Sends m_packet and takes one frame into pcm; false when the library
  /// gives an error or no frame.
  bool DecodePacket(std::int16_t* pcm);
  bool DecodeErasure(std::int16_t* pcm);

  LibraryDecoder m_library;
  DecodeStats m_stats;
};

/// Convenience: Open, then DecodeStream.
bool DecodeEvrcStream(std::FILE* in, std::FILE* out, const DecodeOptions& options,
                      DecodeStats* stats, std::string* err);

}  // namespace evrc
