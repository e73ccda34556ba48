#include "tests/fakes/FakeSystem.h"

#include <memory>
#include <thread>

namespace fakes {

FakeSystem::~FakeSystem() {
  JoinThreads();
}

bool FakeSystem::GetVersion(platform::VersionInfo* record) {
  *record = versionCallFails ? platform::VersionInfo{0, 0, 0} : version;
  return !versionCallFails;
}

uint32_t FakeSystem::DriveType(const std::string& rootPath) {
  std::lock_guard<platform::Lock> guard(lock_);
  driveQueries_.push_back(rootPath);
  const bool removable = rootPath.size() == 3 && rootPath.substr(1) == ":\\" &&
                         removableLetters.find(rootPath[0]) != std::string::npos;
  return removable ? platform::kDriveRemovable : platform::kDriveNoRootDirectory;
}

std::vector<std::string> FakeSystem::DriveQueries() const {
  std::lock_guard<platform::Lock> guard(lock_);
  return driveQueries_;
}

void FakeSystem::Pause(uint32_t milliseconds) {
  {
    std::lock_guard<platform::Lock> guard(lock_);
    pauses_.push_back(milliseconds);
    clock_ += milliseconds;
  }
  if (onPause) onPause(milliseconds);
  std::this_thread::yield();
}

bool FakeSystem::AllowAllocation(size_t bytes) {
  std::lock_guard<platform::Lock> guard(lock_);
  ++allocations;
  return allocations != refuseAllocationNumber && bytes <= largestAllocation &&
         bytes != refusedAllocationSize;
}

void FakeSystem::Trace(const std::string& text) {
  std::lock_guard<platform::Lock> guard(lock_);
  trace_ += text;
}

void* FakeSystem::AllocatePages(size_t bytes) {
  std::lock_guard<platform::Lock> guard(lock_);
  if (refusePages) return nullptr;
  // Page-aligned inside a larger block, as VirtualAlloc's memory is.
  auto block = std::make_unique<uint8_t[]>(bytes + 4096);
  const uintptr_t start = (reinterpret_cast<uintptr_t>(block.get()) + 4095) / 4096 * 4096;
  void* pages = reinterpret_cast<void*>(start);
  pages_[pages] = std::move(block);
  return pages;
}

void FakeSystem::FreePages(void* pages) {
  if (pages == nullptr) return;
  std::lock_guard<platform::Lock> guard(lock_);
  pages_.erase(pages);
}

void FakeSystem::SetCurrentThreadPriority(int priority) {
  std::lock_guard<platform::Lock> guard(lock_);
  priorities_.push_back(priority);
}

bool FakeSystem::StartThread(std::function<void()> body) {
  std::lock_guard<platform::Lock> guard(lock_);
  if (refuseThreads || ++threadStarts == refuseThreadNumber) return false;
  if (holdThreads) {
    held_.push_back(std::move(body));
  } else {
    threads_.emplace_back(std::move(body));
  }
  return true;
}

void FakeSystem::ReleaseThreads() {
  std::lock_guard<platform::Lock> guard(lock_);
  holdThreads = false;
  for (std::function<void()>& body : held_) threads_.emplace_back(std::move(body));
  held_.clear();
}

void FakeSystem::ExitProcess(uint32_t code) {
  std::lock_guard<platform::Lock> guard(lock_);
  exits_.push_back(code);
}

void FakeSystem::JoinThreads() {
  for (;;) {
    std::vector<platform::JoinableThread> running;
    {
      std::lock_guard<platform::Lock> guard(lock_);
      running.swap(threads_);
    }
    if (running.empty()) return;
    for (platform::JoinableThread& thread : running) thread.join();
  }
}

std::vector<uint32_t> FakeSystem::Pauses() const {
  std::lock_guard<platform::Lock> guard(lock_);
  return pauses_;
}

uint64_t FakeSystem::VirtualMilliseconds() const {
  std::lock_guard<platform::Lock> guard(lock_);
  return clock_;
}

std::string FakeSystem::TraceText() const {
  std::lock_guard<platform::Lock> guard(lock_);
  return trace_;
}

std::vector<int> FakeSystem::Priorities() const {
  std::lock_guard<platform::Lock> guard(lock_);
  return priorities_;
}

std::vector<uint32_t> FakeSystem::Exits() const {
  std::lock_guard<platform::Lock> guard(lock_);
  return exits_;
}

int FakeSystem::LivePageBlocks() const {
  std::lock_guard<platform::Lock> guard(lock_);
  return static_cast<int>(pages_.size());
}

}  // namespace fakes
