#include "platform/DibPixels.h"

#include <cstdlib>

namespace platform {

namespace {

uint32_t Rgb(uint8_t red, uint8_t green, uint8_t blue) {
  return (uint32_t{red} << 16) | (uint32_t{green} << 8) | blue;
}

// Colour table entries are RGBQUADs: blue, green, red, reserved.
uint32_t TableColor(const DibView& dib, uint32_t index) {
  if (index >= dib.colorCount) return 0;
  const uint8_t* header = dib.info;
  const uint32_t headerBytes = static_cast<uint32_t>(dib.infoBytes - dib.colorCount * 4);
  const uint8_t* quad = header + headerBytes + index * 4;
  return Rgb(quad[2], quad[1], quad[0]);
}

// One colour of a 16- or 32-bit pixel through its mask, widened to 8 bits by repeating
// its top bits, as the system widens a 5-bit field; wider fields keep their top 8 bits.
uint8_t MaskedChannel(uint32_t pixel, uint32_t mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (((mask >> shift) & 1u) == 0) ++shift;
  int width = 0;
  while (shift + width < 32 && ((mask >> (shift + width)) & 1u) != 0) ++width;
  const uint32_t value = (pixel & mask) >> shift;
  if (width >= 8) return static_cast<uint8_t>(value >> (width - 8));
  uint32_t wide = 0;
  for (int filled = 0; filled < 8; filled += width) {
    wide |= filled + width <= 8 ? value << (8 - filled - width) : value >> (filled + width - 8);
  }
  return static_cast<uint8_t>(wide);
}

uint32_t MaskedColor(const DibView& dib, uint32_t pixel) {
  return Rgb(MaskedChannel(pixel, dib.redMask), MaskedChannel(pixel, dib.greenMask),
             MaskedChannel(pixel, dib.blueMask));
}

}  // namespace

uint32_t DibPixel(const DibView& dib, int x, int y) {
  const size_t rowBytes = (static_cast<size_t>(dib.width) * dib.bitsPerPixel + 31) / 32 * 4;
  const int rows = std::abs(dib.height);
  // Positive heights store the bottom row first.
  const int storedRow = dib.height > 0 ? rows - 1 - y : y;
  const uint8_t* row = dib.bits + static_cast<size_t>(storedRow) * rowBytes;
  switch (dib.bitsPerPixel) {
    case 1:
      return TableColor(dib, (row[x / 8] >> (7 - x % 8)) & 1u);
    case 4:
      return TableColor(dib, (row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0xFu);
    case 8:
      return TableColor(dib, row[x]);
    case 16:
      return MaskedColor(dib, uint32_t{row[x * 2]} | uint32_t{row[x * 2 + 1]} << 8);
    case 24:
      return Rgb(row[x * 3 + 2], row[x * 3 + 1], row[x * 3]);
    case 32: {
      const uint8_t* bytes = row + static_cast<size_t>(x) * 4;
      return MaskedColor(dib, uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 |
                                  uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24);
    }
    default:
      return 0;
  }
}

}  // namespace platform
