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
    case 16: {
      // Uncompressed 16-bit pixels are 5-5-5, the top bit unused.
      const uint32_t value = row[x * 2] | (row[x * 2 + 1] << 8);
      auto widen = [](uint32_t five) { return static_cast<uint8_t>((five << 3) | (five >> 2)); };
      return Rgb(widen((value >> 10) & 31), widen((value >> 5) & 31), widen(value & 31));
    }
    case 24:
      return Rgb(row[x * 3 + 2], row[x * 3 + 1], row[x * 3]);
    case 32:
      return Rgb(row[x * 4 + 2], row[x * 4 + 1], row[x * 4]);
    default:
      return 0;
  }
}

}  // namespace platform
