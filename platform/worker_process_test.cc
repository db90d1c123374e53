#include "platform/worker_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "testing/files.h"
#include "wavrel_version.h"

namespace wavrel {
namespace {

namespace fs = std::filesystem;

/// A stand-in worker: greets with greeting, then runs body (sh) with the
/// socket as its standard input and output.
class WorkerProcessTest : public ::testing::Test {
 protected:
  std::string Script(const std::string& greeting, const std::string& body) {
    const fs::path path = m_folder.Path() / ("worker" + std::to_string(++m_scripts));
    std::ofstream(path) << "#!/bin/sh\nprintf '%s\\n' '" << greeting << "'\n" << body << "\n";
    fs::permissions(path, fs::perms::owner_all);
    return path.string();
  }

  testing::TempFolder m_folder{"wavrel_worker_test"};
  int m_scripts = 0;
};

TEST_F(WorkerProcessTest, AnswersEndsHangsAndStops) {
  // Each request answered with the status 7; the third ends the worker.
  const std::string answering =
      Script(WorkerGreeting(),
             "i=0; while read n; do head -c \"$n\" >/dev/null; i=$((i + 1));"
             " if [ $i = 3 ]; then kill -KILL $$; fi; echo 7; done");
  WorkerProcess worker;
  std::string error;
  ASSERT_TRUE(worker.Start(answering, &error)) << error;
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(worker.Send({"evrc_2004", "/", "-i", "a b\nc"}, &error)) << error;
    const ChildExit exit = worker.Await({}, 10);
    EXPECT_EQ(exit.kind, ChildExit::Kind::kExited);
    EXPECT_EQ(exit.code, 7);
  }
  ASSERT_TRUE(worker.Send({"vocrate", "/"}, &error));
  const ChildExit killed = worker.Await({}, 10);
  EXPECT_EQ(killed.kind, ChildExit::Kind::kSignalled);
  EXPECT_EQ(killed.code, 9);
  EXPECT_FALSE(worker.Running());
  EXPECT_FALSE(worker.Send({"vocrate", "/"}, &error));

  // A worker that never answers: ended at its time limit, or at once on a stop.
  const std::string hanging = Script(WorkerGreeting(), "sleep 60");
  ASSERT_TRUE(worker.Start(hanging, &error)) << error;
  ASSERT_TRUE(worker.Send({"evrc_2004", "/"}, &error));
  const auto before = std::chrono::steady_clock::now();
  const ChildExit late = worker.Await({}, 1);
  EXPECT_EQ(late.kind, ChildExit::Kind::kTimedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
  EXPECT_FALSE(worker.Running());

  ASSERT_TRUE(worker.Start(hanging, &error)) << error;
  ASSERT_TRUE(worker.Send({"evrc_2004", "/"}, &error));
  std::stop_source stop;
  std::jthread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop.request_stop();
  });
  EXPECT_EQ(worker.Await(stop.get_token(), 60).kind, ChildExit::Kind::kStopped);
  EXPECT_TRUE(worker.Running());
  EXPECT_TRUE(worker.Terminate());
  EXPECT_FALSE(worker.Running());

  // A worker of another build is not used.
  EXPECT_FALSE(worker.Start(Script("wavrel-worker 0.0.1", "sleep 60"), &error));
  EXPECT_NE(error.find("another build"), std::string::npos) << error;
  EXPECT_FALSE(worker.Running());
}

TEST_F(WorkerProcessTest, RequestsRoundTripAndProgramsAreKnownByTheirMark) {
  std::vector<std::string> fields;
  const std::string request = EncodeWorkerRequest({"qcelp_13k", "/w", "", "x\ny"});
  const std::size_t header = request.find('\n');
  EXPECT_EQ(request.substr(0, header), std::to_string(request.size() - header - 1));
  ASSERT_TRUE(DecodeWorkerRequest(request.substr(header + 1), &fields));
  EXPECT_EQ(fields, (std::vector<std::string>{"qcelp_13k", "/w", "", "x\ny"}));
  EXPECT_FALSE(DecodeWorkerRequest(std::string("vocrate\0/w", 10), &fields));

  const fs::path marked = m_folder.Path() / "marked";
  std::ofstream(marked) << "#!/bin/sh\n# " << WAVREL_PROGRAM_MARK << "\n";
  fs::permissions(marked, fs::perms::owner_all);
  EXPECT_TRUE(IsProgramOfThisBuild(marked.string()));
  // Changed in place (a wrapper put there): looked at again.
  std::ofstream(marked) << "#!/bin/sh\nexec true\n";
  EXPECT_FALSE(IsProgramOfThisBuild(marked.string()));
  EXPECT_FALSE(IsProgramOfThisBuild((m_folder.Path() / "missing").string()));
}

}  // namespace
}  // namespace wavrel
