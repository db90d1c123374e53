// A thread bound to a method of its owner, with a bounded, polite stop.
//
// There is no safe way to end a thread forcibly on POSIX, so Kill is
// cooperative: it requests a stop through the thread's stop token and joins
// the thread. Every blocking point of a bound method therefore watches
// StopToken() and returns promptly once a stop is requested.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <thread>

namespace wavrel {

/// The thread base: Start runs Thread() on a new thread and returns once the
/// body has called ThreadStarted(); IsRunning is true from then until the
/// body returns or Kill ends it.
class JThread {
 public:
  /// Start's results.
  static constexpr int kOk = 0;
  static constexpr int kErrAlreadyRunning = -1;
  static constexpr int kErrCannotCreate = -2;

  JThread() = default;
  JThread(const JThread&) = delete;
  JThread& operator=(const JThread&) = delete;
  /// Ends a thread that still runs, as Kill does.
  virtual ~JThread();

  /// Starts a new thread running Thread(); kOk once it runs, or a negative
  /// code (kErrAlreadyRunning while the previous run has not ended).
  int Start();
  /// Safe from any thread.
  bool IsRunning() const;
  /// Requests a stop and waits for the thread to end; IsRunning is false
  /// afterwards. Nothing when the thread does not run. Must not be called
  /// from the thread itself.
  void Kill();
  /// Requests a stop of the current run without waiting for it (the thread
  /// ends at its next blocking point); nothing when the thread does not run.
  void RequestStop();
  /// Waits up to timeout for the thread to end by itself; true when it does
  /// not run (any more).
  bool WaitForEnd(std::chrono::milliseconds timeout) const;
  /// True once a stop was requested for the current run.
  bool StopRequested() const;
  /// The current run's stop token (for waits that must end on a stop).
  std::stop_token StopToken() const;

 protected:
  /// The thread body; calls ThreadStarted() first.
  virtual void* Thread() = 0;
  void ThreadStarted();

 private:
  void Body(std::stop_token token);
  void JoinFinished();

  mutable std::mutex m_mutex;
  mutable std::condition_variable m_cv;
  std::jthread m_thread;
  std::stop_source m_stopSource{std::nostopstate};
  bool m_running = false;
  bool m_started = false;
};

/// A JThread that runs `(object->*method)()`.
template <class Owner>
class JThreadT : public JThread {
 public:
  using Method = void (Owner::*)();

  /// Ends the thread, waiting up to 5 seconds first.
  ~JThreadT() override { Stop(5); }

  /// Binds object and method unless a run is still going on, then starts.
  int Start(Owner* object, Method method) {
    if (!IsRunning()) {
      m_object = object;
      m_method = method;
    }
    return JThread::Start();
  }

  /// Waits up to timeoutSeconds for the thread to end by itself, then Kills it.
  void Stop(std::uint32_t timeoutSeconds) {
    if (!WaitForEnd(std::chrono::seconds(timeoutSeconds))) Kill();
  }

 protected:
  void* Thread() override {
    ThreadStarted();
    if (m_object != nullptr && m_method != nullptr) (m_object->*m_method)();
    return nullptr;
  }

 private:
  Owner* m_object = nullptr;
  Method m_method = nullptr;
};

}  // namespace wavrel
