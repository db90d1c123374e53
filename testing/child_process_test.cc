#include "testing/child_process.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include "testing/files.h"

namespace wavrel::testing {
namespace {

using namespace std::chrono_literals;

TEST(ChildProcessTest, PassesInputEnvironmentAndFolderAndCapturesBothStreams) {
  TempFolder folder;
  ChildOptions options;
  options.setEnv = {{"CHILD_A", "a b"}, {"HOME", "/nowhere"}};
  ::setenv("CHILD_GONE", "here", 1);
  options.unsetEnv = {"CHILD_GONE"};
  options.workingFolder = folder.Path().string();
  options.input = ChildInput::kPipe;
  // More than a pipe holds on each stream: a launcher reading one stream at
  // a time, or writing all input first, deadlocks here.
  options.inputText = std::string(1 << 20, 'i') + "\n";
  const ChildResult result = RunChild({"/bin/sh", "-c",
                                       "/bin/cat; /usr/bin/head -c 300000 /dev/zero >&2; echo "
                                       "\"$CHILD_A|$HOME|${CHILD_GONE-unset}\"; "
                                       "/bin/pwd; exit 3"},
                                      options);
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_EQ(result.signal, 0);
  // Compared as booleans: a failure must not print megabytes.
  EXPECT_TRUE(result.out == options.inputText + "a b|/nowhere|unset\n" +
                                std::filesystem::canonical(folder.Path()).string() + "\n")
      << result.out.substr(options.inputText.size() - 2);
  EXPECT_TRUE(result.err == std::string(300000, '\0')) << result.err.size();

  ChildOptions closedInput;
  closedInput.input = ChildInput::kClosed;
  const ChildResult closed = RunChild({"sh", "-c", "cat; echo $?"}, closedInput);
  EXPECT_NE(closed.out, "0\n");  // cat cannot read a closed input
  EXPECT_EQ(RunChild({"sh", "-c", "kill -TERM $$"}).Status(), 128 + SIGTERM);
  EXPECT_EQ(RunChild({"/no/such/program"}).exitCode, 127);
}

TEST(ChildProcessTest, TalksToARunningChildAndKillsOneThatOutlivesItsTimeout) {
  ChildOptions options;
  options.input = ChildInput::kPipe;
  options.keepInputOpen = true;
  ChildProcess child;
  ASSERT_TRUE(child.Start({"sh", "-c", "echo ready; read line; echo \"got $line\" >&2"}, options));
  EXPECT_TRUE(child.ReadUntil([](const std::string& out) { return out == "ready\n"; }));
  EXPECT_TRUE(child.Running());
  EXPECT_TRUE(child.WriteInput("x\n"));
  const ChildResult talked = child.Wait();
  EXPECT_EQ(talked.exitCode, 0);
  EXPECT_EQ(talked.err, "got x\n");

  const auto start = std::chrono::steady_clock::now();
  ChildResult slow;
  options = {};
  options.timeout = 200ms;
  EXPECT_NONFATAL_FAILURE(slow = RunChild({"sleep", "30"}, options), "did not end");
  EXPECT_TRUE(slow.timedOut);
  EXPECT_EQ(slow.signal, SIGKILL);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

}  // namespace
}  // namespace wavrel::testing
