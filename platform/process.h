// Child processes: started without a shell, with their standard streams on
// /dev/null, waited for without busy polling, ended with SIGKILL and always
// reaped, and never outliving the run that started them: the kernel kills a
// child when its parent dies, by kill -9 too (PR_SET_PDEATHSIG).
#pragma once

#include <sys/types.h>

#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

namespace wavrel {

/// How a wait for a child ended.
struct ChildExit {
  enum class Kind {
    kNone,       ///< there was no child to wait for
    kExited,     ///< the child ended by itself; code is its exit status
    kSignalled,  ///< a signal ended the child; code is the signal number, 0 when
                 ///< the status was lost (the child was reaped elsewhere)
    kStopped,    ///< a stop was requested: the child still runs and is not reaped
    kTimedOut,   ///< it took longer than its time limit and was ended; code is
                 ///< the limit in seconds
  };
  Kind kind = Kind::kNone;
  int code = 0;
};

/// One launch record: at most one child at a time. Start and Wait belong to
/// one thread (the worker); Terminate, HasChild and Pid may be called from any
/// thread while Wait blocks. A pid is never signalled after it was reaped.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  /// Terminates a child that still runs.
  ~ChildProcess();

  /// Starts program with the arguments args (argv[0] is program itself) in
  /// workDir (empty: the caller's current directory). A child of an earlier
  /// Start must have ended. False and *error (may be null) when the program
  /// cannot be started (exec or the change of folder failed).
  ///
  /// The kernel sends the child SIGKILL when the thread that called Start
  /// ends (and so when the process ends, however it ends): call Start from
  /// the thread that waits for the child, or from one that outlives it.
  bool Start(const std::string& program, const std::vector<std::string>& args,
             const std::string& workDir, std::string* error);
  /// The same, with the child's standard input and output on the given
  /// descriptors instead of /dev/null (-1 keeps /dev/null); the caller keeps
  /// and closes its descriptors, which should be close-on-exec.
  bool Start(const std::string& program, const std::vector<std::string>& args,
             const std::string& workDir, int stdinFd, int stdoutFd, std::string* error);

  /// Blocks until the child ends (and reaps it) or a stop is requested on
  /// token, whichever comes first; a stop leaves the child running for
  /// Terminate. Without a child: kind kNone at once.
  ChildExit Wait(std::stop_token token);

  /// Ends the child with SIGKILL and reaps it. True when no child is left
  /// running (also when there was none or it had ended); false only when the
  /// signal could not be sent.
  bool Terminate();

  /// True while a started child has not been reaped.
  bool HasChild() const;
  /// The child's pid while it has not been reaped, else 0.
  pid_t Pid() const;

 private:
  ChildExit ReapLocked(int options);
  void CloseLocked();

  mutable std::mutex m_mutex;
  pid_t m_pid = 0;       // 0 when no unreaped child
  int m_pidFd = -1;      // pidfd of the last child, -1 when none (older kernels)
  ChildExit m_lastExit;  // how the last child ended, once reaped
};

}  // namespace wavrel
