// The evrc_2004 program as the plug-in runs it: a separate process, judged
// by its exit status, its output file and its standard error.
#include <gtest/gtest.h>

#include <filesystem>

#include "programs/decoders/decoder_args.h"
#include "programs/decoders/evrc_decoder.h"
#include "programs/decoders/evrc_test_util.h"
#include "testing/child_process.h"
#include "testing/files.h"

namespace evrc {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

TEST(DecoderArgsTest, TakesArgumentsInAnyOrderAndRejectsBadOnes) {
  DecoderArgs args;
  std::string err;
  ASSERT_TRUE(ParseDecoderArgs({"-d", "-p", "0", "-o", "-out", "-v", "-i", "in"}, &args, &err));
  EXPECT_EQ(args.input, "in");
  EXPECT_EQ(args.output, "-out");  // a value may begin with '-'
  EXPECT_TRUE(args.decode && args.verbose && !args.postfilter);
  ASSERT_TRUE(ParseDecoderArgs({"-i", "a", "--help", "-x"}, &args, &err));
  EXPECT_TRUE(args.help);

  const std::vector<std::vector<std::string>> bad = {
      {},
      {"-i", "a", "-o", "b"},              // no -d
      {"-i", "a", "-d"},                   // no -o
      {"-i", "a", "-o", "b", "-d", "-i"},  // no value
      {"-i", "a", "-o", "b", "-d", "-p", "2"},
      {"-i", "a", "-o", "", "-d"},
      {"-i", "a", "-i", "c", "-o", "b", "-d"},
      {"-i", "a", "-o", "b", "-d", "extra"},
  };
  for (const auto& argv : bad) {
    err.clear();
    EXPECT_FALSE(ParseDecoderArgs(argv, &args, &err)) << testing::PrintToString(argv);
    EXPECT_TRUE(!err.empty() && err.find('\n') == std::string::npos) << err;
  }
}

class Evrc2004ProcessTest : public testing::Test {
 protected:
  std::string Path(const std::string& name) const { return (m_dir / name).string(); }

  /// Runs evrc_2004 with args (and a file size limit when not 0); returns
  /// the exit status and keeps standard output and error.
  int Run(const std::vector<std::string>& args, std::uint64_t fileSizeLimitBytes = 0) {
    std::vector<std::string> argv = {EVRC_2004_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    wavrel::testing::ChildOptions options;
    options.fileSizeLimitBytes = fileSizeLimitBytes;
    const wavrel::testing::ChildResult result = wavrel::testing::RunChild(argv, options);
    m_stderr = result.err;
    m_stdout = result.out;
    return result.exitCode;
  }

  std::string WriteRecords(const std::string& recording) {
    test::WriteFile(Path(recording + ".evrc"), test::SampleRecords(recording));
    return Path(recording + ".evrc");
  }

  /// Exactly one line on standard error.
  bool OneLineError() const {
    return !m_stderr.empty() && m_stderr.find('\n') == m_stderr.size() - 1;
  }

  wavrel::testing::TempFolder m_folder{"evrc2004"};
  const fs::path m_dir = m_folder.Path();
  std::string m_stderr, m_stdout;
};

TEST_F(Evrc2004ProcessTest, DecodesAndReplacesAnOldOutput) {
  const std::string pcm = Path("out.pcm");
  test::WriteFile(pcm, Bytes(1000000, 7));
  ASSERT_EQ(Run({"-i", WriteRecords("zh_call.qcp"), "-o", pcm, "-d"}), 0) << m_stderr;
  EXPECT_EQ(m_stderr, "");
  EXPECT_EQ(test::Md5Hex(test::ReadFile(pcm)), test::LibavcodecDigests().at("zh_call.qcp"));

  ASSERT_EQ(Run({"-v", "-d", "-o", pcm, "-i", WriteRecords("lossy_call.qcp")}), 0);
  EXPECT_NE(m_stderr.find("27 concealed"), std::string::npos) << m_stderr;

  test::WriteFile(Path("empty.evrc"), {});
  ASSERT_EQ(Run({"-i", Path("empty.evrc"), "-o", pcm, "-d"}), 0);
  EXPECT_EQ(fs::file_size(pcm), 0u);

  EXPECT_EQ(Run({"-h"}), 0);
  EXPECT_NE(m_stdout.find("usage: evrc_2004"), std::string::npos);
}

TEST_F(Evrc2004ProcessTest, FailuresBeforeDecodingLeaveNoOutput) {
  const std::string evrc = WriteRecords("voicemail.dat");
  const std::string pcm = Path("out.pcm");
  const std::vector<std::vector<std::string>> failing = {
      {"-i", evrc, "-o", pcm},  // no -d
      {"-i", evrc, "-o", pcm, "-d", "-q"},
      {"-i", Path("missing.evrc"), "-o", pcm, "-d"},
      {"-i", m_dir.string(), "-o", pcm, "-d"},  // a folder
      {"-i", evrc, "-o", Path("no/such/folder.pcm"), "-d"},
  };
  for (const auto& args : failing) {
    EXPECT_NE(Run(args), 0) << testing::PrintToString(args);
    EXPECT_TRUE(OneLineError()) << m_stderr;
    EXPECT_FALSE(fs::exists(pcm));
  }
  EXPECT_EQ(Run({"-d"}), 2);

  // An existing output is untouched when the input cannot be opened, and an
  // input named as the output is not truncated.
  test::WriteFile(pcm, {1, 2, 3});
  EXPECT_EQ(Run({"-i", Path("missing.evrc"), "-o", pcm, "-d"}), 1);
  EXPECT_EQ(test::ReadFile(pcm), (Bytes{1, 2, 3}));
  const auto size = fs::file_size(evrc);
  EXPECT_EQ(Run({"-i", evrc, "-o", evrc, "-d"}), 1);
  EXPECT_TRUE(OneLineError()) << m_stderr;
  EXPECT_EQ(fs::file_size(evrc), size);
}

TEST_F(Evrc2004ProcessTest, WriteFailureMidStreamRemovesTheOutput) {
  // A file size limit of a few blocks makes the writes fail part way.
  const std::string evrc = WriteRecords("meeting_notes.qcp");
  EXPECT_EQ(Run({"-i", evrc, "-o", Path("out.pcm"), "-d"}, 4096), 1);
  EXPECT_TRUE(OneLineError()) << m_stderr;
  EXPECT_FALSE(fs::exists(Path("out.pcm")));
  EXPECT_NE(m_stderr.find("removed"), std::string::npos) << m_stderr;
  // A device that is always full is reported and, not being a file, kept;
  // the message says only what happened.
  EXPECT_EQ(Run({"-i", evrc, "-o", "/dev/full", "-d"}), 1);
  EXPECT_TRUE(OneLineError()) << m_stderr;
  EXPECT_EQ(m_stderr.find("removed"), std::string::npos) << m_stderr;
  EXPECT_TRUE(fs::exists("/dev/full"));
}

}  // namespace
}  // namespace evrc
