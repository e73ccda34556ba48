// Scriptable floppy drives, NT and 9x, behind the device interface: media-type lists,
// missing drives, lock refusal, a write that fails at cylinder k, DOS calls that return
// with the carry bit set, and a log of every call with its arguments.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ByteOrder.h"
#include "platform/DeviceIo.h"
#include "platform/DriveRecords.h"
#include "platform/Threads.h"

namespace fakes {

struct FakeNtDrive {
  std::vector<platform::DiskGeometry> mediaTypes;
  bool mediaQueryFails = false, lockRefused = false;
  int failWriteNumber = -1;       ///< the n-th write (from 0) fails; -1: none
  std::vector<uint8_t> contents;  ///< what reached the disk, from offset 0
  uint64_t position = 0;
  int writes = 0;
};

struct FakeDosDrive {
  uint8_t deviceType = platform::kDevice35Inch144;
  uint16_t cylinders = 80, bytesPerSector = 512, totalSectors = 2880;
  bool queryCarry = false;
};

/// One DOS write made through VWIN32, decoded from its registers and packet.
struct DosWriteCall {
  uint32_t code = 0;
  platform::DiocRegisters registers;
  uint32_t firstSector = 0;
  uint16_t sectorCount = 0;
};

/// A 1.44 MB media-type record, as a 3.5-inch drive reports it.
inline platform::DiskGeometry Geometry144() {
  platform::DiskGeometry geometry;
  geometry.cylinders = 80;
  geometry.mediaType = platform::kMediaF3_1Pt44_512;
  geometry.tracksPerCylinder = 2;
  geometry.sectorsPerTrack = 18;
  geometry.bytesPerSector = 512;
  return geometry;
}

class FakeDeviceIo : public platform::DeviceIo {
 public:
  platform::DeviceHandle Open(const std::string& path,
                              const platform::DeviceOpenFlags& flags) override {
    Guard guard(lock_);
    log_.push_back("open " + path + Hex(flags.access) + Hex(flags.share) + Hex(flags.disposition) +
                   Hex(flags.flagsAndAttributes));
    if (path == platform::kVwin32Path ? !vwin32Present : !ntDrives.count(path)) {
      return platform::kInvalidDevice;
    }
    if (path != platform::kVwin32Path) ntDrives[path].position = 0;
    open_[nextHandle_] = path;
    return nextHandle_++;
  }
  bool Control(platform::DeviceHandle device, uint32_t code, void* in, uint32_t inBytes, void* out,
               uint32_t outBytes, uint32_t* bytesReturned) override;
  bool Write(platform::DeviceHandle device, const void* data, uint32_t bytes,
             uint32_t* written) override {
    std::unique_lock<platform::Lock> guard(lock_);
    *written = 0;
    const std::string path = PathOf(device);
    log_.push_back("write " + path + " " + std::to_string(bytes));
    if (!ntDrives.count(path)) return false;
    FakeNtDrive& drive = ntDrives[path];
    const int number = drive.writes++;
    if (number == drive.failWriteNumber) return false;
    drive.contents.resize(std::max<size_t>(drive.contents.size(), drive.position + bytes));
    std::memcpy(drive.contents.data() + drive.position, data, bytes);
    drive.position += * written = bytes;
    guard.unlock();
    if (afterWrite) afterWrite(number);
    return true;
  }
  void Close(platform::DeviceHandle device) override {
    Guard guard(lock_);
    log_.push_back("close " + PathOf(device));
    badCloses_ += open_.erase(device) == 0;
  }
  uint32_t FlatAddress(void* block) override {
    Guard guard(lock_);
    for (const auto& [address, pointer] : addresses_) {
      if (pointer == block) return address;
    }
    const uint32_t address = 0x10000 + 0x1000 * static_cast<uint32_t>(addresses_.size());
    addresses_[address] = block;
    return address;
  }

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
  using Guard = std::lock_guard<platform::Lock>;
  template <typename T>
  T Locked(const T& value) const {
    Guard guard(lock_);
    return value;
  }
  static std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, " 0x%X", value);
    return text;
  }
  std::string PathOf(platform::DeviceHandle device) const {
    return open_.count(device) ? open_.at(device) : "closed";
  }
  void* Resolve(uint32_t address) const {
    return addresses_.count(address) ? addresses_.at(address) : nullptr;
  }

  mutable platform::Lock lock_;
  std::vector<std::string> log_;
  std::map<platform::DeviceHandle, std::string> open_;  // handle -> path
  platform::DeviceHandle nextHandle_ = 100;
  int badCloses_ = 0;
  std::map<uint32_t, void*> addresses_;
  std::vector<DosWriteCall> dosWrites_;
};

}  // namespace fakes
