#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "host/msgbox/x_message_box_testing.h"

namespace wavrel::msgbox {
namespace {

using testing::LoadXMessageBox;
using testing::MakeRecord;

struct Outcome {
  std::int32_t result = -1;
  std::string printed;  // standard error during the call
};

/// Calls XMessageBox with standard input taken from stdinFd (or /dev/null)
/// and standard error captured.
Outcome Call(const char16_t* text, const char16_t* caption, std::uint32_t style, void* record,
             int stdinFd = -1) {
  Outcome outcome;
  const XMessageBoxFn box = LoadXMessageBox();
  if (box == nullptr) return outcome;
  char path[] = "/tmp/xmsgbox_stderr_XXXXXX";
  const int captured = mkstemp(path);
  const int input = stdinFd >= 0 ? stdinFd : open("/dev/null", O_RDONLY);
  std::fflush(stderr);
  const int savedErr = dup(STDERR_FILENO);
  const int savedIn = dup(STDIN_FILENO);
  dup2(captured, STDERR_FILENO);
  dup2(input, STDIN_FILENO);
  outcome.result = box(nullptr, text, caption, style, record);
  std::fflush(stderr);
  dup2(savedErr, STDERR_FILENO);
  dup2(savedIn, STDIN_FILENO);
  close(savedErr);
  close(savedIn);
  if (stdinFd < 0) close(input);
  close(captured);
  std::ifstream in(path);
  std::ostringstream content;
  content << in.rdbuf();
  outcome.printed = content.str();
  unlink(path);
  return outcome;
}

class XMessageBoxConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override { unsetenv("XMESSAGEBOX_ANSWER"); }
  void TearDown() override { unsetenv("XMESSAGEBOX_ANSWER"); }
};

TEST_F(XMessageBoxConsoleTest, ReportPrintsCaptionTextAndTheRecordsButtonCaption) {
  auto record = MakeRecord(u"确定", u"取消");
  Outcome shown = Call(u"无法创建WAV文件：\n/out/通话 1.wav", u"提示", 48, record.data());
  EXPECT_EQ(shown.result, 1);
  EXPECT_EQ(shown.printed, "== (!) 提示 ==\n无法创建WAV文件：\n/out/通话 1.wav\n[确定]\n");

  Outcome own = Call(u"Plain", u"Note", 0, nullptr);
  EXPECT_EQ(own.result, 1);
  EXPECT_EQ(own.printed, "== Note ==\nPlain\n[OK]\n");

  // A file name in a message cannot send escape sequences to the terminal.
  Outcome hostile = Call(u"Cannot create:\n/out/\x1b]0;pwned\x07\u009b.wav", u"N\r", 0, nullptr);
  EXPECT_EQ(hostile.printed,
            "== N\\x0D ==\nCannot create:\n/out/\\x1B]0;pwned\\x07\\u{9B}.wav\n[OK]\n");

  Outcome nulls = Call(nullptr, nullptr, 48, nullptr);
  EXPECT_EQ(nulls.result, 1);
  EXPECT_NE(nulls.printed.find("[OK]"), std::string::npos);

  // A caption that fills its whole field without a terminating zero is cut
  // at the field's end, not read past it.
  std::vector<unsigned char> full(kMessageBoxRecordSize, 0xAA);
  Outcome cut = Call(u"t", u"c", 0, full.data());
  EXPECT_EQ(cut.result, 1);
  EXPECT_EQ(cut.printed.size(), std::string("== c ==\nt\n[]\n").size() + 260 * 3);
}

TEST_F(XMessageBoxConsoleTest, QuestionWithoutTerminalTakesTheConfiguredAnswer) {
  auto record = MakeRecord(u"确定", u"");
  Outcome unanswered = Call(u"Convert the others?", u"Note", 49, record.data());
  EXPECT_EQ(unanswered.result, 2);
  EXPECT_NE(unanswered.printed.find("[确定]  [Cancel]\n"), std::string::npos) << unanswered.printed;
  EXPECT_NE(unanswered.printed.find("XMESSAGEBOX_ANSWER=ok"), std::string::npos);

  const std::pair<const char*, std::int32_t> answers[] = {
      {"ok", 1}, {"YES", 1}, {"cancel", 2}, {"no", 2}, {"later", 2}};
  for (const auto& [answer, expected] : answers) {
    setenv("XMESSAGEBOX_ANSWER", answer, 1);
    Outcome answered = Call(u"Convert the others?", u"Note", 49, record.data());
    EXPECT_EQ(answered.result, expected) << answer;
    EXPECT_NE(answered.printed.find("(XMESSAGEBOX_ANSWER)"), std::string::npos);
  }
  // A report never asks, whatever is configured.
  setenv("XMESSAGEBOX_ANSWER", "cancel", 1);
  EXPECT_EQ(Call(u"Done", u"Note", 48, record.data()).result, 1);
}

TEST_F(XMessageBoxConsoleTest, QuestionOnATerminalReadsTheTypedAnswer) {
  const auto ask = [](const std::string& typed) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master, 0);
    grantpt(master);
    unlockpt(master);
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    EXPECT_GE(slave, 0);
    EXPECT_EQ(write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    auto record = MakeRecord(u"", u"");
    Outcome outcome = Call(u"Convert?", u"Note", 49, record.data(), slave);
    close(slave);
    close(master);
    return outcome;
  };
  EXPECT_EQ(ask("yes\n").result, 1);
  EXPECT_EQ(ask("c\n").result, 2);
  const Outcome retried = ask("maybe\nOK\n");
  EXPECT_EQ(retried.result, 1);
  EXPECT_NE(retried.printed.find("OK / Cancel? [o/c] OK / Cancel? [o/c] "), std::string::npos)
      << retried.printed;
}

TEST_F(XMessageBoxConsoleTest, OtherButtonSetsAnswerTheirFirstButton) {
  EXPECT_EQ(Call(u"?", u"", 4, nullptr).result, 6);  // Yes/No
  EXPECT_EQ(Call(u"?", u"", 3, nullptr).result, 6);  // Yes/No/Cancel
  EXPECT_EQ(Call(u"?", u"", 2, nullptr).result, 3);  // Abort/Retry/Ignore
  const Outcome retry = Call(u"?", u"", 0x15, nullptr);
  EXPECT_EQ(retry.result, 4);
  EXPECT_NE(retry.printed.find("== (x)  ==\n?\n[Retry]  [Cancel]\n"), std::string::npos)
      << retry.printed;
}

}  // namespace
}  // namespace wavrel::msgbox
