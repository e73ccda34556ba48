#include "tests/fakes/FakeDeviceIo.h"

#include <cstdio>
#include <cstring>

#include "platform/ByteOrder.h"

namespace fakes {

namespace {

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

}  // namespace

platform::DiskGeometry Geometry144() {
  platform::DiskGeometry geometry;
  geometry.cylinders = 80;
  geometry.mediaType = platform::kMediaF3_1Pt44_512;
  geometry.tracksPerCylinder = 2;
  geometry.sectorsPerTrack = 18;
  geometry.bytesPerSector = 512;
  return geometry;
}

platform::DiskGeometry GeometryOfType(uint32_t mediaType) {
  platform::DiskGeometry geometry = Geometry144();
  geometry.mediaType = mediaType;
  geometry.sectorsPerTrack = mediaType == 10 ? 36 : 15;
  return geometry;
}

void* FakeDeviceIo::Resolve(uint32_t address) const {
  auto it = addresses_.find(address);
  return it == addresses_.end() ? nullptr : it->second;
}

platform::DeviceHandle FakeDeviceIo::Open(const std::string& path,
                                          const platform::DeviceOpenFlags& flags) {
  std::lock_guard<platform::Lock> guard(lock_);
  log_.push_back("open " + path + " " + Hex(flags.access) + " " + Hex(flags.share) + " " +
                 Hex(flags.disposition) + " " + Hex(flags.flagsAndAttributes));
  const bool exists = path == platform::kVwin32Path ? vwin32Present : ntDrives.count(path) > 0;
  if (!exists) return platform::kInvalidDevice;
  const platform::DeviceHandle handle = nextHandle_++;
  open_[handle] = path;
  if (path != platform::kVwin32Path) ntDrives[path].position = 0;
  return handle;
}

bool FakeDeviceIo::Control(platform::DeviceHandle device, uint32_t code, void* in, uint32_t inBytes,
                           void* out, uint32_t outBytes, uint32_t* bytesReturned) {
  std::unique_lock<platform::Lock> guard(lock_);
  *bytesReturned = 0;
  auto handle = open_.find(device);
  const std::string path = handle == open_.end() ? "closed" : handle->second;
  log_.push_back("control " + path + " " + Hex(code));
  if (handle == open_.end()) return false;
  if (path != platform::kVwin32Path) {
    FakeNtDrive& drive = ntDrives[path];
    const uint32_t bytes =
        static_cast<uint32_t>(drive.mediaTypes.size() * sizeof(platform::DiskGeometry));
    switch (code) {
      case platform::kIoctlDiskGetMediaTypes:
        if (drive.mediaQueryFails || out == nullptr || bytes > outBytes) return false;
        if (bytes != 0) std::memcpy(out, drive.mediaTypes.data(), bytes);
        *bytesReturned = bytes;
        return true;
      case platform::kFsctlLockVolume:
        return !drive.lockRefused;
      case platform::kFsctlUnlockVolume:
      case platform::kFsctlDismountVolume:
        return true;
      default:
        return false;
    }
  }
  constexpr uint32_t kRegisterBytes = sizeof(platform::DiocRegisters);
  if (inBytes != kRegisterBytes || outBytes != kRegisterBytes || in != out) return false;
  auto* registers = static_cast<platform::DiocRegisters*>(in);
  *bytesReturned = kRegisterBytes;
  if (code == platform::kVwin32DosIoctl) {
    auto* params = static_cast<uint8_t*>(Resolve(registers->edx));
    auto drive = dosDrives.find(registers->ebx);
    registers->flags |= platform::kCarryFlag;
    if (params == nullptr || registers->eax != 0x440D || registers->ecx != 0x0860 ||
        drive == dosDrives.end() || drive->second.queryCarry) {
      return true;
    }
    registers->flags &= ~platform::kCarryFlag;
    params[platform::kParamDeviceType] = drive->second.deviceType;
    platform::PutLe16(params + platform::kParamCylinders, drive->second.cylinders);
    platform::PutLe16(params + platform::kParamBytesPerSector, drive->second.bytesPerSector);
    platform::PutLe16(params + platform::kParamTotalSectors, drive->second.totalSectors);
    return true;
  }
  if (code != platform::kVwin32DosInt26 && code != platform::kVwin32DosDriveInfo) return false;
  DosWriteCall call;
  call.code = code;
  call.registers = *registers;
  registers->flags |= platform::kCarryFlag;
  const auto* packet = static_cast<const uint8_t*>(Resolve(registers->ebx));
  const uint8_t* data = nullptr;
  if (packet != nullptr) {
    call.firstSector = platform::GetLe32(packet);
    call.sectorCount = platform::GetLe16(packet + 4);
    data = static_cast<const uint8_t*>(Resolve(platform::GetLe32(packet + 6)));
    call.bufferResolved = data != nullptr;
  }
  const int number = static_cast<int>(dosWrites_.size());
  dosWrites_.push_back(call);
  const uint64_t end = (uint64_t{call.firstSector} + call.sectorCount) * 512;
  if (data == nullptr || end > dosDisk.size() || number == dosWriteCarryNumber) return true;
  std::memcpy(dosDisk.data() + uint64_t{call.firstSector} * 512, data,
              uint64_t{call.sectorCount} * 512);
  registers->flags &= ~platform::kCarryFlag;
  guard.unlock();
  if (afterWrite) afterWrite(number);
  return true;
}

bool FakeDeviceIo::Write(platform::DeviceHandle device, const void* data, uint32_t bytes,
                         uint32_t* written) {
  std::unique_lock<platform::Lock> guard(lock_);
  *written = 0;
  auto handle = open_.find(device);
  log_.push_back("write " + (handle == open_.end() ? std::string("closed") : handle->second) + " " +
                 std::to_string(bytes));
  if (handle == open_.end() || handle->second == platform::kVwin32Path) return false;
  FakeNtDrive& drive = ntDrives[handle->second];
  const int number = drive.writes;
  if (drive.writes++ == drive.failWriteNumber) return false;
  if (drive.contents.size() < drive.position + bytes) drive.contents.resize(drive.position + bytes);
  std::memcpy(drive.contents.data() + drive.position, data, bytes);
  drive.position += bytes;
  *written = bytes;
  guard.unlock();
  if (afterWrite) afterWrite(number);
  return true;
}

void FakeDeviceIo::Close(platform::DeviceHandle device) {
  std::lock_guard<platform::Lock> guard(lock_);
  auto handle = open_.find(device);
  if (handle == open_.end()) {
    ++badCloses_;
    log_.push_back("close of a handle that is not open");
    return;
  }
  log_.push_back("close " + handle->second);
  open_.erase(handle);
}

uint32_t FakeDeviceIo::FlatAddress(void* block) {
  std::lock_guard<platform::Lock> guard(lock_);
  for (const auto& [address, pointer] : addresses_) {
    if (pointer == block) return address;
  }
  const uint32_t address = nextAddress_;
  nextAddress_ += 0x1000;
  addresses_[address] = block;
  return address;
}

}  // namespace fakes
