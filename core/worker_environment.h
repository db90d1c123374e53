// The environment of `wavrel convert`: the platform's, but the programs of
// the pipeline run in a worker process that each job keeps for the whole
// run (platform/worker_process.h), so that no program starts per
// recording. Isolation stays: libavcodec runs in the worker, never here.
//
// A program is handed to the worker only when it is of this build
// (IsProgramOfThisBuild: vocrate, evrc_2004 and qcelp_13k as installed with
// the worker); any other program at its path (a wrapper script, a decoder
// of another build) starts per recording as in the dialog, as does every
// program when the worker is missing or cannot start.
#pragma once

#include <memory>
#include <string>

#include "core/forwarding_environment.h"

namespace wavrel {

class WorkerEnvironment final : public ForwardingEnvironmentT<> {
 public:
  /// Over base (which starts the programs that the worker does not run);
  /// workerPath is the worker program.
  WorkerEnvironment(IConversionEnvironment& base, std::string workerPath);

  /// A run that hands its programs to a worker of its own, started at its
  /// first program and restarted after it ended (a crash, a kill, a hang
  /// ended by a stop).
  std::unique_ptr<IProgramRun> NewProgramRun() override;

 private:
  const std::string m_workerPath;
};

}  // namespace wavrel
