#include "outside/host/console_args.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "outside/host/console_window.h"

namespace wavrel::host {
namespace {

TEST(ConsoleArgsTest, ParsesCommandOptionsAndRefusesBadUsage) {
  ConsoleArgs args;
  std::string err;
  ASSERT_TRUE(ParseConsoleArgs({"convert", "--yes", "in", "--lang", "zh_CN", "out"}, &args, &err));
  EXPECT_TRUE(args.yes);
  EXPECT_EQ(args.language, "zh_CN");
  EXPECT_EQ(args.inputFolder, "in");
  EXPECT_EQ(args.outputFolder, "out");

  // After "--", a folder may start with '-'.
  ASSERT_TRUE(ParseConsoleArgs({"convert", "--lang=en", "--", "-in", "--yes"}, &args, &err));
  EXPECT_EQ(args.inputFolder, "-in");
  EXPECT_EQ(args.outputFolder, "--yes");
  EXPECT_FALSE(args.yes);
  EXPECT_EQ(args.language, "en");

  ASSERT_TRUE(ParseConsoleArgs({"--help"}, &args, &err));
  EXPECT_TRUE(args.help);

  const std::vector<std::vector<std::string>> bad = {
      {},
      {"convert"},
      {"convert", "a", "b", "c"},
      {"translate", "a"},
      {"convert", "--quiet", "a"},
      {"convert", "a", "--lang"},
      {"convert", ""},
  };
  for (const auto& argv : bad) {
    err.clear();
    EXPECT_FALSE(ParseConsoleArgs(argv, &args, &err)) << ::testing::PrintToString(argv);
    EXPECT_FALSE(err.empty());
  }
}

TEST(ConsoleArgsTest, FoldersBecomeAbsoluteAndNamesStayOnTheirLine) {
  EXPECT_EQ(AbsoluteFolder("in", "/home/u"), "/home/u/in");
  EXPECT_EQ(AbsoluteFolder("./a/../b/", "/home/u"), "/home/u/b");
  EXPECT_EQ(AbsoluteFolder("/data//rec/", "/home/u"), "/data/rec");
  EXPECT_EQ(AbsoluteFolder("/", "/home/u"), "/");
  EXPECT_EQ(AbsoluteFolder("..", "/"), "/");

  EXPECT_EQ(EscapeForLine("a b\"'.qcp"), "a b\"'.qcp");
  EXPECT_EQ(EscapeForLine("new\nline\t\\x\x01\x7F.qcp"), "new\\nline\\t\\\\x\\x01\\x7F.qcp");
  EXPECT_EQ(EscapeForLine("通话 1.qcp"), "通话 1.qcp");
  EXPECT_EQ(EscapeForLine("\x1B[2J\xC2\x9B"
                          "1m\xC2\xA0"),
            "\\x1B[2J\\u{9B}1m\xC2\xA0");
}

TEST(ConsoleWindowTest, PrintsOneLinePerFileAndSumsTheRun) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  ConsoleWindow window(u"/in", u"/out", out, err);
  EXPECT_EQ(window.PickFolder(FolderPickerKind::kInput, u""), u"/in");
  EXPECT_EQ(window.PickFolder(FolderPickerKind::kOutput, u""), u"/out");

  window.SetControlText(kIdStatus, u"ready");  // start-up: not echoed
  window.EchoStatus(true);
  int starting = 0;
  window.OnConversionStarting([&] { ++starting; });
  window.EnableControl(kIdCancel, true);
  window.EnableControl(kIdCancel, true);
  EXPECT_EQ(starting, 1);
  EXPECT_TRUE(window.ConversionStarted());
  window.SetControlText(kIdStatus, u"转换中");
  window.SetControlText(kIdStatus, u"转换中");  // unchanged: printed once

  FileOutcome ok;
  ok.path = "/in/a\nb.qcp";
  ok.wavPath = "/out/a\nb.wav";
  ok.success = true;
  ok.totalFrames = 554;
  ok.lostFrames = 27;
  window.OnFileStarted(ok.path, 0, 3);
  window.OnFileFinished(ok);
  FileOutcome failed;
  failed.path = "/in/c.qcp";
  failed.reason = "cannot create /out/c.wav";
  window.OnFileStarted(failed.path, 1, 3);
  window.OnFileFinished(failed);
  window.OnRunFinished(2, 1, true);

  const auto read = [](std::FILE* file) {
    std::rewind(file);
    std::string text;
    char buffer[256];
    while (std::fgets(buffer, sizeof(buffer), file) != nullptr) text += buffer;
    std::fclose(file);
    return text;
  };
  EXPECT_EQ(read(out),
            "ok  a\\nb.qcp -> /out/a\\nb.wav (554 frames, 27 lost)\n"
            "FAILED c.qcp: cannot create /out/c.wav\n");
  EXPECT_EQ(read(err), "wavrel: 转换中\n");
  EXPECT_EQ(window.SummaryLine(),
            "cancelled: 1 converted, 1 failed, 1 not converted; 27 of 554 frames lost\n");
  const RunTally tally = window.Tally();
  EXPECT_TRUE(tally.finished);
  EXPECT_TRUE(tally.cancelled);
}

}  // namespace
}  // namespace wavrel::host
