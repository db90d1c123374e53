// The real vocrate program run as a child process: console text, exit
// status and the files each failure leaves behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "formats/qcp_format.h"
#include "formats/test_files.h"
#include "testing/child_process.h"

namespace vocrate {
namespace {

using testing::Bytes;
using testing::FileExists;
using testing::ReadFileBytes;
using testing::ReadFileText;
using testing::TempDir;
using testing::WriteFileBytes;

constexpr char kProgram[] = VOCRATE_PROGRAM;
const std::string kSamples = VOCRATE_SAMPLES_DIR;

const std::string kUsage =
    "\nUSAGE: vocrate.exe sourcefile destfile option\n"
    "       sourcefile is the INPUT FILE\n"
    "       destfile   is the OUTPUT FILE( EVRC FORMAT )\n\n"
    " option = 0 or 1; '0':evrc->qcp; '1':qcp->evrc";
const std::string kPressAnyKeyGbk =
    "\xC7\xEB\xB0\xB4\xC8\xCE\xD2\xE2\xBC\xFC\xCD\xCB\xB3\xF6\xB3\xCC\xD0\xF2\xA1\xA3\xA1\xA3\xA1"
    "\xA3";
const std::string kSuccessGbk =
    "EVRC\xB8\xF1\xCA\xBD\xCE\xC4\xBC\xFE\xD7\xAA\xBB\xBB\xB3\xC9\xB9\xA6\xA3\xA1";

enum class Input {
  kDevNull,
  kClosed,
  kPipe,
  kAllClosed  ///< standard input and output both closed; nothing read back
};

#ifdef __SANITIZE_ADDRESS__
// Instrumented code is many times slower and its shadow memory is counted.
constexpr off_t kHugeFileBytes = off_t{64} << 20;
constexpr long kMaxRssKb = 1L << 30;
#else
constexpr off_t kHugeFileBytes = off_t{256} << 20;
constexpr long kMaxRssKb = 32 * 1024;
#endif

struct Outcome {
  int status = -1;  // exit status, or 1000 + signal
  std::string out;
  long max_rss_kb = 0;
};

wavrel::testing::ChildOptions Options(const std::string& cwd, Input input, const char* lc_all,
                                      unsigned timeout_s = 60) {
  wavrel::testing::ChildOptions options;
  options.workingFolder = cwd;
  options.setEnv = {{"LC_ALL", lc_all}};
  options.timeout = std::chrono::seconds(timeout_s);
  options.input = input == Input::kClosed || input == Input::kAllClosed
                      ? wavrel::testing::ChildInput::kClosed
                  : input == Input::kPipe ? wavrel::testing::ChildInput::kPipe
                                          : wavrel::testing::ChildInput::kDevNull;
  options.keepInputOpen = input == Input::kPipe;
  options.closeOutput = input == Input::kAllClosed;
  return options;
}

Outcome ToOutcome(const wavrel::testing::ChildResult& result) {
  return {result.signal != 0 ? 1000 + result.signal : result.exitCode, result.out, result.maxRssKb};
}

std::vector<std::string> Argv(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {kProgram};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

Outcome RunVocrate(const std::vector<std::string>& args, const std::string& cwd,
                   Input input = Input::kDevNull, const char* lc_all = "C",
                   unsigned timeout_s = 60) {
  return ToOutcome(wavrel::testing::RunChild(Argv(args), Options(cwd, input, lc_all, timeout_s)));
}

std::string Sample(const char* name) { return kSamples + "/" + name; }

TEST(VocrateProcessTest, WrongArgumentCountPrintsUsageAndWaitsForOneCharacter) {
  TempDir dir;
  const std::vector<std::vector<std::string>> wrong = {{}, {"a", "b"}, {"a", "b", "1", "x"}};
  for (const auto& args : wrong) {
    for (Input input : {Input::kDevNull, Input::kClosed}) {
      const Outcome outcome = RunVocrate(args, dir.Path(), input);
      EXPECT_EQ(outcome.status, 255);
      EXPECT_EQ(outcome.out, kUsage + kPressAnyKeyGbk);
    }
  }
  EXPECT_FALSE(FileExists(dir / "loss_stat.txt"));
  EXPECT_FALSE(FileExists(dir / "b"));

  // With input open the program waits, the prompt already shown, until a
  // character comes.
  wavrel::testing::ChildProcess child;
  ASSERT_TRUE(child.Start(Argv({"only-one"}), Options(dir.Path(), Input::kPipe, "C.UTF-8")));
  ASSERT_TRUE(
      child.ReadUntil([](const std::string& shown) { return shown.size() >= kUsage.size() + 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(child.Running()) << "ended without waiting";
  ASSERT_TRUE(child.WriteInput("\n"));
  const Outcome outcome = ToOutcome(child.Wait());
  EXPECT_EQ(outcome.status, 255);
  EXPECT_EQ(outcome.out, kUsage + "请按任意键退出程序。。。");
}

TEST(VocrateProcessTest, OpenFailuresLeaveWhatTheySay) {
  TempDir dir;
  const std::string previous = "FILE : x is opened. LOSS PACKAGE POS:\r\n ";
  WriteFileBytes(dir / "loss_stat.txt", Bytes(previous.begin(), previous.end()));
  WriteFileBytes(dir / "src.qcp", ReadFileBytes(Sample("greeting.qcp")));

  // Missing source, or a folder, a device or a pipe as the source: nothing
  // created, nothing appended, no wait.
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
  for (const std::string& source :
       {dir / "missing.qcp", dir.Path(), std::string("/dev/zero"), dir / "fifo"}) {
    Outcome outcome = RunVocrate({source, dir / "out.evrc", "1"}, dir.Path());
    EXPECT_EQ(outcome.status, 255);
    EXPECT_EQ(outcome.out, "SOURCE FILE CAN'T OPEN!\n");
    EXPECT_FALSE(FileExists(dir / "out.evrc"));
  }
  // A destination that cannot be created.
  Outcome outcome = RunVocrate({dir / "src.qcp", dir / "no/such/folder/out.evrc", "1"}, dir.Path());
  EXPECT_EQ(outcome.status, 255);
  EXPECT_EQ(outcome.out, "DEST FILE CAN'T OPEN!\n");
  // The destination is the source (here through a second name): the source
  // is not truncated.
  ASSERT_EQ(link((dir / "src.qcp").c_str(), (dir / "alias.qcp").c_str()), 0);
  outcome = RunVocrate({dir / "src.qcp", dir / "alias.qcp", "1"}, dir.Path());
  EXPECT_EQ(outcome.status, 255);
  EXPECT_EQ(outcome.out, "DEST FILE IS THE SOURCE FILE!\n");
  EXPECT_EQ(ReadFileBytes(dir / "src.qcp"), ReadFileBytes(Sample("greeting.qcp")));
  EXPECT_EQ(ReadFileText(dir / "loss_stat.txt"), previous);

  // loss_stat.txt cannot be opened: the destination is left as it was, and
  // one the run would have made is not left behind.
  TempDir other;
  ASSERT_EQ(mkdir((other / "loss_stat.txt").c_str(), 0755), 0);
  WriteFileBytes(other / "out.evrc", Bytes(100, 7));
  for (const char* option : {"1", "0"}) {
    outcome = RunVocrate({dir / "src.qcp", other / "out.evrc", option}, other.Path());
    EXPECT_EQ(outcome.status, 255);
    EXPECT_EQ(outcome.out, "LOSS_STAT FILE CAN'T OPEN!\n");
    EXPECT_EQ(ReadFileBytes(other / "out.evrc"), Bytes(100, 7));
  }
  outcome = RunVocrate({dir / "src.qcp", other / "new.evrc", "1"}, other.Path());
  EXPECT_EQ(outcome.out, "LOSS_STAT FILE CAN'T OPEN!\n");
  EXPECT_FALSE(FileExists(other / "new.evrc"));
}

/// A QCP file with vocrate's own header but another codec's GUID.
Bytes WithGuid(Bytes qcp, const std::array<std::uint8_t, 16>& guid) {
  std::copy(guid.begin(), guid.end(), qcp.begin() + qcp::kCodecGuidOffset);
  return qcp;
}

TEST(VocrateProcessTest, OtherCodecsAreRefusedBeforeAnythingIsWritten) {
  TempDir dir;
  const Bytes evrc = ReadFileBytes(Sample("greeting.qcp"));
  WriteFileBytes(dir / "qcelp.qcp", WithGuid(evrc, qcp::kQcelp13kGuid2));
  WriteFileBytes(dir / "smv.qcp", WithGuid(evrc, qcp::kSmvGuid));
  Bytes other = WithGuid(evrc, {});
  const std::string name = "Acme  Codec\x01 ";
  std::fill_n(other.begin() + qcp::kCodecNameOffset, qcp::kCodecNameFieldSize, 0);
  std::copy(name.begin(), name.end(), other.begin() + qcp::kCodecNameOffset);
  WriteFileBytes(dir / "other.qcp", other);
  WriteFileBytes(dir / "keep.evrc", Bytes(100, 7));
  const std::pair<const char*, const char*> cases[] = {
      {"qcelp.qcp", "QCELP-13K"}, {"smv.qcp", "SMV"}, {"other.qcp", "Acme Codec?"}};
  for (const auto& [file, codec] : cases) {
    const Outcome outcome = RunVocrate({file, "keep.evrc", "1"}, dir.Path());
    EXPECT_EQ(outcome.status, 255);
    EXPECT_EQ(outcome.out, std::string("SOURCE FILE IS NOT EVRC SPEECH (") + codec + ")!\n");
  }
  EXPECT_EQ(ReadFileBytes(dir / "keep.evrc"), Bytes(100, 7));
  EXPECT_FALSE(FileExists(dir / "loss_stat.txt"));

  // A header that is not a well-formed chunk list is read from 194 as always.
  Bytes broken = WithGuid(evrc, qcp::kQcelp13kGuid1);
  broken[qcp::kVratSizeOffset + 3] = 0x7F;
  WriteFileBytes(dir / "broken.qcp", broken);
  const Outcome outcome = RunVocrate({"broken.qcp", "broken.evrc", "1"}, dir.Path());
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(ReadFileBytes(dir / "broken.evrc"), testing::QcpToEvrc(evrc).output);
}

TEST(VocrateProcessTest, ConsoleTextDirectionAndLossRecord) {
  TempDir dir;
  Outcome outcome = RunVocrate({Sample("lossy_call.qcp"), "call.evrc", "1"}, dir.Path());
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "194\n INPUT FILE: " + Sample("lossy_call.qcp") +
                             " \n OUTPUT FILE: call.evrc \n FORMAT: QCP - > EVRC " + kSuccessGbk);
  EXPECT_EQ(std::filesystem::file_size(dir / "call.evrc"), 554u * 24u);

  outcome = RunVocrate({"call.evrc", "call.qcp", "0"}, dir.Path(), Input::kDevNull, "C.UTF-8");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out,
            " INPUT FILE: call.evrc \n OUTPUT FILE: call.qcp \n FORMAT: EVRC - > QCP"
            "EVRC格式文件转换成功！");
  EXPECT_EQ(ReadFileBytes(dir / "call.qcp"), ReadFileBytes(Sample("lossy_call.qcp")));

  const std::string positions =
      "25, 40, 46, 52, 70, 74, 102, 106, 155, 171, 199, 200, 204, 210, 257, 320, 344, 415, 461, "
      "467, 472, 473, 485, 486, 497, 530, 534, ";
  const std::string summary =
      "\r\n TOTAL FRAMES = 554, TOTAL LOSS PACKAGE = 27, loss rate = 0.048736 \r\n\r\n ";
  EXPECT_EQ(ReadFileText(dir / "loss_stat.txt"),
            "FILE : " + Sample("lossy_call.qcp") + " is opened. LOSS PACKAGE POS:\r\n " +
                positions + summary + "FILE : call.evrc is opened. LOSS PACKAGE POS:\r\n " +
                positions + summary);

  // Only the low 8 bits of the option choose the direction.
  WriteFileBytes(dir / "empty", {});
  for (const char* option : {"0", "", "qcp", "256", " -512"}) {
    std::filesystem::remove(dir / "loss_stat.txt");
    outcome = RunVocrate({"empty", "out", option}, dir.Path());
    EXPECT_EQ(outcome.status, 0) << option;
    EXPECT_EQ(outcome.out.substr(0, 1), " ") << option;
    EXPECT_EQ(std::filesystem::file_size(dir / "out"), 194u) << option;
    EXPECT_EQ(ReadFileText(dir / "loss_stat.txt"),
              "FILE : empty is opened. LOSS PACKAGE POS:\r\n "
              "\r\n TOTAL FRAMES = 0, TOTAL LOSS PACKAGE = 0, loss rate = -nan \r\n\r\n ");
  }
  for (const char* option : {"1", "2", "-1", "  7x"}) {
    outcome = RunVocrate({"empty", "out", option}, dir.Path());
    EXPECT_EQ(outcome.status, 0) << option;
    EXPECT_EQ(outcome.out.substr(0, 4), "194\n") << option;
    EXPECT_EQ(std::filesystem::file_size(dir / "out"), 0u) << option;
  }
}

TEST(VocrateProcessTest, WriteFailureIsNotReportedAsSuccess) {
  TempDir dir;
  for (const char* option : {"0", "1"}) {
    const Outcome outcome = RunVocrate({Sample("greeting.qcp"), "/dev/full", option}, dir.Path());
    EXPECT_EQ(outcome.status, 255) << option;
    EXPECT_NE(outcome.out.find("DEST FILE CAN'T WRITE!\n"), std::string::npos) << outcome.out;
    EXPECT_EQ(outcome.out.find(kSuccessGbk), std::string::npos);
  }
  // The loss record of both runs is still complete.
  const std::string text = ReadFileText(dir / "loss_stat.txt");
  EXPECT_NE(text.find("TOTAL FRAMES = 455, "), std::string::npos);  // 10920 / 24 records
  EXPECT_NE(text.find("TOTAL FRAMES = 532, "), std::string::npos);  // 531 packets + pad byte
}

TEST(VocrateProcessTest, HostileInputEndsWithFlatMemory) {
  TempDir dir;
  std::mt19937 random(7);
  for (int round = 0; round < 6; ++round) {
    Bytes noise(random() % 300000);
    for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());
    WriteFileBytes(dir / "noise", noise);
    for (const char* option : {"0", "1"}) {
      const Outcome outcome = RunVocrate({"noise", "out", option}, dir.Path());
      EXPECT_EQ(outcome.status, 0) << outcome.out;
    }
  }
  // Every cut of a sample converts.
  const Bytes sample = ReadFileBytes(Sample("zh_call.qcp"));
  for (std::size_t length : {std::size_t{0}, std::size_t{150}, std::size_t{195}, std::size_t{200},
                             sample.size() / 2 + 1, sample.size() - 1}) {
    WriteFileBytes(dir / "cut.qcp", Bytes(sample.begin(), sample.begin() + length));
    EXPECT_EQ(RunVocrate({"cut.qcp", "cut.evrc", "1"}, dir.Path()).status, 0) << length;
  }
  // loss_stat.txt as the source, which the run appends to: it still ends.
  EXPECT_EQ(RunVocrate({"loss_stat.txt", "out", "1"}, dir.Path()).status, 0);

  // With standard input and output closed, no console text reaches the files.
  EXPECT_EQ(RunVocrate({Sample("greeting.qcp"), "closed.evrc", "1"}, dir.Path(), Input::kAllClosed)
                .status,
            0);
  EXPECT_EQ(ReadFileBytes(dir / "closed.evrc"),
            testing::QcpToEvrc(ReadFileBytes(Sample("greeting.qcp"))).output);

  // 256 MiB of zeros (a sparse file): every byte is a blank packet, a lost
  // frame. The outputs go to /dev/null; memory must stay flat: a reader that
  // kept the file would need 8 times the bound.
  const std::string big = dir / "big.qcp";
  const int fd = open(big.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, kHugeFileBytes), 0);
  close(fd);
  TempDir quiet;
  ASSERT_EQ(symlink("/dev/null", (quiet / "loss_stat.txt").c_str()), 0);
  for (const char* option : {"1", "0"}) {
    const Outcome outcome =
        RunVocrate({big, "/dev/null", option}, quiet.Path(), Input::kDevNull, "C", 120);
    EXPECT_EQ(outcome.status, 0) << option << outcome.out;
    EXPECT_LT(outcome.max_rss_kb, kMaxRssKb) << option;
  }
}

}  // namespace
}  // namespace vocrate
