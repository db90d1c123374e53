#include "platform/worker_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "wavrel_version.h"

namespace wavrel {
namespace {

/// How long a worker may take to greet: it loads libavcodec, nothing more.
constexpr int kGreetingTimeoutMs = 10000;
/// Longest line of the protocol (a status, a length, the greeting).
constexpr std::size_t kMaxLineBytes = 256;

enum class LineResult { kLine, kEnded, kStopped, kTimedOut };

/// Reads one line from fd into *line (without its newline), keeping what
/// follows it in *buffer. Blocks until the line, the end of the stream, a
/// stop on token, or timeoutMs (-1: none).
LineResult ReadLine(int fd, std::string* buffer, std::stop_token token, int timeoutMs,
                    std::string* line) {
  const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  LineResult result = LineResult::kEnded;
  {
    // The callback ends (and waits for one running on another thread) before
    // wakeFd is closed.
    std::stop_callback onStop(token, [wakeFd] {
      const std::uint64_t one = 1;
      if (wakeFd >= 0) [[maybe_unused]]
        const ssize_t n = write(wakeFd, &one, sizeof one);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const std::size_t newline = buffer->find('\n');
      if (newline != std::string::npos) {
        line->assign(*buffer, 0, newline);
        buffer->erase(0, newline + 1);
        result = LineResult::kLine;
        break;
      }
      if (buffer->size() > kMaxLineBytes) break;  // not the protocol: taken as an end
      if (token.stop_requested()) {
        result = LineResult::kStopped;
        break;
      }
      int waitMs = -1;
      if (timeoutMs >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
          result = LineResult::kTimedOut;
          break;
        }
        waitMs = static_cast<int>(left.count());
      }
      if (wakeFd < 0 && (waitMs < 0 || waitMs > 20)) waitMs = 20;  // no eventfd: look often
      pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
      const int n = poll(fds, wakeFd >= 0 ? 2 : 1, waitMs);
      if (n < 0 && errno != EINTR) usleep(20000);
      if (n <= 0 || (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      char chunk[512];
      const ssize_t got = read(fd, chunk, sizeof chunk);
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (got <= 0) break;  // the worker has gone
      buffer->append(chunk, static_cast<std::size_t>(got));
    }
  }
  if (wakeFd >= 0) close(wakeFd);
  return result;
}

bool SendAll(int fd, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    // MSG_NOSIGNAL: a worker that has died is an error here, not a SIGPIPE.
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

/// Moves fd above the standard descriptors, close-on-exec.
int AboveStandardStreams(int fd) {
  if (fd < 0 || fd > 2) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

bool ContainsMark(int fd) {
  static constexpr char kMark[] = WAVREL_PROGRAM_MARK;
  constexpr std::size_t kMarkBytes = sizeof kMark - 1;
  std::string window;
  char chunk[64 * 1024];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    window.append(chunk, static_cast<std::size_t>(got));
    if (window.find(kMark, 0, kMarkBytes) != std::string::npos) return true;
    window.erase(0, window.size() > kMarkBytes ? window.size() - kMarkBytes : 0);
  }
}

}  // namespace

std::string WorkerGreeting() { return "wavrel-worker " WAVREL_VERSION; }

std::string EncodeWorkerRequest(const std::vector<std::string>& fields) {
  std::string body;
  for (const std::string& field : fields) {
    body += field;
    body += '\0';
  }
  return std::to_string(body.size()) + "\n" + body;
}

bool DecodeWorkerRequest(const std::string& bytes, std::vector<std::string>* fields) {
  fields->clear();
  if (!bytes.empty() && bytes.back() != '\0') return false;
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t end = bytes.find('\0', start);
    fields->push_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  return true;
}

bool IsProgramOfThisBuild(const std::string& path) {
  struct Identity {
    dev_t device;
    ino_t inode;
    off_t size;
    std::int64_t nanoseconds;
    bool marked;
  };
  static std::mutex mutex;
  static std::map<std::string, Identity> known;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || access(path.c_str(), X_OK) != 0) {
    return false;
  }
  const std::int64_t nanoseconds =
      static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  std::lock_guard lock(mutex);
  const auto found = known.find(path);
  if (found != known.end() && found->second.device == st.st_dev &&
      found->second.inode == st.st_ino && found->second.size == st.st_size &&
      found->second.nanoseconds == nanoseconds) {
    return found->second.marked;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const bool marked = fd >= 0 && ContainsMark(fd);
  if (fd >= 0) close(fd);
  known[path] = {st.st_dev, st.st_ino, st.st_size, nanoseconds, marked};
  return marked;
}

WorkerProcess::~WorkerProcess() {
  Terminate();
  CloseSocket();
}

void WorkerProcess::CloseSocket() {
  if (m_socket >= 0) close(m_socket);
  m_socket = -1;
  m_buffer.clear();
}

bool WorkerProcess::Running() const { return m_child.HasChild(); }

bool WorkerProcess::Start(const std::string& path, std::string* error) {
  Terminate();
  CloseSocket();
  int pair[2] = {-1, -1};
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    *error = std::strerror(errno);
    return false;
  }
  pair[0] = AboveStandardStreams(pair[0]);
  pair[1] = AboveStandardStreams(pair[1]);
  if (pair[0] < 0 || pair[1] < 0) {
    *error = std::strerror(errno);
    if (pair[0] >= 0) close(pair[0]);
    if (pair[1] >= 0) close(pair[1]);
    return false;
  }
  // The worker's end is its standard input and output; the folder is / so
  // that it holds no folder of the user's busy.
  const bool started = m_child.Start(path, {}, "/", pair[1], pair[1], error);
  close(pair[1]);
  if (!started) {
    close(pair[0]);
    return false;
  }
  m_socket = pair[0];
  std::string greeting;
  const LineResult got = ReadLine(m_socket, &m_buffer, {}, kGreetingTimeoutMs, &greeting);
  if (got == LineResult::kLine && greeting == WorkerGreeting()) return true;
  *error = got == LineResult::kTimedOut ? "the worker did not start in time"
           : got == LineResult::kLine   ? "the worker is of another build (" + greeting + ")"
                                        : "the worker ended as it started";
  Terminate();
  CloseSocket();
  return false;
}

bool WorkerProcess::Send(const std::vector<std::string>& fields, std::string* error) {
  const std::string request = EncodeWorkerRequest(fields);
  if (m_socket >= 0 && Running() && request.size() <= kMaxWorkerRequestBytes &&
      SendAll(m_socket, request)) {
    return true;
  }
  *error = request.size() > kMaxWorkerRequestBytes ? "the paths are too long for the worker"
                                                   : "the worker has ended";
  Terminate();
  CloseSocket();
  return false;
}

ChildExit WorkerProcess::Await(std::stop_token token, int limitSeconds) {
  if (m_socket < 0) return {};
  std::string line;
  const LineResult got = ReadLine(m_socket, &m_buffer, token, limitSeconds * 1000, &line);
  if (got == LineResult::kStopped) return {ChildExit::Kind::kStopped, 0};
  if (got == LineResult::kTimedOut) {
    Ended();
    return {ChildExit::Kind::kTimedOut, limitSeconds};
  }
  char* end = nullptr;
  const long status = got == LineResult::kLine ? std::strtol(line.c_str(), &end, 10) : -1;
  if (got == LineResult::kLine && end != line.c_str() && *end == '\0' && status >= 0 &&
      status <= 255) {
    return {ChildExit::Kind::kExited, static_cast<int>(status)};
  }
  return Ended();
}

ChildExit WorkerProcess::Ended() {
  // Its socket has closed (or it spoke out of turn): it is gone, or is made to be.
  CloseSocket();
  m_child.Terminate();
  ChildExit exit = m_child.Wait({});
  if (exit.kind == ChildExit::Kind::kExited && exit.code == 0)
    exit = {ChildExit::Kind::kSignalled, 0};
  if (exit.kind == ChildExit::Kind::kNone) exit = {ChildExit::Kind::kSignalled, 0};
  return exit;
}

bool WorkerProcess::Terminate() { return m_child.Terminate(); }

}  // namespace wavrel
