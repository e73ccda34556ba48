// The El Torito boot catalog: a validation entry and one default entry that boots the
// floppy image by 1.44 MB diskette emulation.
#pragma once

#include <cstdint>

namespace image {

/// Writes the catalog into `sector` (cleared to zero): validation entry with its checksum
/// at bytes 0-31, default entry pointing at `bootImageSector` at bytes 32-63.
void PutBootCatalog(uint8_t* sector, uint32_t bootImageSector);

}  // namespace image
