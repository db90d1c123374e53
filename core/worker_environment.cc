#include "core/worker_environment.h"

#include <utility>

#include "base/text.h"
#include "plugin/platform/worker_process.h"

namespace wavrel {
namespace {

class WorkerProgramRun final : public IProgramRun {
 public:
  WorkerProgramRun(IConversionEnvironment& base, const std::string& workerPath)
      : m_base(base), m_workerPath(workerPath) {}

  bool Start(const std::string& program, const std::vector<std::string>& args,
             const std::string& workDir, std::string* error) override {
    m_inWorker = false;
    if (IsProgramOfThisBuild(program) && StartWorker()) {
      std::vector<std::string> fields{std::string(base::BaseName(program)), workDir};
      fields.insert(fields.end(), args.begin(), args.end());
      std::string sendError;
      if (m_worker.Send(fields, &sendError)) {
        m_inWorker = true;
        return true;
      }
      // A worker that ended between two recordings: once more, freshly started.
      if (StartWorker() && m_worker.Send(fields, &sendError)) {
        m_inWorker = true;
        return true;
      }
    }
    if (!m_child) m_child = m_base.NewProgramRun();
    return m_child->Start(program, args, workDir, error);
  }

  ChildExit Wait(std::stop_token token) override {
    if (m_inWorker) return m_worker.Await(token);
    return m_child ? m_child->Wait(token) : ChildExit{};
  }

  bool Terminate() override {
    const bool worker = m_worker.Terminate();
    return (m_child ? m_child->Terminate() : true) && worker;
  }

 private:
  /// A worker ready for a request; false when none can be had (the
  /// programs then start per recording).
  bool StartWorker() {
    if (m_worker.Running()) return true;
    if (m_workerFailed) return false;
    std::string error;
    if (m_worker.Start(m_workerPath, &error)) return true;
    // Missing, or of another build: not tried again in this run.
    m_workerFailed = true;
    return false;
  }

  IConversionEnvironment& m_base;
  const std::string& m_workerPath;
  WorkerProcess m_worker;
  bool m_workerFailed = false;
  bool m_inWorker = false;  // where the program of the last Start runs
  std::unique_ptr<IProgramRun> m_child;
};

}  // namespace

WorkerEnvironment::WorkerEnvironment(IConversionEnvironment& base, std::string workerPath)
    : m_base(base), m_workerPath(std::move(workerPath)) {}

std::unique_ptr<IProgramRun> WorkerEnvironment::NewProgramRun() {
  return std::make_unique<WorkerProgramRun>(m_base, m_workerPath);
}

}  // namespace wavrel
