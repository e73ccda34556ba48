// Reads single pixels out of a checked device-independent bitmap. Used by back ends
// that have no bitmap service of their own to turn the dialog's picture into pixels.
#pragma once

#include <cstdint>

#include "platform/Graphics.h"

namespace platform {

/// The colour at (x, y) from the top left as 0x00RRGGBB; (x, y) must lie inside the bitmap.
uint32_t DibPixel(const DibView& dib, int x, int y);

}  // namespace platform
