#include "tests/fakes/FakeDeviceIo.h"

#include <cstdio>
#include <cstring>

#include "image/ByteOrder.h"

namespace fakes {

namespace {

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

}  // namespace

floppy::DiskGeometry Geometry144() {
  floppy::DiskGeometry geometry;
  geometry.cylinders = 80;
  geometry.mediaType = floppy::kMediaF3_1Pt44_512;
  geometry.tracksPerCylinder = 2;
  geometry.sectorsPerTrack = 18;
  geometry.bytesPerSector = 512;
  return geometry;
}

floppy::DiskGeometry GeometryOfType(uint32_t mediaType) {
  floppy::DiskGeometry geometry = Geometry144();
  geometry.mediaType = mediaType;
  geometry.sectorsPerTrack = mediaType == 10 ? 36 : 15;
  return geometry;
}

void FakeDeviceIo::Note(const std::string& line) {
  log_.push_back(line);
}

void* FakeDeviceIo::Resolve(uint32_t address) const {
  auto it = addresses_.find(address);
  return it == addresses_.end() ? nullptr : it->second;
}

platform::DeviceHandle FakeDeviceIo::Open(const std::string& path,
                                          const platform::DeviceOpenFlags& flags) {
  std::lock_guard<platform::Lock> guard(lock_);
  Note("open " + path + " " + Hex(flags.access) + " " + Hex(flags.share) + " " +
       Hex(flags.disposition) + " " + Hex(flags.flagsAndAttributes));
  const bool exists = path == floppy::kVwin32Path ? vwin32Present : ntDrives.count(path) > 0;
  if (!exists) return platform::kInvalidDevice;
  const platform::DeviceHandle handle = nextHandle_++;
  open_[handle] = path;
  if (path != floppy::kVwin32Path) ntDrives[path].position = 0;
  return handle;
}

bool FakeDeviceIo::Control(platform::DeviceHandle device, uint32_t code, void* in, uint32_t inBytes,
                           void* out, uint32_t outBytes, uint32_t* bytesReturned) {
  int dosWrite = -1;
  const bool ok = ControlLocked(device, code, in, inBytes, out, outBytes, bytesReturned, &dosWrite);
  if (ok && dosWrite >= 0 && afterWrite) afterWrite(dosWrite);
  return ok;
}

bool FakeDeviceIo::ControlLocked(platform::DeviceHandle device, uint32_t code, void* in,
                                 uint32_t inBytes, void* out, uint32_t outBytes,
                                 uint32_t* bytesReturned, int* dosWrite) {
  std::lock_guard<platform::Lock> guard(lock_);
  *bytesReturned = 0;
  auto handle = open_.find(device);
  const std::string path = handle == open_.end() ? "closed" : handle->second;
  Note("control " + path + " " + Hex(code));
  if (handle == open_.end()) return false;

  if (path == floppy::kVwin32Path) {
    if (inBytes != sizeof(floppy::DiocRegisters) || outBytes != sizeof(floppy::DiocRegisters) ||
        in != out) {
      return false;
    }
    auto* registers = static_cast<floppy::DiocRegisters*>(in);
    *bytesReturned = sizeof(floppy::DiocRegisters);
    if (code == floppy::kVwin32DosIoctl) {
      auto* params = static_cast<uint8_t*>(Resolve(registers->edx));
      auto drive = dosDrives.find(registers->ebx);
      if (params == nullptr || registers->eax != 0x440D || registers->ecx != 0x0860 ||
          drive == dosDrives.end() || drive->second.queryCarry) {
        registers->flags |= floppy::kCarryFlag;
        return true;
      }
      registers->flags &= ~floppy::kCarryFlag;
      params[floppy::kParamDeviceType] = drive->second.deviceType;
      image::PutLe16(params + floppy::kParamCylinders, drive->second.cylinders);
      image::PutLe16(params + floppy::kParamBytesPerSector, drive->second.bytesPerSector);
      image::PutLe16(params + floppy::kParamTotalSectors, drive->second.totalSectors);
      return true;
    }
    if (code == floppy::kVwin32DosInt26 || code == floppy::kVwin32DosDriveInfo) {
      DosWriteCall call;
      call.code = code;
      call.registers = *registers;
      const auto* packet = static_cast<const uint8_t*>(Resolve(registers->ebx));
      if (packet != nullptr) {
        call.firstSector = image::GetLe32(packet);
        call.sectorCount = image::GetLe16(packet + 4);
        const auto* data = static_cast<const uint8_t*>(Resolve(image::GetLe32(packet + 6)));
        call.bufferResolved = data != nullptr;
        const uint64_t end = (uint64_t{call.firstSector} + call.sectorCount) * 512;
        const bool fails = static_cast<int>(dosWrites_.size()) == dosWriteCarryNumber;
        if (data != nullptr && end <= dosDisk.size() && !fails) {
          std::memcpy(dosDisk.data() + uint64_t{call.firstSector} * 512, data,
                      uint64_t{call.sectorCount} * 512);
          registers->flags &= ~floppy::kCarryFlag;
          *dosWrite = static_cast<int>(dosWrites_.size());
        } else {
          registers->flags |= floppy::kCarryFlag;
        }
      } else {
        registers->flags |= floppy::kCarryFlag;
      }
      dosWrites_.push_back(call);
      return true;
    }
    return false;
  }

  FakeNtDrive& drive = ntDrives[path];
  switch (code) {
    case floppy::kIoctlDiskGetMediaTypes: {
      const uint32_t bytes =
          static_cast<uint32_t>(drive.mediaTypes.size() * sizeof(floppy::DiskGeometry));
      if (drive.mediaQueryFails || out == nullptr || bytes > outBytes) return false;
      std::memcpy(out, drive.mediaTypes.data(), bytes);
      *bytesReturned = bytes;
      return true;
    }
    case floppy::kFsctlLockVolume:
      if (drive.lockRefused) return false;
      drive.locked = true;
      return true;
    case floppy::kFsctlUnlockVolume:
      drive.locked = false;
      return true;
    case floppy::kFsctlDismountVolume:
      return true;
    default:
      return false;
  }
}

bool FakeDeviceIo::Write(platform::DeviceHandle device, const void* data, uint32_t bytes,
                         uint32_t* written) {
  int number = -1;
  const bool ok = WriteLocked(device, data, bytes, written, &number);
  if (ok && afterWrite) afterWrite(number);
  return ok;
}

bool FakeDeviceIo::WriteLocked(platform::DeviceHandle device, const void* data, uint32_t bytes,
                               uint32_t* written, int* number) {
  std::lock_guard<platform::Lock> guard(lock_);
  *written = 0;
  auto handle = open_.find(device);
  Note("write " + (handle == open_.end() ? std::string("closed") : handle->second) + " " +
       std::to_string(bytes));
  if (handle == open_.end() || handle->second == floppy::kVwin32Path) return false;
  FakeNtDrive& drive = ntDrives[handle->second];
  *number = drive.writes;
  if (drive.writes++ == drive.failWriteNumber) return false;
  if (drive.contents.size() < drive.position + bytes) drive.contents.resize(drive.position + bytes);
  std::memcpy(drive.contents.data() + drive.position, data, bytes);
  drive.position += bytes;
  *written = bytes;
  return true;
}

void FakeDeviceIo::Close(platform::DeviceHandle device) {
  std::lock_guard<platform::Lock> guard(lock_);
  auto handle = open_.find(device);
  if (handle == open_.end()) {
    ++badCloses_;
    Note("close of a handle that is not open");
    return;
  }
  Note("close " + handle->second);
  if (handle->second != floppy::kVwin32Path) ntDrives[handle->second].locked = false;
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

std::vector<std::string> FakeDeviceIo::Log() const {
  std::lock_guard<platform::Lock> guard(lock_);
  return log_;
}

std::vector<DosWriteCall> FakeDeviceIo::DosWrites() const {
  std::lock_guard<platform::Lock> guard(lock_);
  return dosWrites_;
}

int FakeDeviceIo::OpenHandles() const {
  std::lock_guard<platform::Lock> guard(lock_);
  return static_cast<int>(open_.size());
}

int FakeDeviceIo::BadCloses() const {
  std::lock_guard<platform::Lock> guard(lock_);
  return badCloses_;
}

}  // namespace fakes
