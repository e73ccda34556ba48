// The fixed layout of a 1.44 MB FAT12 floppy, which the installer's base image must have.
#pragma once

#include <cstddef>
#include <cstdint>

namespace image {

constexpr uint32_t kSectorBytes = 512;
constexpr uint32_t kFloppySectors = 2880;
constexpr uint32_t kFloppyImageBytes = kFloppySectors * kSectorBytes;    // 1,474,560
constexpr uint32_t kSectorsPerCylinder = 36;                             // 2 heads x 18
constexpr uint32_t kCylinderBytes = kSectorsPerCylinder * kSectorBytes;  // 18,432

constexpr uint32_t kFirstFatOffset = 512;    // sector 1
constexpr uint32_t kSecondFatOffset = 5120;  // sector 10
constexpr uint32_t kFatBytes = 9 * kSectorBytes;
constexpr uint32_t kRootDirectoryOffset = 9728;  // sector 19
constexpr uint32_t kRootDirectoryEntries = 224;
constexpr uint32_t kDirectoryEntryBytes = 32;
constexpr uint32_t kDataAreaSector = 33;                              // cluster 2
constexpr uint32_t kDataAreaOffset = kDataAreaSector * kSectorBytes;  // 16,896
/// The cluster that holds image sector s is s - 31 (one sector per cluster).
constexpr uint32_t kClusterToSector = 31;
constexpr uint16_t kEndOfChain = 0xFFF;

/// The byte that formatting leaves in every sector that holds no data.
constexpr uint8_t kFormatFiller = 0xF6;

}  // namespace image
