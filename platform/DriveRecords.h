// The records that raw floppy access exchanges with the system: the NT media-type list,
// and the register block, parameter block and I/O packet of DOS calls made through the
// Windows 9x VWIN32 device.
#pragma once

#include <cstdint>

namespace platform {

/// Device paths and control codes.
constexpr char kVwin32Path[] = "\\\\.\\VWIN32";
constexpr uint32_t kIoctlDiskGetMediaTypes = 0x00070C00u;
constexpr uint32_t kFsctlLockVolume = 0x00090018u;
constexpr uint32_t kFsctlUnlockVolume = 0x0009001Cu;
constexpr uint32_t kFsctlDismountVolume = 0x00090020u;
constexpr uint32_t kVwin32DosIoctl = 1;      // Int 21h 440Dh
constexpr uint32_t kVwin32DosInt26 = 3;      // Int 26h, absolute disk write
constexpr uint32_t kVwin32DosDriveInfo = 6;  // Int 21h 7305h, extended absolute disk write

/// DISK_GEOMETRY, 24 bytes.
struct DiskGeometry {
  int64_t cylinders = 0;           // 0-7
  uint32_t mediaType = 0;          // 8-11
  uint32_t tracksPerCylinder = 0;  // 12-15
  uint32_t sectorsPerTrack = 0;    // 16-19
  uint32_t bytesPerSector = 0;     // 20-23
};
static_assert(sizeof(DiskGeometry) == 24, "DISK_GEOMETRY is 24 bytes");
constexpr uint32_t kMediaUnknown = 0;
constexpr uint32_t kMediaF3_1Pt44_512 = 2;
constexpr int kMediaTypeSlots = 10;  // room for 10 records, 240 bytes

/// DIOC_REGISTERS, 28 bytes, in this field order.
struct DiocRegisters {
  uint32_t ebx = 0;
  uint32_t edx = 0;
  uint32_t ecx = 0;
  uint32_t eax = 0;
  uint32_t edi = 0;
  uint32_t esi = 0;
  uint32_t flags = 0;  // bit 0: carry, set when the DOS call failed
};
static_assert(sizeof(DiocRegisters) == 28, "DIOC_REGISTERS is 28 bytes");
constexpr uint32_t kCarryFlag = 1;

/// The DOS Get Device Parameters block; only these bytes are read or written.
constexpr int kDeviceParamsBytes = 64;
constexpr int kParamSpecialFunctions = 0;  // byte, sent as 0: the drive's defaults
constexpr int kParamDeviceType = 1;        // byte; 7 = 3.5-inch 1.44 MB
constexpr int kParamCylinders = 4;         // 16-bit
constexpr int kParamBytesPerSector = 7;    // 16-bit, first field of the BPB
constexpr int kParamTotalSectors = 15;     // 16-bit
constexpr uint8_t kDevice35Inch144 = 7;

/// The DOS absolute-I/O packet, 10 bytes packed: first sector (32-bit), sector count
/// (16-bit), buffer address (32-bit).
constexpr int kDiskIoBytes = 10;

}  // namespace platform
