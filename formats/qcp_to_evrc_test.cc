#include "formats/qcp_to_evrc.h"

#include <gtest/gtest.h>

#include "formats/qcp_chunks.h"
#include "formats/qcp_writer.h"
#include "formats/test_files.h"

namespace vocrate {
namespace {

using testing::Bytes;
using testing::QcpBody;

// Record number `i` of an EVRC file.
Bytes RecordAt(const Bytes& evrc, std::size_t i) {
  return Bytes(evrc.begin() + static_cast<long>(24 * i),
               evrc.begin() + static_cast<long>(24 * (i + 1)));
}
Bytes Padded(Bytes record) {
  record.resize(24, 0);
  return record;
}

TEST(QcpToEvrcTest, ShortOrEmptyFiles) {
  for (std::size_t length : {0u, 10u, 193u, 194u}) {
    const auto c = testing::QcpToEvrc(Bytes(length, 4));
    EXPECT_EQ(c.position, 194) << length;
    EXPECT_TRUE(c.output.empty());
    EXPECT_EQ(c.loss.summaries, 1);
    EXPECT_EQ(c.loss.summary_frames, 0u);
    EXPECT_EQ(c.loss.summary_lost, 0u);
  }
}

TEST(QcpToEvrcTest, CompletePacketsHighByteFirst) {
  Bytes packets = {4};
  for (int i = 1; i <= 0x16; ++i) packets.push_back(static_cast<std::uint8_t>(i));
  const Bytes more = {3, 0xA1, 0xA2, 0xB1, 0xB2, 0xC1, 0xC2, 0xD1, 0xD2, 0xE1, 0xE2,  // half
                      2, 0x12, 0x34, 0x56, 0x78, 0x9A,                                // quarter
                      1, 0xFF, 0xFF,                                                  // erasure
                      1, 0xFF, 0x00};
  packets.insert(packets.end(), more.begin(), more.end());
  // The header is never looked at: garbage there changes nothing.
  Bytes file = QcpBody(packets);
  for (std::size_t i = 0; i < 194; ++i) file[i] = static_cast<std::uint8_t>(i * 7);
  const auto c = testing::QcpToEvrc(file);
  ASSERT_EQ(c.output.size(), 5u * 24u);
  Bytes full = {4, 0};
  for (int k = 0; k < 11; ++k) {
    full.push_back(static_cast<std::uint8_t>(2 * k + 2));
    full.push_back(static_cast<std::uint8_t>(2 * k + 1));
  }
  EXPECT_EQ(RecordAt(c.output, 0), full);
  EXPECT_EQ(RecordAt(c.output, 1),
            Padded({3, 0, 0xA2, 0xA1, 0xB2, 0xB1, 0xC2, 0xC1, 0xD2, 0xD1, 0xE2, 0xE1}));
  EXPECT_EQ(RecordAt(c.output, 2), Padded({2, 0, 0x34, 0x12, 0x78, 0x56, 0x00, 0x9A}));
  EXPECT_EQ(RecordAt(c.output, 3), Padded({1, 0, 0xFF, 0xFF}));
  EXPECT_EQ(RecordAt(c.output, 4), Padded({1, 0, 0x00, 0xFF}));
  EXPECT_EQ(c.loss.positions, (std::vector<std::uint32_t>{3}));
  EXPECT_EQ(c.loss.summary_frames, 5u);
  EXPECT_EQ(c.loss.summary_lost, 1u);
}

TEST(QcpToEvrcTest, PacketsCutShortAndPadByte) {
  // A half-rate packet with 4 of its 10 bytes: file order, zeros after, no loss test.
  auto c = testing::QcpToEvrc(QcpBody({3, 0x11, 0x22, 0x33, 0x44}));
  ASSERT_EQ(c.output.size(), 24u);
  EXPECT_EQ(c.output, Padded({3, 0, 0x11, 0x22, 0x33, 0x44}));
  EXPECT_EQ(c.loss.summary_frames, 1u);
  EXPECT_TRUE(c.loss.positions.empty());

  // A cut-short erasure is not a lost frame; a rate octet alone still makes a record.
  c = testing::QcpToEvrc(QcpBody({1, 0xFF}));
  EXPECT_EQ(c.output, Padded({1, 0, 0xFF}));
  EXPECT_EQ(c.loss.summary_lost, 0u);
  c = testing::QcpToEvrc(QcpBody({1, 0x01, 0x02, 4}));
  EXPECT_EQ(c.output.size(), 48u);
  EXPECT_EQ(RecordAt(c.output, 1), Padded({4, 0}));

  // The pad byte of an odd data chunk: a frame, no record, not lost.
  c = testing::QcpToEvrc(QcpBody({2, 1, 2, 3, 4, 5, 1, 0xFF, 0xFF, 0}));
  EXPECT_EQ(c.output.size(), 48u);
  EXPECT_EQ(c.loss.summary_frames, 3u);
  EXPECT_EQ(c.loss.summary_lost, 1u);
  EXPECT_EQ(c.loss.positions, (std::vector<std::uint32_t>{1}));
}

void AddChunk(Bytes& file, const char* id, const Bytes& payload, std::uint32_t claimed) {
  file.insert(file.end(), id, id + 4);
  for (int i = 0; i < 4; ++i) file.push_back(static_cast<std::uint8_t>(claimed >> (8 * i)));
  file.insert(file.end(), payload.begin(), payload.end());
  if (payload.size() % 2 == 1) file.push_back(0);
}

/// vocrate's own header with a "labl" chunk inserted before "data" when
/// label is not empty, the packets as the data chunk (claiming `claimed`
/// bytes), then `after` bytes.
Bytes ChunkedQcp(const Bytes& label, const Bytes& packets, std::uint32_t claimed,
                 const Bytes& after) {
  const auto header = BuildQcpHeader(static_cast<std::uint32_t>(packets.size()), 3);
  Bytes file(header.begin(), header.begin() + qcp::kDataIdOffset);
  if (!label.empty()) AddChunk(file, "labl", label, static_cast<std::uint32_t>(label.size()));
  AddChunk(file, "data", packets, claimed);
  file.insert(file.end(), after.begin(), after.end());
  return file;
}

TEST(QcpToEvrcTest, ChunksBeforeAndAfterDataAreNotPackets) {
  const Bytes packets = {4,  1,  2,  3,  4,  5,  6,  7, 8,    9,    10, 11, 12, 13, 14, 15,
                         16, 17, 18, 19, 20, 21, 22, 1, 0xFF, 0xFF, 2,  9,  8,  7,  6,  5};
  const auto plain = testing::QcpToEvrc(QcpBody(packets));
  ASSERT_EQ(plain.output.size(), 72u);
  Bytes text = {'t', 'e', 'x', 't', 3, 0, 0, 0, 'a', 'b', 'c', 0};
  const auto labelled =
      testing::QcpToEvrc(ChunkedQcp({'h', 'e', 'l', 'l', 'o'}, packets, 32, text));
  EXPECT_EQ(labelled.output, plain.output);
  EXPECT_EQ(labelled.loss.summary_frames, 3u);
  EXPECT_EQ(labelled.loss.summary_lost, 1u);
  EXPECT_EQ(labelled.position, 194 + 14);
  // A data chunk that claims more than the file holds: what is there is read.
  const Bytes cut = ChunkedQcp({'h', 'i'}, packets, 1000, {});
  const auto shorter = testing::QcpToEvrc(cut);
  EXPECT_EQ(shorter.output, plain.output);
  const auto where = qcp::LocateData(cut.data(), cut.size(), cut.size());
  EXPECT_TRUE(where.wellFormed && where.cutShort);
  EXPECT_EQ(where.length, 32u);
}

TEST(QcpToEvrcTest, OwnShapeAndBrokenHeadersReadFrom194ToTheEnd) {
  // vocrate's own shape with an odd data chunk: the pad byte is a frame, as always.
  Bytes odd = {2, 1, 2, 3, 4, 5, 1, 0xFF, 0xFF};
  Bytes own = ChunkedQcp({}, odd, 9, {});
  ASSERT_EQ(own.size(), 194u + 10u);
  auto c = testing::QcpToEvrc(own);
  EXPECT_EQ(c.loss.summary_frames, 3u);
  EXPECT_EQ(c.output.size(), 48u);
  auto where = qcp::LocateData(own.data(), own.size(), own.size());
  EXPECT_TRUE(where.wellFormed);
  EXPECT_FALSE(where.cutShort);
  EXPECT_EQ(where.offset, 194u);
  EXPECT_EQ(where.length, 10u);
  // Not a chunk list (a chunk runs past the end): 194 to the end, labl and all.
  Bytes broken = ChunkedQcp({'x'}, odd, 9, {});
  broken[qcp::kVratSizeOffset] = 0xF0;
  where = qcp::LocateData(broken.data(), broken.size(), broken.size());
  EXPECT_FALSE(where.wellFormed);
  EXPECT_EQ(where.offset, 194u);
  EXPECT_EQ(where.length, broken.size() - 194);
}

TEST(QcpToEvrcTest, BlankAndUnknownOctetsTakeOneByteAndAreLost) {
  // A blank packet (0) and an unknown octet (5) between packets: each is one
  // lost frame with its octet in word 0 and no data; the packets around them
  // come out as without them.
  const Bytes clean = {2, 1, 2, 3, 4, 5, 1, 0x01, 0x02, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  Bytes stray = clean;
  stray.insert(stray.begin() + 9, 5);
  stray.insert(stray.begin() + 6, 0);
  const auto plain = testing::QcpToEvrc(QcpBody(clean));
  const auto c = testing::QcpToEvrc(QcpBody(stray));
  ASSERT_EQ(c.output.size(), 5u * 24u);
  EXPECT_EQ(RecordAt(c.output, 0), RecordAt(plain.output, 0));
  EXPECT_EQ(RecordAt(c.output, 1), Padded({0, 0}));
  EXPECT_EQ(RecordAt(c.output, 2), RecordAt(plain.output, 1));
  EXPECT_EQ(RecordAt(c.output, 3), Padded({5, 0}));
  EXPECT_EQ(RecordAt(c.output, 4), RecordAt(plain.output, 2));
  EXPECT_EQ(c.loss.positions, (std::vector<std::uint32_t>{1, 3}));
  EXPECT_EQ(c.loss.summary_frames, 5u);

  // In a real recording: the records of the clean file, one more in the middle.
  const Bytes sample =
      testing::ReadFileBytes(std::string(VOCRATE_SAMPLES_DIR) + "/meeting_notes.qcp");
  const auto whole = testing::QcpToEvrc(sample);
  std::size_t at = 194;
  for (int k = 0; k < 640; ++k) at += 1 + qcp::DataBytesForRate(sample[at]);
  Bytes with_stray = sample;
  with_stray.insert(with_stray.begin() + static_cast<long>(at), 0);
  ++with_stray[qcp::kDataSizeOffset];  // the data chunk holds one byte more
  const auto shifted = testing::QcpToEvrc(with_stray);
  Bytes expected = whole.output;
  const Bytes blank = Padded({0, 0});
  expected.insert(expected.begin() + 640 * 24, blank.begin(), blank.end());
  EXPECT_EQ(shifted.output, expected);
  EXPECT_EQ(shifted.loss.summary_frames, 1281u);
  EXPECT_EQ(shifted.loss.positions, (std::vector<std::uint32_t>{640}));

  // At the end: a lone last octet is the pad byte (a frame, no record, not lost).
  const auto end = testing::QcpToEvrc(QcpBody({0xFF, 0xAA, 0}));
  ASSERT_EQ(end.output.size(), 48u);
  EXPECT_EQ(RecordAt(end.output, 0), Padded({0xFF, 0}));
  EXPECT_EQ(RecordAt(end.output, 1), Padded({0xAA, 0}));
  EXPECT_EQ(end.loss.summary_frames, 3u);
  EXPECT_EQ(end.loss.summary_lost, 2u);

  // A header of another layout: packets come out misaligned, nothing fails.
  Bytes file = QcpBody({});
  file.resize(194 + 1000, 0);  // 1000 blank octets, the last one taken for a pad byte
  const auto zeros = testing::QcpToEvrc(file);
  EXPECT_EQ(zeros.output.size(), 999u * 24u);
  EXPECT_EQ(zeros.loss.summary_lost, 999u);
  EXPECT_EQ(zeros.loss.positions.back(), 998u);
}

}  // namespace
}  // namespace vocrate
