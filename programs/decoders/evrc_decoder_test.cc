#include "programs/decoders/evrc_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "programs/decoders/evrc_test_util.h"

namespace evrc {
namespace {

using test::Bytes;

struct Decoded {
  bool ok = false;
  Bytes pcm;
  DecodeStats stats;
  std::string err;
};

Decoded Decode(const Bytes& records, DecodeOptions options = {}) {
  Decoded d;
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  std::fwrite(records.data(), 1, records.size(), in);
  std::rewind(in);
  d.ok = DecodeEvrcStream(in, out, options, &d.stats, &d.err);
  d.pcm.resize(static_cast<std::size_t>(std::ftell(out)));
  std::rewind(out);
  d.pcm.resize(std::fread(d.pcm.data(), 1, d.pcm.size(), out));
  std::fclose(in);
  std::fclose(out);
  return d;
}

Bytes Record(std::uint16_t rate, std::uint16_t word1 = 0) {
  Bytes r(kRecordBytes, 0);
  r[0] = rate & 0xFF, r[1] = rate >> 8, r[2] = word1 & 0xFF, r[3] = word1 >> 8;
  return r;
}

double Correlation(const Bytes& a, const Bytes& b) {
  const std::size_t n = std::min(a.size(), b.size()) / 2;
  double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double x = static_cast<std::int16_t>(a[2 * i] | (a[2 * i + 1] << 8));
    const double y = static_cast<std::int16_t>(b[2 * i] | (b[2 * i + 1] << 8));
    sa += x, sb += y, saa += x * x, sbb += y * y, sab += x * y;
  }
  return (sab - sa * sb / n) / std::sqrt((saa - sa * sa / n) * (sbb - sb * sb / n));
}

TEST(EvrcRecordTest, PacketIsRateOctetThenDataHighByteFirst) {
  Bytes record(kRecordBytes);
  for (std::size_t i = 0; i < record.size(); ++i) record[i] = static_cast<std::uint8_t>(0x40 + i);
  std::uint8_t packet[kMaxPacketBytes] = {};
  record[0] = 4, record[1] = 0;
  ASSERT_EQ(RecordToPacket(record.data(), packet), 23u);
  EXPECT_EQ(packet[0], 4);
  for (std::size_t k = 0; k < 11; ++k) {
    EXPECT_EQ(packet[1 + 2 * k], record[3 + 2 * k]) << "high byte of word " << k + 1;
    EXPECT_EQ(packet[2 + 2 * k], record[2 + 2 * k]) << "low byte of word " << k + 1;
  }
  record[0] = 3;
  EXPECT_EQ(RecordToPacket(record.data(), packet), 11u);
  record[0] = 2;  // quarter rate: the fifth byte is the high byte of word 3
  ASSERT_EQ(RecordToPacket(record.data(), packet), 6u);
  EXPECT_EQ(packet[5], record[7]);
  record[0] = 1;
  EXPECT_EQ(RecordToPacket(record.data(), packet), 3u);
  for (std::uint16_t rate : {0, 5, 0xFF, 0x0104}) {
    EXPECT_EQ(RecordToPacket(Record(rate).data(), packet), 0u) << rate;
  }
  EXPECT_TRUE(IsErasureRecord(Record(1, 0xFFFF).data()));
  EXPECT_FALSE(IsErasureRecord(Record(1, 0xFFFE).data()));
  EXPECT_FALSE(IsErasureRecord(Record(2, 0xFFFF).data()));
  EXPECT_FALSE(IsErasureRecord(Record(0x0101, 0xFFFF).data()));
}

TEST(EvrcRecordTest, FloatConversionRoundsHalfToEvenAndClips) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const float in[] = {0.5f / 32768, 1.5f / 32768, -2.5f / 32768, 0.25f, 1.0f,         -1.0f,
                      -7.5f,        1e20f,        kInf,          -kInf, std::nanf("")};
  const std::int16_t expected[] = {0, 2, -2, 8192, 32767, -32768, -32768, 32767, 32767, -32768, 0};
  std::int16_t out[std::size(in)];
  FloatToS16(in, std::size(in), out);
  for (std::size_t i = 0; i < std::size(in); ++i) EXPECT_EQ(out[i], expected[i]) << in[i];
}

TEST(EvrcDecodeTest, RecordingsMatchLibavcodecAndTheReferenceDecoder) {
  const auto digests = test::LibavcodecDigests();
  ASSERT_EQ(digests.size(), 5u);
  for (const auto& [name, md5] : digests) {
    const Bytes records = test::SampleRecords(name);
    const Decoded d = Decode(records);
    ASSERT_TRUE(d.ok) << name << ": " << d.err;
    EXPECT_EQ(d.pcm.size(), records.size() / kRecordBytes * kPcmBytesPerFrame) << name;
    EXPECT_EQ(test::Md5Hex(d.pcm), md5) << name;
    // Against the fixed-point reference decoder: same length, close speech.
    // lossy_call's reference is the speech before its frames were erased.
    const std::string stem = name.substr(0, name.find('.'));
    const Bytes ref = test::ReadFile(std::string(DECODER_TESTDATA_DIR) + "/" + stem + ".ref.pcm");
    EXPECT_EQ(d.pcm.size(), ref.size()) << name;
    EXPECT_GT(Correlation(d.pcm, ref), stem == "lossy_call" ? 0.9 : 0.99) << name;
    if (stem == "lossy_call") {
      EXPECT_EQ(d.stats.erasures, 27u);
      EXPECT_EQ(d.stats.concealed, 27u);
    }
  }
}

TEST(EvrcDecodeTest, EveryWholeRecordGivesOneFrame) {
  Decoded d = Decode({});
  EXPECT_TRUE(d.ok);
  EXPECT_TRUE(d.pcm.empty());
  // Erasures and unknown rates are concealed in place; a fragment after the
  // last whole record is dropped.
  Bytes records;
  for (int i = 0; i < 40; ++i) {
    const Bytes r = i % 4 == 3 ? Record(9) : i % 2 ? Record(0x0104) : Record(1, 0xFFFF);
    records.insert(records.end(), r.begin(), r.end());
  }
  records.insert(records.end(), kRecordBytes - 1, 0x04);
  d = Decode(records);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.pcm.size(), 40 * kPcmBytesPerFrame);
  EXPECT_EQ(d.stats.concealed, 40u);
  EXPECT_EQ(d.stats.erasures, 20u);
  EXPECT_EQ(d.stats.unknown, 20u);
  EXPECT_EQ(d.stats.trailing_bytes, kRecordBytes - 1);

  // Longer than one read and one write block: exact length, same start.
  const Bytes one = test::SampleRecords("meeting_notes.qcp");
  const Decoded single = Decode(one);
  Bytes five;
  for (int i = 0; i < 5; ++i) five.insert(five.end(), one.begin(), one.end());
  d = Decode(five);
  ASSERT_EQ(d.pcm.size(), 5 * single.pcm.size());
  EXPECT_TRUE(std::equal(single.pcm.begin(), single.pcm.end(), d.pcm.begin()));
}

TEST(EvrcDecodeTest, AStrayPacketCostsOneConcealedFrame) {
  // What vocrate makes of a blank packet or an unknown octet in the middle of
  // a recording: one record of that octet. The frames before it are as in the
  // clean recording, and after a few frames the decoder is back in step.
  const Bytes clean = test::SampleRecords("meeting_notes.qcp");
  constexpr std::size_t kAt = 640;
  for (std::uint16_t octet : {0, 5}) {
    Bytes stray = clean;
    const Bytes r = Record(octet);
    stray.insert(stray.begin() + kAt * kRecordBytes, r.begin(), r.end());
    const Decoded a = Decode(clean), b = Decode(stray);
    ASSERT_EQ(b.pcm.size(), a.pcm.size() + kPcmBytesPerFrame);
    EXPECT_EQ(b.stats.concealed, 1u);
    const auto frame = [](const Bytes& pcm, std::size_t k) {
      return Bytes(pcm.begin() + k * kPcmBytesPerFrame, pcm.begin() + (k + 1) * kPcmBytesPerFrame);
    };
    std::size_t same_after = 0;
    for (std::size_t k = 0; k < a.pcm.size() / kPcmBytesPerFrame; ++k) {
      if (k < kAt) {
        EXPECT_EQ(frame(b.pcm, k), frame(a.pcm, k)) << k;
      } else {
        same_after += frame(b.pcm, k + 1) == frame(a.pcm, k);
      }
    }
    EXPECT_GE(same_after, 620u) << "of 640 frames after the stray one";
  }
}

TEST(EvrcDecodeTest, RandomBytesDecodeToTheRightLength) {
  // Wholly random records (mostly of unknown rate), then random data under
  // valid rate words, which reaches the library's bit parsing.
  std::mt19937 rng(20261208);
  Bytes noise(kRecordBytes * 3000 + 11);
  for (auto& b : noise) b = static_cast<std::uint8_t>(rng());
  EXPECT_EQ(Decode(noise).pcm.size(), 3000 * kPcmBytesPerFrame);
  for (std::size_t r = 0; r < 3000; ++r) {
    noise[r * kRecordBytes] = static_cast<std::uint8_t>(1 + r % 4), noise[r * kRecordBytes + 1] = 0;
  }
  const Decoded d = Decode(noise);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.pcm.size(), 3000 * kPcmBytesPerFrame);
  EXPECT_EQ(d.stats.unknown, 0u);
}

TEST(EvrcDecodeTest, PostfilterOptionAndReadErrors) {
  const Bytes records = test::SampleRecords("greeting.qcp");
  const Decoded on = Decode(records);
  const Decoded off = Decode(records, DecodeOptions{.postfilter = false});
  ASSERT_TRUE(off.ok) << off.err;
  EXPECT_EQ(off.pcm.size(), on.pcm.size());
  EXPECT_NE(off.pcm, on.pcm);

  std::FILE* folder = std::fopen("/", "rb");  // opens, but reading fails
  std::FILE* out = std::tmpfile();
  std::string err;
  EXPECT_FALSE(DecodeEvrcStream(folder, out, {}, nullptr, &err));
  EXPECT_NE(err.find("cannot read"), std::string::npos) << err;
  std::fclose(out);
  std::fclose(folder);
}

}  // namespace
}  // namespace evrc
