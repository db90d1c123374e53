#include "frontends/console/console_args.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wavrel::host {
namespace {

/// Each argument list is refused with a message.
void ExpectRefused(const std::vector<std::vector<std::string>>& lists) {
  for (const auto& argv : lists) {
    ConsoleArgs args;
    std::string err;
    EXPECT_FALSE(ParseConsoleArgs(argv, &args, &err)) << ::testing::PrintToString(argv);
    EXPECT_FALSE(err.empty());
  }
}

TEST(ConsoleArgsTest, ParsesCommandOptionsAndRefusesBadUsage) {
  ConsoleArgs args;
  std::string err;
  ASSERT_TRUE(ParseConsoleArgs({"convert", "--yes", "in", "--lang", "zh_CN", "out"}, &args, &err));
  EXPECT_TRUE(args.yes);
  EXPECT_EQ(args.language, "zh_CN");
  EXPECT_EQ(args.input, "in");
  EXPECT_EQ(args.outputFolder, "out");

  // After "--", a folder may start with '-'.
  ASSERT_TRUE(ParseConsoleArgs({"convert", "--lang=en", "--", "-in", "--yes"}, &args, &err));
  EXPECT_EQ(args.input, "-in");
  EXPECT_EQ(args.outputFolder, "--yes");
  EXPECT_FALSE(args.yes);
  EXPECT_EQ(args.language, "en");

  const std::vector<std::vector<std::string>> bad = {
      {"convert"}, {"translate", "a"}, {"convert", "a", "--lang"}, {"convert", ""}};
  ExpectRefused(bad);
}

TEST(ConsoleArgsTest, ParsesTheArchiveOptions) {
  ConsoleArgs args;
  std::string err;
  ASSERT_TRUE(ParseConsoleArgs(
      {"convert", "-j", "3", "--shard", "2/5", "-r", "--skip-existing", "--json", "in"}, &args,
      &err));
  EXPECT_EQ(args.jobs, 3u);
  EXPECT_TRUE(args.sharded);
  EXPECT_EQ(args.shardIndex, 2u);
  EXPECT_EQ(args.shardCount, 5u);
  EXPECT_TRUE(args.recursive && args.skipExisting && args.json);
  ASSERT_TRUE(ParseConsoleArgs({"convert", "--jobs=1", "--shard=0/1", "in"}, &args, &err));
  EXPECT_EQ(args.jobs, 1u);
  ASSERT_TRUE(ParseConsoleArgs({"convert", "in"}, &args, &err));
  EXPECT_EQ(args.jobs, 0u);  // the CPUs the process may use
  EXPECT_FALSE(args.sharded);

  const std::vector<std::vector<std::string>> bad = {
      {"convert", "-j", "0", "in"},         {"convert", "--jobs", "x", "in"},
      {"convert", "--jobs", "-2", "in"},    {"convert", "in", "--jobs"},
      {"convert", "--shard", "4/4", "in"},  {"convert", "--shard", "1/0", "in"},
      {"convert", "--shard", "1", "in"},    {"convert", "--shard", "-1/4", "in"},
      {"convert", "--shard", "1/4x", "in"}, {"convert", "--shard=/4", "in"}};
  ExpectRefused(bad);
}

TEST(ConsoleArgsTest, TakesOptionsAsEveryGnuToolDoes) {
  ConsoleArgs args;
  std::string err;
  // Joined short options and values, values after '=', shortened long names,
  // options after the folders.
  ASSERT_TRUE(
      ParseConsoleArgs({"convert", "-qy", "-j2", "in", "--rec", "--lang=en", "out"}, &args, &err))
      << err;
  EXPECT_TRUE(args.quiet && args.yes && args.recursive);
  EXPECT_EQ(args.jobs, 2u);
  EXPECT_EQ(args.language, "en");
  EXPECT_EQ(args.input, "in");
  EXPECT_EQ(args.outputFolder, "out");
  ASSERT_TRUE(ParseConsoleArgs({"-j", "4", "convert", "--jobs=3", "-rj1", "in"}, &args, &err));
  EXPECT_EQ(args.jobs, 1u);  // the last one counts
  EXPECT_TRUE(args.recursive);
  // A second parse starts afresh.
  ASSERT_TRUE(ParseConsoleArgs({"convert", "in"}, &args, &err));
  EXPECT_FALSE(args.quiet || args.yes || args.recursive);

  const struct {
    std::vector<std::string> argv;
    std::string err;
  } bad[] = {
      {{"convert", "-x", "in"}, "unknown option -x"},
      {{"convert", "-qx", "in"}, "unknown option -x"},
      {{"convert", "--bogus=1", "in"}, "unknown option --bogus"},
      {{"convert", "--s", "in"}, "unknown option --s"},  // --shard or --skip-existing
      {{"convert", "--yes=1", "in"}, "--yes takes no value"},
      {{"convert", "in", "-j"}, "--jobs needs a number from 1 to 1024"},
      {{"convert", "in", "--shard"}, "--shard needs K/N with 0 <= K < N"},
  };
  for (const auto& [argv, expected] : bad) {
    err.clear();
    EXPECT_FALSE(ParseConsoleArgs(argv, &args, &err)) << ::testing::PrintToString(argv);
    EXPECT_EQ(err, expected) << ::testing::PrintToString(argv);
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
  // Bytes outside valid UTF-8 (a Latin-1 name) are written as \xNN.
  EXPECT_EQ(EscapeForLine("rec\xE9.qcp \xE4\xB8"), "rec\\xE9.qcp \\xE4\\xB8");
}

}  // namespace
}  // namespace wavrel::host
