// The machine services that the core needs: pauses, the clock, memory that may be
// refused, and the trace lines that image building prints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <string>

namespace platform {

/// A moment in UTC, with the fields of the Windows SYSTEMTIME.
struct UtcTime {
  int year = 1980;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

/// The version record of GetVersionExA that the installer reads.
struct VersionInfo {
  uint32_t platformId = 0;  ///< 0 Win32s, 1 Windows 95/98/Me, 2 NT family
  uint32_t major = 0;
  uint32_t build = 0;  ///< dwBuildNumber as reported; 9x keeps the version in its high word
};
constexpr uint32_t kDriveNoRootDirectory = 1;
constexpr uint32_t kDriveRemovable = 2;

class System {
 public:
  virtual ~System() = default;
  /// GetVersionExA with the extended record; false when the call failed, the record then
  /// reads all zeros.
  virtual bool GetVersion(VersionInfo* version) = 0;
  /// GetDriveTypeA of a root path such as "E:\".
  virtual uint32_t DriveType(const std::string& rootPath) = 0;
  /// Blocks the calling thread for `milliseconds`.
  virtual void Pause(uint32_t milliseconds) = 0;
  /// The current time in UTC. A fixed SOURCE_DATE_EPOCH in the environment replaces the
  /// system clock, so that images built twice are identical.
  virtual UtcTime UtcNow() = 0;
  /// False when a heap block of `bytes` must be refused; the real back ends leave the
  /// decision to the allocator itself and answer true.
  virtual bool AllowAllocation(size_t bytes) = 0;
  /// Writes a trace line (already formatted) to the standard output.
  virtual void Trace(const std::string& text) = 0;

  /// Committed, page-aligned read-write memory (VirtualAlloc); null when refused.
  virtual void* AllocatePages(size_t bytes) = 0;
  virtual void FreePages(void* pages) = 0;
  /// SetThreadPriority on the calling thread, with the Windows priority values.
  virtual void SetCurrentThreadPriority(int priority) = 0;
  /// Starts `body` on a new thread that is never joined; false when no thread could start.
  [[nodiscard]] virtual bool StartThread(std::function<void()> body) = 0;
  /// Ends the process with `code`. The real back ends never return; a fake records the
  /// call and returns, so callers return at once after calling it.
  virtual void ExitProcess(uint32_t code) = 0;
};

constexpr int kThreadPriorityLowest = -2;
constexpr int kThreadPriorityAboveNormal = 1;

/// A heap array of `count` elements, or null when the system refuses the memory.
template <typename T>
std::unique_ptr<T[]> AllocateArray(System& system, size_t count) {
  if (count > std::numeric_limits<size_t>::max() / sizeof(T)) return nullptr;
  if (!system.AllowAllocation(count * sizeof(T))) return nullptr;
  return std::unique_ptr<T[]>(new (std::nothrow) T[count == 0 ? 1 : count]);
}

}  // namespace platform
