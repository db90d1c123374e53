#include "base/jthread.h"

#include <exception>
#include <new>
#include <system_error>
#include <utility>

namespace wavrel {

namespace {

// The JThread whose body runs on this thread, so that Kill and the destructor
// can tell a call from the thread itself (which must not join itself).
thread_local const JThread* tls_current = nullptr;

}  // namespace

JThread::~JThread() {
  if (tls_current == this) {
    // Destroyed from its own body: nobody can wait for the thread here, so
    // ask it to stop and let it finish on its own.
    std::lock_guard lock(m_mutex);
    m_stopSource.request_stop();
    if (m_thread.joinable()) m_thread.detach();
    return;
  }
  Kill();
}

int JThread::Start() {
  std::unique_lock lock(m_mutex);
  if (m_running) return kErrAlreadyRunning;
  JoinFinished();

  m_running = true;
  m_started = false;
  try {
    m_thread = std::jthread([this](std::stop_token token) { Body(std::move(token)); });
  } catch (...) {
    // std::system_error when the system cannot make the thread; anything else
    // (memory) counts the same.
    m_running = false;
    m_stopSource = std::stop_source(std::nostopstate);
    return kErrCannotCreate;
  }
  m_stopSource = m_thread.get_stop_source();
  // The body cannot get past ThreadStarted (or its end) before this wait
  // releases the lock, so m_stopSource is set by the time it can be read.
  m_cv.wait(lock, [this] { return m_started; });
  return kOk;
}

bool JThread::IsRunning() const {
  std::lock_guard lock(m_mutex);
  return m_running;
}

void JThread::Kill() {
  std::unique_lock lock(m_mutex);
  if (tls_current == this) {
    // Called from the thread itself: joining would wait for ourselves.
    if (m_running) m_stopSource.request_stop();
    return;
  }
  if (!m_thread.joinable()) {
    // Another Kill is already joining this run: wait until it has ended.
    m_cv.wait(lock, [this] { return !m_running; });
    return;
  }
  if (m_running) m_stopSource.request_stop();
  std::jthread thread = std::move(m_thread);
  lock.unlock();
  thread.join();
}

void JThread::RequestStop() {
  std::lock_guard lock(m_mutex);
  if (m_running) m_stopSource.request_stop();
}

bool JThread::WaitForEnd(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(m_mutex);
  return m_cv.wait_for(lock, timeout, [this] { return !m_running; });
}

bool JThread::StopRequested() const {
  std::lock_guard lock(m_mutex);
  return m_stopSource.stop_requested();
}

std::stop_token JThread::StopToken() const {
  std::lock_guard lock(m_mutex);
  return m_stopSource.get_token();
}

void JThread::ThreadStarted() {
  std::lock_guard lock(m_mutex);
  m_started = true;
  m_cv.notify_all();
}

void JThread::Body(std::stop_token /*token*/) {
  tls_current = this;
  try {
    Thread();
  } catch (...) {
    // An exception must not end the process from a worker thread.
  }
  tls_current = nullptr;
  // The last use of the object by this thread: after this, Start or Kill may
  // join the thread and the owner may destroy the object.
  std::lock_guard lock(m_mutex);
  m_running = false;
  m_started = true;  // lets Start return even when the body never said so
  m_cv.notify_all();
}

void JThread::JoinFinished() {
  // Called with m_mutex held and m_running false: the previous body has left
  // its last locked section, so the join does not wait on this lock.
  if (m_thread.joinable()) m_thread.join();
}

}  // namespace wavrel
