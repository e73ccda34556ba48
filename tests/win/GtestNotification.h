// GoogleTest's one-shot thread signal, for compilers without std::mutex and
// std::condition_variable (MinGW's win32 thread model), where GoogleTest's own cannot
// build. The Windows test build includes this ahead of every source file and tells
// GoogleTest that the class exists. GoogleTest uses it only to start its own test
// threads, so a polled flag is enough.
#pragma once

#include <atomic>
#include <thread>

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { notified_ = true; }
  void WaitForNotification() {
    while (!notified_) std::this_thread::yield();
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace internal
}  // namespace testing
