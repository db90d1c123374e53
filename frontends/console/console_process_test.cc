// Runs the built `wavrel` from the stage tree on copies of the sample
// recordings, with the real converter and decoder beside it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "testing/child_process.h"
#include "testing/fat_folder.h"
#include "testing/files.h"

namespace wavrel::host {
namespace {

namespace fs = std::filesystem;

// Frames of each sample recording.
const std::map<std::string, std::uintmax_t> kSampleFrames = {{"greeting", 531},
                                                             {"lossy_call", 554},
                                                             {"meeting_notes", 1280},
                                                             {"voicemail", 271},
                                                             {"zh_call", 741}};

std::uintmax_t WavSize(std::uintmax_t frames) { return 44 + frames * 320; }

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
  std::vector<std::string> outLines;
};

class WavrelProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(m_root / "tmp"); }

  /// A folder under the test's root with copies of the samples, each under
  /// its own name or under the names given.
  fs::path SampleFolder(const std::string& name,
                        const std::map<std::string, std::string>& renamed = {}) {
    testing::CopySamples(WAVREL_SAMPLES_DIR, m_root / name, renamed);
    return m_root / name;
  }

  static void CopySample(const std::string& sample, const fs::path& to) {
    testing::CopySamples(WAVREL_SAMPLES_DIR, to.parent_path(), {{sample, to.filename().string()}});
  }

  /// Runs wavrel with args; onLine sees each standard-output line with the
  /// child's pid as it comes.
  RunResult RunWavrel(const std::vector<std::string>& args,
                      const std::function<void(pid_t, const std::string&)>& onLine = {},
                      const std::vector<std::string>& extraEnv = {},
                      const std::vector<int>& ignoredSignals = {}) {
    testing::ChildOptions options;
    options.ignoredSignals = ignoredSignals;
    options.unsetEnv = {"XMESSAGEBOX_ANSWER", "LC_ALL", "LC_MESSAGES"};
    options.setEnv = {{"TMPDIR", (m_root / "tmp").string()}, {"LANG", "C"}};
    for (const auto& var : extraEnv) {
      options.setEnv[var.substr(0, var.find('='))] = var.substr(var.find('=') + 1);
    }
    options.timeout = std::chrono::seconds(120);
    std::vector<std::string> argv = {m_console};
    argv.insert(argv.end(), args.begin(), args.end());
    testing::ChildProcess child;
    RunResult run;
    if (!child.Start(argv, options, &run.err)) {
      ADD_FAILURE() << run.err;
      return run;
    }
    const testing::ChildResult result = child.Wait([&](const std::string& line) {
      run.outLines.push_back(line);
      if (onLine) onLine(child.Pid(), line);
    });
    run.status = result.Status();
    run.out = result.out;
    run.err = result.err;
    return run;
  }

  static std::set<std::string> Listing(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
      names.insert(entry.path().filename().string() + ":" +
                   std::to_string(entry.is_regular_file() ? entry.file_size() : 0));
    }
    return names;
  }

  std::set<std::string> TmpLeftovers() const { return Listing(m_root / "tmp"); }

  testing::TempFolder m_folder{"wavrel_console_test"};
  const fs::path m_root = m_folder.Path();
  std::string m_console = WAVREL_CONSOLE_PATH;  // the wavrel that RunWavrel runs
};

std::size_t CountPrefixed(const std::vector<std::string>& lines, const std::string& prefix) {
  std::size_t count = 0;
  for (const auto& line : lines) count += line.rfind(prefix, 0) == 0 ? 1 : 0;
  return count;
}

TEST_F(WavrelProcessTest, ConvertsEverySampleIntoACompleteWav) {
  const fs::path in = SampleFolder("in");
  const fs::path out = m_root / "out";
  fs::create_directories(out);
  const RunResult run = RunWavrel({"convert", in.string(), out.string()});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(CountPrefixed(run.outLines, "ok  "), 5u) << run.out;
  for (const auto& [stem, frames] : kSampleFrames) {
    const fs::path wav = out / (stem + ".wav");
    ASSERT_TRUE(fs::exists(wav)) << wav;
    EXPECT_EQ(fs::file_size(wav), WavSize(frames)) << wav;
  }
  EXPECT_NE(run.out.find("ok  lossy_call.qcp -> " + (out / "lossy_call.wav").string() +
                         " (554 frames, 27 lost)\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("ok  voicemail.dat -> "), std::string::npos);
  // The converter's frame count also counts a data chunk's pad byte.
  EXPECT_EQ(run.outLines.back().rfind("done: 5 converted, 0 failed; 27 of ", 0), 0u)
      << run.outLines.back();
  EXPECT_NE(run.err.find("wavrel: Conversion finished."), std::string::npos) << run.err;
  EXPECT_TRUE(TmpLeftovers().empty());
  EXPECT_EQ(Listing(in).size(), 5u);  // nothing written beside the recordings

  // Without an output folder, the WAV files go beside the recordings; the
  // same command again takes them for its own output (it makes them
  // again), while a file of another name that is no recording is asked about.
  const fs::path same = SampleFolder("same", {{"greeting.qcp", "greeting.qcp"}});
  EXPECT_EQ(RunWavrel({"convert", same.string()}).status, 0);
  EXPECT_EQ(fs::file_size(same / "greeting.wav"), WavSize(531));
  const RunResult again = RunWavrel({"convert", same.string()});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(
      CountPrefixed(again.outLines, "ok  greeting.qcp -> " + (same / "greeting.wav").string()), 1u)
      << again.out;
  fs::copy_file(same / "greeting.wav", same / "copy.wav");
  const RunResult asked = RunWavrel({"convert", same.string()});
  EXPECT_EQ(asked.status, 2) << asked.err;
  EXPECT_NE(asked.err.find("not QCP recordings"), std::string::npos) << asked.err;
  const RunResult accepted = RunWavrel({"convert", "--yes", same.string()});
  EXPECT_EQ(accepted.status, 0) << accepted.err;
  EXPECT_EQ(CountPrefixed(accepted.outLines, "ok  "), 1u);
}

TEST_F(WavrelProcessTest, HostileNamesConvertUnderTheirOwnNames) {
  const std::map<std::string, std::string> names = {{"greeting.qcp", "a b  c.qcp"},
                                                    {"lossy_call.qcp", "quote\"s 'and' $(x).qcp"},
                                                    {"meeting_notes.qcp", "new\nline.qcp"},
                                                    {"zh_call.qcp", "通话 1.qcp"},
                                                    {"voicemail.dat", "-leading.qcp"}};
  const fs::path in = SampleFolder("in -x \"q\"", names);
  const fs::path out = m_root / "-out";
  fs::create_directories(out);
  const RunResult run = RunWavrel({"convert", "--", in.string(), out.string()});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(CountPrefixed(run.outLines, "ok  "), 5u) << run.out;
  for (const auto& [sample, name] : names) {
    const fs::path wav = out / (name.substr(0, name.size() - 4) + ".wav");
    ASSERT_TRUE(fs::exists(wav)) << wav;
    EXPECT_EQ(fs::file_size(wav), WavSize(kSampleFrames.at(sample.substr(0, sample.find('.')))));
  }
  EXPECT_NE(run.out.find("ok  new\\nline.qcp -> "), std::string::npos) << run.out;
  EXPECT_EQ(run.outLines.size(), 6u);  // five files and the summary, one line each
}

TEST_F(WavrelProcessTest, ReadOnlyInputConvertsAndStaysUntouched) {
  const fs::path in = SampleFolder("in");
  fs::permissions(in, fs::perms(0555));
  const auto before = Listing(in);
  const fs::path out = m_root / "out";
  fs::create_directories(out);
  const RunResult run = RunWavrel({"convert", in.string(), out.string()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Listing(in), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 5);
}

TEST_F(WavrelProcessTest, WavThatCannotBeWrittenIsReportedAsFailure) {
  const fs::path in =
      SampleFolder("in", {{"greeting.qcp", "greeting.qcp"}, {"zh_call.qcp", "zh_call.qcp"}});
  const fs::path out = m_root / "out";
  // A folder where the WAV file would go: no one can create that file.
  fs::create_directories(out / "greeting.wav");
  const RunResult run = RunWavrel({"convert", in.string(), out.string()});
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_EQ(CountPrefixed(run.outLines, "FAILED greeting.qcp: "), 1u) << run.out;
  EXPECT_EQ(CountPrefixed(run.outLines, "ok  zh_call.qcp -> "), 1u) << run.out;
  EXPECT_EQ(run.outLines.back().rfind("done: 1 converted, 1 failed", 0), 0u) << run.outLines.back();
  // The message box of the failure, with its path, on the console.
  EXPECT_NE(run.err.find("Cannot create the WAV file:\n" + (out / "greeting.wav").string()),
            std::string::npos)
      << run.err;
  EXPECT_TRUE(fs::is_directory(out / "greeting.wav"));
  EXPECT_TRUE(TmpLeftovers().empty());
}

TEST_F(WavrelProcessTest, MissingOutputFolderIsMade) {
  const fs::path in = SampleFolder("in", {{"voicemail.dat", "voicemail.dat"}});
  const fs::path out = m_root / "new" / "wav";
  const RunResult run = RunWavrel({"convert", in.string(), out.string()});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(fs::is_regular_file(out / "voicemail.wav")) << run.out << run.err;
}

TEST_F(WavrelProcessTest, RefusedRunsAndUsage) {
  const fs::path empty = m_root / "empty";
  fs::create_directories(empty / "sub");
  const RunResult none = RunWavrel({"convert", empty.string()});
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("The input folder contains no files."), std::string::npos) << none.err;
  EXPECT_TRUE(none.out.empty());

  const RunResult missing = RunWavrel({"convert", (m_root / "nowhere").string()});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("cannot be opened"), std::string::npos) << missing.err;
  EXPECT_NE(missing.err.find((m_root / "nowhere").string()), std::string::npos) << missing.err;
  // An output folder that takes no new file (not even from root) is refused first.
  const RunResult readOnly = RunWavrel({"convert", empty.string(), "/proc"});
  EXPECT_EQ(readOnly.status, 2);
  EXPECT_NE(readOnly.err.find("cannot be written in the output folder:\n/proc\n"),
            std::string::npos)
      << readOnly.err;
  EXPECT_TRUE(readOnly.out.empty());

  const RunResult chinese = RunWavrel({"convert", "--lang", "zh_CN", empty.string()});
  EXPECT_EQ(chinese.status, 2);
  EXPECT_NE(chinese.err.find("输入文件夹中没有文件。"), std::string::npos) << chinese.err;
  EXPECT_NE(chinese.err.find("[确定]"), std::string::npos) << chinese.err;

  const RunResult help = RunWavrel({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: wavrel convert"), std::string::npos);
  EXPECT_EQ(RunWavrel({}).status, 2);
  EXPECT_EQ(RunWavrel({"convert", "--bogus", empty.string()}).status, 2);
  EXPECT_EQ(RunWavrel({"convert", "a", "b", "c"}).status, 2);
}

TEST_F(WavrelProcessTest, EveryFileGetsItsLine) {
  const fs::path in =
      SampleFolder("in", {{"greeting.qcp", "greeting.qcp"}, {"zh_call.qcp", "rec\xE9.qcp"}});
  std::ofstream(in / "notes.txt") << "not a recording";
  ASSERT_EQ(mkfifo((in / "pipe").c_str(), 0600), 0);
  const std::string greeting = testing::Slurp(fs::path(WAVREL_SAMPLES_DIR) / "greeting.qcp");
  std::ofstream(in / "half.qcp", std::ios::binary) << greeting.substr(0, 5000);
  std::ofstream(in / "stub.qcp", std::ios::binary) << greeting.substr(0, 100);
  const fs::path out = m_root / "out";
  const RunResult run = RunWavrel({"convert", "--yes", in.string(), out.string()});
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_EQ(CountPrefixed(run.outLines, "skipped notes.txt: not a QCP recording"), 1u) << run.out;
  EXPECT_EQ(CountPrefixed(run.outLines, "skipped pipe: cannot be read as a file"), 1u) << run.out;
  EXPECT_EQ(CountPrefixed(run.outLines, "ok  rec\\xE9.qcp -> " + out.string() + "/rec\\xE9.wav"),
            1u)
      << run.out;
  EXPECT_EQ(fs::file_size(out / "rec\xE9.wav"), WavSize(741));
  EXPECT_NE(run.out.find(" lost, cut short)\n"), std::string::npos) << run.out;
  EXPECT_EQ(CountPrefixed(run.outLines, "FAILED stub.qcp: no speech frames in the recording"), 1u)
      << run.out;
  EXPECT_FALSE(fs::exists(out / "stub.wav"));
  EXPECT_EQ(run.outLines.size(), 7u) << run.out;  // six files and the summary
}

TEST_F(WavrelProcessTest, ReportThatCannotBeWrittenFailsAndLanguagesAreNames) {
  const fs::path in = SampleFolder("in", {{"voicemail.dat", "voicemail.dat"}});
  testing::ChildOptions options;
  options.setEnv = {{"TMPDIR", (m_root / "tmp").string()}};
  options.outputFile = "/dev/full";
  const testing::ChildResult full =
      testing::RunChild({WAVREL_CONSOLE_PATH, "convert", in.string()}, options);
  EXPECT_EQ(full.Status(), 1);
  const std::string& err = full.err;
  EXPECT_NE(err.find("wavrel: cannot write"), std::string::npos) << err;

  for (const char* bad : {"../../../etc/passwd", "xx", "en.ini", ""}) {
    const RunResult run = RunWavrel({"convert", "--lang", bad, in.string()});
    EXPECT_EQ(run.status, 2) << bad;
    EXPECT_NE(run.err.find("en, zh_CN"), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
  }
}

TEST_F(WavrelProcessTest, QcelpRecordingsConvertAndOtherCodecsFailWithTheirName) {
  const fs::path in = m_root / "codecs";
  const fs::path out = m_root / "codecs-out";
  fs::create_directories(in);
  for (const char* name : {"voice_memo_qcelp.qcp", "voice_memo_qcelp_lost.qcp"}) {
    fs::copy_file(fs::path(WAVREL_TEST_RECORDINGS_DIR) / name, in / name);
  }
  // A QCP file of SMV speech: no decoder here takes it.
  std::string smv = testing::Slurp(fs::path(WAVREL_SAMPLES_DIR) / "greeting.qcp");
  const unsigned char kSmv[16] = {0x75, 0x2B, 0x7C, 0x8D, 0x97, 0xA7, 0x49, 0xED,
                                  0x98, 0x5E, 0xD5, 0x3C, 0x8C, 0xC7, 0x5F, 0x84};
  smv.replace(22, 16, reinterpret_cast<const char*>(kSmv), 16);
  testing::WriteFile(in / "call.qcp", smv);
  const RunResult run = RunWavrel({"convert", in.string(), out.string()});
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_EQ(CountPrefixed(run.outLines, "FAILED call.qcp: SMV speech: no decoder for this codec"),
            1u)
      << run.out;
  EXPECT_NE(run.err.find("call.qcp: SMV speech: no decoder for this codec"), std::string::npos)
      << run.err;  // the end report
  // One frame for every packet: the erasure keeps its time and is counted.
  EXPECT_EQ(CountPrefixed(run.outLines, "ok  voice_memo_qcelp.qcp -> " +
                                            (out / "voice_memo_qcelp.wav").string() +
                                            " (250 frames, 0 lost)"),
            1u)
      << run.out;
  EXPECT_EQ(CountPrefixed(run.outLines, "ok  voice_memo_qcelp_lost.qcp -> " +
                                            (out / "voice_memo_qcelp_lost.wav").string() +
                                            " (251 frames, 1 lost)"),
            1u)
      << run.out;
  const std::string wav = testing::Slurp(out / "voice_memo_qcelp.wav");
  const std::string samples = wav.substr(44, testing::Le32(wav, 40));
  EXPECT_EQ(samples.size(), 250u * 320);
  const std::string lost = testing::Slurp(out / "voice_memo_qcelp_lost.wav");
  EXPECT_EQ(lost.substr(44, 100 * 320), samples.substr(0, 100 * 320));
  if (testing::RunChild({"ffmpeg", "-version"}).exitCode == 0) {
    const fs::path decoded = m_root / "ffmpeg.raw";
    ASSERT_EQ(
        testing::RunChild({"ffmpeg", "-loglevel", "error", "-nostdin", "-y", "-i",
                           (in / "voice_memo_qcelp.qcp").string(), "-f", "s16le", decoded.string()})
            .exitCode,
        0);
    EXPECT_TRUE(testing::Slurp(decoded) == samples);
  }
  // The JSON report gives each recording's codec and length.
  const RunResult json = RunWavrel({"convert", "--json", in.string(), (m_root / "j").string()});
  EXPECT_NE(json.out.find("\"codec\":\"QCELP-13K\",\"duration\":5.0}"), std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"codec\":\"SMV\",\"duration\":0.0}"), std::string::npos) << json.out;
}

TEST_F(WavrelProcessTest, NamesThatAFatFolderTakesForOneGetAWavEach) {
  testing::FatFolder fat;
  if (!fat.Mounted()) GTEST_SKIP() << fat.SkipReason();
  const fs::path in =
      SampleFolder("cased", {{"greeting.qcp", "Rec.qcp"}, {"zh_call.qcp", "rec.qcp"}});
  const RunResult run = RunWavrel({"convert", in.string(), fat.Path().string()});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(CountPrefixed(run.outLines, "ok  Rec.qcp -> " + (fat.Path() / "Rec.wav").string()), 1u)
      << run.out;
  EXPECT_EQ(CountPrefixed(run.outLines, "ok  rec.qcp -> " + (fat.Path() / "rec (2).wav").string()),
            1u)
      << run.out;
  EXPECT_EQ(fs::file_size(fat.Path() / "Rec.wav"), WavSize(531));
  EXPECT_EQ(fs::file_size(fat.Path() / "rec (2).wav"), WavSize(741));
}

TEST_F(WavrelProcessTest, EveryRecordingOfADeepTreeConvertsAndIsNamedByItsPathInTheTree) {
  // Twenty folders of 243-byte names: the paths are longer than PATH_MAX.
  const fs::path in = m_root / "deep";
  fs::create_directories(in);
  const std::string deep = testing::MakeDeepFolders(in, 20, 243);
  ASSERT_FALSE(deep.empty());
  ASSERT_TRUE(testing::WriteFile(deep + "/rec.qcp",
                                 testing::Slurp(fs::path(WAVREL_SAMPLES_DIR) / "voicemail.dat")));
  // Lines come in the order of the list, files that are no recordings too.
  testing::WriteFile(in / "a.qcp", testing::Slurp(fs::path(WAVREL_SAMPLES_DIR) / "greeting.qcp"));
  testing::WriteFile(in / "b.txt", "notes");
  testing::WriteFile(in / "c.qcp", testing::Slurp(fs::path(WAVREL_SAMPLES_DIR) / "greeting.qcp"));
  const fs::path out = m_root / "deep-out";
  const RunResult run = RunWavrel({"convert", "--yes", "-r", in.string(), out.string()});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  const std::string relative = deep.substr(in.string().size() + 1) + "/rec.qcp";
  // "a.qcp" sorts before the folder "aaa...", "b.txt" after it.
  ASSERT_EQ(run.outLines.size(), 5u) << run.out.substr(0, 300);
  EXPECT_EQ(run.outLines[0].rfind("ok  a.qcp -> ", 0), 0u) << run.outLines[0];
  EXPECT_EQ(run.outLines[1].rfind("ok  " + relative + " -> " + out.string() + "/", 0), 0u)
      << run.outLines[1].substr(0, 80);
  EXPECT_EQ(run.outLines[2], "skipped b.txt: not a QCP recording");
  EXPECT_EQ(run.outLines[3].rfind("ok  c.qcp -> ", 0), 0u) << run.outLines[3];
  EXPECT_EQ(testing::Slurp(out.string() + deep.substr(in.string().size()) + "/rec.wav").size(),
            WavSize(271));
  testing::RemoveAll(in);
  testing::RemoveAll(out);
}

TEST_F(WavrelProcessTest, InputMayBeOneRecording) {
  const fs::path in = SampleFolder("one", {{"greeting.qcp", "greeting.qcp"}});
  testing::WriteFile(in / "notes.txt", "not a recording");
  // Into its own folder by default, or into OUTPUT_DIR.
  RunResult run = RunWavrel({"convert", (in / "greeting.qcp").string()});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(CountPrefixed(run.outLines, "ok  greeting.qcp -> " + (in / "greeting.wav").string()),
            1u)
      << run.out;
  run = RunWavrel({"convert", (in / "greeting.qcp").string(), (m_root / "one-out").string()});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(fs::file_size(m_root / "one-out" / "greeting.wav"), WavSize(531));
  // A file that is no recording converts nothing, and says why.
  run = RunWavrel({"convert", (in / "notes.txt").string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("notes.txt: not a QCP recording"), std::string::npos) << run.err;
  EXPECT_TRUE(run.out.empty()) << run.out;
}

TEST_F(WavrelProcessTest, InterruptCancelsAndLeavesNothingBehind) {
  for (const int signal : {SIGINT, SIGQUIT}) {
    SCOPED_TRACE(strsignal(signal));
    fs::remove_all(m_root / "in");
    fs::remove_all(m_root / "out");
    const fs::path in = m_root / "in";
    fs::create_directories(in);
    for (int i = 0; i < 40; ++i)
      CopySample("meeting_notes.qcp", in / ("copy" + std::to_string(i) + ".qcp"));
    const auto before = Listing(in);
    const fs::path out = m_root / "out";
    fs::create_directories(out);
    int interrupts = 0;
    const RunResult run =
        RunWavrel({"convert", in.string(), out.string()}, [&](pid_t pid, const std::string& line) {
          if (line.rfind("ok  ", 0) == 0 && interrupts == 0) {
            ++interrupts;
            kill(pid, signal);
            kill(pid, signal);  // a second one changes nothing
          }
        });
    EXPECT_EQ(interrupts, 1);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_EQ(CountPrefixed(run.outLines, "cancelled: "), 1u) << run.out;
    EXPECT_TRUE(TmpLeftovers().empty());
    EXPECT_EQ(Listing(in), before);
    std::size_t wavs = 0;
    for (const auto& entry : fs::directory_iterator(out)) {
      ++wavs;
      EXPECT_EQ(entry.file_size(), WavSize(1280)) << entry.path() << " is partial";
    }
    EXPECT_GE(wavs, 1u);
    EXPECT_LT(wavs, 40u);
    // The cancelled status counts the WAV files the run kept.
    EXPECT_NE(run.err.find("Cancelled: " + std::to_string(wavs) + " WAV files made and kept."),
              std::string::npos)
        << run.err;
  }
}

TEST_F(WavrelProcessTest, ASignalIgnoredAtStartStaysIgnored) {
  // `nohup wavrel convert ... &`: closing the terminal must not cancel the run.
  const fs::path in = m_root / "in";
  const fs::path out = m_root / "out";
  for (int i = 0; i < 20; ++i)
    CopySample("meeting_notes.qcp", in / ("copy" + std::to_string(i) + ".qcp"));
  int okLines = 0;
  const RunResult run = RunWavrel({"convert", "--jobs", "1", in.string(), out.string()},
                                  [&](pid_t pid, const std::string& line) {
                                    if (line.rfind("ok  ", 0) == 0 && okLines++ == 0)
                                      kill(pid, SIGHUP);
                                  },
                                  {}, {SIGHUP});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(okLines, 20);
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 20);
}

TEST_F(WavrelProcessTest, InterruptAfterAFailureAddsNoReport) {
  // a.qcp fails (its WAV's place is a folder); the run is interrupted then.
  const fs::path in = m_root / "in";
  const fs::path out = m_root / "out";
  fs::create_directories(out / "a.wav");
  CopySample("meeting_notes.qcp", in / "a.qcp");
  for (int i = 0; i < 40; ++i)
    CopySample("meeting_notes.qcp", in / ("copy" + std::to_string(i) + ".qcp"));
  const RunResult run = RunWavrel({"convert", "--jobs", "1", in.string(), out.string()},
                                  [&](pid_t pid, const std::string& line) {
                                    if (line.rfind("FAILED a.qcp", 0) == 0) kill(pid, SIGINT);
                                  });
  EXPECT_EQ(CountPrefixed(run.outLines, "cancelled: "), 1u) << run.out;
  EXPECT_NE(run.err.find("Cannot create the WAV file"), std::string::npos) << run.err;
  // Every file has its line on standard output: no report box after the cancel.
  EXPECT_EQ(run.err.find("need your attention"), std::string::npos) << run.err;
}

// The bytes of every file of folder (recursively), by relative path.
std::map<std::string, std::string> Contents(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    files[fs::relative(entry.path(), folder).string()] = testing::Slurp(entry.path());
  }
  return files;
}

TEST_F(WavrelProcessTest, JobsAndShardsMakeTheWavsOfOneRun) {
  // Two recordings share a stem: the name rule must not depend on which
  // finishes first or on which shard converts it.
  const fs::path in = SampleFolder("in", {{"greeting.qcp", "a.qcp"},
                                          {"voicemail.dat", "a.dat"},
                                          {"meeting_notes.qcp", "b.qcp"},
                                          {"zh_call.qcp", "c.qcp"},
                                          {"lossy_call.qcp", "d.qcp"}});
  const RunResult one =
      RunWavrel({"convert", "--jobs", "1", in.string(), (m_root / "one").string()});
  ASSERT_EQ(one.status, 0) << one.out << one.err;
  const auto reference = Contents(m_root / "one");
  ASSERT_EQ(reference.size(), 5u);
  EXPECT_EQ(reference.count("a (2).wav"), 1u);

  const RunResult many = RunWavrel({"convert", "-j", "4", in.string(), (m_root / "many").string()});
  ASSERT_EQ(many.status, 0) << many.err;
  EXPECT_EQ(Contents(m_root / "many"), reference);
  // Lines in list order, the same summary.
  EXPECT_EQ(many.outLines, [&] {
    std::vector<std::string> lines;
    for (std::string line : one.outLines) {
      const std::size_t at = line.find(" -> ");
      if (at != std::string::npos) line.replace(line.find("/one/", at), 5, "/many/");
      lines.push_back(line);
    }
    return lines;
  }());

  // Three shards (and a fourth, empty one of seven) together give the same WAVs.
  for (const char* shard : {"0/3", "1/3", "2/3", "6/7"}) {
    const RunResult part =
        RunWavrel({"convert", "--shard", shard, in.string(), (m_root / "shards").string()});
    EXPECT_EQ(part.status, 0) << shard << part.out << part.err;
  }
  EXPECT_EQ(Contents(m_root / "shards"), reference);
  EXPECT_TRUE(TmpLeftovers().empty());

  // The workers make the bytes of the pipeline that starts each program for
  // each recording (the dialog's, and wavrel's own without a worker).
  fs::copy(fs::path(WAVREL_CONSOLE_PATH).parent_path(), m_root / "host",
           fs::copy_options::recursive);
  ASSERT_TRUE(fs::remove(m_root / "host" / "Plugins" / "WavrelPlugin" / "wavrel-worker"));
  m_console = (m_root / "host" / "wavrel").string();
  const RunResult perFile =
      RunWavrel({"convert", "--jobs", "1", in.string(), (m_root / "per-file").string()});
  ASSERT_EQ(perFile.status, 0) << perFile.err;
  EXPECT_EQ(Contents(m_root / "per-file"), reference);
  m_console = WAVREL_CONSOLE_PATH;
  EXPECT_EQ(RunWavrel({"convert", "--shard", "3/3", in.string()}).status, 2);
}

TEST_F(WavrelProcessTest, JsonReportRecursiveAndSkipExisting) {
  const fs::path in = SampleFolder("in", {{"greeting.qcp", "top.qcp"}});
  fs::create_directories(in / "sub" / "deep");
  CopySample("voicemail.dat", in / "sub" / "deep" / "v.dat");
  fs::create_directory_symlink(in, in / "sub" / "loop");  // never followed
  const std::string odd = std::string("n\xff") + "\"q.qcp";
  CopySample("zh_call.qcp", in / "sub" / odd);
  std::ofstream(in / "notes.txt") << "not a recording";
  const fs::path out = m_root / "out";

  RunResult run = RunWavrel({"convert", "--yes", "--json", "-r", in.string(), out.string()});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  ASSERT_EQ(run.outLines.size(), 5u) << run.out;
  EXPECT_NE(run.outLines[0].find("\"status\":\"skipped\""), std::string::npos) << run.out;
  EXPECT_NE(run.outLines[0].find("notes.txt"), std::string::npos);
  // A byte that is not UTF-8 as \udcXX; quotes escaped by the JSON writer.
  EXPECT_NE(run.out.find("n\\udcff\\\"q.qcp"), std::string::npos) << run.out;
  EXPECT_NE(run.outLines[1].find("\"frames\":271"), std::string::npos) << run.out;
  EXPECT_EQ(
      run.outLines.back(),
      "{\"summary\":true,\"files\":4,\"ok\":3,\"failed\":0,\"skipped\":1,\"cancelled\":false}");
  EXPECT_EQ(fs::file_size(out / "sub" / "deep" / "v.wav"), WavSize(271));
  EXPECT_TRUE(fs::exists(out / "top.wav"));
  EXPECT_FALSE(fs::exists(out / "sub" / "loop"));

  // A rerun skips the complete WAVs and converts an incomplete one again.
  fs::resize_file(out / "top.wav", 100);
  run = RunWavrel({"convert", "--yes", "--skip-existing", "-r", in.string(), out.string()});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(CountPrefixed(run.outLines, "ok  top.qcp"), 1u) << run.out;
  // Lines name a file by its path below the input folder.
  EXPECT_EQ(CountPrefixed(run.outLines, "skipped sub/deep/v.dat: WAV already complete"), 1u)
      << run.out;
  EXPECT_EQ(fs::file_size(out / "top.wav"), WavSize(531));
}

}  // namespace
}  // namespace wavrel::host
