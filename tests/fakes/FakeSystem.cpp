#include "tests/fakes/FakeSystem.h"

#include <memory>
#include <thread>

namespace fakes {

using Guard = std::lock_guard<platform::Lock>;

FakeSystem::~FakeSystem() {
  JoinThreads();
}

bool FakeSystem::GetVersion(platform::VersionInfo* record) {
  *record = versionCallFails ? platform::VersionInfo{0, 0, 0} : version;
  return !versionCallFails;
}

uint32_t FakeSystem::DriveType(const std::string& rootPath) {
  Guard guard(lock_);
  driveQueries_.push_back(rootPath);
  const bool removable = rootPath.size() == 3 && rootPath.substr(1) == ":\\" &&
                         removableLetters.find(rootPath[0]) != std::string::npos;
  return removable ? platform::kDriveRemovable : platform::kDriveNoRootDirectory;
}

void FakeSystem::Pause(uint32_t milliseconds) {
  {
    Guard guard(lock_);
    pauses_.push_back(milliseconds);
  }
  if (onPause) onPause(milliseconds);
  std::this_thread::yield();
}

bool FakeSystem::AllowAllocation(size_t bytes) {
  Guard guard(lock_);
  ++allocations;
  return allocations != refuseAllocationNumber && bytes <= largestAllocation &&
         bytes != refusedAllocationSize;
}

void* FakeSystem::AllocatePages(size_t bytes) {
  Guard guard(lock_);
  if (refusePages) return nullptr;
  // Page-aligned inside a larger block, as VirtualAlloc's memory is.
  auto block = std::make_unique<uint8_t[]>(bytes + 4096);
  const uintptr_t start = (reinterpret_cast<uintptr_t>(block.get()) + 4095) / 4096 * 4096;
  void* pages = reinterpret_cast<void*>(start);
  pages_[pages] = std::move(block);
  return pages;
}

bool FakeSystem::StartThread(std::function<void()> body) {
  Guard guard(lock_);
  if (++threadStarts == refuseThreadNumber) return false;
  if (holdThreads) {
    held_.push_back(std::move(body));
  } else {
    threads_.emplace_back(std::move(body));
  }
  return true;
}

void FakeSystem::ReleaseThreads() {
  Guard guard(lock_);
  holdThreads = false;
  for (std::function<void()>& body : held_) threads_.emplace_back(std::move(body));
  held_.clear();
}

void FakeSystem::JoinThreads() {
  for (;;) {
    std::vector<platform::JoinableThread> running;
    {
      Guard guard(lock_);
      running.swap(threads_);
    }
    if (running.empty()) return;
    for (platform::JoinableThread& thread : running) thread.join();
  }
}

}  // namespace fakes
