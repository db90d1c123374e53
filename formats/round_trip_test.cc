// EVRC -> QCP -> EVRC on random records, and QCP -> EVRC -> QCP on the
// sample recordings.
#include <gtest/gtest.h>

#include <random>

#include "formats/test_files.h"

namespace vocrate {
namespace {

using testing::Bytes;

TEST(RoundTripTest, RandomRecordsOfEveryRate) {
  std::mt19937 random(20261208);
  const std::uint16_t rates[] = {4, 3, 2, 1, 0, 5, 0x0104, 0xFFFF};
  Bytes source;
  Bytes expected;
  std::vector<std::uint32_t> lost;
  const std::size_t count = 200000;  // both files span more than one 1 MiB block
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint16_t rate = rates[random() % std::size(rates)];
    Bytes record(24, 0);
    record[0] = static_cast<std::uint8_t>(rate);
    record[1] = static_cast<std::uint8_t>(rate >> 8);
    const std::size_t data_bytes = rate == 4 ? 22 : rate == 3 ? 10 : rate == 2 ? 6 : 2;
    for (std::size_t j = 0; j < data_bytes; ++j) {
      record[2 + j] = static_cast<std::uint8_t>(random());
    }
    if (rate == 1 && random() % 4 == 0) record[2] = record[3] = 0xFF;
    Bytes back = record;
    if (rate == 2) back[6] = 0;  // the low byte of word 3 is not carried
    const bool known = rate >= 1 && rate <= 4;
    if (!known)
      back = {1, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    if (!known || (rate == 1 && record[2] == 0xFF && record[3] == 0xFF)) {
      lost.push_back(static_cast<std::uint32_t>(i));
    }
    source.insert(source.end(), record.begin(), record.end());
    expected.insert(expected.end(), back.begin(), back.end());
  }

  const auto qcp = testing::EvrcToQcp(source);
  ASSERT_GT(qcp.output.size(), std::size_t{1} << 20);
  EXPECT_EQ(qcp.loss.positions, lost);
  EXPECT_EQ(qcp.loss.summary_frames, count);
  const auto evrc = testing::QcpToEvrc(qcp.output);
  EXPECT_EQ(evrc.loss.positions, lost);
  EXPECT_EQ(evrc.loss.summary_lost, lost.size());
  // An odd data chunk ends in a pad byte, which counts as one more frame.
  EXPECT_EQ(evrc.loss.summary_frames, count + (qcp.output[190] & 1u));
  ASSERT_EQ(evrc.output.size(), expected.size());
  EXPECT_EQ(evrc.output, expected);
}

struct Sample {
  const char* name;
  std::uint32_t frames;
  std::vector<std::uint32_t> erased;
};

TEST(RoundTripTest, SampleRecordingsComeBackByteForByte) {
  const std::vector<Sample> samples = {
      {"greeting.qcp", 531, {}},
      {"meeting_notes.qcp", 1280, {}},
      {"zh_call.qcp", 741, {}},
      {"lossy_call.qcp", 554, {25,  40,  46,  52,  70,  74,  102, 106, 155, 171, 199, 200, 204, 210,
                               257, 320, 344, 415, 461, 467, 472, 473, 485, 486, 497, 530, 534}},
      {"voicemail.dat", 271, {}},
  };
  for (const Sample& sample : samples) {
    SCOPED_TRACE(sample.name);
    const Bytes original =
        testing::ReadFileBytes(std::string(VOCRATE_SAMPLES_DIR "/") + sample.name);
    ASSERT_GT(original.size(), 194u);
    const auto evrc = testing::QcpToEvrc(original);
    // An odd data chunk's pad byte counts as one frame more than the records.
    const bool padded = (original[190] & 1u) != 0;
    EXPECT_EQ(evrc.output.size(), 24u * sample.frames);
    EXPECT_EQ(evrc.loss.summary_frames, sample.frames + (padded ? 1 : 0));
    EXPECT_EQ(evrc.loss.positions, sample.erased);
    const auto qcp = testing::EvrcToQcp(evrc.output);
    EXPECT_EQ(qcp.loss.positions, sample.erased);
    EXPECT_EQ(qcp.loss.summary_frames, sample.frames);
    EXPECT_TRUE(qcp.output == original);
  }
}

}  // namespace
}  // namespace vocrate
