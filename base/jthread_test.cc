#include "base/jthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace wavrel {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// An owner whose methods the worker runs; each method notes what it saw.
struct Owner {
  JThreadT<Owner>* worker = nullptr;
  std::atomic<int> runs{0};
  std::atomic<bool> release{false};
  std::atomic<bool> sawStop{false};
  std::atomic<std::thread::id> runner{};

  void Once() {
    runner = std::this_thread::get_id();
    ++runs;
  }
  // Runs until released or until a stop is requested.
  void UntilStopped() {
    ++runs;
    const std::stop_token token = worker->StopToken();
    while (!release && !token.stop_requested()) std::this_thread::sleep_for(milliseconds(1));
    sawStop = token.stop_requested();
  }
  // Looks at the stop request only every 300 ms.
  void SlowToNotice() {
    ++runs;
    do std::this_thread::sleep_for(milliseconds(300));
    while (!worker->StopRequested());
    sawStop = true;
  }
};

bool WaitIdle(const JThread& thread) {
  const auto end = Clock::now() + milliseconds(2000);
  while (thread.IsRunning() && Clock::now() < end) std::this_thread::sleep_for(milliseconds(1));
  return !thread.IsRunning();
}

double SecondsSince(Clock::time_point begin) {
  return std::chrono::duration<double>(Clock::now() - begin).count();
}

TEST(JThreadTest, StartsRestartsAndRefusesWhileRunning) {
  Owner owner;
  JThreadT<Owner> worker;
  owner.worker = &worker;

  // A null owner or method: the thread starts, runs nothing and ends.
  ASSERT_EQ(worker.Start(nullptr, &Owner::Once), JThread::kOk);
  EXPECT_TRUE(WaitIdle(worker));
  ASSERT_EQ(worker.Start(&owner, nullptr), JThread::kOk);
  EXPECT_TRUE(WaitIdle(worker));
  EXPECT_EQ(owner.runs, 0);

  // Each start after a finished run runs the method on a new thread.
  for (int run = 1; run <= 2; ++run) {
    ASSERT_EQ(worker.Start(&owner, &Owner::Once), JThread::kOk);
    ASSERT_TRUE(WaitIdle(worker));
    EXPECT_EQ(owner.runs, run);
    EXPECT_NE(owner.runner.load(), std::this_thread::get_id());
  }

  // Start returns only once the body runs; a second start is refused and
  // keeps object and method, so starting the base again runs the first pair.
  Owner other;
  ASSERT_EQ(worker.Start(&owner, &Owner::UntilStopped), JThread::kOk);
  EXPECT_TRUE(worker.IsRunning());
  EXPECT_FALSE(worker.StopRequested());
  EXPECT_EQ(worker.Start(&other, &Owner::Once), JThread::kErrAlreadyRunning);
  owner.release = true;
  ASSERT_TRUE(WaitIdle(worker));
  ASSERT_EQ(worker.JThread::Start(), JThread::kOk);
  ASSERT_TRUE(WaitIdle(worker));
  EXPECT_EQ(owner.runs, 4);
  EXPECT_EQ(other.runs, 0);
  EXPECT_FALSE(owner.sawStop);
}

TEST(JThreadTest, StopAndKillEndTheRun) {
  Owner owner;
  JThreadT<Owner> worker;
  owner.worker = &worker;

  // Idle, and after a run that ended by itself: no wait, no stop request.
  auto begin = Clock::now();
  worker.Stop(5);
  worker.Kill();
  ASSERT_EQ(worker.Start(&owner, &Owner::Once), JThread::kOk);
  ASSERT_TRUE(WaitIdle(worker));
  worker.Stop(5);
  EXPECT_LT(SecondsSince(begin), 0.5);
  EXPECT_FALSE(worker.StopRequested());

  // Stop(1) on a method that loops until asked: ends within about a second.
  ASSERT_EQ(worker.Start(&owner, &Owner::UntilStopped), JThread::kOk);
  begin = Clock::now();
  worker.Stop(1);
  EXPECT_LT(SecondsSince(begin), 2.5);
  EXPECT_FALSE(worker.IsRunning());
  EXPECT_TRUE(owner.sawStop);

  // Kill waits for a method that notices the request late, also when a
  // second thread kills the same run at the same time.
  owner.sawStop = false;
  ASSERT_EQ(worker.Start(&owner, &Owner::SlowToNotice), JThread::kOk);
  std::atomic<bool> otherSawRunning{true};
  std::thread other([&] {
    worker.Kill();
    otherSawRunning = worker.IsRunning();
  });
  worker.Kill();
  EXPECT_TRUE(owner.sawStop);
  EXPECT_FALSE(worker.IsRunning());
  other.join();
  EXPECT_FALSE(otherSawRunning);
}

TEST(JThreadTest, DestructionWaitsThenEndsTheMethod) {
  Owner owner;
  auto worker = std::make_unique<JThreadT<Owner>>();
  owner.worker = worker.get();
  ASSERT_EQ(worker->Start(&owner, &Owner::UntilStopped), JThread::kOk);
  std::thread releaser([&owner] {
    std::this_thread::sleep_for(milliseconds(300));
    owner.release = true;
  });
  auto begin = Clock::now();
  worker.reset();  // the method ends by itself: no stop requested
  releaser.join();
  EXPECT_LT(SecondsSince(begin), 2.0);
  EXPECT_FALSE(owner.sawStop);

  owner.release = false;
  worker = std::make_unique<JThreadT<Owner>>();
  owner.worker = worker.get();
  ASSERT_EQ(worker->Start(&owner, &Owner::UntilStopped), JThread::kOk);
  begin = Clock::now();
  worker.reset();  // the method runs on: stopped after 4 to 5 seconds
  EXPECT_GT(SecondsSince(begin), 3.5);
  EXPECT_LT(SecondsSince(begin), 8.0);
  EXPECT_TRUE(owner.sawStop);
}

// A body that kills its own run (which must not join itself), and one that
// throws (which must not end the process).
struct SelfKilling : JThread {
  std::atomic<bool> sawStop{false};
  void* Thread() override {
    ThreadStarted();
    Kill();
    sawStop = StopRequested();
    return nullptr;
  }
};
struct Throwing : JThread {
  void* Thread() override {
    ThreadStarted();
    throw 42;
  }
};

TEST(JThreadTest, MisbehavingBodiesNeitherHangNorCrash) {
  SelfKilling selfKilling;
  ASSERT_EQ(selfKilling.Start(), JThread::kOk);
  EXPECT_TRUE(WaitIdle(selfKilling));
  EXPECT_TRUE(selfKilling.sawStop);

  Throwing throwing;
  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(throwing.Start(), JThread::kOk);
    EXPECT_TRUE(WaitIdle(throwing));
  }
}

}  // namespace
}  // namespace wavrel
