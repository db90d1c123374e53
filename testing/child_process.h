// The one way tests run a program: arguments, environment changes, working
// folder, standard input, a timeout; standard output and error are captured
// together without deadlock. A child that outlives its timeout is killed and
// the running test fails.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace wavrel::testing {

enum class ChildInput {
  kDevNull,  ///< /dev/null
  kClosed,   ///< descriptor 0 closed
  kPipe,     ///< a pipe fed with ChildOptions::inputText, then WriteInput
};

struct ChildOptions {
  std::map<std::string, std::string> setEnv;  ///< added or replaced
  std::vector<std::string> unsetEnv;          ///< names removed
  std::string workingFolder;                  ///< empty: the test's own
  ChildInput input = ChildInput::kDevNull;
  std::string inputText;                 ///< with kPipe: written first
  bool keepInputOpen = false;            ///< with kPipe: open after inputText, until Wait
  std::string outputFile;                ///< standard output goes to this file instead
  bool closeOutput = false;              ///< descriptor 1 closed (nothing captured)
  std::uint64_t fileSizeLimitBytes = 0;  ///< RLIMIT_FSIZE when not 0
  bool ignoreFileSizeSignal = false;     ///< SIGXFSZ ignored: a write past the limit fails
  std::vector<int> ignoredSignals;       ///< ignored from the start, as nohup does for SIGHUP
  std::chrono::milliseconds timeout{std::chrono::seconds(60)};
};

struct ChildResult {
  int exitCode = -1;  ///< -1 when ended by a signal or never started
  int signal = 0;     ///< the signal that ended it, else 0
  bool timedOut = false;
  std::string out;
  std::string err;
  long maxRssKb = 0;  ///< peak resident memory of the child
  /// The exit code, or 128 + signal as a shell reports it.
  int Status() const { return signal != 0 ? 128 + signal : exitCode; }
};

/// One child process; its destructor kills and reaps a child still running.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  /// argv[0] is the program (searched in PATH when it has no '/'). False,
  /// with `error`, when no child could be started; a program that cannot be
  /// executed ends with 127 and says why on its standard error.
  bool Start(const std::vector<std::string>& argv, const ChildOptions& options = {},
             std::string* error = nullptr);
  pid_t Pid() const { return m_pid; }

  /// With kPipe and keepInputOpen: writes to the child's standard input.
  bool WriteInput(const std::string& text);
  /// Reads output until `enough(out)` holds or the output ends (or the
  /// timeout); what was read stays in the result of Wait.
  bool ReadUntil(const std::function<bool(const std::string& out)>& enough);
  /// True while the child has not ended (it is not reaped).
  bool Running() const;
  /// Reads both streams to their end, closes the input, reaps the child.
  /// onLine sees each complete line of standard output as it comes.
  ChildResult Wait(const std::function<void(const std::string& line)>& onLine = {});

 private:
  bool Pump(int timeoutMs, const std::function<void(const std::string& line)>& onLine);
  void CloseInput();
  void Kill();

  pid_t m_pid = -1;
  int m_in = -1;
  int m_out = -1;
  int m_err = -1;
  std::string m_pendingInput;
  bool m_keepInputOpen = false;
  std::string m_lineStart;  ///< stdout since the last newline, for onLine
  std::chrono::steady_clock::time_point m_deadline;
  std::chrono::milliseconds m_timeout{0};
  ChildResult m_result;
};

/// Start and Wait in one; a child that cannot start gives exitCode -1 and
/// the reason in err.
ChildResult RunChild(const std::vector<std::string>& argv, const ChildOptions& options = {});

}  // namespace wavrel::testing
