// A virtual clock: pauses and exits recorded, refusable allocations and threads kept to join.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include "platform/System.h"
#include "platform/Threads.h"

namespace fakes {

/// A lock, and copies of state taken under it: the fakes are read while jobs run.
class Guarded {
 protected:
  template <typename T>
  T Copy(const T& value) const {
    std::lock_guard<platform::Lock> guard(lock_);
    return value;
  }
  mutable platform::Lock lock_;
};

class FakeSystem : public platform::System, Guarded {
 public:
  ~FakeSystem() override { JoinThreads(); }
  bool GetVersion(platform::VersionInfo* record) override {
    return *record = versionCallFails ? platform::VersionInfo{0, 0, 0} : version, !versionCallFails;
  }
  uint32_t DriveType(const std::string& root) override {
    Add(driveQueries_, {root});
    const bool removable = root.size() == 3 && removableLetters.find(root[0]) != std::string::npos;
    return removable ? platform::kDriveRemovable : platform::kDriveNoRootDirectory;
  }
  void Pause(uint32_t milliseconds) override {
    Add(pauses_, {milliseconds});
    if (onPause) onPause(milliseconds);
    std::this_thread::yield();
  }
  platform::UtcTime UtcNow() override { return now; }
  bool AllowAllocation(size_t bytes) override {
    return Locked([&] {
      return ++allocations != refuseAllocationNumber && bytes <= largestAllocation &&
             bytes != refusedAllocationSize;
    });
  }
  void Trace(const std::string& text) override { Add(trace_, text); }
  void* AllocatePages(size_t bytes) override {
    auto block = std::make_unique<uint8_t[]>(bytes + 4096);
    void* pages =
        reinterpret_cast<void*>((reinterpret_cast<uintptr_t>(block.get()) + 4095) / 4096 * 4096);
    return Locked([&]() -> void* {
      if (refusePages) return nullptr;
      pages_[pages] = std::move(block);
      return pages;
    });
  }
  void FreePages(void* pages) override {
    Locked([&] { return pages_.erase(pages); });
  }
  void SetCurrentThreadPriority(int priority) override { Add(priorities_, {priority}); }
  bool StartThread(std::function<void()> body) override {
    return Locked([&] {
      if (++threadStarts == refuseThreadNumber) return false;
      holdThreads ? held_.push_back(std::move(body)) : void(threads_.emplace_back(std::move(body)));
      return true;
    });
  }
  void ExitProcess(uint32_t code) override { Add(exits_, {code}); }
  void JoinThreads() {
    for (;;) {
      std::vector<platform::JoinableThread> running;
      Locked([&] { running.swap(threads_); });
      if (running.empty()) return;
      for (platform::JoinableThread& thread : running) thread.join();
    }
  }
  void ReleaseThreads() {
    Locked([&] {
      holdThreads = false;
      for (std::function<void()>& body : held_) threads_.emplace_back(std::move(body));
      held_.clear();
    });
  }
  /// Copies, safe while threads run.
  std::vector<uint32_t> Pauses() const { return Copy(pauses_); }
  std::string TraceText() const { return Copy(trace_); }
  std::vector<int> Priorities() const { return Copy(priorities_); }
  std::vector<uint32_t> Exits() const { return Copy(exits_); }
  std::vector<std::string> DriveQueries() const { return Copy(driveQueries_); }
  size_t LivePageBlocks() const {
    return Locked([&] { return pages_.size(); });
  }
  platform::UtcTime now;
  platform::VersionInfo version{2, 6, 6000};
  bool versionCallFails = false;
  std::string removableLetters;
  /// Refused: the n-th allocation (from 1), larger ones, one size, every page block.
  int refuseAllocationNumber = 0, allocations = 0;
  size_t largestAllocation = SIZE_MAX, refusedAllocationSize = 0;
  bool refusePages = false;
  int refuseThreadNumber = 0, threadStarts = 0;  ///< the n-th start (from 1) is refused
  /// Bodies wait for ReleaseThreads; those never released are dropped, as by a process end.
  bool holdThreads = false;
  /// Called after each pause is recorded: tests move a job on with it.
  std::function<void(uint32_t)> onPause;

 private:
  template <typename F>
  auto Locked(F f) const -> decltype(f()) {
    std::lock_guard<platform::Lock> guard(lock_);
    return f();
  }
  template <typename T>
  void Add(T& to, const T& more) {
    Locked([&] { to.insert(to.end(), more.begin(), more.end()); });
  }
  std::vector<uint32_t> pauses_, exits_;
  std::string trace_;
  std::vector<int> priorities_;
  std::vector<std::string> driveQueries_;
  std::vector<platform::JoinableThread> threads_;
  std::vector<std::function<void()>> held_;
  std::map<void*, std::unique_ptr<uint8_t[]>> pages_;
};
}  // namespace fakes
