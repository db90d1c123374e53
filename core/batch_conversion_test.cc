// The conversion core without any window: its plan, its observer and its
// stop, over the recording fake environment.
#include "core/batch_conversion.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <mutex>

#include "core/testing/recording_environment.h"
#include "core/testing/recording_observer.h"
#include "formats/qcp_format.h"
#include "testing/files.h"

namespace wavrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::QcpBytes;
using testing::RecordingEnvironment;
using testing::WriteFile;

class BatchConversionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const fs::path& folder : {m_in, m_out, m_work}) fs::create_directories(folder);
    m_env.workRoot = m_work;
    // The converter copies the recording, the decoder the EVRC file.
    m_env.programs["vocrate"] = [this](const std::vector<std::string>& args, const std::string&) {
      if (args[0].find(m_hangOn) != std::string::npos && !m_hangOn.empty()) {
        return RecordingEnvironment::kHang;
      }
      fs::copy_file(args[0], args[1]);
      return 0;
    };
    m_env.programs["evrc_2004"] = [](const std::vector<std::string>& args, const std::string&) {
      fs::copy_file(args[1], args[3]);
      return 0;
    };
    m_request.inputFolder = m_in.string();
    m_request.outputFolder = m_out.string();
    m_request.converterPath = "vocrate";
    m_request.decoderPath = "evrc_2004";
  }

  BatchPlan Prepare() {
    BatchPlan plan;
    Refusal refusal;
    EXPECT_TRUE(m_core.Prepare(m_request, m_recorder, &plan, &refusal))
        << static_cast<int>(refusal.kind);
    return plan;
  }

  testing::TempFolder m_folder{"batch_conversion_test"};
  const fs::path m_in = m_folder.Path() / "in";
  const fs::path m_out = m_folder.Path() / "out";
  const fs::path m_work = m_folder.Path() / "work";
  RecordingEnvironment m_env;
  BatchConversion m_core{m_env};
  BatchRequest m_request;
  testing::RecordingObserver m_recorder;
  std::string m_hangOn;  // the converter hangs on recordings whose path holds it
};

std::size_t Place(const std::vector<std::string>& log, const std::string& entry) {
  return static_cast<std::size_t>(std::find(log.begin(), log.end(), entry) - log.begin());
}

TEST_F(BatchConversionTest, RecordingsGoInTheOrderOfTheirBytesAsUnsignedValues) {
  // 0xE9 sorts after 'b' as an unsigned byte, before it as a signed one.
  for (const char* name : {"\xE9.qcp", "b.qcp", "B.qcp"}) WriteFile(m_in / name, QcpBytes(name));
  const BatchPlan plan = Prepare();
  const std::vector<std::string> order = {(m_in / "B.qcp").string(), (m_in / "b.qcp").string(),
                                          (m_in / "\xE9.qcp").string()};
  EXPECT_EQ(plan.recordings, order);
  m_core.Run(plan, m_recorder, {});
  EXPECT_EQ(m_recorder.started, order);
  EXPECT_EQ(m_recorder.runs.back().files, 3u);
  EXPECT_EQ(m_recorder.runs.back().wavsWritten, 3u);
}

TEST_F(BatchConversionTest, OnlyTheShardThatOwnsASkippedFileReportsIt) {
  WriteFile(m_in / "rec.qcp", QcpBytes("rec"));
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) WriteFile(m_in / name, "text");
  m_request.options.shardCount = 2;
  std::vector<std::string> told;
  for (std::size_t shard = 0; shard < 2; ++shard) {
    m_request.options.shardIndex = shard;
    testing::RecordingObserver recorder;
    BatchPlan plan;
    Refusal refusal;
    ASSERT_TRUE(m_core.Prepare(m_request, recorder, &plan, &refusal));
    m_core.Run(plan, recorder, {});
    EXPECT_EQ(recorder.skipped.size(), shard == 0 ? 2u : 1u);
    told.insert(told.end(), recorder.skipped.begin(), recorder.skipped.end());
  }
  std::sort(told.begin(), told.end());
  EXPECT_EQ(told, (std::vector<std::string>{(m_in / "a.txt").string(), (m_in / "b.txt").string(),
                                            (m_in / "c.txt").string()}));
}

TEST_F(BatchConversionTest, AStopEndsTheWaitForAProgramAtOnceAndLeavesNothing) {
  for (const char* name : {"a.qcp", "b.qcp", "c.qcp"}) WriteFile(m_in / name, QcpBytes(name));
  m_hangOn = "b.qcp";
  const BatchPlan plan = Prepare();
  std::stop_source stop;
  auto run = std::async(std::launch::async,
                        [&] { return m_core.Run(plan, m_recorder, stop.get_token()); });
  // Stopped once b's converter hangs.
  const auto began = std::chrono::steady_clock::now();
  while (m_core.Step() != kStepConverter || m_env.Launches().size() < 3) {
    ASSERT_LT(std::chrono::steady_clock::now() - began, 5s);
    std::this_thread::sleep_for(1ms);
  }
  const auto stopped = std::chrono::steady_clock::now();
  stop.request_stop();
  const RunSummary summary = run.get();
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, 2s) << "the wait did not see the stop";
  EXPECT_TRUE(summary.cancelled);
  EXPECT_EQ(summary.files, 1u);  // a only; b was stopped, c never started
  for (const auto& launch : m_env.Launches()) EXPECT_FALSE(launch.running) << launch.program;
  EXPECT_TRUE(fs::is_empty(m_work));
  std::vector<std::string> wavs;
  for (const auto& entry : fs::directory_iterator(m_out)) wavs.push_back(entry.path().filename());
  EXPECT_EQ(wavs, std::vector<std::string>{"a.wav"});
  EXPECT_EQ(m_recorder.started.size(), 2u);
}

TEST_F(BatchConversionTest, ADeclinedQuestionConvertsNothing) {
  WriteFile(m_in / "a.qcp", QcpBytes("a"));
  WriteFile(m_in / "notes.txt", "text");
  struct No final : IBatchObserver {
    bool GoOnWithout(const std::vector<SkippedFile>& files) override { return files.size() != 1; }
    void OnFileStarted(const std::string&, std::size_t, std::size_t) override {}
    void OnFileFinished(const FileOutcome&) override {}
    void OnRunFinished(const RunSummary&) override {}
  } no;
  BatchPlan plan;
  Refusal refusal;
  EXPECT_FALSE(m_core.Prepare(m_request, no, &plan, &refusal));
  EXPECT_EQ(refusal.kind, Refusal::Kind::kDeclined);
  EXPECT_TRUE(m_env.Launches().empty());
}

TEST_F(BatchConversionTest, AWavGoesOnlyOverWhatWasThereWhenTheRunPlannedItsName) {
  for (const char* name : {"a.qcp", "b.qcp"}) WriteFile(m_in / name, QcpBytes(name));
  WriteFile(m_out / "a.wav", "an earlier run's a.wav");
  // Another run makes its b.wav while this one converts b.
  const auto converter = m_env.programs["vocrate"];
  m_env.programs["vocrate"] = [&](const std::vector<std::string>& args, const std::string& cwd) {
    if (args[0].find("b.qcp") != std::string::npos) WriteFile(m_out / "b.wav", "another run's");
    return converter(args, cwd);
  };
  const BatchPlan plan = Prepare();
  m_core.Run(plan, m_recorder, {});
  // The earlier run's a.wav was planned to be replaced; b.wav came later.
  EXPECT_EQ(fs::file_size(m_out / "a.wav"), 44 + QcpBytes("a.qcp").size());
  EXPECT_EQ(testing::Slurp(m_out / "b.wav"), "another run's");
  EXPECT_EQ(fs::file_size(m_out / "b (2).wav"), 44 + QcpBytes("b.qcp").size());
  ASSERT_EQ(m_recorder.finished.size(), 2u);
  EXPECT_EQ(m_recorder.finished[1].wavPath, (m_out / "b (2).wav").string());
}

TEST_F(BatchConversionTest, AWavIsOnTheDiskBeforeItIsToldMadeAndDeadRunsGoFirst) {
  for (const char* name : {"a.qcp", "b.qcp"}) WriteFile(m_in / name, QcpBytes(name));
  m_recorder.afterFile = [this](const FileOutcome& o) { m_env.Note("finished " + o.path); };
  const std::string out = m_out.string() + "/";
  const std::string wavA = out + "a.wav";
  const std::string wavB = out + "b.wav";
  const std::string finishedA = "finished " + (m_in / "a.qcp").string();
  const std::string finishedB = "finished " + (m_in / "b.qcp").string();
  // One sync of the data and the folder per file, or per batch of files.
  for (const std::size_t perSync : {1, 8}) {
    SCOPED_TRACE("WAVs per sync: " + std::to_string(perSync));
    fs::remove_all(m_out);
    fs::create_directories(m_out);
    m_request.options.wavsPerSync = perSync;
    const std::size_t before = m_env.Log().size();
    m_core.Run(Prepare(), m_recorder, {});
    const auto all = m_env.Log();
    const std::vector<std::string> log(all.begin() + static_cast<std::ptrdiff_t>(before),
                                       all.end());
    const std::size_t mkwork =
        std::find_if(log.begin(), log.end(),
                     [](const std::string& e) { return e.rfind("mkwork ", 0) == 0; }) -
        log.begin();
    EXPECT_LT(Place(log, "clean work folders"), mkwork);
    EXPECT_LT(Place(log, "clean temporaries " + out), mkwork + 5);
    if (perSync == 1) {
      EXPECT_LT(Place(log, "sync file"), Place(log, "rename " + wavA));
      EXPECT_LT(Place(log, "rename " + wavA), Place(log, "sync folder " + out));
      EXPECT_LT(Place(log, "sync folder " + out), Place(log, finishedA));
    } else {
      // Both WAVs wait for one sync of their file system, then go in place.
      const std::size_t sync = Place(log, "sync file system of " + out);
      EXPECT_LT(sync, Place(log, "rename " + wavA));
      EXPECT_LT(Place(log, "rename " + wavB), Place(log, "sync folder " + out));
      EXPECT_EQ(std::count(log.begin(), log.end(), "sync folder " + out), 1);
      EXPECT_LT(Place(log, "sync folder " + out), Place(log, finishedA));
    }
    EXPECT_LT(Place(log, finishedA), Place(log, finishedB));
    EXPECT_LT(Place(log, finishedB), log.size());
    EXPECT_EQ(fs::file_size(wavB), 44 + QcpBytes("b.qcp").size());
  }
}

}  // namespace
}  // namespace wavrel
