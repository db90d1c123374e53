// What the conversion core touches outside itself, handed in as an object:
// the programs it starts and waits for, the work folders of its runs, and the
// file operations (Files: IConversionFiles). PlatformEnvironment() is the
// real one over platform/; tests hand in a fake that records what the
// core did. Nothing here knows of windows, texts or message boxes.
#pragma once

#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "core/conversion_files.h"
#include "platform/process.h"

namespace wavrel {

/// One launch record: at most one program at a time. Start and Wait belong to
/// one thread; Terminate may come from any thread while Wait blocks.
class IProgramRun {
 public:
  virtual ~IProgramRun() = default;
  /// False with *error when program cannot be started.
  virtual bool Start(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workDir, std::string* error) = 0;
  /// Until the program ends or token asks to stop (kStopped: still running).
  virtual ChildExit Wait(std::stop_token token) = 0;
  /// Ends a program still running; true when none is left running.
  virtual bool Terminate() = 0;
};

class IConversionEnvironment {
 public:
  virtual ~IConversionEnvironment() = default;
  virtual std::unique_ptr<IProgramRun> NewProgramRun() = 0;
  /// True when there is a program at path to start (the checks before a run).
  virtual bool ProgramExists(const std::string& path) = 0;
  /// A new private folder for a run's intermediates in *folder; false with
  /// *error when none can be made.
  virtual bool MakeWorkFolder(std::string* folder, std::string* error) = 0;
  /// A folder (and its parents) where a run needs one: a job's folder below
  /// the work folder, a subfolder of the output folder; false with *error.
  virtual bool MakeFolder(const std::string& folder, std::string* error) = 0;
  /// Deletes folder and everything in it; missing entries are ignored.
  virtual void RemoveFolderTree(const std::string& folder) = 0;
  /// Removes the work folders of runs that are provably gone (killed, or
  /// cut off by a power cut), never a live run's.
  virtual void RemoveDeadRunsWorkFolders() = 0;
  /// The file operations: listings, reads, stamps, removals, the WAV's
  /// temporary file.
  virtual IConversionFiles& Files() = 0;
};

/// The one process-wide environment over platform/: children by
/// ChildProcess, work folders under $TMPDIR, PlatformFiles().
IConversionEnvironment& PlatformEnvironment();

}  // namespace wavrel
