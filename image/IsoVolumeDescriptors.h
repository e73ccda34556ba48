// The volume descriptor set of the installation CD, one 2048-byte sector each: primary
// (ISO 9660 names), El Torito boot record, Joliet supplementary, terminator.
#pragma once

#include <cstdint>

#include "platform/System.h"

namespace image {

/// Fixed places on the CD.
constexpr uint32_t kPrimaryDescriptorSector = 16;
constexpr uint32_t kBootRecordSector = 17;
constexpr uint32_t kJolietDescriptorSector = 18;
constexpr uint32_t kTerminatorSector = 19;
constexpr uint32_t kBootCatalogSector = 20;
constexpr uint32_t kIsoRootSector = 21;
constexpr uint32_t kIsoPathTableLSector = 22;
constexpr uint32_t kIsoPathTableMSector = 23;
constexpr uint32_t kJolietRootSector = 24;
constexpr uint32_t kJolietPathTableLSector = 25;
constexpr uint32_t kJolietPathTableMSector = 26;
constexpr uint32_t kBootImageSector = 27;
constexpr uint32_t kBootImageSectors = 720;  // the 1.44 MB floppy image
constexpr uint32_t kFirstFileSector = kBootImageSector + kBootImageSectors;  // 747

/// Each writes one whole sector into `sector`, which must be cleared to zero.
void PutPrimaryDescriptor(uint8_t* sector, uint32_t volumeSectors, const platform::UtcTime& date);
void PutBootRecordDescriptor(uint8_t* sector);
void PutJolietDescriptor(uint8_t* sector, uint32_t volumeSectors, const platform::UtcTime& date);
void PutTerminatorDescriptor(uint8_t* sector);

}  // namespace image
