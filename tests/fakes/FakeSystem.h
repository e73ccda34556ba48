// A system on a virtual clock: pauses are recorded instead of slept, the time is set by
// the test, allocations can be refused, threads are kept so that tests can join them,
// and a process exit is recorded instead of taken.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/System.h"
#include "platform/Threads.h"

namespace fakes {

class FakeSystem : public platform::System {
 public:
  ~FakeSystem() override;
  bool GetVersion(platform::VersionInfo* version) override;
  uint32_t DriveType(const std::string& rootPath) override;
  void Pause(uint32_t milliseconds) override;
  platform::UtcTime UtcNow() override { return now; }
  bool AllowAllocation(size_t bytes) override;
  void Trace(const std::string& text) override {
    Locked([&] { trace_ += text; });
  }
  void* AllocatePages(size_t bytes) override;
  void FreePages(void* pages) override {
    Locked([&] { pages_.erase(pages); });
  }
  void SetCurrentThreadPriority(int priority) override {
    Locked([&] { priorities_.push_back(priority); });
  }
  bool StartThread(std::function<void()> body) override;
  void ExitProcess(uint32_t code) override {
    Locked([&] { exits_.push_back(code); });
  }

  /// Waits for every thread started so far (and any they start).
  void JoinThreads();
  /// Starts the threads that holdThreads kept back, in the order they were asked for.
  void ReleaseThreads();

  /// Copies, safe while threads run.
  std::vector<uint32_t> Pauses() const {
    return Locked([&] { return pauses_; });
  }
  std::string TraceText() const {
    return Locked([&] { return trace_; });
  }
  std::vector<int> Priorities() const {
    return Locked([&] { return priorities_; });
  }
  std::vector<uint32_t> Exits() const {
    return Locked([&] { return exits_; });
  }
  std::vector<std::string> DriveQueries() const {
    return Locked([&] { return driveQueries_; });
  }
  int LivePageBlocks() const {
    return Locked([&] { return static_cast<int>(pages_.size()); });
  }

  platform::UtcTime now;
  /// The version record; with versionCallFails the call fails and the record reads zero.
  platform::VersionInfo version{2, 6, 6000};
  bool versionCallFails = false;
  /// Letters of removable drives.
  std::string removableLetters;
  /// The n-th allocation (from 1) is refused; 0: none.
  int refuseAllocationNumber = 0;
  /// Any allocation of more than this many bytes is refused.
  size_t largestAllocation = SIZE_MAX;
  /// Any allocation of exactly this many bytes is refused; 0: none.
  size_t refusedAllocationSize = 0;
  int allocations = 0;
  bool refusePages = false;
  /// The n-th thread start (from 1) is refused; 0: none.
  int refuseThreadNumber = 0;
  int threadStarts = 0;
  /// Thread starts succeed but their bodies wait for ReleaseThreads; bodies never released
  /// are dropped unrun, as a process that ended would drop them.
  bool holdThreads = false;
  /// Called after each pause is recorded, with the pause's length: tests use it to move a
  /// job on as virtual time passes.
  std::function<void(uint32_t)> onPause;

 private:
  template <typename F>
  auto Locked(F f) const -> decltype(f()) {
    std::lock_guard<platform::Lock> guard(lock_);
    return f();
  }

  mutable platform::Lock lock_;
  std::vector<uint32_t> pauses_;
  std::string trace_;
  std::vector<int> priorities_;
  std::vector<uint32_t> exits_;
  std::vector<std::string> driveQueries_;
  std::vector<platform::JoinableThread> threads_;
  std::vector<std::function<void()>> held_;
  std::map<void*, std::unique_ptr<uint8_t[]>> pages_;
};

}  // namespace fakes
