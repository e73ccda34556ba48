#include "tests/fakes/FakeDeviceIo.h"

namespace fakes {

bool FakeDeviceIo::Control(platform::DeviceHandle device, uint32_t code, void* in, uint32_t inBytes,
                           void* out, uint32_t outBytes, uint32_t* bytesReturned) {
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
  registers->flags |= platform::kCarryFlag;
  if (code == platform::kVwin32DosIoctl) {
    auto* params = static_cast<uint8_t*>(Resolve(registers->edx));
    auto drive = dosDrives.find(registers->ebx);
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
  DosWriteCall call{code, *registers};
  const auto* packet = static_cast<const uint8_t*>(Resolve(registers->ebx));
  const uint8_t* data = nullptr;
  if (packet != nullptr) {
    call.firstSector = platform::GetLe32(packet);
    call.sectorCount = platform::GetLe16(packet + 4);
    data = static_cast<const uint8_t*>(Resolve(platform::GetLe32(packet + 6)));
  }
  const int number = static_cast<int>(dosWrites_.size());
  dosWrites_.push_back(call);
  const uint64_t first = uint64_t{call.firstSector} * 512, bytes = uint64_t{call.sectorCount} * 512;
  if (data == nullptr || first + bytes > dosDisk.size() || number == dosWriteCarryNumber)
    return true;
  std::memcpy(dosDisk.data() + first, data, bytes);
  registers->flags &= ~platform::kCarryFlag;
  guard.unlock();
  if (afterWrite) afterWrite(number);
  return true;
}

}  // namespace fakes
