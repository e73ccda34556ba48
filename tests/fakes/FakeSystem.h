// A system on a virtual clock: pauses are recorded instead of slept, the time is set by
// the test, allocations can be refused and the trace is kept.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/System.h"

namespace fakes {

class FakeSystem : public platform::System {
 public:
  void Pause(uint32_t milliseconds) override;
  platform::UtcTime UtcNow() override { return now; }
  bool AllowAllocation(size_t bytes) override;
  void Trace(const std::string& text) override;

  std::vector<uint32_t> Pauses() const;
  uint64_t VirtualMilliseconds() const;
  std::string TraceText() const;

  platform::UtcTime now;
  /// The n-th allocation (from 1) is refused; 0: none.
  int refuseAllocationNumber = 0;
  /// Any allocation of more than this many bytes is refused.
  size_t largestAllocation = SIZE_MAX;
  int allocations = 0;

 private:
  mutable std::mutex lock_;
  std::vector<uint32_t> pauses_;
  uint64_t clock_ = 0;
  std::string trace_;
};

}  // namespace fakes
