#include "testing/child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <thread>

extern "C" char** environ;

namespace wavrel::testing {
namespace {

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

/// Appends what one read of `fd` gives to `to` and returns its size; at the
/// end of the stream (or on an error) closes `fd`.
std::size_t ReadSome(int& fd, std::string& to) {
  char buffer[65536];
  const ssize_t got = ::read(fd, buffer, sizeof buffer);
  if (got < 0 && errno == EINTR) return 0;
  if (got <= 0) {
    CloseFd(fd);
    return 0;
  }
  to.append(buffer, static_cast<std::size_t>(got));
  return static_cast<std::size_t>(got);
}

/// The program's path: as given when it has a '/', else the first
/// executable of that name in PATH (as given when there is none).
std::string Resolve(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/bin:/bin";
  for (std::size_t start = 0; start <= folders.size();) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = end > start ? folders.substr(start, end - start) : ".";
    const std::string candidate = folder + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return program;
}

std::vector<std::string> ChildEnvironment(const ChildOptions& options) {
  std::set<std::string> dropped(options.unsetEnv.begin(), options.unsetEnv.end());
  for (const auto& [name, value] : options.setEnv) dropped.insert(name);
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string var = *e;
    if (dropped.count(var.substr(0, var.find('='))) == 0) env.push_back(var);
  }
  for (const auto& [name, value] : options.setEnv) env.push_back(name + "=" + value);
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (m_pid > 0) {
    Kill();
    ::waitpid(m_pid, nullptr, 0);
  }
  CloseFd(m_in);
  CloseFd(m_out);
  CloseFd(m_err);
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const ChildOptions& options,
                         std::string* error) {
  const auto fail = [&](const std::string& what) {
    if (error != nullptr) *error = what + ": " + std::strerror(errno);
    return false;
  };
  if (m_pid > 0 || argv.empty()) {
    errno = EINVAL;
    return fail("Start");
  }
  // A child that ends before taking all of its input must not end this process.
  ::signal(SIGPIPE, SIG_IGN);

  // Everything the child needs is made before fork: after it, only
  // async-signal-safe calls are allowed (the test may run threads).
  const std::string program = Resolve(argv[0]);
  std::vector<std::string> args = argv;
  std::vector<std::string> env = ChildEnvironment(options);
  std::vector<char*> argp = Pointers(args);
  std::vector<char*> envp = Pointers(env);
  const std::string execFailed = "cannot execute " + program + "\n";
  const rlim_t limit = static_cast<rlim_t>(options.fileSizeLimitBytes);
  const rlimit fileSize{limit, limit};

  int in[2] = {-1, -1};
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  if ((options.input == ChildInput::kPipe && ::pipe2(in, O_CLOEXEC) != 0) ||
      ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    for (int* fd : {&in[0], &in[1], &out[0], &out[1], &err[0], &err[1]}) CloseFd(*fd);
    return fail("pipe");
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    for (int* fd : {&in[0], &in[1], &out[0], &out[1], &err[0], &err[1]}) CloseFd(*fd);
    return fail("fork");
  }
  if (pid == 0) {
    ::dup2(err[1], STDERR_FILENO);
    const auto die = [&](int code, const char* what) {
      if (::write(STDERR_FILENO, what, std::strlen(what)) < 0) ::_exit(code);
      ::_exit(code);
    };
    if (!options.workingFolder.empty() && ::chdir(options.workingFolder.c_str()) != 0) {
      die(126, "cannot enter the working folder\n");
    }
    if (options.closeOutput) {
      ::close(STDOUT_FILENO);
    } else if (!options.outputFile.empty()) {
      const int file = ::open(options.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (file < 0) die(126, "cannot open the output file\n");
      ::dup2(file, STDOUT_FILENO);
      ::close(file);
    } else {
      ::dup2(out[1], STDOUT_FILENO);
    }
    if (options.input == ChildInput::kClosed) {
      ::close(STDIN_FILENO);
    } else if (options.input == ChildInput::kPipe) {
      ::dup2(in[0], STDIN_FILENO);
    } else {
      const int null = ::open("/dev/null", O_RDONLY);
      ::dup2(null, STDIN_FILENO);
      if (null > STDERR_FILENO) ::close(null);
    }
    ::signal(SIGPIPE, SIG_DFL);
    for (const int signal : options.ignoredSignals) ::signal(signal, SIG_IGN);
    if (options.fileSizeLimitBytes != 0) {
      if (options.ignoreFileSizeSignal) ::signal(SIGXFSZ, SIG_IGN);
      ::setrlimit(RLIMIT_FSIZE, &fileSize);
    }
    ::execve(program.c_str(), argp.data(), envp.data());
    if (::write(STDERR_FILENO, execFailed.data(), execFailed.size()) < 0) ::_exit(127);
    ::_exit(127);
  }
  m_pid = pid;
  CloseFd(in[0]);
  CloseFd(out[1]);
  CloseFd(err[1]);
  m_in = in[1];
  m_out = out[0];
  m_err = err[0];
  if (m_in >= 0) ::fcntl(m_in, F_SETFL, ::fcntl(m_in, F_GETFL) | O_NONBLOCK);
  m_pendingInput = options.inputText;
  m_keepInputOpen = options.keepInputOpen;
  m_timeout = options.timeout;
  m_deadline = std::chrono::steady_clock::now() + options.timeout;
  m_result = {};
  m_lineStart.clear();
  return true;
}

bool ChildProcess::WriteInput(const std::string& text) {
  if (m_in < 0) return false;
  m_pendingInput += text;
  while (!m_pendingInput.empty() && m_in >= 0 && Pump(-1, {})) {
  }
  return m_pendingInput.empty() && m_in >= 0;
}

bool ChildProcess::ReadUntil(const std::function<bool(const std::string& out)>& enough) {
  while (!enough(m_result.out)) {
    if (!Pump(-1, {})) return enough(m_result.out);
  }
  return true;
}

bool ChildProcess::Running() const {
  if (m_pid <= 0) return false;
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == 0;
}

void ChildProcess::CloseInput() {
  CloseFd(m_in);
  m_pendingInput.clear();
}

void ChildProcess::Kill() {
  if (m_pid > 0) ::kill(m_pid, SIGKILL);
}

/// One round of reading and writing; false once there is nothing more to
/// do (both outputs ended, no input left to write) or the timeout has passed.
bool ChildProcess::Pump(int timeoutMs, const std::function<void(const std::string& line)>& onLine) {
  if (m_in >= 0 && m_pendingInput.empty() && !m_keepInputOpen) CloseInput();
  if (m_out < 0 && m_err < 0 && (m_in < 0 || m_pendingInput.empty())) return false;
  const auto now = std::chrono::steady_clock::now();
  if (now >= m_deadline) {
    ADD_FAILURE() << "child " << m_pid << " did not end within " << m_timeout.count()
                  << " ms; killed";
    m_result.timedOut = true;
    Kill();
    // Its own children may keep the pipes open: stop reading.
    CloseFd(m_out);
    CloseFd(m_err);
    CloseInput();
    return false;
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - now);
  const int wait =
      timeoutMs < 0 ? static_cast<int>(std::min<long long>(left.count() + 1, 1000)) : timeoutMs;
  pollfd fds[3] = {
      {m_out, POLLIN, 0}, {m_err, POLLIN, 0}, {m_pendingInput.empty() ? -1 : m_in, POLLOUT, 0}};
  if (::poll(fds, 3, wait) < 0 && errno != EINTR) return false;
  if (fds[0].revents != 0) {
    const std::size_t got = ReadSome(m_out, m_result.out);
    m_lineStart.append(m_result.out, m_result.out.size() - got, got);
    for (std::size_t nl; (nl = m_lineStart.find('\n')) != std::string::npos;) {
      const std::string line = m_lineStart.substr(0, nl);
      m_lineStart.erase(0, nl + 1);
      if (onLine) onLine(line);
    }
  }
  if (fds[1].revents != 0) ReadSome(m_err, m_result.err);
  if (fds[2].revents != 0) {
    const ssize_t wrote = ::write(m_in, m_pendingInput.data(), m_pendingInput.size());
    if (wrote > 0) {
      m_pendingInput.erase(0, static_cast<std::size_t>(wrote));
    } else if (wrote < 0 && errno != EAGAIN && errno != EINTR) {
      CloseInput();  // the child closed its input
    }
  }
  return true;
}

ChildResult ChildProcess::Wait(const std::function<void(const std::string& line)>& onLine) {
  if (m_pid <= 0) return m_result;
  m_keepInputOpen = false;
  while (Pump(-1, onLine)) {
  }
  // Whatever is left unwritten is dropped: both outputs have ended.
  CloseInput();
  int status = 0;
  struct rusage usage {};
  while (::wait4(m_pid, &status, WNOHANG, &usage) == 0) {
    if (std::chrono::steady_clock::now() >= m_deadline && !m_result.timedOut) {
      ADD_FAILURE() << "child " << m_pid << " did not end within " << m_timeout.count()
                    << " ms; killed";
      m_result.timedOut = true;
      Kill();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  m_pid = -1;
  if (WIFEXITED(status)) {
    m_result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    m_result.signal = WTERMSIG(status);
  }
  m_result.maxRssKb = usage.ru_maxrss;
  return m_result;
}

ChildResult RunChild(const std::vector<std::string>& argv, const ChildOptions& options) {
  ChildProcess child;
  std::string error;
  if (!child.Start(argv, options, &error)) {
    ChildResult result;
    result.err = error;
    return result;
  }
  return child.Wait();
}

}  // namespace wavrel::testing
