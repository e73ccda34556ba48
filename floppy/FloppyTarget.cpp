#include "floppy/FloppyTarget.h"

#include <cstring>
#include <string>

#include "datafile/DataFile.h"
#include "datafile/TextIds.h"
#include "platform/ByteOrder.h"
#include "platform/File.h"

namespace floppy {

// The records and control codes that raw floppy access exchanges with the system.
using namespace platform;

namespace {

constexpr uint32_t kLastDriveTriedNt = 2;  // A: and B: only
constexpr uint32_t kLastDriveTried9x = 3;  // A:, B:, C:
constexpr uint32_t kGetDeviceParameters = 0x440D;
constexpr uint32_t kCategoryDiskGetParams = 0x0860;  // category 08h, function 60h
constexpr uint32_t kExtendedAbsoluteWrite = 0x7305;
constexpr uint32_t kWriteNormalFileData = 0x6001;  // bit 0: write; 6000h: normal file data

char DriveLetter(uint32_t driveNumber) {
  return static_cast<char>(64 + driveNumber);
}

std::string VolumePath(uint32_t driveNumber) {
  return std::string("\\\\.\\") + DriveLetter(driveNumber) + ":";
}

}  // namespace

uint32_t FloppyTarget::Probe(bool countOnly, uint32_t wantedIndex) {
  return job_.isNtFamily ? ProbeNt(countOnly, wantedIndex) : Probe9x(countOnly, wantedIndex);
}

uint32_t FloppyTarget::ProbeNt(bool countOnly, uint32_t wantedIndex) {
  // A handle that an earlier selection left open (the user then declined the job) is
  // closed before a new one is taken.
  job::CloseFloppyDevice(job_, devices_);
  uint32_t count = 0;
  for (uint32_t drive = 1; drive <= kLastDriveTriedNt; ++drive) {
    platform::DeviceOpenFlags flags;
    flags.access = platform::kGenericRead | platform::kGenericWrite;
    flags.share = platform::kFileShareRead | platform::kFileShareWrite;
    flags.disposition = platform::kOpenExisting;
    flags.flagsAndAttributes = platform::kFileFlagNoBuffering | platform::kFileFlagSequentialScan |
                               platform::kFileAttributeSystem;
    const platform::DeviceHandle device = devices_.Open(VolumePath(drive), flags);
    const bool wanted = !countOnly && drive == wantedIndex + 1;
    if (device != platform::kInvalidDevice) {
      uint32_t returned = 0;
      for (DiskGeometry& entry : job_.floppyMediaTypes) entry = DiskGeometry();
      if (!devices_.Control(device, kIoctlDiskGetMediaTypes, nullptr, 0, job_.floppyMediaTypes,
                            sizeof job_.floppyMediaTypes, &returned)) {
        returned = 0;
      }
      if (wanted) {
        job_.floppyDevice = device;
      } else {
        devices_.Close(device);
      }
      const uint32_t entries = std::min<uint32_t>(returned / sizeof(DiskGeometry), kMediaTypeSlots);
      for (uint32_t i = 0; i < entries; ++i) {
        const uint32_t type = job_.floppyMediaTypes[i].mediaType;
        if (type == kMediaUnknown) break;
        if (type == kMediaF3_1Pt44_512) {
          job_.floppyGeometryIndex = i;
          ++count;
          uint32_t none = 0;
          job_.firstFloppyDrive.compare_exchange_strong(none, drive);
          break;
        }
      }
    }
    if (wanted) return 1;
  }
  return count;
}

uint32_t FloppyTarget::Probe9x(bool countOnly, uint32_t) {
  if (countOnly) {
    platform::DeviceOpenFlags flags;
    flags.flagsAndAttributes = platform::kFileFlagWriteThrough | platform::kFileFlagSequentialScan |
                               platform::kFileAttributeSystem;
    job_.vwin32Device = devices_.Open(kVwin32Path, flags);
    if (job_.vwin32Device == platform::kInvalidDevice) {
      datafile::DataFile* dataFile = job_.dataFile;
      dialog_.MessageBox(datafile::LoadText(dataFile, datafile::text::kNoVwin32),
                         datafile::LoadText(dataFile, datafile::text::kErrorCaption),
                         platform::kMbIconError, false);
      return 0;
    }
  }
  uint8_t params[kDeviceParamsBytes] = {};
  bool found = false;
  for (uint32_t drive = 1; drive <= kLastDriveTried9x && !found; ++drive) {
    params[kParamSpecialFunctions] = 0;
    DiocRegisters registers;
    registers.eax = kGetDeviceParameters;
    registers.ebx = drive;
    registers.ecx = kCategoryDiskGetParams;
    registers.edx = devices_.FlatAddress(params);
    registers.flags = kCarryFlag;
    uint32_t returned = 0;
    const bool called = devices_.Control(job_.vwin32Device, kVwin32DosIoctl, &registers,
                                         sizeof registers, &registers, sizeof registers, &returned);
    if (called && (registers.flags & kCarryFlag) == 0 &&
        params[kParamDeviceType] == kDevice35Inch144) {
      found = true;
      uint32_t none = 0;
      job_.firstFloppyDrive.compare_exchange_strong(none, drive);
    }
  }
  if (found && !countOnly) {
    job_.dosCylinders = platform::GetLe16(params + kParamCylinders);
    job_.dosBytesPerSector = platform::GetLe16(params + kParamBytesPerSector);
    job_.dosTotalSectors = platform::GetLe16(params + kParamTotalSectors);
  }
  return found ? 1 : 0;
}

bool FloppyTarget::VolumeControl(platform::DeviceHandle volume, uint32_t code) {
  uint32_t returned = 0;
  return devices_.Control(volume, code, nullptr, 0, nullptr, 0, &returned);
}

bool FloppyTarget::LockVolume(platform::DeviceHandle volume) {
  return VolumeControl(volume, kFsctlLockVolume);
}

bool FloppyTarget::UnlockVolume(platform::DeviceHandle volume) {
  return VolumeControl(volume, kFsctlUnlockVolume);
}

bool FloppyTarget::DismountVolume(platform::DeviceHandle volume) {
  return VolumeControl(volume, kFsctlDismountVolume);
}

bool FloppyTarget::WriteSectors9x(uint32_t firstSector, uint16_t sectorCount, uint32_t driveNumber,
                                  void* buffer) {
  uint8_t packet[kDiskIoBytes];
  platform::PutLe32(packet + 0, firstSector);
  platform::PutLe16(packet + 4, sectorCount);
  platform::PutLe32(packet + 6, devices_.FlatAddress(buffer));
  DiocRegisters registers;
  uint32_t code = 0;
  if (job_.useExtendedDosWrite) {
    registers.eax = kExtendedAbsoluteWrite;
    registers.ebx = devices_.FlatAddress(packet);
    registers.ecx = 0xFFFFFFFFu;
    registers.edx = driveNumber;
    registers.esi = kWriteNormalFileData;
    code = kVwin32DosDriveInfo;
  } else {
    registers.eax = driveNumber - 1;  // Int 26h counts from 0 = A:
    registers.ebx = devices_.FlatAddress(packet);
    registers.ecx = 0xFFFF;
    code = kVwin32DosInt26;
  }
  uint32_t returned = 0;
  const bool called = devices_.Control(job_.vwin32Device, code, &registers, sizeof registers,
                                       &registers, sizeof registers, &returned);
  return called && (registers.flags & kCarryFlag) == 0;
}

}  // namespace floppy
