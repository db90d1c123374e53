// The whole pipeline with the real converter and decoder on the sample
// recordings: every WAV's samples must match the reference digests.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>
#include <tuple>

#include "frontends/dialog/testing/fake_host.h"
#include "frontends/dialog/testing/fake_window.h"
#include "frontends/dialog/testing/linked_plugin_environment.h"
#include "frontends/dialog/wavrel_dlg.h"
#include "plugin/host_services.h"
#include "testing/child_process.h"
#include "testing/files.h"

namespace wavrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path kSamplesDir = WAVREL_TEST_SAMPLES_DIR;
const fs::path kDataDir = WAVREL_TEST_DATA_DIR;

using testing::Le32;
using testing::RunChild;
using testing::Slurp;

/// A WAV file's samples: its data chunk, after the 44-byte header.
std::string Samples(const fs::path& wav) {
  const std::string bytes = Slurp(wav);
  return bytes.substr(44, Le32(bytes, 40));
}

/// MD5 of a WAV file's samples, by md5sum.
std::string SamplesDigest(const fs::path& wav, const fs::path& scratch) {
  std::ofstream(scratch, std::ios::binary) << Samples(wav);
  return RunChild({"md5sum", scratch.string()}).out.substr(0, 32);
}

/// Reference digests by recording name without its extension.
std::map<std::string, std::string> ReferenceDigests() {
  std::map<std::string, std::string> digests;
  std::istringstream lines(Slurp(kDataDir / "libavcodec-s16le.md5"));
  for (std::string digest, name; lines >> digest >> name;) {
    digests[fs::path(name).stem().string()] = digest;
  }
  return digests;
}

class LossObserver final : public IBatchObserver {
 public:
  void OnFileStarted(const std::string&, std::size_t, std::size_t) override {}
  void OnFileFinished(const FileOutcome& outcome) override {
    std::lock_guard lock(mutex);
    outcomes[fs::path(outcome.path).stem().string()] = outcome;
  }
  void OnRunFinished(const RunSummary&) override {}
  std::mutex mutex;
  std::map<std::string, FileOutcome> outcomes;
};

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "engine_e2e_test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_root = pattern;
    fs::create_directories(m_root / "in");
    fs::create_directories(m_root / "out");
    ASSERT_TRUE(m_env.Link(m_env.PluginPath(), "vocrate", WAVREL_TEST_VOCRATE));
    ASSERT_TRUE(m_env.Link(m_env.PluginPath(), "evrc_2004", WAVREL_TEST_EVRC_2004));
    ASSERT_TRUE(m_env.Link(m_env.PluginPath(), "qcelp_13k", WAVREL_TEST_QCELP_13K));
    SetHostPointer(&m_host);
  }
  void TearDown() override {
    m_dlg.reset();
    SetHostPointer(nullptr);
    fs::remove_all(m_root);
  }

  void Convert() {
    m_dlg = std::make_unique<CWavrelDlg>(m_env);
    m_dlg->AttachWindow(&m_window);
    m_dlg->SetObserver(&m_observer);
    m_dlg->InitDialog();
    m_window.ScriptPick((m_root / "in").string());
    m_dlg->OnBrowseInput();
    m_window.ScriptPick((m_root / "out").string());
    m_dlg->OnBrowseOutput();
    m_dlg->OnConvert();
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (m_dlg->IsConverting() && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(10ms);
    }
    ASSERT_FALSE(m_dlg->IsConverting());
  }

  fs::path m_root;
  testing::LinkedPluginEnvironment m_env;
  testing::FakeLocaleHost m_host;
  testing::RecordingWindow m_window;
  LossObserver m_observer;
  std::unique_ptr<CWavrelDlg> m_dlg;
};

TEST_F(EndToEndTest, EveryRecordingDecodesToTheReferenceSamples) {
  const auto reference = ReferenceDigests();
  ASSERT_EQ(reference.size(), 5u);
  for (const auto& entry : fs::directory_iterator(kSamplesDir)) {
    fs::copy_file(entry.path(), m_root / "in" / entry.path().filename());
  }
  Convert();
  EXPECT_EQ(m_window.Text(kIdStatus), "T:IDS_CONVERED");
  for (const auto& [stem, digest] : reference) {
    SCOPED_TRACE(stem);
    const fs::path wav = m_root / "out" / (stem + ".wav");
    ASSERT_TRUE(fs::exists(wav));
    const std::string bytes = Slurp(wav);
    EXPECT_EQ(Le32(bytes, 24), 8000u);
    EXPECT_EQ(Le32(bytes, 28), 16000u);
    EXPECT_EQ(Le32(bytes, 40), bytes.size() - 44);
    EXPECT_EQ(SamplesDigest(wav, m_root / "samples.raw"), digest);
  }
  // Nothing but the recordings stays in the input folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(m_root / "in"), fs::directory_iterator()), 5);
  std::lock_guard lock(m_observer.mutex);
  // The frames the WAV holds (not the converter's count, which takes the pad
  // byte after an odd-sized data chunk for a frame), and the lost ones.
  for (const auto& [stem, frames, lost] :
       {std::tuple{"greeting", 531, 0}, std::tuple{"lossy_call", 554, 27}}) {
    const FileOutcome& outcome = m_observer.outcomes[stem];
    EXPECT_TRUE(outcome.success) << stem;
    ASSERT_TRUE(outcome.totalFrames.has_value()) << stem;
    EXPECT_EQ(*outcome.totalFrames, frames) << stem;
    EXPECT_EQ(outcome.lostFrames, lost) << stem;
  }
}

TEST_F(EndToEndTest, SettingsFileSetsTheWavRate) {
  fs::copy_file(kSamplesDir / "greeting.qcp", m_root / "in" / "greeting.qcp");
  const fs::path wav = m_root / "out" / "greeting.wav";
  Convert();
  const std::string at8000 = Samples(wav);
  fs::remove(wav);
  std::ofstream(m_env.PluginPath() / "WavrelPluginSet.xml")
      << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
         "<converwavset>\n  <property name=\"samplerate\">16000</property>\n</converwavset>\n";
  Convert();
  EXPECT_EQ(m_dlg->SampleRateSetting(), 16000);
  const std::string bytes = Slurp(wav);
  ASSERT_GT(bytes.size(), 44u);
  EXPECT_EQ(Le32(bytes, 24), 16000u);
  EXPECT_EQ(Le32(bytes, 28), 32000u);
  // The samples are at the rate the header says: twice as many, the same
  // length in time, and every second one close to the 8000 Hz sample.
  const std::string at16000 = Samples(wav);
  ASSERT_EQ(at16000.size(), 2 * at8000.size());
  double signal = 0;
  double noise = 0;
  for (std::size_t i = 0; i + 1 < at8000.size(); i += 2) {
    const auto sample = [](const std::string& b, std::size_t at) {
      return static_cast<double>(static_cast<std::int16_t>(
          static_cast<std::uint8_t>(b[at]) | static_cast<std::uint8_t>(b[at + 1]) << 8));
    };
    const double a = sample(at8000, i);
    const double b = sample(at16000, 2 * i);
    signal += a * a;
    noise += (a - b) * (a - b);
  }
  EXPECT_GT(10 * std::log10(signal / noise), 30.0);
}

/// greeting.qcp with a "labl" chunk before its data chunk and a "text" chunk
/// after it, as other writers make them.
std::string ChunkedGreeting() {
  const std::string plain = Slurp(kSamplesDir / "greeting.qcp");
  const std::uint32_t dataSize = Le32(plain, 190);
  std::string data = plain.substr(186, 8 + dataSize);
  if (dataSize % 2 == 1) data.push_back('\0');
  std::string file = plain.substr(0, 186) + std::string("labl\x05\0\0\0hello\0", 14) + data +
                     std::string("text\x04\0\0\0abcd", 12);
  const std::uint32_t riffSize = static_cast<std::uint32_t>(file.size() - 8);
  for (int i = 0; i < 4; ++i) file[4 + i] = static_cast<char>(riffSize >> (8 * i));
  return file;
}

TEST_F(EndToEndTest, ChunksAroundDataAndRecordingsCutShort) {
  std::ofstream(m_root / "in" / "chunked.qcp", std::ios::binary) << ChunkedGreeting();
  // Cut in the middle of its packets, and inside its header.
  const std::string greeting = Slurp(kSamplesDir / "greeting.qcp");
  std::ofstream(m_root / "in" / "half.qcp", std::ios::binary) << greeting.substr(0, 5000);
  std::ofstream(m_root / "in" / "stub.qcp", std::ios::binary) << greeting.substr(0, 100);
  Convert();
  // The chunks around the data chunk are not packets: the same samples as
  // the plain recording (which FFmpeg's reader gives for both).
  EXPECT_EQ(SamplesDigest(m_root / "out" / "chunked.wav", m_root / "samples.raw"),
            ReferenceDigests()["greeting"]);
  if (RunChild({"ffmpeg", "-version"}).exitCode == 0) {
    const fs::path decoded = m_root / "ffmpeg.raw";
    ASSERT_EQ(RunChild({"ffmpeg", "-loglevel", "error", "-nostdin", "-y", "-i",
                        (m_root / "in" / "chunked.qcp").string(), "-f", "s16le", decoded.string()})
                  .exitCode,
              0);
    EXPECT_TRUE(Slurp(decoded) == Samples(m_root / "out" / "chunked.wav"));
  }
  // What the recording says about itself follows the samples: its label as
  // the title, its text as the comment.
  const std::string wav = Slurp(m_root / "out" / "chunked.wav");
  EXPECT_EQ(wav.substr(44 + Le32(wav, 40)),
            std::string("LIST\x20\0\0\0INFOINAM\x06\0\0\0hello\0ICMT\x05\0\0\0abcd\0\0", 40));
  EXPECT_EQ(Le32(wav, 4), wav.size() - 8);
  std::lock_guard lock(m_observer.mutex);
  const FileOutcome& chunked = m_observer.outcomes["chunked"];
  EXPECT_TRUE(chunked.success);
  EXPECT_EQ(chunked.totalFrames, 531);
  EXPECT_EQ(chunked.lostFrames, 0);
  EXPECT_FALSE(chunked.cutShort);
  const FileOutcome& half = m_observer.outcomes["half"];
  EXPECT_TRUE(half.success);
  EXPECT_TRUE(half.cutShort);
  const FileOutcome& stub = m_observer.outcomes["stub"];
  EXPECT_FALSE(stub.success);
  EXPECT_EQ(stub.reason, "no speech frames in the recording");
  EXPECT_FALSE(fs::exists(m_root / "out" / "stub.wav"));
}

TEST_F(EndToEndTest, QcelpRecordingsConvertInTheDialogToo) {
  fs::copy_file(fs::path(WAVREL_TEST_RECORDINGS_DIR) / "voice_memo_qcelp.qcp",
                m_root / "in" / "memo.qcp");
  std::string other = Slurp(kSamplesDir / "greeting.qcp");
  other.replace(22, 16, std::string(16, '\x5A'));  // a GUID of no codec known here
  other.replace(40, 80, std::string("Future Codec") + std::string(68, '\0'));
  std::ofstream(m_root / "in" / "other.qcp", std::ios::binary) << other;
  Convert();
  std::lock_guard lock(m_observer.mutex);
  const FileOutcome& memo = m_observer.outcomes["memo"];
  EXPECT_TRUE(memo.success) << memo.reason;
  EXPECT_EQ(memo.codec, "QCELP-13K");
  EXPECT_EQ(memo.totalFrames, 250);
  EXPECT_EQ(Samples(m_root / "out" / "memo.wav").size(), 250u * 320);
  const FileOutcome& unknown = m_observer.outcomes["other"];
  EXPECT_FALSE(unknown.success);
  EXPECT_EQ(unknown.reason, "Future Codec speech: no decoder for this codec");
  EXPECT_EQ(m_window.Text(kIdStatus), "T:IDS_CONVER_FAILED");
}

}  // namespace
}  // namespace wavrel
