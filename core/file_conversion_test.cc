// FileConversion over a recording fake environment, and the planning of a
// run's WAV names.
#include "core/file_conversion.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <thread>

#include "core/testing/recording_environment.h"
#include "core/wav_names.h"
#include "testing/files.h"

namespace wavrel {
namespace {

namespace fs = std::filesystem;
using testing::RecordingEnvironment;
using testing::WriteFile;

bool Logged(const std::vector<std::string>& log, const std::string& entry) {
  return std::find(log.begin(), log.end(), entry) != log.end();
}

class FileConversionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_root / "work");
    WriteFile((m_root / "in.qcp").string(), "not read by the fake programs");
    m_job.recording = (m_root / "in.qcp").string();
    m_job.wavPath = (m_root / "in.wav").string();
    m_job.workFolder = (m_root / "work").string();
    m_job.workBase = m_job.workFolder + "/1";
    m_job.converterPath = "vocrate";
    m_job.decoderPath = "evrc_2004";
    // The converter writes the EVRC file and its loss record, the decoder
    // three frames of PCM.
    m_env.programs["vocrate"] = [this](const std::vector<std::string>& args, const std::string&) {
      WriteFile(args[1], "evrc");
      WriteFile(m_job.workFolder + "/loss_stat.txt", "TOTAL FRAMES = 4, TOTAL LOSS PACKAGE = 1\n");
      return m_converterStatus;
    };
    m_env.programs["evrc_2004"] = [this](const std::vector<std::string>& args, const std::string&) {
      WriteFile(args[3], std::string(m_pcmBytes, '\x01'));
      return m_decoderStatus;
    };
  }

  testing::TempFolder m_folder{"file_conversion_test"};
  const fs::path m_root = m_folder.Path();
  RecordingEnvironment m_env;
  ConversionJob m_job;
  int m_converterStatus = 0;
  int m_decoderStatus = 0;
  std::size_t m_pcmBytes = 3 * 320;
};

TEST_F(FileConversionTest, RunsTheFourStepsAndLeavesOnlyTheWav) {
  FileConversion conversion(m_env);
  const ConversionOutcome outcome = conversion.Run(m_job, {});
  EXPECT_EQ(outcome.status, ConversionOutcome::Status::kOk) << outcome.reason;
  EXPECT_EQ(outcome.wavPath, m_job.wavPath);
  EXPECT_EQ(outcome.totalFrames, 3);  // the frames in the WAV, not the converter's count
  EXPECT_EQ(outcome.lostFrames, 1);
  EXPECT_EQ(conversion.Step(), kStepCleanUp);
  EXPECT_EQ(fs::file_size(m_job.wavPath), 44u + 3 * 320);
  const auto log = m_env.Log();
  EXPECT_TRUE(Logged(log, "start vocrate " + m_job.recording + " " + m_job.workBase + ".evrc 1"));
  EXPECT_TRUE(Logged(
      log, "start evrc_2004 -i " + m_job.workBase + ".evrc -o " + m_job.workBase + ".pcm -d"));
  EXPECT_TRUE(fs::is_empty(m_root / "work"));
}

TEST_F(FileConversionTest, KeepsTheFirstFailure) {
  m_converterStatus = 1;
  m_decoderStatus = 2;
  FileConversion conversion(m_env);
  ConversionOutcome outcome = conversion.Run(m_job, {});
  EXPECT_EQ(outcome.status, ConversionOutcome::Status::kFailed);
  EXPECT_EQ(outcome.reason, "converter exited with status 1");
  EXPECT_TRUE(fs::is_empty(m_root / "work"));
  fs::remove(m_job.wavPath);

  // Nothing decoded: no WAV step at all.
  m_converterStatus = m_decoderStatus = 0;
  m_pcmBytes = 0;
  outcome = conversion.Run(m_job, {});
  EXPECT_EQ(outcome.reason, "no speech frames in the recording");
  EXPECT_TRUE(outcome.wavPath.empty());
  EXPECT_FALSE(fs::exists(m_job.wavPath));

  m_env.programs.erase("evrc_2004");
  m_pcmBytes = 320;
  outcome = conversion.Run(m_job, {});
  EXPECT_EQ(outcome.reason, "cannot start the decoder: no such program");
}

TEST_F(FileConversionTest, AFailedRenameFailsTheFileAndLeavesTheOldWavAlone) {
  WriteFile(m_job.wavPath, "an earlier WAV");
  m_env.FailRenames();
  FileConversion conversion(m_env);
  const ConversionOutcome outcome = conversion.Run(m_job, {});
  EXPECT_EQ(outcome.status, ConversionOutcome::Status::kFailed);
  EXPECT_EQ(outcome.wavResult, WavWriteResult::kCannotCreate);
  EXPECT_EQ(outcome.reason, "cannot create WAV file");
  EXPECT_TRUE(outcome.wavPath.empty());
  EXPECT_EQ(testing::Slurp(m_job.wavPath), "an earlier WAV");
  // The hidden temporary WAV is gone: the recording, the old WAV, the work folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(m_root), fs::directory_iterator()), 3);
  EXPECT_TRUE(fs::is_empty(m_root / "work"));
}

TEST_F(FileConversionTest, StopsAtTheStepReachedAndCleansUpAfter) {
  for (const char* hanging : {"vocrate", "evrc_2004"}) {
    SCOPED_TRACE(hanging);
    const auto real = m_env.programs[hanging];
    m_env.programs[hanging] = [real](const std::vector<std::string>& args,
                                     const std::string& workDir) {
      real(args, workDir);
      return RecordingEnvironment::kHang;
    };
    FileConversion conversion(m_env);
    std::stop_source stop;
    std::jthread stopper([&] {
      while (!Logged(m_env.Log(), "start " + std::string(hanging) +
                                      (hanging[0] == 'v' ? " " + m_job.recording + " " +
                                                               m_job.workBase + ".evrc 1"
                                                         : " -i " + m_job.workBase + ".evrc -o " +
                                                               m_job.workBase + ".pcm -d"))) {
        std::this_thread::yield();
      }
      stop.request_stop();
    });
    const ConversionOutcome outcome = conversion.Run(m_job, stop.get_token());
    EXPECT_EQ(outcome.status, ConversionOutcome::Status::kStopped);
    EXPECT_EQ(conversion.Step(), hanging[0] == 'v' ? kStepConverter : kStepDecoder);
    // Run has ended the program and deleted the intermediates itself.
    EXPECT_TRUE(Logged(m_env.Log(), "terminate"));
    EXPECT_TRUE(fs::is_empty(m_root / "work"));
    EXPECT_FALSE(fs::exists(m_job.wavPath));
    m_env.programs[hanging] = real;
  }
  // A stop before the start starts nothing.
  std::stop_source stopped;
  stopped.request_stop();
  FileConversion conversion(m_env);
  const std::size_t logged = m_env.Log().size();
  EXPECT_EQ(conversion.Run(m_job, stopped.get_token()).status, ConversionOutcome::Status::kStopped);
  EXPECT_EQ(m_env.Log().size(), logged);
}

TEST_F(FileConversionTest, WavNamesAreFixedFromTheWholeList) {
  const std::string out = (m_root / "out").string() + "/";
  fs::create_directories(out + "sub");
  // An input that sits in the output folder under the name a WAV would take.
  WriteFile(out + "c.wav", "input");
  FileStamp stamp;
  ASSERT_TRUE(m_env.Files().StampOf(out + "c.wav", true, &stamp));
  const std::vector<std::string> inputs = {"/in/a.dat", "/in/a.qcp", "/in/a (2).qcp", "/in/c.qcp",
                                           "/in/sub/a.qcp"};
  const auto paths =
      PlanWavPaths(m_env.Files(), inputs, {out, out, out, out, out + "sub/"}, {stamp});
  EXPECT_EQ(paths,
            (std::vector<std::string>{out + "a.wav", out + "a (2).wav", out + "a (2) (2).wav",
                                      out + "c (2).wav", out + "sub/a.wav"}));

  // Complete: a header whose sizes match the file; a cut file is not.
  WriteFile(m_job.workBase + ".pcm", std::string(640, '\x02'));
  PcmWavWriter writer(m_env.Files());
  ASSERT_EQ(writer.WritePcmAsWav(m_job.workBase + ".pcm", out + "w.wav", 16000, {}),
            WavWriteResult::kWritten);
  EXPECT_TRUE(IsCompleteWav(m_env.Files(), out + "w.wav"));
  fs::resize_file(out + "w.wav", 44 + 320);
  EXPECT_FALSE(IsCompleteWav(m_env.Files(), out + "w.wav"));
  EXPECT_FALSE(IsCompleteWav(m_env.Files(), out + "c.wav"));
  EXPECT_FALSE(IsCompleteWav(m_env.Files(), out + "missing.wav"));
}

}  // namespace
}  // namespace wavrel
