// GoogleTest's thread signal as a polled flag: MinGW's win32 threads lack std::mutex and
// std::condition_variable. Included ahead of every Windows test source.
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
