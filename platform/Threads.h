// Locks and waitable threads that build on every system the program runs on. The
// Windows programs use the run-time's threads and critical sections directly, so that
// they need no thread library that Windows 95 and NT 4.0 lack.
#pragma once

#include <functional>
#include <memory>

namespace platform {

/// A lock that the thread holding it may take again (a critical section on Windows).
/// lock() and unlock() make it usable with std::lock_guard and std::unique_lock.
class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void lock();
  void unlock();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

/// A thread that its starter waits for. The program's own threads are never joined (they
/// start through System::StartThread); this one serves the tests, which must wait for
/// the threads they start. It mirrors std::thread's join() and joinable().
class JoinableThread {
 public:
  JoinableThread();
  /// Starts `body` at once; throws std::runtime_error when no thread can be started.
  explicit JoinableThread(std::function<void()> body);
  /// Waits for the thread if it was never joined.
  ~JoinableThread();
  JoinableThread(JoinableThread&& other) noexcept;
  JoinableThread& operator=(JoinableThread&& other) noexcept;

  bool joinable() const { return state_ != nullptr; }
  /// Waits until the thread's body has returned.
  void join();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
