#include "formats/qcp_codec.h"

#include <gtest/gtest.h>

#include <functional>

#include "formats/qcp_tags.h"
#include "formats/qcp_writer.h"
#include "formats/test_files.h"

namespace vocrate {
namespace {

using testing::Bytes;

Bytes Header(const std::array<std::uint8_t, 16>& guid, const std::string& name) {
  const auto header = BuildQcpHeader(0, 0);
  Bytes bytes(header.begin(), header.end());
  std::copy(guid.begin(), guid.end(), bytes.begin() + qcp::kCodecGuidOffset);
  std::fill_n(bytes.begin() + qcp::kCodecNameOffset, qcp::kCodecNameFieldSize, 0);
  std::copy(name.begin(), name.end(), bytes.begin() + qcp::kCodecNameOffset);
  return bytes;
}

qcp::CodecId Identify(const Bytes& bytes) { return qcp::IdentifyCodec(bytes.data(), bytes.size()); }

TEST(QcpCodecTest, TheGuidDecidesThenTheNameField) {
  const std::array<std::uint8_t, 16> none{};
  const struct {
    std::array<std::uint8_t, 16> guid;
    std::string name;
    qcp::Codec codec;
    std::string shown;
    bool byGuid;
  } cases[] = {
      {qcp::kEvrcCodecGuid, qcp::kEvrcCodecName, qcp::Codec::kEvrc, "EVRC", true},
      {qcp::kQcelp13kGuid1, "", qcp::Codec::kQcelp13k, "QCELP-13K", true},
      {qcp::kQcelp13kGuid2, "TIA IS-127 Enhanced Variable Rate", qcp::Codec::kQcelp13k, "QCELP-13K",
       true},
      {qcp::kSmvGuid, "", qcp::Codec::kSmv, "SMV", true},
      {qcp::k4gvGuid, "", qcp::Codec::k4gv, "4GV", true},
      {none, "Qcelp 13K", qcp::Codec::kQcelp13k, "QCELP-13K", false},
      {none, "EVRC-B 4GV Narrowband", qcp::Codec::k4gv, "4GV", false},
      {none, "evrc", qcp::Codec::kEvrc, "EVRC", false},
      {none, "EVRC-WB", qcp::Codec::kOther, "EVRC-WB", false},
      {none, "  Acme\t\tVoice\xFF 2 \x7F ", qcp::Codec::kOther, "Acme Voice? 2 ?", false},
      {none, "", qcp::Codec::kUnknown, "unknown codec", false},
  };
  for (const auto& c : cases) {
    const qcp::CodecId id = Identify(Header(c.guid, c.name));
    EXPECT_EQ(id.codec, c.codec) << c.name;
    EXPECT_EQ(id.name, c.shown) << c.name;
    EXPECT_EQ(id.byGuid, c.byGuid) << c.name;
  }
  // A GUID differing from EVRC's in its last byte is not EVRC's.
  auto near = qcp::kEvrcCodecGuid;
  near[15] ^= 1;
  EXPECT_EQ(Identify(Header(near, "")).codec, qcp::Codec::kUnknown);
  // A name field that fills all 80 bytes, and a file that ends inside it.
  Bytes full = Header(none, std::string(80, 'x'));
  EXPECT_EQ(Identify(full).name, std::string(80, 'x'));
  full.resize(50);
  EXPECT_EQ(Identify(full).name, std::string(10, 'x'));
  // Not a QCP file: too short, or not RIFF "QLCM".
  Bytes evrc = Header(qcp::kEvrcCodecGuid, "");
  EXPECT_EQ(qcp::IdentifyCodec(evrc.data(), 37).codec, qcp::Codec::kUnknown);
  evrc[8] = 'W';
  EXPECT_EQ(Identify(evrc).codec, qcp::Codec::kUnknown);
}

void AddChunk(Bytes& file, const char* id, const std::string& payload, std::uint32_t claimed) {
  file.insert(file.end(), id, id + 4);
  for (int i = 0; i < 4; ++i) file.push_back(static_cast<std::uint8_t>(claimed >> (8 * i)));
  file.insert(file.end(), payload.begin(), payload.end());
  if (payload.size() % 2 == 1) file.push_back(0);
}

/// A QCELP-13K file: RIFF header, fmt and vrat chunks, then `chunks`.
Bytes Qcp(const std::function<void(Bytes&)>& chunks) {
  Bytes file = Header(qcp::kQcelp13kGuid1, "Qcelp 13K");
  file.resize(qcp::kDataIdOffset);
  chunks(file);
  return file;
}

qcp::QcpTags Tags(const Bytes& file) { return qcp::ReadTags(file.data(), file.size()); }

TEST(QcpTagsTest, LabelAndTextBeforeOrAfterTheData) {
  const std::string data(35, '\4');
  auto tags = Tags(Qcp([&](Bytes& f) {
    AddChunk(f, "text", "note", 4);
    AddChunk(f, "data", data, 35);
    AddChunk(f, "labl", std::string("Meeting 2009-03-01\0junk", 23), 23);
    AddChunk(f, "text", "second", 6);  // only the first of a kind counts
  }));
  EXPECT_EQ(tags.label, "Meeting 2009-03-01");
  EXPECT_EQ(tags.text, "note");

  // Bounded: a long text is cut, a chunk past the end gives what is there.
  tags = Tags(Qcp([&](Bytes& f) {
    AddChunk(f, "data", data, 35);
    AddChunk(f, "labl", std::string(5000, 'a'), 5000);
    AddChunk(f, "text", "cut", 0xFFFFFFF0u);
  }));
  EXPECT_EQ(tags.label, std::string(qcp::kMaxTagBytes, 'a'));
  EXPECT_EQ(tags.text, "cut");
  // No tags in a file that is not a QCP chunk list, nor after a data chunk
  // that claims the rest of the file.
  Bytes riff = Qcp([&](Bytes& f) { AddChunk(f, "labl", "x", 1); });
  riff[8] = 'W';
  EXPECT_EQ(Tags(riff).label, "");
  EXPECT_EQ(Tags(Qcp([&](Bytes& f) {
              AddChunk(f, "data", data, 1000);
              AddChunk(f, "labl", "x", 1);
            })).label,
            "");
}

}  // namespace
}  // namespace vocrate
