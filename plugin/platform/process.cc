#include "plugin/platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
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

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workDir, std::string* error) {
  std::lock_guard lock(m_mutex);
  if (m_pid != 0) {
    if (error != nullptr) *error = "a child of this record still runs";
    return false;
  }
  CloseLocked();
  m_lastExit = ChildExit{};

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());

  // The child starts with default signal handling and an empty signal mask,
  // whatever the host did to its own threads.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t noSignals;
  sigemptyset(&noSignals);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  posix_spawnattr_setsigmask(&attr, &noSignals);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    if (error != nullptr) *error = std::strerror(rc);
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
