#include "outside/decoder/evrc_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "outside/decoder/evrc_test_util.h"

namespace evrc {
namespace {

using test::Bytes;

/// A FILE over a byte vector.
struct MemorySource {
  const Bytes* bytes;
  std::size_t pos = 0;
};

std::FILE* OpenSource(MemorySource* source) {
  cookie_io_functions_t io{};
  io.read = [](void* cookie, char* buf, std::size_t size) -> ssize_t {
    auto* s = static_cast<MemorySource*>(cookie);
    std::size_t n = std::min(size, s->bytes->size() - s->pos);
    std::memcpy(buf, s->bytes->data() + s->pos, n);
    s->pos += n;
    return static_cast<ssize_t>(n);
  };
  return fopencookie(source, "rb", io);
}

struct Decoded {
  bool ok = false;
  Bytes pcm;
  DecodeStats stats;
  std::string err;
};

Decoded Decode(const Bytes& records, DecodeOptions options = {}) {
  Decoded result;
  MemorySource source{&records};
  std::FILE* in = OpenSource(&source);
  std::FILE* out = std::tmpfile();
  result.ok = DecodeEvrcStream(in, out, options, &result.stats, &result.err);
  std::fclose(in);
  std::fflush(out);
  result.pcm.resize(static_cast<std::size_t>(std::ftell(out)));
  std::rewind(out);
  result.pcm.resize(std::fread(result.pcm.data(), 1, result.pcm.size(), out));
  std::fclose(out);
  return result;
}

Bytes Record(std::uint16_t rate, std::uint16_t word1 = 0) {
  Bytes r(kRecordBytes, 0);
  r[0] = rate & 0xFF;
  r[1] = rate >> 8;
  r[2] = word1 & 0xFF;
  r[3] = word1 >> 8;
  return r;
}

double Correlation(const Bytes& a, const Bytes& b) {
  const std::size_t n = std::min(a.size(), b.size()) / 2;
  double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double x = static_cast<std::int16_t>(a[2 * i] | (a[2 * i + 1] << 8));
    const double y = static_cast<std::int16_t>(b[2 * i] | (b[2 * i + 1] << 8));
    sa += x;
    sb += y;
    saa += x * x;
    sbb += y * y;
    sab += x * y;
  }
  const double cov = sab - sa * sb / n;
  return cov / std::sqrt((saa - sa * sa / n) * (sbb - sb * sb / n));
}

TEST(EvrcRecordTest, PacketTakesRateOctetThenDataHighByteFirst) {
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
  ASSERT_EQ(RecordToPacket(record.data(), packet), 11u);
  EXPECT_EQ(packet[10], record[10]);  // low byte of word 5

  // Quarter rate: the fifth data byte is the high byte of word 3.
  record[0] = 2;
  ASSERT_EQ(RecordToPacket(record.data(), packet), 6u);
  EXPECT_EQ(packet[5], record[7]);

  record[0] = 1;
  ASSERT_EQ(RecordToPacket(record.data(), packet), 3u);
  EXPECT_EQ(packet[1], record[3]);
  EXPECT_EQ(packet[2], record[2]);

  // Unknown rates, including a known low byte under a set high byte.
  for (std::uint16_t rate : {0, 5, 0xFF, 0x0104}) {
    EXPECT_EQ(RecordToPacket(Record(rate).data(), packet), 0u) << rate;
  }

  EXPECT_TRUE(IsErasureRecord(Record(1, 0xFFFF).data()));
  EXPECT_FALSE(IsErasureRecord(Record(1, 0xFFFE).data()));
  EXPECT_FALSE(IsErasureRecord(Record(2, 0xFFFF).data()));
  EXPECT_FALSE(IsErasureRecord(Record(0x0101, 0xFFFF).data()));
}

TEST(EvrcRecordTest, FloatConversionRoundsHalfToEvenAndClips) {
  const float in[] = {0.0f,    0.5f / 32768, 1.5f / 32768,    -2.5f / 32768, 0.25f,
                      -0.999f, 1.0f,         -1.0f,           3.0f,          -7.5f,
                      1e20f,   -1e20f,       32766.6f / 32768};
  const std::int16_t expected[] = {0,      0,     2,      -2,    8192,   -32735, 32767,
                                   -32768, 32767, -32768, 32767, -32768, 32767};
  static_assert(std::size(in) == std::size(expected));
  std::int16_t out[std::size(in)];
  FloatToS16(in, std::size(in), out);
  for (std::size_t i = 0; i < std::size(in); ++i) EXPECT_EQ(out[i], expected[i]) << in[i];
}

TEST(EvrcDecodeTest, SampleRecordingsMatchLibavcodecDigests) {
  const auto digests = test::ReadDigests();
  ASSERT_EQ(digests.size(), std::size(test::kRecordings));
  for (const char* name : test::kRecordings) {
    const Bytes records = test::QcpToRecords(test::ReadFile(test::SamplePath(name)));
    ASSERT_FALSE(records.empty()) << name;
    const Decoded d = Decode(records);
    ASSERT_TRUE(d.ok) << name << ": " << d.err;
    EXPECT_EQ(d.pcm.size(), records.size() / kRecordBytes * kPcmBytesPerFrame) << name;
    EXPECT_EQ(test::Md5Hex(d.pcm), digests.at(name)) << name;
  }
  // lossy_call carries 27 erasure records, each concealed in place.
  const Decoded lossy =
      Decode(test::QcpToRecords(test::ReadFile(test::SamplePath("lossy_call.qcp"))));
  EXPECT_EQ(lossy.stats.frames, 554u);
  EXPECT_EQ(lossy.stats.erasures, 27u);
  EXPECT_EQ(lossy.stats.concealed, 27u);
}

TEST(EvrcDecodeTest, SpeechCorrelatesWithTheReferenceDecoder) {
  struct Case {
    const char* recording;
    const char* reference;
    double min_correlation;
  };
  const Case cases[] = {{"greeting.qcp", "greeting.ref.pcm", 0.99},
                        {"meeting_notes.qcp", "meeting_notes.ref.pcm", 0.99},
                        {"zh_call.qcp", "zh_call.ref.pcm", 0.99},
                        {"voicemail.dat", "voicemail.ref.pcm", 0.99},
                        {"lossy_call.qcp", "lossy_call.ref.pcm", 0.9}};
  for (const Case& c : cases) {
    const Decoded d = Decode(test::QcpToRecords(test::ReadFile(test::SamplePath(c.recording))));
    const Bytes reference = test::ReadFile(test::TestDataPath(c.reference));
    ASSERT_FALSE(reference.empty()) << c.reference;
    EXPECT_EQ(d.pcm.size(), reference.size()) << c.recording;
    EXPECT_GT(Correlation(d.pcm, reference), c.min_correlation) << c.recording;
  }
}

TEST(EvrcDecodeTest, EveryWholeRecordGivesOneFrame) {
  // Empty input: empty output, success.
  Decoded d = Decode({});
  EXPECT_TRUE(d.ok);
  EXPECT_TRUE(d.pcm.empty());
  EXPECT_EQ(d.stats.frames, 0u);

  // A fragment shorter than a record is ignored.
  d = Decode(Bytes(kRecordBytes - 1, 4));
  EXPECT_TRUE(d.ok);
  EXPECT_TRUE(d.pcm.empty());
  EXPECT_EQ(d.stats.trailing_bytes, kRecordBytes - 1);

  // Erasures and unknown rates are concealed in place; the fragment after
  // the last whole record is dropped.
  Bytes records;
  for (int i = 0; i < 40; ++i) {
    const Bytes r = i % 4 == 3 ? Record(9) : i % 2 ? Record(0x0104) : Record(1, 0xFFFF);
    records.insert(records.end(), r.begin(), r.end());
  }
  records.insert(records.end(), 5, 0x04);
  d = Decode(records);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.pcm.size(), 40 * kPcmBytesPerFrame);
  EXPECT_EQ(d.stats.frames, 40u);
  EXPECT_EQ(d.stats.concealed, 40u);
  EXPECT_EQ(d.stats.erasures, 20u);
  EXPECT_EQ(d.stats.unknown, 20u);
  EXPECT_EQ(d.stats.trailing_bytes, 5u);
}

TEST(EvrcDecodeTest, StreamsLongerThanOneBlockKeepTheirLength) {
  // Longer than one read block and one write block: the length stays exact
  // and the start is as for the single recording.
  const Bytes records = test::QcpToRecords(test::ReadFile(test::SamplePath("meeting_notes.qcp")));
  const Decoded whole = Decode(records);
  Bytes longer;
  for (int i = 0; i < 5; ++i) longer.insert(longer.end(), records.begin(), records.end());
  const Decoded d = Decode(longer);
  ASSERT_TRUE(d.ok);
  ASSERT_EQ(d.pcm.size(), 5 * whole.pcm.size());
  EXPECT_TRUE(std::equal(whole.pcm.begin(), whole.pcm.end(), d.pcm.begin()));
}

TEST(EvrcDecodeTest, RandomBytesDecodeToTheRightLength) {
  std::mt19937 rng(20261208);
  std::uniform_int_distribution<int> byte(0, 255);
  // Wholly random records (mostly of unknown rate), then random data under
  // valid rate words, which reaches the library's bit parsing.
  Bytes noise(kRecordBytes * 3000 + 11);
  for (auto& b : noise) b = static_cast<std::uint8_t>(byte(rng));
  Decoded d = Decode(noise);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.pcm.size(), 3000 * kPcmBytesPerFrame);

  for (std::size_t r = 0; r < 3000; ++r) {
    noise[r * kRecordBytes] = static_cast<std::uint8_t>(1 + r % 4);
    noise[r * kRecordBytes + 1] = 0;
  }
  d = Decode(noise);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.pcm.size(), 3000 * kPcmBytesPerFrame);
  EXPECT_EQ(d.stats.unknown, 0u);
}

TEST(EvrcDecodeTest, PostfilterOptionIsPassedToTheLibrary) {
  const Bytes records = test::QcpToRecords(test::ReadFile(test::SamplePath("greeting.qcp")));
  const Decoded on = Decode(records);
  const Decoded off = Decode(records, DecodeOptions{.postfilter = false});
  ASSERT_TRUE(off.ok) << off.err;
  EXPECT_EQ(off.pcm.size(), on.pcm.size());
  EXPECT_NE(off.pcm, on.pcm);
  EXPECT_GT(Correlation(off.pcm, on.pcm), 0.9);
}

TEST(EvrcDecodeTest, ReadAndWriteErrorsAreReported) {
  const Bytes records = test::QcpToRecords(test::ReadFile(test::SamplePath("greeting.qcp")));
  MemorySource source{&records};
  std::FILE* in = OpenSource(&source);
  std::FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  std::string err;
  EXPECT_FALSE(DecodeEvrcStream(in, full, {}, nullptr, &err));
  EXPECT_NE(err.find("cannot write"), std::string::npos) << err;
  std::fclose(full);
  std::fclose(in);

  // Reading a folder fails with EISDIR.
  std::FILE* folder = std::fopen("/", "rb");
  ASSERT_NE(folder, nullptr);
  std::FILE* out = std::tmpfile();
  err.clear();
  EXPECT_FALSE(DecodeEvrcStream(folder, out, {}, nullptr, &err));
  EXPECT_NE(err.find("cannot read"), std::string::npos) << err;
  std::fclose(out);
  std::fclose(folder);
}

}  // namespace
}  // namespace evrc
