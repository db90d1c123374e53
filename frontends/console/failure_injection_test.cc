// Failures a real machine has, made to happen under `wavrel convert`: a full
// file system, a child killed by a signal or gone after the scan, an input
// that shrinks or is a FIFO, a work folder that cannot be made, the output
// folder removed during the run, the output's file system full. Each
// run converts three recordings from a copy of the stage tree (so programs
// can be swapped for scripts). After each: the file hit fails visibly, every
// other file gets its complete WAV, the exit status says so, and no
// temporary file, folder or child process is left.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "testing/child_process.h"
#include "testing/files.h"

namespace wavrel::host {
namespace {

namespace fs = std::filesystem;

/// WAV sizes of the three recordings converted (44 + 320 per frame); in the
/// order of the run (plain byte order of the names).
const std::map<std::string, std::uintmax_t> kWavSizes = {{"greeting", 44 + 531 * 320},
                                                         {"meeting_notes", 44 + 1280 * 320},
                                                         {"voicemail", 44 + 271 * 320}};
const std::vector<std::string> kInputs = {"greeting.qcp", "meeting_notes.qcp", "voicemail.dat"};

using testing::Le32;
using testing::Slurp;

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

class FailureInjectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy(WAVREL_STAGE_DIR, m_root / "host", fs::copy_options::recursive);
    m_plugins = m_root / "host" / "Plugins" / "WavrelPlugin";
    m_in = m_root / "in";
    m_out = m_root / "out";
    m_tmp = m_root / "tmp";
    fs::create_directories(m_out);
    fs::create_directories(m_tmp);
    for (const std::string& name : kInputs) {
      testing::CopySamples(WAVREL_SAMPLES_DIR, m_in, {{name, name}});
    }
  }

  void TearDown() override {
    // Before the folder goes with the fixture.
    for (const fs::path& mount : m_mounts) umount2(mount.c_str(), MNT_DETACH);
  }

  /// A tmpfs of `bytes` at folder (root only); false where it cannot be had.
  bool MountSmallFileSystem(const fs::path& folder, std::uintmax_t bytes, bool readOnly = false) {
    if (geteuid() != 0) return false;
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (mount("tmpfs", folder.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, options.c_str()) != 0) {
      return false;
    }
    m_mounts.push_back(folder);
    return true;
  }

  /// Puts a shell script in place of a program of the plug-in folder; the
  /// real program stays beside it as <name>.real.
  void ReplaceProgram(const std::string& name, const std::string& body) {
    fs::rename(m_plugins / name, m_plugins / (name + ".real"));
    std::ofstream(m_plugins / name) << "#!/bin/sh\n" << body << "\nexec \"$0.real\" \"$@\"\n";
    fs::permissions(m_plugins / name, fs::perms::owner_all | fs::perms::group_read |
                                          fs::perms::group_exec | fs::perms::others_read |
                                          fs::perms::others_exec);
  }

  /// `wavrel convert --yes IN OUT` from the copied host folder, with TMPDIR
  /// (default: the test's tmp/) and, when given, a file size limit (with
  /// SIGXFSZ ignored, so a write past it fails instead of killing).
  RunResult Run(const std::string& tmpdir = {}, rlim_t fileSizeLimit = 0) {
    testing::ChildOptions options;
    options.unsetEnv = {"LC_ALL", "XMESSAGEBOX_ANSWER"};
    options.setEnv = {{"TMPDIR", tmpdir.empty() ? m_tmp.string() : tmpdir},
                      {"LANG", "C"},
                      {"WAVREL_TEST_OUT", m_out.string()},
                      {"WAVREL_TEST_ROOT", m_root.string()}};
    options.fileSizeLimitBytes = fileSizeLimit;
    options.ignoreFileSizeSignal = true;
    options.timeout = std::chrono::seconds(120);
    // One file at a time: each failure is made to hit a chosen file of the
    // run's order.
    const testing::ChildResult result =
        testing::RunChild({(m_root / "host" / "wavrel").string(), "convert", "--yes", "--jobs", "1",
                           m_in.string(), m_out.string()},
                          options);
    return {result.Status(), result.out, result.err};
  }

  /// What every run must leave: the recordings that succeeded reported "ok"
  /// with a complete WAV, the others "FAILED", nothing else in the output
  /// folder, the input folder as it was, an empty TMPDIR, no process of ours.
  void ExpectOutcome(const RunResult& run, const std::set<std::string>& converted,
                     const fs::path& tmpdir = {}) {
    SCOPED_TRACE(run.out + run.err);
    EXPECT_EQ(run.status, converted.size() == kInputs.size() ? 0 : 1);
    for (const std::string& input : kInputs) {
      const std::string stem = fs::path(input).stem().string();
      if (converted.count(stem)) {
        EXPECT_NE(run.out.find("ok  " + input + " -> "), std::string::npos) << input;
        EXPECT_EQ(fs::file_size(m_out / (stem + ".wav")), kWavSizes.at(stem)) << input;
      } else {
        EXPECT_NE(run.out.find("FAILED " + input + ": "), std::string::npos) << input;
      }
    }
    std::set<std::string> left;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(m_out, ec)) {
      left.insert(entry.path().filename().string());
    }
    std::set<std::string> wavs;
    if (fs::exists(m_out)) {
      for (const std::string& stem : converted) wavs.insert(stem + ".wav");
    }
    // Any other WAV is one that was there before the run, and stays whole.
    for (const std::string& name : left) {
      if (wavs.count(name) || name.size() < 4 || name.substr(name.size() - 4) != ".wav") continue;
      const std::string bytes = Slurp(m_out / name);
      EXPECT_TRUE(bytes.size() >= 44 && Le32(bytes, 4) == bytes.size() - 8 &&
                  Le32(bytes, 40) == bytes.size() - 44)
          << name << " is a partial WAV";
      wavs.insert(name);
    }
    EXPECT_EQ(left, wavs) << "the output folder holds WAVs and nothing else";
    std::set<std::string> inputs;
    for (const auto& entry : fs::directory_iterator(m_in)) {
      inputs.insert(entry.path().filename().string());
      EXPECT_EQ(Slurp(entry.path()), Slurp(fs::path(WAVREL_SAMPLES_DIR) / entry.path().filename()));
    }
    EXPECT_EQ(inputs, std::set<std::string>(kInputs.begin(), kInputs.end()));
    const fs::path work = tmpdir.empty() ? m_tmp : tmpdir;
    if (fs::is_directory(work)) {
      EXPECT_TRUE(fs::is_empty(work)) << "work folders left in " << work;
    }
    EXPECT_TRUE(ProcessesOfOurs().empty()) << ProcessesOfOurs();
  }

  /// Processes still running from the copied host folder.
  std::string ProcessesOfOurs() const {
    std::string found;
    const std::string host = (m_root / "host").string();
    for (const auto& entry : fs::directory_iterator("/proc")) {
      const std::string cmdline = Slurp(entry.path() / "cmdline");
      if (cmdline.find(host) != std::string::npos) found += cmdline + "\n";
    }
    return found;
  }

  testing::TempFolder m_folder{"wavrel_failure_test"};
  const fs::path m_root = m_folder.Path();
  fs::path m_plugins, m_in, m_out, m_tmp;
  std::vector<fs::path> m_mounts;
};

TEST_F(FailureInjectionTest, ConverterKilledMidFile) {
  ReplaceProgram(
      "vocrate",
      "case \"$1\" in *meeting_notes*) head -c 3000 \"$1\" > \"$2\"; kill -KILL $$;; esac");
  ExpectOutcome(Run(), {"greeting", "voicemail"});
  // What the child left may end anywhere: the failed file gets no WAV.
  EXPECT_FALSE(fs::exists(m_out / "meeting_notes.wav"));
}

TEST_F(FailureInjectionTest, DecoderKilledMidFile) {
  // The second file's decoder writes part of its PCM, then dies.
  ReplaceProgram("evrc_2004",
                 "n=$(cat \"$WAVREL_TEST_ROOT/count\" 2>/dev/null || echo 0); n=$((n + 1))\n"
                 "echo $n > \"$WAVREL_TEST_ROOT/count\"\n"
                 "if [ $n = 2 ]; then head -c 1000 /dev/zero > \"$4\"; kill -KILL $$; fi");
  ExpectOutcome(Run(), {"greeting", "voicemail"});
  // What the child left may end anywhere: the failed file gets no WAV.
  EXPECT_FALSE(fs::exists(m_out / "meeting_notes.wav"));
}

TEST_F(FailureInjectionTest, ConverterMissingAfterTheScan) {
  // The first file's decoder removes the converter: the later files fail.
  ReplaceProgram("evrc_2004", "rm -f \"$(dirname \"$0\")/vocrate\"");
  ExpectOutcome(Run(), {"greeting"});
}

TEST_F(FailureInjectionTest, InputShrinksWhileItIsConverted) {
  // The long recording loses its tail after the scan, before the converter
  // reads it: what is left converts, into a WAV true to its size.
  ReplaceProgram("vocrate", "case \"$1\" in *meeting_notes*) truncate -s 3194 \"$1\";; esac");
  const RunResult run = Run();
  SCOPED_TRACE(run.out + run.err);
  EXPECT_EQ(run.status, 0);
  const std::string wav = Slurp(m_out / "meeting_notes.wav");
  ASSERT_GT(wav.size(), 44u);
  EXPECT_LT(wav.size(), kWavSizes.at("meeting_notes"));
  EXPECT_EQ(Le32(wav, 40), wav.size() - 44);
  EXPECT_EQ(fs::file_size(m_out / "voicemail.wav"), kWavSizes.at("voicemail"));
  EXPECT_TRUE(fs::is_empty(m_tmp));
}

TEST_F(FailureInjectionTest, FifoAmongTheInputsIsSkippedNotWaitedFor) {
  ASSERT_EQ(mkfifo((m_in / "pipe.qcp").c_str(), 0600), 0);
  const RunResult run = Run();
  fs::remove(m_in / "pipe.qcp");
  EXPECT_NE(run.err.find("not QCP recordings"), std::string::npos) << run.err;
  ExpectOutcome(run, {"greeting", "meeting_notes", "voicemail"});
}

TEST_F(FailureInjectionTest, TmpdirPointingNowhere) {
  const fs::path nowhere = m_root / "nowhere" / "deeper";
  ExpectOutcome(Run(nowhere.string()), {});
  EXPECT_FALSE(fs::exists(m_root / "nowhere"));
}

TEST_F(FailureInjectionTest, WorkFolderParentNotWritable) {
  const fs::path parent = m_root / "readonly";
  fs::create_directories(parent);
  if (!MountSmallFileSystem(parent, 1 << 20, /*readOnly=*/true)) {
    if (geteuid() == 0) GTEST_SKIP() << "root, and no read-only tmpfs can be mounted here";
    fs::permissions(parent, fs::perms::owner_read | fs::perms::owner_exec);
  }
  ExpectOutcome(Run(parent.string()), {}, parent);
}

TEST_F(FailureInjectionTest, OutputFolderRemovedDuringTheRun) {
  // The second file's decoder removes the output folder with the first WAV.
  ReplaceProgram("evrc_2004",
                 "n=$(cat \"$WAVREL_TEST_ROOT/count\" 2>/dev/null || echo 0); n=$((n + 1))\n"
                 "echo $n > \"$WAVREL_TEST_ROOT/count\"\n"
                 "if [ $n = 2 ]; then rm -rf \"$WAVREL_TEST_OUT\"; fi");
  const RunResult run = Run();
  SCOPED_TRACE(run.out + run.err);
  // The first file's WAV went with the folder (it was made before, or was
  // waiting for the sync it shares with the next WAVs); the others have no
  // folder to go to, and each line says so.
  EXPECT_TRUE(run.out.find("ok  greeting.qcp -> ") != std::string::npos ||
              run.out.find("FAILED greeting.qcp: the output folder " + m_out.string() +
                           "/ is gone") != std::string::npos);
  EXPECT_NE(
      run.out.find("FAILED meeting_notes.qcp: the output folder " + m_out.string() + "/ is gone"),
      std::string::npos);
  EXPECT_NE(run.out.find("FAILED voicemail.dat: "), std::string::npos);
  EXPECT_EQ(run.status, 1);
  EXPECT_FALSE(fs::exists(m_out)) << "no folder is made again behind the user's back";
  EXPECT_TRUE(fs::is_empty(m_tmp));
  EXPECT_TRUE(ProcessesOfOurs().empty());
}

TEST_F(FailureInjectionTest, RecordingRemovedDuringTheRunSaysSo) {
  ReplaceProgram("vocrate", "case \"$1\" in *meeting_notes*) rm -f \"$1\";; esac");
  const RunResult run = Run();
  SCOPED_TRACE(run.out + run.err);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("FAILED meeting_notes.qcp: the recording is gone: it was moved or "
                         "deleted during the run\n"),
            std::string::npos);
  EXPECT_EQ(fs::file_size(m_out / "voicemail.wav"), kWavSizes.at("voicemail"));
  EXPECT_TRUE(fs::is_empty(m_tmp));
}

/// meeting_notes.qcp's packets 60 times over: a recording of 25 minutes,
/// whose decoding takes a while.
std::string LongRecording(const std::string& meeting) {
  std::string longer = meeting.substr(0, 194);
  for (int i = 0; i < 60; ++i) longer += meeting.substr(194, Le32(meeting, 190));
  const std::uint32_t dataSize = static_cast<std::uint32_t>(longer.size() - 194);
  for (auto [at, value] : {std::pair{4, dataSize + 186}, std::pair{190, dataSize}}) {
    for (int i = 0; i < 4; ++i) longer[at + i] = static_cast<char>(value >> (8 * i));
  }
  return longer;
}

TEST_F(FailureInjectionTest, WorkerKilledMidRecordingFailsThatRecordingOnly) {
  testing::WriteFile(m_in / "meeting_notes.qcp", LongRecording(Slurp(m_in / "meeting_notes.qcp")));
  // The worker is killed while it decodes meeting_notes (it writes its PCM).
  std::atomic<bool> killed{false};
  std::jthread killer([&](std::stop_token stop) {
    const std::string host = (m_root / "host").string();
    while (!stop.stop_requested() && !killed) {
      std::error_code ec;
      for (const auto& process : fs::directory_iterator("/proc", ec)) {
        const std::string cmdline = Slurp(process.path() / "cmdline");
        if (cmdline.find(host) == std::string::npos ||
            cmdline.find("wavrel-worker") == std::string::npos) {
          continue;
        }
        for (const auto& fd : fs::directory_iterator(process.path() / "fd", ec)) {
          const std::string target = fs::read_symlink(fd.path(), ec).string();
          // Past 1 MB, the PCM is meeting_notes' (the others make less).
          if (target.size() > 4 && target.substr(target.size() - 4) == ".pcm" &&
              fs::file_size(target, ec) > (1u << 20) && !ec) {
            killed = kill(std::stoi(process.path().filename().string()), SIGKILL) == 0;
            break;
          }
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  const RunResult run = Run();
  killer.request_stop();
  killer.join();
  ASSERT_TRUE(killed);
  SCOPED_TRACE(run.out + run.err);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("FAILED meeting_notes.qcp: decoder killed by signal 9"),
            std::string::npos);
  // The worker started again for the next recording: the others convert.
  for (const std::string stem : {"greeting", "voicemail"}) {
    EXPECT_EQ(fs::file_size(m_out / (stem + ".wav")), kWavSizes.at(stem));
  }
  EXPECT_EQ(testing::Names(m_out), (std::vector<std::string>{"greeting.wav", "voicemail.wav"}));
  EXPECT_TRUE(fs::is_empty(m_tmp));
  EXPECT_TRUE(ProcessesOfOurs().empty()) << ProcessesOfOurs();
}

TEST_F(FailureInjectionTest, WavrelKilledLeavesNoProgramRunning) {
  // A recording of 25 minutes after the others: its decoder runs for seconds.
  testing::WriteFile(m_in / "zz_long.qcp", LongRecording(Slurp(m_in / "meeting_notes.qcp")));
  testing::ChildOptions options;
  options.setEnv = {{"TMPDIR", m_tmp.string()}, {"LANG", "C"}};
  options.timeout = std::chrono::seconds(60);
  testing::ChildProcess wavrel;
  std::string err;
  ASSERT_TRUE(wavrel.Start({(m_root / "host" / "wavrel").string(), "convert", "--jobs", "1",
                            m_in.string(), m_out.string()},
                           options, &err))
      << err;
  wavrel.Wait([&](const std::string& line) {
    if (line.rfind("ok  voicemail.dat", 0) != 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // zz_long's decoder runs
    kill(wavrel.Pid(), SIGKILL);
  });
  // The kernel ends the run's programs with it.
  for (int i = 0; i < 100 && !ProcessesOfOurs().empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(ProcessesOfOurs().empty()) << ProcessesOfOurs();
}

TEST_F(FailureInjectionTest, IntermediatesFileSystemFull) {
#ifdef __SANITIZE_THREAD__
  // ThreadSanitizer's runtime puts a file of 512 KiB into TMPDIR for every
  // program it starts: a small TMPDIR is full before the run begins.
  GTEST_SKIP() << "TMPDIR cannot be small under ThreadSanitizer";
#endif
  // Room for the small recordings' intermediates, not for the long one's PCM.
  constexpr std::uintmax_t kRoom = 300 * 1024;
  if (MountSmallFileSystem(m_tmp, kRoom)) {
    const RunResult run = Run();
    ExpectOutcome(run, {"greeting", "voicemail"});
    // The reason names the full folder, not a program's exit status.
    EXPECT_NE(run.out.find("FAILED meeting_notes.qcp: the work folder " + m_tmp.string()),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("has no space left"), std::string::npos) << run.out;
  } else {
    ExpectOutcome(Run({}, kRoom), {"greeting", "voicemail"});
  }
}

TEST_F(FailureInjectionTest, OutputFileSystemFull) {
  // Room for the two small WAVs, not for the long one (nor for all three).
  // The long one's WAV of an earlier run stays as it was.
  constexpr std::uintmax_t kRoom = 300 * 1024;
  const bool mounted = MountSmallFileSystem(m_out, kRoom);
  std::string earlier(44 + 320, '\0');
  earlier.replace(0, 4, "RIFF");
  for (auto [at, value] : {std::pair{4, earlier.size() - 8}, std::pair{40, earlier.size() - 44}}) {
    for (int i = 0; i < 4; ++i) earlier[at + i] = static_cast<char>(value >> (8 * i));
  }
  std::ofstream(m_out / "meeting_notes.wav", std::ios::binary) << earlier;
  // Without a mount: a size limit the PCM fits but its WAV does not.
  ExpectOutcome(mounted ? Run() : Run({}, kWavSizes.at("meeting_notes") - 20),
                {"greeting", "voicemail"});
  EXPECT_EQ(Slurp(m_out / "meeting_notes.wav"), earlier);
}

TEST_F(FailureInjectionTest, WavWhoseLastBytesCannotBeWritten) {
  // Only the WAV's last bytes fail, in the flush before its close: the file
  // must fail all the same, not be renamed into place cut short.
  ExpectOutcome(Run({}, kWavSizes.at("meeting_notes") - 20), {"greeting", "voicemail"});
}

}  // namespace
}  // namespace wavrel::host
