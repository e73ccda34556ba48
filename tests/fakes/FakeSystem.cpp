#include "tests/fakes/FakeSystem.h"

namespace fakes {

void FakeSystem::Pause(uint32_t milliseconds) {
  std::lock_guard<std::mutex> guard(lock_);
  pauses_.push_back(milliseconds);
  clock_ += milliseconds;
}

bool FakeSystem::AllowAllocation(size_t bytes) {
  std::lock_guard<std::mutex> guard(lock_);
  ++allocations;
  return allocations != refuseAllocationNumber && bytes <= largestAllocation;
}

void FakeSystem::Trace(const std::string& text) {
  std::lock_guard<std::mutex> guard(lock_);
  trace_ += text;
}

std::vector<uint32_t> FakeSystem::Pauses() const {
  std::lock_guard<std::mutex> guard(lock_);
  return pauses_;
}

uint64_t FakeSystem::VirtualMilliseconds() const {
  std::lock_guard<std::mutex> guard(lock_);
  return clock_;
}

std::string FakeSystem::TraceText() const {
  std::lock_guard<std::mutex> guard(lock_);
  return trace_;
}

}  // namespace fakes
