// A recording fake of the engine's environment: programs are functions run
// in the calling thread (or made to hang until stopped or terminated), every
// start, termination and removal is logged, texts are FakeTexts and message
// boxes are recorded and answered from a script. Files the fake
// programs write are real files in a folder of the test's; the engine's file
// operations are the production ones (Files), but for a rename made to fail. Thread-safe: the
// dialog's worker, its jobs and the test's thread use it at once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "plugin/engine/engine_environment.h"
#include "plugin/engine/testing/fake_texts.h"

namespace wavrel::testing {

class RecordingEnvironment final : public IEngineEnvironment, public FakeTexts {
 public:
  /// A fake program: gets its arguments and the folder it runs in, returns
  /// its exit status; kHang makes it run until the wait is stopped or the
  /// program terminated, KilledBy(n) makes it end by signal n.
  using Program = std::function<int(const std::vector<std::string>&, const std::string&)>;
  static constexpr int kHang = -1;
  static constexpr int KilledBy(int signal) { return -1000 - signal; }

  /// Set before the engine runs; read by its threads.
  std::map<std::string, Program> programs;  // by path
  std::u16string pluginFolder = u"/plugins/";
  std::u16string hostFolder;
  /// Where MakeWorkFolder makes the runs' folders; none when empty.
  std::filesystem::path workRoot;

  /// One start of a registered program; running until it ends by itself or
  /// is terminated.
  struct Launch {
    std::string program;
    std::vector<std::string> args;
    std::string workDir;
    bool running = false;
  };
  struct Box {
    std::u16string text;
    std::u16string caption;
    std::uint32_t style = 0;
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

  std::vector<Box> Boxes() const {
    std::lock_guard lock(m_mutex);
    return m_boxes;
  }
  /// Forgets the boxes, the script and a hold; later boxes answer OK.
  void ResetBoxes() {
    std::lock_guard lock(m_mutex);
    m_boxes.clear();
    m_answers.clear();
    m_holdNextBox = false;
  }
  /// The next box unanswered so far answers ok (queued).
  void ScriptBoxAnswer(bool ok) {
    std::lock_guard lock(m_mutex);
    m_answers.push_back(ok);
  }
  /// The next box stays up (its caller waits) until ReleaseHeldBox.
  void HoldNextBox() {
    std::lock_guard lock(m_mutex);
    m_holdNextBox = true;
  }
  bool BoxHeld() const {
    std::lock_guard lock(m_mutex);
    return m_boxHeld;
  }
  void ReleaseHeldBox() {
    std::lock_guard lock(m_mutex);
    m_boxHeld = false;
    m_boxReleased.notify_all();
  }

  std::unique_ptr<IProgramRun> NewProgramRun() override { return std::make_unique<Run>(*this); }
  bool ProgramExists(const std::string& path) override { return programs.count(path) != 0; }
  std::string MakeWorkFolder(std::string* error) override {
    if (workRoot.empty()) {
      if (error != nullptr) *error = "no work folder in this test";
      return {};
    }
    std::lock_guard lock(m_mutex);
    const std::string folder = (workRoot / ("work" + std::to_string(++m_workFolders))).string();
    m_log.push_back("mkwork " + folder);
    std::filesystem::create_directories(folder);
    return folder;
  }
  bool MakeFolder(const std::string& folder, std::string*) override {
    Note("mkdir " + folder);
    return std::filesystem::create_directories(folder) || std::filesystem::is_directory(folder);
  }
  void RemoveFolderTree(const std::string& folder) override {
    Note("rmtree " + folder);
    std::filesystem::remove_all(folder);
  }
  void RemoveFile(const std::string& path) override {
    Note("rm " + path);
    std::filesystem::remove(path);
  }
  std::u16string Text(const char16_t* key) override {
    const char16_t* text = Lookup(key, true);
    return text != nullptr ? text : u"";
  }
  bool MessageBox(const std::u16string& text, const std::u16string& caption,
                  std::uint32_t style) override {
    std::unique_lock lock(m_mutex);
    m_log.push_back("box");
    m_boxes.push_back({text, caption, style});
    if (m_holdNextBox) {
      m_holdNextBox = false;
      m_boxHeld = true;
      m_boxReleased.wait(lock, [this] { return !m_boxHeld; });
    }
    if (m_answers.empty()) return true;
    const bool ok = m_answers.front();
    m_answers.pop_front();
    return ok;
  }
  std::u16string PluginFolder() override { return pluginFolder; }
  std::u16string HostFolder() override { return hostFolder; }
  IEngineFiles& Files() override { return m_files; }
  /// Makes every later RenameOnto fail (the file left where it was).
  void FailRenames() { m_files.failRenames = true; }

 private:
  /// The production file operations, but for a rename that may be made to fail.
  class FileOperations final : public PlatformFileOperations {
   public:
    std::atomic<bool> failRenames{false};
    bool RenameOnto(const std::string& from, const std::string& to) override {
      return !failRenames && PlatformFileOperations::RenameOnto(from, to);
    }
  };

  class Run final : public IProgramRun {
   public:
    explicit Run(RecordingEnvironment& env) : m_env(env) {}
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
        if (!m_ended.wait(lock, token, [this] { return !m_running; })) {
          return {ChildExit::Kind::kStopped, 0};
        }
        return {ChildExit::Kind::kSignalled, 9};
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

    RecordingEnvironment& m_env;
    std::mutex m_mutex;
    std::condition_variable_any m_ended;
    int m_status = 0;          // guarded by m_mutex
    bool m_running = false;    // guarded by m_mutex
    std::size_t m_launch = 0;  // index in m_env.m_launches
  };

  mutable std::mutex m_mutex;
  std::vector<std::string> m_log;
  std::vector<Launch> m_launches;
  std::vector<Box> m_boxes;
  std::deque<bool> m_answers;
  bool m_holdNextBox = false;
  bool m_boxHeld = false;
  std::condition_variable m_boxReleased;
  unsigned m_workFolders = 0;
  FileOperations m_files;
};

}  // namespace wavrel::testing
