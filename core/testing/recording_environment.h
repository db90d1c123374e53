// A recording fake of the conversion core's environment: programs are
// functions run in the calling thread (or made to hang until stopped or
// terminated), and every start, termination, removal and folder is logged.
// Files the fake programs write are real files in a folder of the test's;
// the file operations are the production ones (Files), but for a rename
// that may be made to fail, and removals, renames, syncs and clean-ups that
// are logged. Thread-safe: a
// run's jobs and the test's thread use it at once. RecordingEnvironmentT
// takes the interface to implement: the dialog's fake adds its host's
// services to the core's environment.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/conversion_environment.h"

namespace wavrel::testing {

template <class Interface = IConversionEnvironment>
class RecordingEnvironmentT : public Interface {
 public:
  /// A fake program: gets its arguments and the folder it runs in, returns
  /// its exit status; kHang makes it run until the wait is stopped or the
  /// program terminated, KilledBy(n) makes it end by signal n.
  using Program = std::function<int(const std::vector<std::string>&, const std::string&)>;
  static constexpr int kHang = -1;
  static constexpr int KilledBy(int signal) { return -1000 - signal; }

  /// Set before the core runs; read by its threads.
  std::map<std::string, Program> programs;  // by path
  /// Where MakeWorkFolder makes the runs' folders; none when empty.
  std::filesystem::path workRoot;
  /// A hanging program ends by itself after this long (status 124), so that
  /// a wait that misses its stop fails a test instead of hanging it.
  std::chrono::milliseconds hangLimit{10000};

  /// One start of a registered program; running until it ends by itself or
  /// is terminated.
  struct Launch {
    std::string program;
    std::vector<std::string> args;
    std::string workDir;
    bool running = false;
  };

  std::vector<std::string> Log() const {
    std::lock_guard lock(m_mutex);
    return m_log;
  }
  void Note(const std::string& entry) {
    std::lock_guard lock(m_mutex);
    m_log.push_back(entry);
  }
  std::vector<Launch> Launches() const {
    std::lock_guard lock(m_mutex);
    return m_launches;
  }

  std::unique_ptr<IProgramRun> NewProgramRun() override { return std::make_unique<Run>(*this); }
  bool ProgramExists(const std::string& path) override { return programs.count(path) != 0; }
  bool MakeWorkFolder(std::string* folder, std::string* error) override {
    if (workRoot.empty()) {
      if (error != nullptr) *error = "no work folder in this test";
      return false;
    }
    std::lock_guard lock(m_mutex);
    *folder = (workRoot / ("work" + std::to_string(++m_workFolders))).string();
    m_log.push_back("mkwork " + *folder);
    std::filesystem::create_directories(*folder);
    return true;
  }
  bool MakeFolder(const std::string& folder, std::string*) override {
    Note("mkdir " + folder);
    return std::filesystem::create_directories(folder) || std::filesystem::is_directory(folder);
  }
  void RemoveFolderTree(const std::string& folder) override {
    Note("rmtree " + folder);
    std::filesystem::remove_all(folder);
  }
  /// Logged; the test's folders hold no dead run's leftovers.
  void RemoveDeadRunsWorkFolders() override { Note("clean work folders"); }
  IConversionFiles& Files() override { return m_files; }
  /// Makes every later rename into place fail (the file left where it was).
  void FailRenames() { m_files.failRenames = true; }

 private:
  /// The production file operations, but for a rename that may be made to
  /// fail and removals that are logged.
  class FileOperations final : public PlatformFileOperations {
   public:
    explicit FileOperations(RecordingEnvironmentT& env) : m_env(env) {}
    std::atomic<bool> failRenames{false};
    RenameResult RenameNoReplace(const std::string& from, const std::string& to,
                                 std::string* error) override {
      m_env.Note("rename " + to);
      if (failRenames) return RenameResult::kFailed;
      return PlatformFileOperations::RenameNoReplace(from, to, error);
    }
    RenameResult RenameReplacingSame(const std::string& from, const std::string& to,
                                     const FileStamp& expected, std::string* error) override {
      m_env.Note("rename " + to);
      if (failRenames) return RenameResult::kFailed;
      return PlatformFileOperations::RenameReplacingSame(from, to, expected, error);
    }
    bool SyncFile(std::FILE* file, std::string* error) override {
      m_env.Note("sync file");
      return PlatformFileOperations::SyncFile(file, error);
    }
    bool SyncFolder(const std::string& folder, std::string* error) override {
      m_env.Note("sync folder " + folder);
      return PlatformFileOperations::SyncFolder(folder, error);
    }
    bool SyncFileSystemOf(const std::string& folder, std::string* error) override {
      m_env.Note("sync file system of " + folder);
      return PlatformFileOperations::SyncFileSystemOf(folder, error);
    }
    void RemoveDeadRunsTemporaries(const std::string& folder) override {
      m_env.Note("clean temporaries " + folder);
      PlatformFileOperations::RemoveDeadRunsTemporaries(folder);
    }
    bool RemoveFile(const std::string& path) override {
      m_env.Note("rm " + path);
      return PlatformFileOperations::RemoveFile(path);
    }

   private:
    RecordingEnvironmentT& m_env;
  };

  class Run final : public IProgramRun {
   public:
    explicit Run(RecordingEnvironmentT& env) : m_env(env) {}
    bool Start(const std::string& program, const std::vector<std::string>& args,
               const std::string& workDir, std::string* error) override {
      std::string entry = "start " + program;
      for (const auto& arg : args) entry += " " + arg;
      m_env.Note(entry);
      const auto found = m_env.programs.find(program);
      if (found == m_env.programs.end()) {
        *error = "no such program";
        return false;
      }
      {
        std::lock_guard lock(m_env.m_mutex);
        m_env.m_launches.push_back({program, args, workDir, true});
        m_launch = m_env.m_launches.size() - 1;
      }
      const int status = found->second(args, workDir);
      std::lock_guard lock(m_mutex);
      m_status = status;
      m_running = true;
      return true;
    }
    ChildExit Wait(std::stop_token token) override {
      std::unique_lock lock(m_mutex);
      if (!m_running) return {};
      if (m_status == kHang) {
        // Until terminated (the exit a kill gives) or the wait is stopped.
        if (m_ended.wait_for(lock, token, m_env.hangLimit, [this] { return !m_running; })) {
          return {ChildExit::Kind::kSignalled, 9};
        }
        if (token.stop_requested()) return {ChildExit::Kind::kStopped, 0};
        Ended();
        return {ChildExit::Kind::kExited, 124};
      }
      Ended();
      if (m_status <= KilledBy(0)) return {ChildExit::Kind::kSignalled, KilledBy(0) - m_status};
      return {ChildExit::Kind::kExited, m_status};
    }
    bool Terminate() override {
      std::lock_guard lock(m_mutex);
      if (m_running) m_env.Note("terminate");
      Ended();
      m_ended.notify_all();
      return true;
    }

   private:
    /// With m_mutex held.
    void Ended() {
      if (!m_running) return;
      m_running = false;
      std::lock_guard lock(m_env.m_mutex);
      m_env.m_launches[m_launch].running = false;
    }

    RecordingEnvironmentT& m_env;
    std::mutex m_mutex;
    std::condition_variable_any m_ended;
    int m_status = 0;          // guarded by m_mutex
    bool m_running = false;    // guarded by m_mutex
    std::size_t m_launch = 0;  // index in m_env.m_launches
  };

  mutable std::mutex m_mutex;
  std::vector<std::string> m_log;
  std::vector<Launch> m_launches;
  unsigned m_workFolders = 0;
  FileOperations m_files{*this};
};

using RecordingEnvironment = RecordingEnvironmentT<>;

}  // namespace wavrel::testing
