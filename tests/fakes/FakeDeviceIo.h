// Scriptable floppy drives, NT and 9x, behind the device interface: media-type lists,
// missing drives, lock refusal, a write that fails at cylinder k, DOS calls that return
// with the carry bit set, and a log of every call with its arguments.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/DeviceIo.h"
#include "platform/DriveRecords.h"
#include "platform/Threads.h"

namespace fakes {

struct FakeNtDrive {
  std::vector<platform::DiskGeometry> mediaTypes;
  bool mediaQueryFails = false;
  bool lockRefused = false;
  int failWriteNumber = -1;       ///< the n-th write (from 0) fails; -1: none
  std::vector<uint8_t> contents;  ///< what reached the disk, from offset 0
  uint64_t position = 0;
  int writes = 0;
};

struct FakeDosDrive {
  uint8_t deviceType = platform::kDevice35Inch144;
  uint16_t cylinders = 80;
  uint16_t bytesPerSector = 512;
  uint16_t totalSectors = 2880;
  bool queryCarry = false;
};

/// One DOS write made through VWIN32, decoded from its registers and packet.
struct DosWriteCall {
  uint32_t code = 0;
  platform::DiocRegisters registers;
  uint32_t firstSector = 0;
  uint16_t sectorCount = 0;
  bool bufferResolved = false;
};

class FakeDeviceIo : public platform::DeviceIo {
 public:
  platform::DeviceHandle Open(const std::string& path,
                              const platform::DeviceOpenFlags& flags) override;
  bool Control(platform::DeviceHandle device, uint32_t code, void* in, uint32_t inBytes, void* out,
               uint32_t outBytes, uint32_t* bytesReturned) override;
  bool Write(platform::DeviceHandle device, const void* data, uint32_t bytes,
             uint32_t* written) override;
  void Close(platform::DeviceHandle device) override;
  uint32_t FlatAddress(void* block) override;

  /// Copies of the log and state, safe while jobs run.
  std::vector<std::string> Log() const { return Locked(log_); }
  std::vector<DosWriteCall> DosWrites() const { return Locked(dosWrites_); }
  int OpenHandles() const { return static_cast<int>(Locked(open_).size()); }
  int BadCloses() const { return Locked(badCloses_); }

  std::map<std::string, FakeNtDrive> ntDrives;  ///< by path, "\\.\A:"
  bool vwin32Present = false;
  std::map<uint32_t, FakeDosDrive> dosDrives;  ///< by DOS drive number
  int dosWriteCarryNumber = -1;                ///< the n-th DOS write (from 0) sets carry
  /// Called after each successful cylinder write with its number (from 0), NT and DOS
  /// alike, outside the fake's lock: tests use it to cancel or close in mid-job.
  std::function<void(int)> afterWrite;
  std::vector<uint8_t> dosDisk = std::vector<uint8_t>(1474560, 0);  ///< what DOS writes reached

 private:
  template <typename T>
  T Locked(const T& value) const {
    std::lock_guard<platform::Lock> guard(lock_);
    return value;
  }
  void* Resolve(uint32_t address) const;

  mutable platform::Lock lock_;
  std::vector<std::string> log_;
  std::map<platform::DeviceHandle, std::string> open_;  // handle -> path
  platform::DeviceHandle nextHandle_ = 100;
  int badCloses_ = 0;
  std::map<uint32_t, void*> addresses_;
  uint32_t nextAddress_ = 0x10000;
  std::vector<DosWriteCall> dosWrites_;
};

/// A 1.44 MB media-type record, as a 3.5-inch drive reports it.
platform::DiskGeometry Geometry144();
/// A record of another media type (5.25-inch 1.2 MB is 1, 2.88 MB is 10).
platform::DiskGeometry GeometryOfType(uint32_t mediaType);

}  // namespace fakes
