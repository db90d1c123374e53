// A thread bound to a method of its owner, with a bounded, polite stop.
//
// There is no safe way to end a thread forcibly on POSIX, so Kill is
// cooperative: it requests a stop through the thread's stop token and joins
// the thread. Every blocking point of a bound method therefore watches
// StopToken() and returns promptly once a stop is requested.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <ctime>
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
  std::condition_variable m_cv;
  std::jthread m_thread;
  std::stop_source m_stopSource{std::nostopstate};
  bool m_running = false;
  bool m_started = false;
};

/// A JThread that runs `(object->*method)()`.
template <class Owner, class Result = void, class Argument = void>
class JThreadT : public JThread {
 public:
  using Method = Result (Owner::*)();

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

  /// Waits up to timeoutSeconds (whole seconds of the wall clock, as time()
  /// counts them) for the thread to end by itself, then Kills it.
  void Stop(std::uint32_t timeoutSeconds) {
    if (!IsRunning()) return;
    const std::time_t begin = std::time(nullptr);
    while (IsRunning()) {
      const auto elapsed = static_cast<std::uint32_t>(std::time(nullptr) - begin);
      if (elapsed >= timeoutSeconds) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (IsRunning()) Kill();
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
