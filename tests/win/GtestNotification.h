// GoogleTest's one-shot thread signal for MinGW's win32 thread model, which has no std::mutex
// or std::condition_variable to build GoogleTest's own. The Windows test build includes it
// ahead of every source file; GoogleTest only starts its threads with it: a polled flag will do.
#pragma once

#include <atomic>
#include <thread>

namespace testing::internal {

class Notification {
 public:
  void Notify() { notified_ = true; }
  void WaitForNotification() {
    while (!notified_) std::this_thread::yield();
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace testing::internal
