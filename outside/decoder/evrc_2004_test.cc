// The evrc_2004 program as the plug-in runs it: a separate process, judged
// by its exit status, its output file and its standard error.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>

#include "outside/decoder/decoder_args.h"
#include "outside/decoder/evrc_decoder.h"
#include "outside/decoder/evrc_test_util.h"

namespace evrc {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

TEST(DecoderArgsTest, AcceptsThePluginCommandLineInAnyOrder) {
  DecoderArgs args;
  std::string err;
  ASSERT_TRUE(ParseDecoderArgs({"-i", "/a/x.evrc", "-o", "/a/x.pcm", "-d"}, &args, &err)) << err;
  EXPECT_EQ(args.input, "/a/x.evrc");
  EXPECT_EQ(args.output, "/a/x.pcm");
  EXPECT_TRUE(args.decode);
  EXPECT_TRUE(args.postfilter);
  EXPECT_FALSE(args.verbose);

  ASSERT_TRUE(ParseDecoderArgs({"-d", "-p", "0", "-o", "-out", "-v", "-i", "in"}, &args, &err));
  EXPECT_EQ(args.input, "in");
  EXPECT_EQ(args.output, "-out");  // a value may begin with '-'
  EXPECT_FALSE(args.postfilter);
  EXPECT_TRUE(args.verbose);

  ASSERT_TRUE(ParseDecoderArgs({"-x", "--help"}, &args, &err) == false);
  ASSERT_TRUE(ParseDecoderArgs({"-i", "a", "--help", "-x"}, &args, &err));
  EXPECT_TRUE(args.help);
}

TEST(DecoderArgsTest, RejectsMissingUnknownAndRepeatedArguments) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"-i", "a", "-o", "b"},              // no -d
      {"-i", "a", "-d"},                   // no -o
      {"-o", "b", "-d"},                   // no -i
      {"-i", "a", "-o", "b", "-d", "-i"},  // -i without value
      {"-i", "a", "-o", "b", "-d", "-p", "2"},
      {"-i", "a", "-o", "b", "-d", "-p"},
      {"-i", "a", "-o", "", "-d"},
      {"-i", "a", "-i", "c", "-o", "b", "-d"},
      {"-i", "a", "-o", "b", "-d", "extra"},
      {"-i", "a", "-o", "b", "-e"},
  };
  for (const auto& argv : bad) {
    DecoderArgs args;
    std::string err;
    EXPECT_FALSE(ParseDecoderArgs(argv, &args, &err)) << testing::PrintToString(argv);
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(err.find('\n'), std::string::npos);
  }
}

class Evrc2004ProcessTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "evrc2004-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
  }
  void TearDown() override { fs::remove_all(m_dir); }

  std::string Path(const std::string& name) const { return (m_dir / name).string(); }

  static std::string Quote(const std::string& s) {
    std::string quoted = "'";
    for (char c : s) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
  }

  /// Runs `prefix evrc_2004 args` through the shell; returns the exit status
  /// and leaves standard error in m_stderr.
  int Run(const std::vector<std::string>& args, const std::string& prefix = "") {
    std::string command = prefix + "exec " + Quote(EVRC_2004_PATH);
    for (const auto& a : args) command += " " + Quote(a);
    command += " >" + Quote(Path("stdout.txt")) + " 2>" + Quote(Path("stderr.txt"));
    const int status = std::system(("sh -c " + Quote(command)).c_str());
    const Bytes err = test::ReadFile(Path("stderr.txt"));
    const Bytes out = test::ReadFile(Path("stdout.txt"));
    m_stderr.assign(err.begin(), err.end());
    m_stdout.assign(out.begin(), out.end());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string WriteRecords(const std::string& recording) {
    const std::string path = Path(recording + ".evrc");
    test::WriteFile(path, test::QcpToRecords(test::ReadFile(test::SamplePath(recording))));
    return path;
  }

  bool OneLineError() const {
    return !m_stderr.empty() && m_stderr.find('\n') == m_stderr.size() - 1;
  }

  fs::path m_dir;
  std::string m_stderr;
  std::string m_stdout;
};

TEST_F(Evrc2004ProcessTest, DecodesARecordingAndReplacesAnOldOutput) {
  const std::string evrc = WriteRecords("zh_call.qcp");
  const std::string pcm = Path("zh_call.pcm");
  test::WriteFile(pcm, Bytes(1000000, 7));
  ASSERT_EQ(Run({"-i", evrc, "-o", pcm, "-d"}), 0) << m_stderr;
  EXPECT_EQ(m_stderr, "");
  EXPECT_EQ(test::Md5Hex(test::ReadFile(pcm)), test::ReadDigests().at("zh_call.qcp"));

  // -v reports the counts on standard error; the output is the same.
  ASSERT_EQ(Run({"-v", "-d", "-o", pcm, "-i", WriteRecords("lossy_call.qcp")}), 0);
  EXPECT_NE(m_stderr.find("27 concealed"), std::string::npos) << m_stderr;
  EXPECT_EQ(test::Md5Hex(test::ReadFile(pcm)), test::ReadDigests().at("lossy_call.qcp"));

  // An empty input gives an empty output and success.
  test::WriteFile(Path("empty.evrc"), {});
  ASSERT_EQ(Run({"-i", Path("empty.evrc"), "-o", pcm, "-d"}), 0);
  EXPECT_EQ(fs::file_size(pcm), 0u);

  EXPECT_EQ(Run({"-h"}), 0);
  EXPECT_NE(m_stdout.find("usage: evrc_2004"), std::string::npos);
}

TEST_F(Evrc2004ProcessTest, FailuresBeforeDecodingLeaveNoOutput) {
  const std::string evrc = WriteRecords("voicemail.dat");
  const std::string pcm = Path("out.pcm");

  EXPECT_EQ(Run({"-i", evrc, "-o", pcm}), 2);  // no -d
  EXPECT_TRUE(OneLineError()) << m_stderr;
  EXPECT_EQ(Run({"-i", evrc, "-o", pcm, "-d", "-q"}), 2);
  EXPECT_TRUE(OneLineError()) << m_stderr;
  EXPECT_EQ(Run({"-i", Path("missing.evrc"), "-o", pcm, "-d"}), 1);
  EXPECT_TRUE(OneLineError()) << m_stderr;
  EXPECT_NE(m_stderr.find("missing.evrc"), std::string::npos);
  EXPECT_EQ(Run({"-i", m_dir.string(), "-o", pcm, "-d"}), 1);  // a folder
  EXPECT_TRUE(OneLineError()) << m_stderr;
  EXPECT_FALSE(fs::exists(pcm));

  // An existing output is untouched when the input cannot be opened.
  test::WriteFile(pcm, {1, 2, 3});
  EXPECT_EQ(Run({"-i", Path("missing.evrc"), "-o", pcm, "-d"}), 1);
  EXPECT_EQ(test::ReadFile(pcm), (Bytes{1, 2, 3}));

  // An output that cannot be created.
  EXPECT_EQ(Run({"-i", evrc, "-o", Path("no/such/folder.pcm"), "-d"}), 1);
  EXPECT_TRUE(OneLineError()) << m_stderr;

  // The input named as the output is not truncated.
  const auto size = fs::file_size(evrc);
  EXPECT_EQ(Run({"-i", evrc, "-o", evrc, "-d"}), 1);
  EXPECT_TRUE(OneLineError()) << m_stderr;
  EXPECT_EQ(fs::file_size(evrc), size);
}

TEST_F(Evrc2004ProcessTest, WriteFailureMidStreamRemovesTheOutput) {
  // A file size limit of a few blocks makes the writes fail part way.
  const std::string evrc = WriteRecords("meeting_notes.qcp");
  const std::string pcm = Path("out.pcm");
  EXPECT_EQ(Run({"-i", evrc, "-o", pcm, "-d"}, "ulimit -f 8; "), 1);
  EXPECT_TRUE(OneLineError()) << m_stderr;
  EXPECT_FALSE(fs::exists(pcm));

  // A device that is always full is reported, and not removed.
  EXPECT_EQ(Run({"-i", evrc, "-o", "/dev/full", "-d"}), 1);
  EXPECT_TRUE(OneLineError()) << m_stderr;
  EXPECT_TRUE(fs::exists("/dev/full"));
}

TEST_F(Evrc2004ProcessTest, RandomInputDecodesToTheRightLength) {
  Bytes noise(kRecordBytes * 500 + 23);
  std::uint32_t state = 12345;
  for (auto& b : noise) b = static_cast<std::uint8_t>((state = state * 1103515245 + 12345) >> 24);
  test::WriteFile(Path("noise.evrc"), noise);
  ASSERT_EQ(Run({"-i", Path("noise.evrc"), "-o", Path("noise.pcm"), "-d"}), 0) << m_stderr;
  EXPECT_EQ(fs::file_size(Path("noise.pcm")), 500 * kPcmBytesPerFrame);
}

}  // namespace
}  // namespace evrc
