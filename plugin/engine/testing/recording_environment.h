// A recording fake of the engine's environment: programs are functions run
// in the calling thread (or made to hang until stopped), and every start,
// termination and removal is logged. Files the fake programs write are real
// files in a folder of the test's.
#pragma once

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "plugin/engine/engine_environment.h"

namespace wavrel::testing {

class RecordingEnvironment final : public IEngineEnvironment {
 public:
  /// A fake program: gets its arguments, returns its exit status; kHang
  /// makes it run until the wait is stopped.
  using Program = std::function<int(const std::vector<std::string>&)>;
  static constexpr int kHang = -1;

  std::map<std::string, Program> programs;  // by path
  std::map<std::u16string, std::u16string> texts;

  std::vector<std::string> Log() const {
    std::lock_guard lock(m_mutex);
    return m_log;
  }
  void Note(const std::string& entry) {
    std::lock_guard lock(m_mutex);
    m_log.push_back(entry);
  }

  std::unique_ptr<IProgramRun> NewProgramRun() override { return std::make_unique<Run>(*this); }
  std::string MakeWorkFolder(std::string*) override { return {}; }
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
  std::u16string Text(const char16_t* key) override { return texts[key]; }
  bool MessageBox(const std::u16string&, const std::u16string&, std::uint32_t) override {
    Note("box");
    return true;
  }
  std::u16string PluginFolder() override { return u"/plugins/"; }
  std::u16string HostFolder() override { return {}; }

 private:
  class Run final : public IProgramRun {
   public:
    explicit Run(RecordingEnvironment& env) : m_env(env) {}
    bool Start(const std::string& program, const std::vector<std::string>& args, const std::string&,
               std::string* error) override {
      std::string entry = "start " + program;
      for (const auto& arg : args) entry += " " + arg;
      m_env.Note(entry);
      const auto found = m_env.programs.find(program);
      if (found == m_env.programs.end()) {
        *error = "no such program";
        return false;
      }
      m_status = found->second(args);
      m_running = true;
      return true;
    }
    ChildExit Wait(std::stop_token token) override {
      if (!m_running) return {};
      if (m_status == kHang) {
        std::mutex mutex;
        std::condition_variable_any stopped;
        std::unique_lock lock(mutex);
        stopped.wait(lock, token, [] { return false; });
        return {ChildExit::Kind::kStopped, 0};
      }
      m_running = false;
      return {ChildExit::Kind::kExited, m_status};
    }
    bool Terminate() override {
      if (m_running) m_env.Note("terminate");
      m_running = false;
      return true;
    }

   private:
    RecordingEnvironment& m_env;
    int m_status = 0;
    bool m_running = false;
  };

  mutable std::mutex m_mutex;
  std::vector<std::string> m_log;
};

}  // namespace wavrel::testing
