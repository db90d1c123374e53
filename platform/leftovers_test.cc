#include "platform/leftovers.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "platform/file_system.h"
#include "testing/fat_folder.h"
#include "testing/files.h"

namespace wavrel {
namespace {

namespace fs = std::filesystem;

/// Runs body in a child process that then waits to be killed with SIGKILL,
/// as a run is by the OOM killer; what body returns comes back.
std::string InRunKilledAfter(const std::function<std::string()>& body) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(pipeFds[0]);
    const std::string said = body() + "\n";
    if (write(pipeFds[1], said.data(), said.size()) < 0) _exit(1);
    for (;;) pause();
  }
  close(pipeFds[1]);
  std::string said;
  char c = 0;
  while (read(pipeFds[0], &c, 1) == 1 && c != '\n') said += c;
  close(pipeFds[0]);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return said;
}

/// $TMPDIR set to a folder of the test's own for the scope.
class TmpDirScope {
 public:
  explicit TmpDirScope(const fs::path& folder) {
    const char* old = std::getenv("TMPDIR");
    if (old != nullptr) m_old = old;
    m_had = old != nullptr;
    setenv("TMPDIR", folder.c_str(), 1);
  }
  ~TmpDirScope() {
    if (m_had) {
      setenv("TMPDIR", m_old.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }

 private:
  std::string m_old;
  bool m_had = false;
};

TEST(LeftoversTest, WorkFoldersOfDeadRunsGoAndLiveOnesStay) {
  testing::TempFolder base;
  const TmpDirScope scope(base.Path());
  const std::string live = MakePrivateWorkFolder(nullptr);
  PrivateWorkFolder owned;
  ASSERT_TRUE(owned.Make(nullptr));
  const std::string dead = InRunKilledAfter([] {
    const std::string folder = MakePrivateWorkFolder(nullptr);
    testing::WriteFile(folder + "/1.pcm", std::string(1000, 'x'));
    return folder;
  });
  ASSERT_TRUE(fs::exists(dead + "/1.pcm"));
  // Not of this system's form: another mode, another name, not a folder.
  fs::create_directory(base / "wavrel-Ab12cd");
  fs::create_directory(base / "wavrel-test-abcdef");
  fs::permissions(base / "wavrel-test-abcdef", fs::perms::owner_all);
  testing::WriteFile(base / "wavrel-zzzzzz", "");

  EXPECT_EQ(RemoveStaleWorkFolders(3600, nullptr), 0);  // all brand new
  std::vector<std::string> removed;
  EXPECT_EQ(RemoveStaleWorkFolders(0, &removed), 1);
  EXPECT_EQ(removed, std::vector<std::string>{dead});
  EXPECT_FALSE(fs::exists(dead));
  for (const fs::path& kept : {fs::path(live), fs::path(owned.Path()), base / "wavrel-Ab12cd",
                               base / "wavrel-test-abcdef", base / "wavrel-zzzzzz"}) {
    EXPECT_TRUE(fs::exists(kept)) << kept;
  }

  // Removed by its run, the folder's lock goes with it.
  const std::string ownedPath = owned.Path();
  owned.Remove();
  RemoveFolderTree(live);
  EXPECT_FALSE(fs::exists(ownedPath));
  EXPECT_FALSE(fs::exists(live));
}

TEST(LeftoversTest, TemporaryNamesOfTheWavWriter) {
  EXPECT_TRUE(IsTemporaryWavName(".rec.wav.aZ09bY"));
  EXPECT_TRUE(IsTemporaryWavName(".rec (2).wav.aZ09bY"));
  EXPECT_FALSE(IsTemporaryWavName(".wav.aZ09bY"));       // no NAME
  EXPECT_FALSE(IsTemporaryWavName(".rec.wav.aZ09b"));    // five
  EXPECT_FALSE(IsTemporaryWavName(".rec.wav.aZ09bYc"));  // seven
  EXPECT_FALSE(IsTemporaryWavName(".rec.wav.aZ-9bY"));
  EXPECT_FALSE(IsTemporaryWavName("rec.wav.aZ09bY"));  // not hidden
  EXPECT_FALSE(IsTemporaryWavName(".rec.WAV.aZ09bY"));
  EXPECT_FALSE(IsTemporaryWavName(".rec.qcp.aZ09bY"));
  // The writer's own names, however long the WAV's name.
  testing::TempFolder temp;
  for (const std::string& name : {std::string("a.wav"), std::string(250, 'n') + ".wav"}) {
    std::string path;
    std::FILE* file = CreateTemporaryBeside((temp / name).string(), &path);
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    EXPECT_TRUE(IsTemporaryWavName(fs::path(path).filename().string())) << path;
  }
}

/// A live run's temporary WAVs stay, a dead run's go, and nothing but the
/// writer's own kind of file is touched.
void CheckTemporaries(const std::string& folder) {
  FileLock lock;
  std::string locked;
  std::FILE* file = CreateLockedTemporaryBeside(folder + "/a.wav", &locked, &lock);
  ASSERT_NE(file, nullptr);
  const std::string header("RIFF\x24\0\0\0WAVEfmt ", 16);
  std::fwrite(header.data(), 1, header.size(), file);
  std::fclose(file);  // closed, not yet renamed: still locked
  std::string open;
  std::FILE* writing = CreateTemporaryBeside(folder + "/b.wav", &open);
  ASSERT_NE(writing, nullptr);
  const std::string dead = InRunKilledAfter([&] {
    FileLock kept;
    std::string path;
    std::FILE* partial = CreateLockedTemporaryBeside(folder + "/c.wav", &path, &kept);
    std::fputs("RIFF", partial);
    std::fflush(partial);
    return path;
  });
  ASSERT_TRUE(fs::exists(dead));
  const std::string notes = folder + "/.notes.wav.backup";  // of the form, but no WAV
  testing::WriteFile(notes, "my notes");

  EXPECT_EQ(RemoveStaleTemporaries(folder, 3600, nullptr), 0);  // all brand new
  std::vector<std::string> removed;
  EXPECT_EQ(RemoveStaleTemporaries(folder, 0, &removed), 1);
  EXPECT_EQ(removed, std::vector<std::string>{dead});
  EXPECT_FALSE(fs::exists(dead));
  for (const std::string& kept : {locked, open, notes}) EXPECT_TRUE(fs::exists(kept)) << kept;

  // Once the run lets go (it renamed or removed the file, or died), it may go.
  lock.Release();
  EXPECT_EQ(RemoveStaleTemporaries(folder, 0, nullptr), 1);
  EXPECT_FALSE(fs::exists(locked));
  std::fclose(writing);
}

TEST(LeftoversTest, TemporaryWavsOfDeadRunsGoAndLiveOnesStay) {
  testing::TempFolder temp;
  CheckTemporaries(temp.Path().string());
}

TEST(LeftoversTest, TemporaryWavsOnFat) {
  testing::FatFolder fat;
  if (!fat.Mounted()) GTEST_SKIP() << fat.SkipReason();
  CheckTemporaries(fat.Path().string());
}

}  // namespace
}  // namespace wavrel
