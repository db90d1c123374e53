// An auto-reset event: Set wakes one waiter (or the next one to come), and
// the wait consumes the signal. A wait also ends when its stop token is
// asked to stop, so a thread blocked on the event can always be stopped.
#pragma once

#include <condition_variable>
#include <mutex>
#include <stop_token>

namespace wavrel {

class AutoResetEvent {
 public:
  /// Signals the event; it stays signalled until a wait consumes it.
  void Set() {
    {
      std::lock_guard lock(m_mutex);
      m_signalled = true;
    }
    m_cv.notify_one();
  }

  /// Clears the signal.
  void Reset() {
    std::lock_guard lock(m_mutex);
    m_signalled = false;
  }

  /// Blocks until the event is signalled (true; the signal is consumed) or a
  /// stop is requested on token (false).
  bool Wait(std::stop_token token) {
    std::unique_lock lock(m_mutex);
    if (!m_cv.wait(lock, token, [this] { return m_signalled; })) return false;
    m_signalled = false;
    return true;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable_any m_cv;
  bool m_signalled = false;
};

}  // namespace wavrel
