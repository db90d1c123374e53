#include "core/worker_environment.h"

#include <algorithm>
#include <utility>

#include "base/text.h"
#include "platform/worker_process.h"

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
      // A worker that ended between two recordings: once more, freshly started.
      if (m_worker.Send(fields, &sendError) ||
          (StartWorker() && m_worker.Send(fields, &sendError))) {
        m_inWorker = true;
        m_limitSeconds = TimeLimitSeconds(args);
        return true;
      }
    }
    if (!m_child) m_child = m_base.NewProgramRun();
    return m_child->Start(program, args, workDir, error);
  }

  ChildExit Wait(std::stop_token token) override {
    if (m_inWorker) return m_worker.Await(token, m_limitSeconds);
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

  /// How long a program may take before it is taken for hung: two minutes,
  /// and half a minute more for each MB of its input (programs of this
  /// build get through a MB, an hour of speech, in well under a second).
  int TimeLimitSeconds(const std::vector<std::string>& args) {
    // vocrate SOURCE DEST 1; evrc_2004 / qcelp_13k -i SOURCE -o DEST -d.
    const auto input = std::find(args.begin(), args.end(), "-i");
    const std::string source = input != args.end() && input + 1 != args.end() ? *(input + 1)
                               : args.empty()                                 ? std::string()
                                                                              : args.front();
    unsigned long long bytes = 0;
    if (!m_base.Files().FileSize(source, &bytes)) bytes = 0;
    return static_cast<int>(std::min<unsigned long long>(120 + 30 * (bytes >> 20), 86400));
  }

  IConversionEnvironment& m_base;
  const std::string& m_workerPath;
  int m_limitSeconds = 0;
  WorkerProcess m_worker;
  bool m_workerFailed = false;
  bool m_inWorker = false;  // where the program of the last Start runs
  std::unique_ptr<IProgramRun> m_child;
};

}  // namespace

WorkerEnvironment::WorkerEnvironment(IConversionEnvironment& base, std::string workerPath)
    : ForwardingEnvironmentT(base), m_workerPath(std::move(workerPath)) {}

std::unique_ptr<IProgramRun> WorkerEnvironment::NewProgramRun() {
  return std::make_unique<WorkerProgramRun>(Base(), m_workerPath);
}

}  // namespace wavrel
