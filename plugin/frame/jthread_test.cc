#include "plugin/frame/jthread.h"

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
class Owner {
 public:
  JThreadT<Owner>* worker = nullptr;
  std::atomic<int> runs{0};
  std::atomic<bool> release{false};
  std::atomic<bool> sawStop{false};
  std::atomic<std::thread::id> runner{};

  void Once() {
    runner = std::this_thread::get_id();
    ++runs;
  }
  // Runs until told to end or until a stop is requested.
  void UntilStopped() {
    ++runs;
    const std::stop_token token = worker->StopToken();
    while (!release && !token.stop_requested()) std::this_thread::sleep_for(milliseconds(1));
    sawStop = token.stop_requested();
  }
  // Runs until told to end, ignoring stop requests.
  void UntilReleased() {
    ++runs;
    while (!release) std::this_thread::sleep_for(milliseconds(1));
  }
  // Looks at the stop request only after 300 ms of work.
  void SlowToNotice() {
    ++runs;
    for (;;) {
      std::this_thread::sleep_for(milliseconds(300));
      if (worker->StopRequested()) break;
    }
    sawStop = true;
  }
};

bool WaitIdle(const JThread& thread, milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (thread.IsRunning()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(milliseconds(1));
  }
  return true;
}

double SecondsSince(Clock::time_point begin) {
  return std::chrono::duration<double>(Clock::now() - begin).count();
}

TEST(JThreadTest, RunsTheBoundMethodOnANewThreadAndRestarts) {
  Owner owner;
  JThreadT<Owner> worker;
  owner.worker = &worker;
  EXPECT_FALSE(worker.IsRunning());

  ASSERT_EQ(worker.Start(&owner, &Owner::Once), JThread::kOk);
  ASSERT_TRUE(WaitIdle(worker, milliseconds(2000)));
  EXPECT_EQ(owner.runs, 1);
  const std::thread::id first = owner.runner;
  EXPECT_NE(first, std::this_thread::get_id());

  // A finished worker starts again, on a new thread, with another method too.
  ASSERT_EQ(worker.Start(&owner, &Owner::Once), JThread::kOk);
  ASSERT_TRUE(WaitIdle(worker, milliseconds(2000)));
  EXPECT_EQ(owner.runs, 2);
  EXPECT_NE(owner.runner.load(), std::this_thread::get_id());

  owner.release = true;
  ASSERT_EQ(worker.Start(&owner, &Owner::UntilStopped), JThread::kOk);
  ASSERT_TRUE(WaitIdle(worker, milliseconds(2000)));
  EXPECT_EQ(owner.runs, 3);
  EXPECT_FALSE(owner.sawStop);  // a fresh run starts without a stop request
}

TEST(JThreadTest, NullOwnerRunsNothingAndEnds) {
  JThreadT<Owner> worker;
  ASSERT_EQ(worker.Start(nullptr, &Owner::Once), JThread::kOk);
  EXPECT_TRUE(WaitIdle(worker, milliseconds(2000)));

  Owner owner;
  ASSERT_EQ(worker.Start(&owner, nullptr), JThread::kOk);
  EXPECT_TRUE(WaitIdle(worker, milliseconds(2000)));
  EXPECT_EQ(owner.runs, 0);
}

TEST(JThreadTest, StartWhileRunningIsRefusedAndKeepsTheBinding) {
  Owner owner;
  Owner other;
  JThreadT<Owner> worker;
  owner.worker = &worker;
  ASSERT_EQ(worker.Start(&owner, &Owner::UntilReleased), JThread::kOk);
  // Start returns only once the body runs, so the worker counts as running.
  EXPECT_TRUE(worker.IsRunning());

  EXPECT_EQ(worker.Start(&other, &Owner::Once), JThread::kErrAlreadyRunning);
  EXPECT_TRUE(worker.IsRunning());
  owner.release = true;
  ASSERT_TRUE(WaitIdle(worker, milliseconds(2000)));
  EXPECT_EQ(other.runs, 0);

  EXPECT_EQ(owner.runs, 1);

  // The refused start did not replace object or method: starting the base
  // again runs the original method on the original owner.
  ASSERT_EQ(worker.JThread::Start(), JThread::kOk);
  ASSERT_TRUE(WaitIdle(worker, milliseconds(2000)));
  EXPECT_EQ(owner.runs, 2);
  EXPECT_EQ(other.runs, 0);
}

TEST(JThreadTest, StopOnIdleWorkerReturnsAtOnce) {
  Owner owner;
  JThreadT<Owner> worker;
  const auto begin = Clock::now();
  worker.Stop(5);
  worker.Kill();
  EXPECT_LT(SecondsSince(begin), 0.5);
  EXPECT_FALSE(worker.IsRunning());
  EXPECT_FALSE(worker.StopRequested());

  // After a run that ended by itself, Stop neither waits nor requests a stop.
  ASSERT_EQ(worker.Start(&owner, &Owner::Once), JThread::kOk);
  ASSERT_TRUE(WaitIdle(worker, milliseconds(2000)));
  const auto again = Clock::now();
  worker.Stop(5);
  EXPECT_LT(SecondsSince(again), 0.5);
  EXPECT_FALSE(worker.StopRequested());
}

TEST(JThreadTest, StopEndsALoopingMethodAfterTheTimeout) {
  Owner owner;
  JThreadT<Owner> worker;
  owner.worker = &worker;
  ASSERT_EQ(worker.Start(&owner, &Owner::UntilStopped), JThread::kOk);
  const auto begin = Clock::now();
  worker.Stop(1);
  EXPECT_LT(SecondsSince(begin), 2.5);
  EXPECT_FALSE(worker.IsRunning());
  EXPECT_TRUE(owner.sawStop);
  EXPECT_TRUE(worker.StopRequested());

  // The next run gets a stop source of its own.
  owner.sawStop = false;
  ASSERT_EQ(worker.Start(&owner, &Owner::UntilStopped), JThread::kOk);
  EXPECT_FALSE(worker.StopRequested());
  owner.release = true;
  ASSERT_TRUE(WaitIdle(worker, milliseconds(2000)));
  EXPECT_FALSE(owner.sawStop);
}

TEST(JThreadTest, KillWaitsForAMethodThatNoticesLate) {
  Owner owner;
  JThreadT<Owner> worker;
  owner.worker = &worker;
  ASSERT_EQ(worker.Start(&owner, &Owner::SlowToNotice), JThread::kOk);
  worker.Kill();
  // Kill returned only after the method saw the request and returned.
  EXPECT_TRUE(owner.sawStop);
  EXPECT_FALSE(worker.IsRunning());
  worker.Kill();  // nothing left to end
  EXPECT_FALSE(worker.IsRunning());
}

TEST(JThreadTest, DestructionWaitsThenEndsTheMethod) {
  Owner owner;
  auto worker = std::make_unique<JThreadT<Owner>>();
  owner.worker = worker.get();
  ASSERT_EQ(worker->Start(&owner, &Owner::UntilStopped), JThread::kOk);
  // The method ends by itself after 300 ms: the destructor waits for it
  // without requesting a stop.
  std::thread releaser([&owner] {
    std::this_thread::sleep_for(milliseconds(300));
    owner.release = true;
  });
  auto begin = Clock::now();
  worker.reset();
  releaser.join();
  EXPECT_LT(SecondsSince(begin), 2.0);
  EXPECT_FALSE(owner.sawStop);

  // A method that does not end by itself is stopped after about 5 seconds.
  owner.release = false;
  worker = std::make_unique<JThreadT<Owner>>();
  owner.worker = worker.get();
  ASSERT_EQ(worker->Start(&owner, &Owner::UntilStopped), JThread::kOk);
  begin = Clock::now();
  worker.reset();
  const double waited = SecondsSince(begin);
  EXPECT_GT(waited, 3.5);
  EXPECT_LT(waited, 8.0);
  EXPECT_TRUE(owner.sawStop);
}

// A body that ends its own run from inside: Kill from the thread itself must
// not join itself.
class SelfKilling : public JThread {
 public:
  std::atomic<bool> sawStop{false};

 protected:
  void* Thread() override {
    ThreadStarted();
    Kill();
    sawStop = StopRequested();
    return nullptr;
  }
};

// A body that never calls ThreadStarted still lets Start return.
class Silent : public JThread {
 protected:
  void* Thread() override { return nullptr; }
};

// A body that throws does not end the process.
class Throwing : public JThread {
 protected:
  void* Thread() override {
    ThreadStarted();
    throw 42;
  }
};

TEST(JThreadTest, BodiesThatMisbehaveDoNotHangOrCrash) {
  SelfKilling selfKilling;
  ASSERT_EQ(selfKilling.Start(), JThread::kOk);
  EXPECT_TRUE(WaitIdle(selfKilling, milliseconds(2000)));
  EXPECT_TRUE(selfKilling.sawStop);

  Silent silent;
  EXPECT_EQ(silent.Start(), JThread::kOk);
  EXPECT_TRUE(WaitIdle(silent, milliseconds(2000)));

  Throwing throwing;
  EXPECT_EQ(throwing.Start(), JThread::kOk);
  EXPECT_TRUE(WaitIdle(throwing, milliseconds(2000)));
  EXPECT_EQ(throwing.Start(), JThread::kOk);  // and can run again
  EXPECT_TRUE(WaitIdle(throwing, milliseconds(2000)));
}

TEST(JThreadTest, IsRunningAndKillFromOtherThreads) {
  Owner owner;
  JThreadT<Owner> worker;
  owner.worker = &worker;
  ASSERT_EQ(worker.Start(&owner, &Owner::SlowToNotice), JThread::kOk);
  // Two threads end the same run at once: both return only after it ended.
  std::atomic<bool> otherSawRunning{true};
  std::thread other([&] {
    worker.Kill();
    otherSawRunning = worker.IsRunning();
  });
  worker.Kill();
  other.join();
  EXPECT_FALSE(worker.IsRunning());
  EXPECT_FALSE(otherSawRunning);
  EXPECT_TRUE(owner.sawStop);
}

}  // namespace
}  // namespace wavrel
