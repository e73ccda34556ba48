// Scriptable NT and 9x floppy drives with failing calls, and a log of every call.
#pragma once

#include <algorithm>
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
#include "tests/fakes/FakeSystem.h"

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

/// One DOS write through VWIN32, decoded.
struct DosWriteCall {
  uint32_t code = 0;
  platform::DiocRegisters registers;
  uint32_t firstSector = 0;
  uint16_t sectorCount = 0;
};

/// A 1.44 MB media-type record, as a 3.5-inch drive reports it.
inline platform::DiskGeometry Geometry144() {
  return {80, platform::kMediaF3_1Pt44_512, 2, 18, 512};
}

class FakeDeviceIo : public platform::DeviceIo, Guarded {
 public:
  platform::DeviceHandle Open(const std::string& path,
                              const platform::DeviceOpenFlags& flags) override {
    Guard guard(lock_);
    log_.push_back("open " + path + Hex(flags.access) + Hex(flags.share) + Hex(flags.disposition) +
                   Hex(flags.flagsAndAttributes));
    if (path == platform::kVwin32Path ? !vwin32Present : !ntDrives.count(path))
      return platform::kInvalidDevice;
    if (path != platform::kVwin32Path) ntDrives[path].position = 0;
    open_[nextHandle_] = path;
    return nextHandle_++;
  }
  bool Control(platform::DeviceHandle device, uint32_t code, void* in, uint32_t inBytes, void* out,
               uint32_t outBytes, uint32_t* bytesReturned) override {
    std::unique_lock<platform::Lock> guard(lock_);
    *bytesReturned = 0;
    const std::string path = PathOf(device);
    log_.push_back("control " + path + Hex(code));
    if (path == "closed") return false;
    if (path != platform::kVwin32Path) {
      FakeNtDrive& drive = ntDrives[path];
      const auto bytes =
          static_cast<uint32_t>(drive.mediaTypes.size() * sizeof(platform::DiskGeometry));
      switch (code) {
        case platform::kIoctlDiskGetMediaTypes:
          if (drive.mediaQueryFails || out == nullptr || bytes > outBytes) return false;
          if (bytes != 0) std::memcpy(out, drive.mediaTypes.data(), bytes);
          *bytesReturned = bytes;
          return true;
        case platform::kFsctlLockVolume:
          return !drive.lockRefused;
        default:
          return code == platform::kFsctlUnlockVolume || code == platform::kFsctlDismountVolume;
      }
    }
    constexpr uint32_t kRegisterBytes = sizeof(platform::DiocRegisters);
    if (inBytes != kRegisterBytes || outBytes != kRegisterBytes || in != out) return false;
    auto* registers = static_cast<platform::DiocRegisters*>(in);
    *bytesReturned = kRegisterBytes;
    registers->flags |= platform::kCarryFlag;
    if (code == platform::kVwin32DosIoctl) {
      auto* params = static_cast<uint8_t*>(Resolve(registers->edx));
      auto drive = dosDrives.find(registers->ebx);
      if (params == nullptr || registers->eax != 0x440D || registers->ecx != 0x0860 ||
          drive == dosDrives.end() || drive->second.queryCarry)
        return true;
      registers->flags &= ~platform::kCarryFlag;
      params[platform::kParamDeviceType] = drive->second.deviceType;
      platform::PutLe16(params + platform::kParamCylinders, drive->second.cylinders);
      platform::PutLe16(params + platform::kParamBytesPerSector, drive->second.bytesPerSector);
      platform::PutLe16(params + platform::kParamTotalSectors, drive->second.totalSectors);
      return true;
    }
    if (code != platform::kVwin32DosInt26 && code != platform::kVwin32DosDriveInfo) return false;
    DosWriteCall call{code, *registers};
    const auto* packet = static_cast<const uint8_t*>(Resolve(registers->ebx));
    if (packet != nullptr)
      call.firstSector = platform::GetLe32(packet),
      call.sectorCount = platform::GetLe16(packet + 4);
    const auto* data =
        static_cast<const uint8_t*>(packet ? Resolve(platform::GetLe32(packet + 6)) : nullptr);
    const int number = static_cast<int>(dosWrites_.size());
    dosWrites_.push_back(call);
    const uint64_t first = uint64_t{call.firstSector} * 512,
                   bytes = uint64_t{call.sectorCount} * 512;
    if (data == nullptr || first + bytes > dosDisk.size() || number == dosWriteCarryNumber)
      return true;
    std::memcpy(dosDisk.data() + first, data, bytes);
    registers->flags &= ~platform::kCarryFlag;
    guard.unlock();
    if (afterWrite) afterWrite(number);
    return true;
  }
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
  uint32_t FlatAddress(void* block) override {  // 0x10000 + 0x1000 * (index of the block)
    Guard guard(lock_);
    auto at = std::find(blocks_.begin(), blocks_.end(), block);
    if (at == blocks_.end()) at = blocks_.insert(at, block);
    return 0x10000 + 0x1000 * static_cast<uint32_t>(at - blocks_.begin());
  }
  /// Copies of the log and state, safe while jobs run.
  std::vector<std::string> Log() const { return Copy(log_); }
  std::vector<DosWriteCall> DosWrites() const { return Copy(dosWrites_); }
  int OpenHandles() const { return static_cast<int>(Copy(open_).size()); }
  int BadCloses() const { return Copy(badCloses_); }
  std::map<std::string, FakeNtDrive> ntDrives;  ///< by path, "\\.\A:"
  bool vwin32Present = false;
  std::map<uint32_t, FakeDosDrive> dosDrives;  ///< by DOS drive number
  int dosWriteCarryNumber = -1;                ///< the n-th DOS write (from 0) sets carry
  /// Called outside the lock after each good write, NT or DOS, with its number (from 0).
  std::function<void(int)> afterWrite;
  std::vector<uint8_t> dosDisk = std::vector<uint8_t>(1474560, 0);  ///< what DOS writes reached
 private:
  using Guard = std::lock_guard<platform::Lock>;
  static std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, " 0x%X", value);
    return text;
  }
  std::string PathOf(platform::DeviceHandle device) const {
    return open_.count(device) ? open_.at(device) : "closed";
  }
  void* Resolve(uint32_t address) const {
    const uint32_t index = (address - 0x10000) / 0x1000;
    return address % 0x1000 == 0 && index < blocks_.size() ? blocks_[index] : nullptr;
  }
  std::vector<std::string> log_;
  std::map<platform::DeviceHandle, std::string> open_;  // handle -> path
  platform::DeviceHandle nextHandle_ = 100;
  int badCloses_ = 0;
  std::vector<void*> blocks_;
  std::vector<DosWriteCall> dosWrites_;
};
}  // namespace fakes
