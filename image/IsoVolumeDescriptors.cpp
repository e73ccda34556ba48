#include "image/IsoVolumeDescriptors.h"

#include <cstring>

#include "image/IsoRecords.h"
#include "platform/ByteOrder.h"

namespace image {

using platform::PutBe32;
using platform::PutBoth16;
using platform::PutBoth32;
using platform::PutLe32;

namespace {

constexpr uint8_t kPrimaryType = 1;
constexpr uint8_t kBootRecordType = 0;
constexpr uint8_t kSupplementaryType = 2;
constexpr uint8_t kTerminatorType = 255;
constexpr uint32_t kRootPathTableBytes = 10;

// Bytes 0-6: type, "CD001", version 1.
void PutHead(uint8_t* sector, uint8_t type) {
  sector[0] = type;
  std::memcpy(sector + 1, "CD001", 5);
  sector[6] = 1;
}

void FillSpaces(uint8_t* at, size_t bytes) {
  std::memset(at, ' ', bytes);
}

// Joliet identifiers hold UCS-2 big-endian spaces: 0x00 0x20 per character.
void FillWideSpaces(uint8_t* at, size_t characters) {
  for (size_t i = 0; i < characters; ++i) {
    at[2 * i] = 0x00;
    at[2 * i + 1] = 0x20;
  }
}

// The fields that the primary and the Joliet descriptor share, with the places of their
// path tables and root directory.
void PutVolumeFields(uint8_t* sector, uint32_t volumeSectors, uint32_t pathTableL,
                     uint32_t pathTableM, uint32_t rootSector, const platform::UtcTime& date) {
  PutBoth32(sector + 80, volumeSectors);         // 80-87 volume space size
  PutBoth16(sector + 120, 1);                    // 120-123 volume set size
  PutBoth16(sector + 124, 1);                    // 124-127 volume sequence number
  PutBoth16(sector + 128, kIsoSectorBytes);      // 128-131 logical block size
  PutBoth32(sector + 132, kRootPathTableBytes);  // 132-139 path table size
  PutLe32(sector + 140, pathTableL);             // 140-143 type L path table
  PutBe32(sector + 148, pathTableM);             // 148-151 type M path table
  IsoDirectoryRecord root;                       // 156-189 root directory record
  root.extent = rootSector;
  root.dataLength = kIsoSectorBytes;
  root.date = &date;
  root.flags = kIsoDirectoryFlag;
  root.identifier = std::string(1, '\0');
  PutDirectoryRecord(sector + 156, root);
  for (uint32_t at : {813u, 830u, 847u, 864u}) PutDescriptorDate(sector + at, date);  // 813-880
  sector[881] = 1;  // file structure version
}

}  // namespace

void PutPrimaryDescriptor(uint8_t* sector, uint32_t volumeSectors, const platform::UtcTime& date) {
  PutHead(sector, kPrimaryType);
  FillSpaces(sector + 8, 32);   // 8-39 system identifier
  FillSpaces(sector + 40, 32);  // 40-71 volume identifier
  PutVolumeFields(sector, volumeSectors, kIsoPathTableLSector, kIsoPathTableMSector, kIsoRootSector,
                  date);
  FillSpaces(sector + 190, 128);  // volume set identifier
  FillSpaces(sector + 318, 128);  // publisher
  FillSpaces(sector + 446, 128);  // data preparer
  FillSpaces(sector + 574, 128);  // application
  FillSpaces(sector + 702, 37);   // copyright file
  FillSpaces(sector + 739, 37);   // abstract file
  FillSpaces(sector + 776, 37);   // bibliographic file
}

void PutBootRecordDescriptor(uint8_t* sector) {
  PutHead(sector, kBootRecordType);
  static const char kBootSystem[] = "EL TORITO SPECIFICATION";
  std::memcpy(sector + 7, kBootSystem, sizeof kBootSystem - 1);  // 7-38, zero padded
  PutLe32(sector + 71, kBootCatalogSector);                      // 71-74 boot catalog
}

void PutJolietDescriptor(uint8_t* sector, uint32_t volumeSectors, const platform::UtcTime& date) {
  PutHead(sector, kSupplementaryType);
  sector[7] = 0;                    // volume flags
  FillWideSpaces(sector + 8, 16);   // 8-39 system identifier
  FillWideSpaces(sector + 40, 16);  // 40-71 volume identifier
  sector[88] = 0x25;                // 88-90 escape sequence %/E: UCS-2 level 3
  sector[89] = 0x2F;
  sector[90] = 0x45;
  PutVolumeFields(sector, volumeSectors, kJolietPathTableLSector, kJolietPathTableMSector,
                  kJolietRootSector, date);
  FillWideSpaces(sector + 190, 64);  // volume set identifier
  FillWideSpaces(sector + 318, 64);  // publisher
  FillWideSpaces(sector + 446, 64);  // data preparer
  FillWideSpaces(sector + 574, 64);  // application
  FillWideSpaces(sector + 702, 18);  // copyright file, then one zero byte
  FillWideSpaces(sector + 739, 18);  // abstract file, then one zero byte
  FillWideSpaces(sector + 776, 18);  // bibliographic file, then one zero byte
}

void PutTerminatorDescriptor(uint8_t* sector) {
  PutHead(sector, kTerminatorType);
}

}  // namespace image
