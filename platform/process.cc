#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

extern char** environ;

namespace wavrel {
namespace {

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  const long fd = syscall(SYS_pidfd_open, pid, 0);
  if (fd >= 0) {
    // pidfd_open sets close-on-exec itself; make sure of it on every kernel.
    fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    return static_cast<int>(fd);
  }
#else
  (void)pid;
#endif
  return -1;
}

ChildExit FromStatus(int status) {
  ChildExit exit;
  if (WIFEXITED(status)) {
    exit.kind = ChildExit::Kind::kExited;
    exit.code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    exit.kind = ChildExit::Kind::kSignalled;
    exit.code = WTERMSIG(status);
  }
  return exit;
}

/// Closes fd on scope exit.
struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

ChildProcess::~ChildProcess() {
  Terminate();
  std::lock_guard lock(m_mutex);
  CloseLocked();
}

void ChildProcess::CloseLocked() {
  if (m_pidFd >= 0) close(m_pidFd);
  m_pidFd = -1;
}

namespace {

/// What the child reports through its pipe when it cannot run the program.
struct ChildFailure {
  int error = 0;
};

/// Moves fd above the standard descriptors (0, 1 and 2 may be closed in the
/// parent), close-on-exec; the old descriptor is closed.
int AboveStandardStreams(int fd) {
  if (fd < 0 || fd > 2) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

/// Puts /dev/null opened with flags on descriptor target.
bool DevNullOn(int target, int flags) {
  const int fd = open("/dev/null", flags);
  if (fd < 0) return false;
  if (fd == target) return true;
  const bool moved = dup2(fd, target) == target;
  close(fd);
  return moved;
}

/// The child between fork and exec: async-signal-safe calls only (the parent
/// may have had other threads, holding any lock). Never returns.
[[noreturn]] void RunChild(const char* program, char* const* argv, const char* workDir,
                           pid_t parent, int reportFd, int stdinFd, int stdoutFd) {
  ChildFailure failure;
  // Handlers are the parent's: none may run here. What was caught goes back
  // to its default; SIGPIPE, SIGINT and SIGTERM do even when ignored.
  for (int sig = 1; sig < NSIG; ++sig) {
    struct sigaction action {};
    if (sigaction(sig, nullptr, &action) != 0) continue;
    const bool caught = action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN;
    if (caught || sig == SIGPIPE || sig == SIGINT || sig == SIGTERM) {
      struct sigaction reset {};
      reset.sa_handler = SIG_DFL;
      sigaction(sig, &reset, nullptr);
    }
  }
  // The kernel ends the child when the thread that started it ends, however
  // the process dies (kill -9 included). A parent that died before this
  // call has left the child to another process already: give up.
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
    failure.error = ESRCH;
  } else if (!(stdinFd >= 0 ? dup2(stdinFd, 0) == 0 : DevNullOn(0, O_RDONLY)) ||
             !(stdoutFd >= 0 ? dup2(stdoutFd, 1) == 1 : DevNullOn(1, O_WRONLY)) ||
             !DevNullOn(2, O_WRONLY)) {
    failure.error = errno;
  } else if (workDir != nullptr && chdir(workDir) != 0) {
    failure.error = errno;
  } else {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(program, argv, environ);
    failure.error = errno;
  }
  [[maybe_unused]] const ssize_t n = write(reportFd, &failure, sizeof failure);
  _exit(127);
}

}  // namespace

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workDir, std::string* error) {
  return Start(program, args, workDir, -1, -1, error);
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workDir, int stdinFd, int stdoutFd,
                         std::string* error) {
  std::lock_guard lock(m_mutex);
  if (m_pid != 0) {
    if (error != nullptr) *error = "a child of this record still runs";
    return false;
  }
  CloseLocked();
  m_lastExit = ChildExit{};

  // Everything the child needs is made before the fork: it may not allocate.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const char* dir = workDir.empty() ? nullptr : workDir.c_str();

  // The child tells through this pipe why it could not run the program; an
  // exec that succeeds closes the pipe without a word.
  int report[2] = {-1, -1};
  if (pipe2(report, O_CLOEXEC) != 0) {
    if (error != nullptr) *error = std::strerror(errno);
    return false;
  }
  report[0] = AboveStandardStreams(report[0]);
  report[1] = AboveStandardStreams(report[1]);
  if (report[0] < 0 || report[1] < 0) {
    if (error != nullptr) *error = std::strerror(errno);
    if (report[0] >= 0) close(report[0]);
    if (report[1] >= 0) close(report[1]);
    return false;
  }

  // No signal handler may run in the child before it has reset them: block
  // all signals around the fork (the child unblocks them just before exec).
  sigset_t all;
  sigset_t old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) RunChild(program.c_str(), argv.data(), dir, parent, report[1], stdinFd, stdoutFd);
  const int forkError = errno;
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  close(report[1]);
  if (pid < 0) {
    close(report[0]);
    if (error != nullptr) *error = std::strerror(forkError);
    return false;
  }

  ChildFailure failure;
  ssize_t got = 0;
  do {
    got = read(report[0], &failure, sizeof failure);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got > 0) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (error != nullptr) *error = std::strerror(failure.error);
    return false;
  }
  m_pid = pid;
  m_pidFd = OpenPidFd(pid);
  return true;
}

ChildExit ChildProcess::ReapLocked(int options) {
  if (m_pid == 0) return m_lastExit;
  int status = 0;
  pid_t got = 0;
  do {
    got = waitpid(m_pid, &status, options);
  } while (got < 0 && errno == EINTR);
  if (got == m_pid) {
    m_lastExit = FromStatus(status);
    m_pid = 0;
  } else if (got < 0) {
    // Reaped elsewhere (a host that ignores SIGCHLD or waits for every
    // child): the status is lost, and the child is gone.
    m_lastExit = ChildExit{ChildExit::Kind::kSignalled, 0};
    m_pid = 0;
  }
  return m_lastExit;
}

ChildExit ChildProcess::Wait(std::stop_token token) {
  int pidFd = -1;
  {
    std::lock_guard lock(m_mutex);
    if (m_pid == 0) return m_lastExit;
    pidFd = m_pidFd;  // stays open until the next Start or destruction (same thread)
  }

  const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  FdCloser wakeCloser{wakeFd};
  {
    std::stop_callback onStop(token, [wakeFd] {
      if (wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(wakeFd, &one, sizeof(one));
      }
    });
    for (;;) {
      if (token.stop_requested()) return ChildExit{ChildExit::Kind::kStopped, 0};
      {
        std::lock_guard lock(m_mutex);
        if (m_pid == 0) return m_lastExit;  // Terminate reaped it
        const ChildExit exit = ReapLocked(WNOHANG);
        if (m_pid == 0) return exit;
      }
      pollfd fds[2] = {{pidFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
      // Without a pidfd (an old kernel) the child is looked at every 20 ms.
      const int timeoutMs = (pidFd >= 0 && wakeFd >= 0) ? -1 : 20;
      const int n = poll(fds, 2, timeoutMs);
      if (n < 0 && errno != EINTR) {
        // poll itself failed: fall back to a short sleep so that the loop
        // never spins.
        usleep(20000);
      }
    }
  }
}

bool ChildProcess::Terminate() {
  std::lock_guard lock(m_mutex);
  if (m_pid == 0) return true;
  // The pid is ours until it is reaped, and it is reaped only under this lock.
  if (kill(m_pid, SIGKILL) != 0 && errno != ESRCH) return false;
  ReapLocked(0);
  return true;
}

bool ChildProcess::HasChild() const {
  std::lock_guard lock(m_mutex);
  return m_pid != 0;
}

pid_t ChildProcess::Pid() const {
  std::lock_guard lock(m_mutex);
  return m_pid;
}

}  // namespace wavrel
