// The worker of `wavrel convert`: one process per job that stays alive for
// the whole run and does, recording after recording, what vocrate, evrc_2004
// and qcelp_13k would do if each were started for it, so that no program
// starts per recording.
//
// The protocol, over a socket pair on the worker's standard input and
// output:
//   worker -> client, once at start:  "wavrel-worker VERSION\n"
//   client -> worker, per program:    "N\n" then N bytes: the program's name
//                                     (vocrate, evrc_2004, qcelp_13k), its
//                                     working folder and its arguments, each
//                                     ended by a NUL byte
//   worker -> client, when it is done: "STATUS\n", the exit status (0-255)
//                                     that the program would have ended with
// The worker ends at the end of its input; the client ends it with SIGKILL
// (a stop, a hang) and the kernel does when the thread that started it ends.
#pragma once

#include <stop_token>
#include <string>
#include <vector>

#include "platform/process.h"

namespace wavrel {

/// The greeting line of a worker of this build, without its newline.
std::string WorkerGreeting();

/// One request in the protocol's bytes; the fields must not hold a NUL.
std::string EncodeWorkerRequest(const std::vector<std::string>& fields);
/// The fields of a request's N bytes; false when they do not end in a NUL.
bool DecodeWorkerRequest(const std::string& bytes, std::vector<std::string>* fields);
/// The largest request a worker takes.
inline constexpr std::size_t kMaxWorkerRequestBytes = 1 << 20;

/// True when the program at path carries this build's mark
/// (WAVREL_PROGRAM_MARK): an executable regular file of vocrate, evrc_2004
/// or qcelp_13k as built with this worker. Looked up again whenever the file
/// changes (its device, inode, size or time). Thread-safe.
bool IsProgramOfThisBuild(const std::string& path);

/// The client's side of one worker. Start, Send and Await belong to one
/// thread (a job's); Terminate may come from any thread.
class WorkerProcess {
 public:
  ~WorkerProcess();

  /// True while a started worker has not ended.
  bool Running() const;
  /// Starts the worker at path and waits for its greeting (at most a few
  /// seconds); false with *error when it cannot start or is of another build.
  bool Start(const std::string& path, std::string* error);
  /// Hands the worker one request; false with *error when it cannot be sent
  /// (the worker has ended: it is reaped).
  bool Send(const std::vector<std::string>& fields, std::string* error);
  /// Until the worker answers the request sent (kExited with the program's
  /// status), ends without answering (how it ended: it is gone, and kExited
  /// 0 becomes kSignalled 0, "an unknown status"), a stop is requested on
  /// token (kStopped: the worker still works, for Terminate) or limitSeconds
  /// pass (a hang: the worker is ended, kTimedOut).
  ChildExit Await(std::stop_token token, int limitSeconds);
  /// Ends the worker with SIGKILL and reaps it; true when none is left.
  bool Terminate();

 private:
  /// The worker's end, when its socket says it has gone.
  ChildExit Ended();
  void CloseSocket();

  ChildProcess m_child;
  int m_socket = -1;     // the client's end of the socket pair
  std::string m_buffer;  // bytes read past the last line
};

}  // namespace wavrel
