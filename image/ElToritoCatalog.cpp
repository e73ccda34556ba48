#include "image/ElToritoCatalog.h"

#include <cstring>

#include "platform/ByteOrder.h"

namespace image {

using platform::GetLe16;
using platform::PutLe16;
using platform::PutLe32;

void PutBootCatalog(uint8_t* sector, uint32_t bootImageSector) {
  // Validation entry.
  sector[0] = 1;  // header ID
  sector[1] = 0;  // platform: 80x86
  static const char kIdString[] = "Talvo Software";
  std::memcpy(sector + 4, kIdString, sizeof kIdString - 1);  // 4-27, zero padded
  sector[30] = 0x55;
  sector[31] = 0xAA;
  // The checksum makes the sixteen little-endian words of the entry add up to zero.
  uint16_t sum = 0;
  for (int word = 0; word < 16; ++word)
    sum = static_cast<uint16_t>(sum + GetLe16(sector + 2 * word));
  PutLe16(sector + 28, static_cast<uint16_t>(0x10000 - sum));

  // Default entry.
  sector[32] = 0x88;                      // bootable
  sector[33] = 2;                         // 1.44 MB diskette emulation
  PutLe16(sector + 34, 0x07C0);           // load segment
  sector[36] = 6;                         // system type, as the media this product serves expect
  PutLe16(sector + 38, 1);                // sectors loaded
  PutLe32(sector + 40, bootImageSector);  // load RBA
}

}  // namespace image
