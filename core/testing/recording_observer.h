// RecordingObserver: what a run tells its observer, kept in the order told
// (calls may come from any job's thread).
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/batch_observer.h"

namespace wavrel::testing {

class RecordingObserver final : public IBatchObserver {
 public:
  void OnFileSkipped(const SkippedFile& file) override {
    std::lock_guard lock(m_mutex);
    skipped.push_back(file.path);
  }
  void OnFileStarted(const std::string& path, std::size_t, std::size_t) override {
    std::lock_guard lock(m_mutex);
    started.push_back(path);
  }
  void OnFileFinished(const FileOutcome& outcome) override {
    {
      std::lock_guard lock(m_mutex);
      finished.push_back(outcome);
    }
    if (afterFile) afterFile(outcome);
  }
  void OnRunFinished(const RunSummary& summary) override {
    std::lock_guard lock(m_mutex);
    runs.push_back(summary);
  }

  /// Called after each finished file, on the run's thread (to log it, to
  /// hold the run there).
  std::function<void(const FileOutcome&)> afterFile;
  std::mutex m_mutex;
  std::vector<std::string> skipped, started;
  std::vector<FileOutcome> finished;
  std::vector<RunSummary> runs;
};

}  // namespace wavrel::testing
