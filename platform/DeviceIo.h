// Raw devices: floppy volumes and the Windows 9x VWIN32 device, opened by path and driven
// by control codes, with the Windows meanings of every flag and code.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

using DeviceHandle = std::intptr_t;
constexpr DeviceHandle kInvalidDevice = -1;

/// CreateFileA's flags and attributes, as the floppy code passes them.
constexpr uint32_t kFileAttributeSystem = 0x00000004u;
constexpr uint32_t kFileFlagSequentialScan = 0x08000000u;
constexpr uint32_t kFileFlagNoBuffering = 0x20000000u;
constexpr uint32_t kFileFlagWriteThrough = 0x80000000u;

struct DeviceOpenFlags {
  uint32_t access = 0;
  uint32_t share = 0;
  uint32_t disposition = 0;
  uint32_t flagsAndAttributes = 0;
};

class DeviceIo {
 public:
  virtual ~DeviceIo() = default;
  /// CreateFileA on a device path such as "\\.\A:" or "\\.\VWIN32"; kInvalidDevice on failure.
  virtual DeviceHandle Open(const std::string& path, const DeviceOpenFlags& flags) = 0;
  /// DeviceIoControl: `in` and `out` may be the same block; `*bytesReturned` is set.
  [[nodiscard]] virtual bool Control(DeviceHandle device, uint32_t code, void* in, uint32_t inBytes,
                                     void* out, uint32_t outBytes, uint32_t* bytesReturned) = 0;
  /// WriteFile at the device's position, which then advances by what was written.
  [[nodiscard]] virtual bool Write(DeviceHandle device, const void* data, uint32_t bytes,
                                   uint32_t* written) = 0;
  virtual void Close(DeviceHandle device) = 0;
  /// The 32-bit flat address by which a DOS call made through VWIN32 reaches `block` (a
  /// register holds it). On 32-bit Windows it is the pointer itself.
  virtual uint32_t FlatAddress(void* block) = 0;
};

}  // namespace platform
