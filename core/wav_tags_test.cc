#include "core/wav_tags.h"

#include <gtest/gtest.h>

#include <string_view>

#include "formats/qcp_format.h"
#include "formats/qcp_tags.h"
#include "testing/child_process.h"
#include "testing/files.h"

namespace wavrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

void PutLe(Bytes& b, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

/// A 16-bit mono 8000 Hz WAV of pcm, then the tags' trailer; the RIFF size
/// counts it.
Bytes Wav(const Bytes& pcm, const WavTags& tags) {
  const Bytes trailer = BuildWavTagTrailer(pcm.size(), tags);
  Bytes wav = {'R', 'I', 'F', 'F'};
  PutLe(wav, static_cast<std::uint32_t>(36 + pcm.size() + trailer.size()), 4);
  for (char c : std::string_view("WAVEfmt ")) wav.push_back(static_cast<std::uint8_t>(c));
  PutLe(wav, 16, 4);     // format chunk size
  PutLe(wav, 1, 2);      // integer PCM
  PutLe(wav, 1, 2);      // mono
  PutLe(wav, 8000, 4);   // samples per second
  PutLe(wav, 16000, 4);  // bytes per second
  PutLe(wav, 2, 2);      // block align
  PutLe(wav, 16, 2);     // bits per sample
  wav.insert(wav.end(), {'d', 'a', 't', 'a'});
  PutLe(wav, static_cast<std::uint32_t>(pcm.size()), 4);
  wav.insert(wav.end(), pcm.begin(), pcm.end());
  wav.insert(wav.end(), trailer.begin(), trailer.end());
  return wav;
}

TEST(WavTagsTest, ListInfoChunkWithEvenSizesAndNulTerminatedTexts) {
  EXPECT_TRUE(BuildWavTagTrailer(320, {}).empty());
  EXPECT_TRUE(BuildWavTagTrailer(321, {"", std::string("\0x", 2)}).empty());

  const Bytes list = BuildWavTagTrailer(320, {"Memo", "Hello"});
  const std::string_view text(reinterpret_cast<const char*>(list.data()), list.size());
  EXPECT_EQ(text, std::string_view("LIST\x20\0\0\0INFO"
                                   "INAM\x05\0\0\0Memo\0\0"
                                   "ICMT\x06\0\0\0Hello\0",
                                   40));
  // After an odd data chunk the pad byte comes first; a long text is cut.
  const Bytes odd = BuildWavTagTrailer(321, {"", std::string(5000, 'c')});
  ASSERT_EQ(odd.size(), 1u + 12u + 8u + kMaxWavTagBytes + 2u);
  EXPECT_EQ(odd[0], 0);
  EXPECT_EQ(odd[1], 'L');
  EXPECT_EQ(odd[13], 'I');  // ICMT, no INAM
}

TEST(WavTagsTest, FfprobeShowsTheRecordingsTitleAndComment) {
  // The tags as a QCP file holds them: labl before the data, text after it.
  Bytes qcp = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'Q', 'L', 'C', 'M'};
  const auto chunk = [&qcp](const char* id, std::string_view payload) {
    qcp.insert(qcp.end(), id, id + 4);
    PutLe(qcp, static_cast<std::uint32_t>(payload.size()), 4);
    qcp.insert(qcp.end(), payload.begin(), payload.end());
    if (payload.size() % 2 == 1) qcp.push_back(0);
  };
  chunk("labl", std::string_view("Meeting 2009-03-01\0\0\0", 21));
  chunk("data", std::string_view("\x04\x01\x02", 3));
  chunk("text", "Voice memo from \xE5\xBC\xA0\xE4\xB8\x89");
  const qcp::QcpTags tags = qcp::ReadTags(qcp.data(), qcp.size());

  const Bytes pcm(8000, 0);
  const Bytes wav = Wav(pcm, {tags.label, tags.text});
  // Up to the end of the samples the WAV is the untagged one but for the
  // RIFF size: the canonical 44-byte header stays in front.
  const Bytes plain = Wav(pcm, {});
  ASSERT_GT(wav.size(), plain.size());
  EXPECT_TRUE(std::equal(plain.begin() + 8, plain.end(), wav.begin() + 8));
  wavrel::testing::TempFolder folder("wav_tags");
  const std::string path = (folder.Path() / "tagged.wav").string();
  wavrel::testing::WriteFile(
      path, std::string_view(reinterpret_cast<const char*>(wav.data()), wav.size()));
  const auto probe = wavrel::testing::RunChild({"ffprobe", "-v", "error", "-show_format", path});
  if (probe.exitCode == 127) GTEST_SKIP() << "ffprobe is not installed";
  ASSERT_EQ(probe.exitCode, 0) << probe.err;
  EXPECT_EQ(probe.err, "");
  EXPECT_NE(probe.out.find("TAG:title=Meeting 2009-03-01\n"), std::string::npos) << probe.out;
  EXPECT_NE(probe.out.find("TAG:comment=Voice memo from \xE5\xBC\xA0\xE4\xB8\x89\n"),
            std::string::npos)
      << probe.out;
  EXPECT_NE(probe.out.find("duration=0.500000"), std::string::npos) << probe.out;
}

}  // namespace
}  // namespace wavrel
