#include "formats/qcp_writer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "formats/test_files.h"

namespace vocrate {
namespace {

using testing::Bytes;

std::uint32_t Le32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t Le16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
std::string Text(const Bytes& b, std::size_t at, std::size_t n) {
  return std::string(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
}

// Writes the packets through QcpWriter into a temporary file and returns it.
Bytes Write(const std::vector<Bytes>& packets, std::uint32_t packets_in_header,
            bool* ok = nullptr) {
  std::FILE* file = std::tmpfile();
  bool finished = false;
  {
    QcpWriter writer(file);
    for (const Bytes& packet : packets) {
      writer.AppendPacket(packet[0], std::span(packet.data() + 1, packet.size() - 1));
    }
    finished = writer.Finish(packets_in_header);
  }
  if (ok != nullptr) *ok = finished;
  Bytes bytes;
  std::rewind(file);
  int c = 0;
  while ((c = std::fgetc(file)) != EOF) bytes.push_back(static_cast<std::uint8_t>(c));
  std::fclose(file);
  return bytes;
}

TEST(QcpWriterTest, HeaderHoldsEveryFieldOfTheLayout) {
  const Bytes file = Write({}, 0);
  ASSERT_EQ(file.size(), 194u);
  EXPECT_EQ(Text(file, 0, 4), "RIFF");
  EXPECT_EQ(Le32(file, 4), 186u);
  EXPECT_EQ(Text(file, 8, 4), "QLCM");
  EXPECT_EQ(Text(file, 12, 4), "fmt ");
  EXPECT_EQ(Le32(file, 16), 150u);
  EXPECT_EQ(file[20], 1);
  EXPECT_EQ(file[21], 0);
  const Bytes guid = {0x8D, 0xD4, 0x89, 0xE6, 0x76, 0x90, 0xB5, 0x46,
                      0x91, 0xEF, 0x73, 0x6A, 0x51, 0x00, 0xCE, 0xB4};
  EXPECT_EQ(Bytes(file.begin() + 22, file.begin() + 38), guid);
  EXPECT_EQ(Le16(file, 38), 1);
  const std::string name = "TIA IS-127 Enhanced Variable Rate Codec, Speech Service Option 3 ";
  ASSERT_EQ(name.size(), 65u);
  EXPECT_EQ(Text(file, 40, 65), name);
  EXPECT_EQ(Text(file, 105, 15), std::string(15, '\0'));
  EXPECT_EQ(Le16(file, 120), 13000);
  EXPECT_EQ(Le16(file, 122), 22);
  EXPECT_EQ(Le16(file, 124), 160);
  EXPECT_EQ(Le16(file, 126), 8000);
  EXPECT_EQ(Le16(file, 128), 16);
  EXPECT_EQ(Le32(file, 130), 5u);
  const Bytes rate_map = {22, 4, 10, 3, 5, 2, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Bytes(file.begin() + 134, file.begin() + 150), rate_map);
  EXPECT_EQ(Bytes(file.begin() + 150, file.begin() + 170), Bytes(20, 0));
  EXPECT_EQ(Text(file, 170, 4), "vrat");
  EXPECT_EQ(Le32(file, 174), 8u);
  EXPECT_EQ(Le32(file, 178), 1u);
  EXPECT_EQ(Le32(file, 182), 0u);
  EXPECT_EQ(Text(file, 186, 4), "data");
  EXPECT_EQ(Le32(file, 190), 0u);

  // The header of a matching sample recording, which was written by this layout.
  const Bytes sample = testing::ReadFileBytes(VOCRATE_SAMPLES_DIR "/greeting.qcp");
  ASSERT_GE(sample.size(), 194u);
  const auto built = BuildQcpHeader(Le32(sample, 190), Le32(sample, 182));
  EXPECT_TRUE(std::equal(built.begin(), built.end(), sample.begin()));
}

TEST(QcpWriterTest, SizesAndPadByte) {
  Bytes full = {4};
  for (int i = 1; i <= 22; ++i) full.push_back(static_cast<std::uint8_t>(i));

  bool ok = false;
  const Bytes one_full = Write({full}, 1, &ok);
  EXPECT_TRUE(ok);
  ASSERT_EQ(one_full.size(), 218u);
  EXPECT_EQ(Le32(one_full, 4), 210u);
  EXPECT_EQ(Le32(one_full, 182), 1u);
  EXPECT_EQ(Le32(one_full, 190), 23u);
  EXPECT_EQ(Bytes(one_full.begin() + 194, one_full.begin() + 217), full);
  EXPECT_EQ(one_full[217], 0) << "pad byte";

  const Bytes eighth = {1, 0xFF, 0xFF};
  const Bytes two_eighth = Write({eighth, eighth}, 2);
  ASSERT_EQ(two_eighth.size(), 200u);
  EXPECT_EQ(Le32(two_eighth, 4), 192u);
  EXPECT_EQ(Le32(two_eighth, 190), 6u);
  EXPECT_EQ(Le32(two_eighth, 182), 2u);

  // RIFF size is always the file size minus 8, and only three fields differ.
  const Bytes empty = Write({}, 0);
  for (const Bytes* file : {&one_full, &two_eighth}) {
    EXPECT_EQ(Le32(*file, 4), file->size() - 8);
    for (std::size_t i = 0; i < 194; ++i) {
      const bool size_field = (i >= 4 && i < 8) || (i >= 182 && i < 186) || (i >= 190 && i < 194);
      if (!size_field) {
        EXPECT_EQ((*file)[i], empty[i]) << "offset " << i;
      }
    }
  }
}

TEST(QcpWriterTest, WriteFailureIsReported) {
  std::FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  QcpWriter writer(full);
  writer.AppendPacket(1, std::span<const std::uint8_t>(Bytes{0xFF, 0xFF}));
  EXPECT_FALSE(writer.Finish(1));
  std::fclose(full);
}

}  // namespace
}  // namespace vocrate
