// FAT12 tables: 12-bit entries packed two to three bytes. Entries 2k and 2k+1 share bytes
// 3k..3k+2: byte 3k is the low 8 bits of 2k, byte 3k+1 holds the high 4 bits of 2k in its
// low nibble and the low 4 bits of 2k+1 in its high nibble, byte 3k+2 the high 8 bits of
// 2k+1.
#pragma once

#include <cstdint>

namespace image {

void SetFat12Entry(uint8_t* fat, uint32_t cluster, uint16_t value);

/// Writes the chain first -> first+1 -> ... -> last (end of chain) as whole 3-byte groups,
/// from the group holding `first` to the group holding `last`. The partner entries of the
/// two end groups are written too: first-1 as end of chain when `first` is odd (it closes
/// whatever precedes the file), last+1 as free when `last` is even.
void WriteConsecutiveChain(uint8_t* fat, uint32_t first, uint32_t last);

}  // namespace image
