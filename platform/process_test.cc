#include "platform/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/file_system.h"

namespace wavrel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

/// True when pid no longer exists, not even as a zombie.
bool Gone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

std::string Slurp(const fs::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(ChildProcessTest, ExitStatusSignalAndLaunchFailure) {
  ChildProcess child;
  std::string error;
  ASSERT_TRUE(child.Start("/bin/sh", {"-c", "exit 3"}, "", &error)) << error;
  ChildExit exit = child.Wait({});
  EXPECT_EQ(exit.kind, ChildExit::Kind::kExited);
  EXPECT_EQ(exit.code, 3);
  EXPECT_FALSE(child.HasChild());

  ASSERT_TRUE(child.Start("/bin/sh", {"-c", "kill -SEGV $$"}, "", &error)) << error;
  const pid_t pid = child.Pid();
  exit = child.Wait({});
  EXPECT_EQ(exit.kind, ChildExit::Kind::kSignalled);
  EXPECT_EQ(exit.code, SIGSEGV);
  EXPECT_TRUE(Gone(pid));

  EXPECT_FALSE(child.Start("/nonexistent/program", {}, "", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(child.HasChild());
  EXPECT_EQ(child.Wait({}).kind, ChildExit::Kind::kNone);
  EXPECT_TRUE(child.Terminate());
}

TEST(ChildProcessTest, ArgumentsReachTheChildUnchangedInItsWorkFolder) {
  const std::string work = MakePrivateWorkFolder(nullptr);
  ASSERT_FALSE(work.empty());
  ChildProcess child;
  // No shell between us and the program: quotes, blanks and $(...) are text.
  const std::string tricky = "a \"b\" c;$(touch injected) 'd'";
  ASSERT_TRUE(child.Start(
      "/bin/sh", {"-c", "pwd > cwd.txt; printf '%s' \"$1\" > arg.txt; cat > in.txt", "sh", tricky},
      work, nullptr));
  // Standard input is /dev/null: cat ends at once instead of waiting.
  const ChildExit exit = child.Wait({});
  EXPECT_EQ(exit.kind, ChildExit::Kind::kExited);
  EXPECT_EQ(exit.code, 0);
  EXPECT_EQ(Slurp(fs::path(work) / "cwd.txt"), fs::canonical(work).string() + "\n");
  EXPECT_EQ(Slurp(fs::path(work) / "arg.txt"), tricky);
  EXPECT_EQ(Slurp(fs::path(work) / "in.txt"), "");
  EXPECT_FALSE(fs::exists(fs::path(work) / "injected"));
  RemoveFolderTree(work);
  EXPECT_FALSE(fs::exists(work));
}

TEST(ChildProcessTest, StopEndsTheWaitAtOnceAndTerminateReaps) {
  ChildProcess child;
  ASSERT_TRUE(child.Start("/bin/sleep", {"5"}, "", nullptr));
  const pid_t pid = child.Pid();
  std::stop_source stop;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop.request_stop();
  });
  const auto begin = Clock::now();
  const ChildExit exit = child.Wait(stop.get_token());
  stopper.join();
  EXPECT_EQ(exit.kind, ChildExit::Kind::kStopped);
  EXPECT_LT(Clock::now() - begin, std::chrono::milliseconds(1000));
  // A stopped wait leaves the child for Terminate.
  EXPECT_TRUE(child.HasChild());
  EXPECT_FALSE(Gone(pid));
  EXPECT_TRUE(child.Terminate());
  EXPECT_TRUE(Gone(pid));
  EXPECT_FALSE(child.HasChild());
  EXPECT_TRUE(child.Terminate());  // nothing left: still a success
}

TEST(ChildProcessTest, TerminateFromAnotherThreadWhileWaiting) {
  ChildProcess child;
  ASSERT_TRUE(child.Start("/bin/sleep", {"5"}, "", nullptr));
  const pid_t pid = child.Pid();
  std::thread killer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(child.Terminate());
  });
  const auto begin = Clock::now();
  const ChildExit exit = child.Wait({});
  killer.join();
  EXPECT_EQ(exit.kind, ChildExit::Kind::kSignalled);
  EXPECT_EQ(exit.code, SIGKILL);
  EXPECT_LT(Clock::now() - begin, std::chrono::milliseconds(1000));
  EXPECT_TRUE(Gone(pid));

  // Destroying a record with a running child ends and reaps it.
  pid_t second = 0;
  {
    ChildProcess owner;
    ASSERT_TRUE(owner.Start("/bin/sleep", {"5"}, "", nullptr));
    second = owner.Pid();
  }
  EXPECT_TRUE(Gone(second));
}

TEST(ChildProcessTest, ChildDiesWithTheRunThatStartedItEvenByKill9) {
  // Orphans come to this process, so that their end can be seen and reaped.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t run = fork();
  ASSERT_GE(run, 0);
  if (run == 0) {
    ChildProcess child;
    if (!child.Start("/bin/sleep", {"60"}, "", nullptr)) _exit(1);
    const pid_t pid = child.Pid();
    if (write(pipeFds[1], &pid, sizeof pid) != sizeof pid) _exit(1);
    child.Wait({});
    _exit(0);
  }
  close(pipeFds[1]);
  pid_t grandchild = 0;
  ASSERT_EQ(read(pipeFds[0], &grandchild, sizeof grandchild),
            static_cast<ssize_t>(sizeof grandchild));
  close(pipeFds[0]);
  kill(run, SIGKILL);
  waitpid(run, nullptr, 0);

  int status = 0;
  pid_t ended = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while ((ended = waitpid(grandchild, &status, WNOHANG)) == 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (ended == 0) {
    kill(grandchild, SIGKILL);
    waitpid(grandchild, nullptr, 0);
  }
  ASSERT_EQ(ended, grandchild) << "the child outlived the run that started it";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

TEST(FileSystemTest, ListingReadingAndWorkFolders) {
  const std::string work = MakePrivateWorkFolder(nullptr);
  ASSERT_FALSE(work.empty());
  EXPECT_EQ(fs::status(work).permissions() & fs::perms::all, fs::perms::owner_all);
  std::ofstream(work + "/a.bin") << "0123456789";
  fs::create_directory(work + "/sub");
  std::vector<std::string> names;
  ASSERT_TRUE(ListDirectory(work, &names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.bin", "sub"}));
  EXPECT_FALSE(ListDirectory(work + "/missing", &names));
  EXPECT_TRUE(names.empty());

  std::vector<unsigned char> head;
  ASSERT_TRUE(ReadFileStart(work + "/a.bin", 4, &head));
  EXPECT_EQ(std::string(head.begin(), head.end()), "0123");
  ASSERT_TRUE(ReadFileStart(work + "/a.bin", 1024, &head));
  EXPECT_EQ(head.size(), 10u);
  EXPECT_FALSE(ReadFileStart(work + "/sub", 4, &head));
  ASSERT_EQ(mkfifo((work + "/pipe").c_str(), 0600), 0);
  EXPECT_FALSE(ReadFileStart(work + "/pipe", 4, &head));  // and does not block

  EXPECT_TRUE(IsDirectory(work + "/sub"));
  EXPECT_FALSE(IsDirectory(work + "/a.bin"));
  EXPECT_TRUE(CanOpenDirectory(work));
  EXPECT_FALSE(CanOpenDirectory(work + "/a.bin"));
  EXPECT_TRUE(RemoveFile(work + "/a.bin"));
  EXPECT_FALSE(RemoveFile(work + "/a.bin"));

  RemoveFolderTree(work);
  EXPECT_FALSE(PathExists(work));
}

}  // namespace
}  // namespace wavrel
