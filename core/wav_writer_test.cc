#include "core/wav_writer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testing/files.h"

namespace wavrel {
namespace {

namespace fs = std::filesystem;

std::vector<unsigned char> ReadAll(const fs::path& path) {
  const std::string bytes = testing::Slurp(path);
  return {bytes.begin(), bytes.end()};
}

class WavWriterTest : public ::testing::Test {
 protected:
  fs::path WritePcm(std::size_t length) {
    std::vector<unsigned char> bytes(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 3);
    const fs::path path = m_dir / "in.pcm";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(length));
    return path;
  }

  std::vector<std::string> Names() const { return testing::Names(m_dir); }

  testing::TempFolder m_folder{"wav_writer_test"};
  const fs::path m_dir = m_folder.Path();
  PcmWavWriter m_writer{PlatformFiles()};
};

TEST_F(WavWriterTest, HeaderAndSamplesForEveryLengthAndRate) {
  struct Case {
    std::size_t length;
    std::int32_t setting;
    std::uint32_t rate;
  };
  // Block boundaries of the copy, an odd length (no pad byte), and the rate
  // setting: none (-1) and 0 fall back to 8000.
  const Case cases[] = {{0, -1, 8000},    {1023, 0, 8000},     {1024, 16000, 16000},
                        {2049, -1, 8000}, {65535, 8000, 8000}, {65536 * 2 + 5, 16000, 16000},
                        {3, 22050, 22050}};
  for (const Case& c : cases) {
    SCOPED_TRACE("length " + std::to_string(c.length) + " setting " + std::to_string(c.setting));
    const fs::path pcm = WritePcm(c.length);
    const fs::path wav = m_dir / "out.wav";
    ASSERT_EQ(m_writer.WritePcmAsWav(pcm, wav, c.setting, {}), WavWriteResult::kWritten);
    const auto bytes = ReadAll(wav);
    // At 8000 Hz the PCM bytes as they are; at another rate its whole
    // samples resampled, as many as the recording's length takes.
    const std::size_t dataBytes =
        c.rate == 8000 ? c.length : 2 * ((c.length / 2 * c.rate + 4000) / 8000);
    ASSERT_EQ(bytes.size(), kWavHeaderSize + dataBytes);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(Le32(bytes, 4), dataBytes + 36);
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(Le32(bytes, 16), 16u);
    EXPECT_EQ(Le16(bytes, 20), 1);
    EXPECT_EQ(Le16(bytes, 22), 1);
    EXPECT_EQ(Le32(bytes, 24), c.rate);
    EXPECT_EQ(Le32(bytes, 28), c.rate * 2);
    EXPECT_EQ(Le16(bytes, 32), 2);
    EXPECT_EQ(Le16(bytes, 34), 16);
    EXPECT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 40), "data");
    EXPECT_EQ(Le32(bytes, 40), dataBytes);
    if (c.rate == 8000) {
      EXPECT_TRUE(std::equal(bytes.begin() + 44, bytes.end(), ReadAll(pcm).begin()));
    }
    EXPECT_FALSE(m_writer.IsPcmOpen());
    EXPECT_FALSE(m_writer.IsWavOpen());
    EXPECT_TRUE(m_writer.CreatedWav());
  }
}

TEST_F(WavWriterTest, FilesThatCannotBeUsedMakeNoWav) {
  const fs::path wav = m_dir / "out.wav";
  // No PCM at all, or a pipe instead of a file: nothing is made, nothing hangs.
  EXPECT_EQ(m_writer.WritePcmAsWav(m_dir / "missing.pcm", wav, -1, {}), WavWriteResult::kNoPcm);
  ASSERT_EQ(mkfifo((m_dir / "fifo.pcm").c_str(), 0600), 0);
  EXPECT_EQ(m_writer.WritePcmAsWav(m_dir / "fifo.pcm", wav, -1, {}), WavWriteResult::kNoPcm);
  EXPECT_FALSE(fs::exists(wav));
  EXPECT_FALSE(m_writer.CreatedWav());

  // A PCM too long for the header's 32-bit sizes fails instead of wrapping
  // (a sparse file: nothing is copied).
  const fs::path huge = m_dir / "huge.pcm";
  std::ofstream(huge).close();
  fs::resize_file(huge, kMaxWavPcmLength + 1);
  EXPECT_EQ(m_writer.WritePcmAsWav(huge, wav, -1, {}), WavWriteResult::kPcmTooLong);
  EXPECT_FALSE(fs::exists(wav));

  // The WAV cannot be created: its folder is missing, or a pipe holds the name.
  const fs::path pcm = WritePcm(100);
  EXPECT_EQ(m_writer.WritePcmAsWav(pcm, m_dir / "no" / "out.wav", -1, {}),
            WavWriteResult::kCannotCreate);
  ASSERT_EQ(mkfifo((m_dir / "pipe.wav").c_str(), 0600), 0);
  EXPECT_EQ(m_writer.WritePcmAsWav(pcm, m_dir / "pipe.wav", -1, {}), WavWriteResult::kCannotCreate);
  EXPECT_FALSE(m_writer.IsPcmOpen());

  // An existing, longer WAV is replaced completely.
  std::ofstream(wav, std::ios::binary) << std::string(5000, 'x');
  EXPECT_EQ(m_writer.WritePcmAsWav(pcm, wav, -1, {}), WavWriteResult::kWritten);
  EXPECT_EQ(fs::file_size(wav), kWavHeaderSize + 100);
}

TEST_F(WavWriterTest, StopEndsCopyPromptlyWithBothFilesClosed) {
  const fs::path pcm = WritePcm(kWavCopyBlockSize * 4);
  const fs::path wav = m_dir / "out.wav";
  std::stop_source stop;
  int blocks = 0;
  m_writer.SetBlockHook([&](std::uint64_t) {
    ++blocks;
    stop.request_stop();
  });
  EXPECT_EQ(m_writer.WritePcmAsWav(pcm, wav, -1, stop.get_token()), WavWriteResult::kStopped);
  EXPECT_EQ(blocks, 1);
  EXPECT_FALSE(m_writer.IsPcmOpen());
  EXPECT_FALSE(m_writer.IsWavOpen());
  // The partial file was never visible under the WAV's name and is gone.
  EXPECT_FALSE(fs::exists(wav));
  EXPECT_EQ(Names(), std::vector<std::string>{"in.pcm"});
  EXPECT_TRUE(m_writer.CreatedWav());
}

TEST_F(WavWriterTest, WavIsReplacedWholeOrNotAtAll) {
  const fs::path pcm = WritePcm(kWavCopyBlockSize * 4);
  const fs::path wav = m_dir / "out.wav";
  std::ofstream(wav, std::ios::binary) << "an earlier run's WAV";
  // A stop, and a write that fails (the file size limit stands in for a full
  // disk): the earlier WAV stays as it was and no temporary file is left.
  std::stop_source stop;
  m_writer.SetBlockHook([&](std::uint64_t) { stop.request_stop(); });
  EXPECT_EQ(m_writer.WritePcmAsWav(pcm, wav, -1, stop.get_token()), WavWriteResult::kStopped);
  m_writer.SetBlockHook(nullptr);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto savedSignal = signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = kWavCopyBlockSize;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const WavWriteResult full = m_writer.WritePcmAsWav(pcm, wav, -1, {});
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, savedSignal);
  EXPECT_EQ(full, WavWriteResult::kCopyFailed);
  const auto text = ReadAll(wav);
  EXPECT_TRUE(std::string(text.begin(), text.end()) == "an earlier run's WAV");
  EXPECT_EQ(Names(), (std::vector<std::string>{"in.pcm", "out.wav"}));

  // A link in the WAV's place is replaced; its target is not written. The
  // WAV takes the recording's modification time.
  std::ofstream(m_dir / "victim.txt") << "victim";
  fs::remove(wav);
  fs::create_symlink("victim.txt", wav);
  FileStamp recording;
  recording.modifiedSeconds = 1000000000;
  recording.modifiedNanoseconds = 5000;
  EXPECT_EQ(m_writer.WritePcmAsWav(pcm, wav, -1, {}, &recording), WavWriteResult::kWritten);
  EXPECT_FALSE(fs::is_symlink(wav));
  EXPECT_EQ(fs::file_size(wav), kWavHeaderSize + kWavCopyBlockSize * 4);
  EXPECT_EQ(ReadAll(m_dir / "victim.txt").size(), 6u);
  struct stat info {};
  ASSERT_EQ(stat(wav.c_str(), &info), 0);
  EXPECT_EQ(info.st_mtim.tv_sec, 1000000000);
  EXPECT_EQ(info.st_mtim.tv_nsec, 5000);
  EXPECT_EQ(Names(), (std::vector<std::string>{"in.pcm", "out.wav", "victim.txt"}));
}

}  // namespace
}  // namespace wavrel
