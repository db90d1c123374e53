// The QCP container (RIFF form "QLCM") as vocrate writes it, and the raw EVRC
// packet record. This header is the one place that holds these numbers: the
// converter, the decoder stand-in and the plug-in's folder scan include it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qcp {

/// vocrate writes exactly one shape of QCP file: a fixed header of this many
/// bytes (RIFF header, "fmt ", "vrat" and "data" chunk headers), then packets.
/// Its reader starts at this offset whatever the header says.
inline constexpr std::size_t kHeaderSize = 194;

// Field offsets in the header.
inline constexpr std::size_t kRiffIdOffset = 0;          // "RIFF"
inline constexpr std::size_t kRiffSizeOffset = 4;        // file size - 8
inline constexpr std::size_t kFormTypeOffset = 8;        // "QLCM"
inline constexpr std::size_t kFmtIdOffset = 12;          // "fmt "
inline constexpr std::size_t kFmtSizeOffset = 16;        // 150
inline constexpr std::size_t kMajorVersionOffset = 20;   // 1
inline constexpr std::size_t kMinorVersionOffset = 21;   // 0
inline constexpr std::size_t kCodecGuidOffset = 22;      // 16 bytes
inline constexpr std::size_t kCodecVersionOffset = 38;   // 1
inline constexpr std::size_t kCodecNameOffset = 40;      // 80 bytes, zero-padded
inline constexpr std::size_t kAvgBpsOffset = 120;        // 13000
inline constexpr std::size_t kPacketSizeOffset = 122;    // 22
inline constexpr std::size_t kBlockSizeOffset = 124;     // 160
inline constexpr std::size_t kSamplingRateOffset = 126;  // 8000
inline constexpr std::size_t kSampleSizeOffset = 128;    // 16
inline constexpr std::size_t kNumRatesOffset = 130;      // 5
inline constexpr std::size_t kRateMapOffset = 134;       // 8 entries of (size, octet)
inline constexpr std::size_t kReservedOffset = 150;      // 20 zero bytes
inline constexpr std::size_t kVratIdOffset = 170;        // "vrat"
inline constexpr std::size_t kVratSizeOffset = 174;      // 8
inline constexpr std::size_t kVarRateFlagOffset = 178;   // 1
inline constexpr std::size_t kSizeInPacketsOffset = 182;
inline constexpr std::size_t kDataIdOffset = 186;  // "data"
inline constexpr std::size_t kDataSizeOffset = 190;

inline constexpr std::array<std::uint8_t, 4> kRiffId = {'R', 'I', 'F', 'F'};
inline constexpr std::array<std::uint8_t, 4> kQlcmId = {'Q', 'L', 'C', 'M'};

/// EVRC codec GUID {E689D48D-9076-46B5-91EF-736A5100CEB4} in file byte order
/// (first three groups little-endian), stored at kCodecGuidOffset.
inline constexpr std::array<std::uint8_t, 16> kEvrcCodecGuid = {
    0x8D, 0xD4, 0x89, 0xE6, 0x76, 0x90, 0xB5, 0x46, 0x91, 0xEF, 0x73, 0x6A, 0x51, 0x00, 0xCE, 0xB4};

/// Codec name: 65 characters, the last a blank; zero-padded to 80 bytes.
inline constexpr char kEvrcCodecName[] =
    "TIA IS-127 Enhanced Variable Rate Codec, Speech Service Option 3 ";
inline constexpr std::size_t kCodecNameFieldSize = 80;
static_assert(sizeof kEvrcCodecName - 1 < kCodecNameFieldSize);

inline constexpr std::uint32_t kFmtChunkSize = 150;
inline constexpr std::uint16_t kCodecVersion = 1;
inline constexpr std::uint16_t kAverageBitsPerSecond = 13000;
inline constexpr std::uint16_t kMaxPacketDataBytes = 22;
inline constexpr std::uint16_t kSamplesPerPacket = 160;
inline constexpr std::uint16_t kSamplingRateHz = 8000;
inline constexpr std::uint16_t kSampleSizeBits = 16;
inline constexpr std::uint32_t kNumberOfRates = 5;
inline constexpr std::uint32_t kVratChunkSize = 8;
inline constexpr std::uint32_t kVariableRateFlag = 1;
/// RIFF chunk size = data chunk size + this (+1 when a pad byte follows).
inline constexpr std::uint32_t kRiffSizeOverData = kHeaderSize - 8;

/// A file is an EVRC QCP file when at least this many bytes can be read and
/// "RIFF" (0), "QLCM" (8) and the EVRC codec GUID (22) are in place.
inline constexpr std::size_t kIdentifyingBytes = kCodecGuidOffset + kEvrcCodecGuid.size();

/// Rate octets of the four EVRC rates.
inline constexpr std::uint8_t kRateFull = 4;
inline constexpr std::uint8_t kRateHalf = 3;
inline constexpr std::uint8_t kRateQuarter = 2;
inline constexpr std::uint8_t kRateEighth = 1;

/// Data bytes that follow a rate octet: 22, 10, 5, 2 for rates 4, 3, 2, 1;
/// 0 for an octet that is not a known rate.
constexpr std::size_t DataBytesForRate(unsigned rate) {
  switch (rate) {
    case kRateFull:
      return 22;
    case kRateHalf:
      return 10;
    case kRateQuarter:
      return 5;
    case kRateEighth:
      return 2;
    default:
      return 0;
  }
}

/// The header's rate map: (packet size, rate octet), then four empty entries.
inline constexpr std::array<std::array<std::uint8_t, 2>, 8> kRateMap = {
    {{22, 4}, {10, 3}, {5, 2}, {2, 1}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}};

/// An eighth-rate packet whose two data bytes are both 0xFF is an erasure: a
/// lost frame.
inline constexpr std::uint8_t kErasureByte = 0xFF;

/// An octet with no data bytes of its own: a blank packet (octet 0), or an
/// octet that is no rate (vocrate never writes one). Each such packet is one
/// lost frame and occupies its octet alone, so one stray byte between two
/// packets costs one frame and the packets after it stay in step.
inline constexpr std::uint8_t kRateBlank = 0;

/// The other codecs a QCP file may carry, by their GUIDs in file byte order.
/// QCELP-13K has two (RFC 3625): {5E7F6D41-B115-11D0-BA91-00805FB4B97E} and
/// {5E7F6D42-...}.
inline constexpr std::array<std::uint8_t, 16> kQcelp13kGuid1 = {
    0x41, 0x6D, 0x7F, 0x5E, 0x15, 0xB1, 0xD0, 0x11, 0xBA, 0x91, 0x00, 0x80, 0x5F, 0xB4, 0xB9, 0x7E};
inline constexpr std::array<std::uint8_t, 16> kQcelp13kGuid2 = {
    0x42, 0x6D, 0x7F, 0x5E, 0x15, 0xB1, 0xD0, 0x11, 0xBA, 0x91, 0x00, 0x80, 0x5F, 0xB4, 0xB9, 0x7E};
/// SMV: {8D7C2B75-A797-ED49-985E-D53C8CC75F84}.
inline constexpr std::array<std::uint8_t, 16> kSmvGuid = {
    0x75, 0x2B, 0x7C, 0x8D, 0x97, 0xA7, 0x49, 0xED, 0x98, 0x5E, 0xD5, 0x3C, 0x8C, 0xC7, 0x5F, 0x84};
/// 4GV (EVRC-B): {3CFD29CA-F653-4EF5-90E9-F4236D599B61}. No published
/// standard lists it; it is the GUID that phones writing 4GV recordings put
/// there. Files with another GUID are still named by their codec name field.
inline constexpr std::array<std::uint8_t, 16> k4gvGuid = {
    0xCA, 0x29, 0xFD, 0x3C, 0x53, 0xF6, 0xF5, 0x4E, 0x90, 0xE9, 0xF4, 0x23, 0x6D, 0x59, 0x9B, 0x61};

}  // namespace qcp

namespace qcelp {

/// QCELP-13K packets in a QCP data chunk: a rate octet, then 34, 16, 7, 3 or
/// 0 data bytes for octets 4, 3, 2, 1 (full, half, quarter, eighth rate) and
/// 0 (blank). Octet 14 is an erasure with no data bytes.
inline constexpr std::uint8_t kRateFull = 4;
inline constexpr std::uint8_t kRateBlank = 0;
inline constexpr std::uint8_t kRateErasure = 14;
inline constexpr std::size_t kMaxPacketDataBytes = 34;
/// Samples one packet decodes to (20 ms at 8 kHz).
inline constexpr std::size_t kSamplesPerPacket = 160;

/// Data bytes after a speech rate octet (1 to 4): 3, 7, 16, 34; 0 for any
/// other octet (blank, erasure, or no rate at all).
constexpr std::size_t DataBytesForRate(unsigned rate) {
  switch (rate) {
    case 4:
      return 34;
    case 3:
      return 16;
    case 2:
      return 7;
    case 1:
      return 3;
    default:
      return 0;
  }
}

}  // namespace qcelp

namespace evrc {

/// Raw EVRC packet file: headerless records of 12 little-endian 16-bit words.
/// Word 0 is the rate (4, 3, 2, 1); words 1..11 hold the data bytes two to a
/// word, the earlier byte in the high half.
inline constexpr std::size_t kRecordWords = 12;
inline constexpr std::size_t kRecordBytes = kRecordWords * 2;
/// Word 1 of an eighth-rate record that stands for a lost frame.
inline constexpr std::uint16_t kErasureWord = 0xFFFF;
/// PCM samples that one frame decodes to (20 ms at 8 kHz).
inline constexpr std::size_t kSamplesPerFrame = 160;

}  // namespace evrc
