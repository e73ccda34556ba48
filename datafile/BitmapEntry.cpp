#include "datafile/BitmapEntry.h"

#include <cstdlib>

#include "platform/ByteOrder.h"

namespace datafile {

namespace {

constexpr uint32_t kUncompressed = 0;  // BI_RGB
constexpr uint32_t kBitfields = 3;     // BI_BITFIELDS
// The three colour masks (red, green, blue) sit right behind a 40-byte info header, which
// is also where the larger headers that carry them inside keep them.
constexpr size_t kMaskBytes = 12;
constexpr int32_t kLargestSide = 32768;

bool SupportedDepth(uint16_t bitsPerPixel) {
  switch (bitsPerPixel) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool ParseBitmapEntry(const uint8_t* data, size_t size, platform::DibView* dib) {
  using platform::GetLe16;
  using platform::GetLe32;
  if (data == nullptr || size < kBitmapFileHeaderBytes + kBitmapInfoHeaderBytes) return false;
  const uint32_t pixelOffset = GetLe32(data + 10);  // bfOffBits
  const uint8_t* info = data + kBitmapFileHeaderBytes;
  const uint32_t infoHeaderBytes = GetLe32(info + 0);  // biSize
  const int32_t width = static_cast<int32_t>(GetLe32(info + 4));
  const int32_t height = static_cast<int32_t>(GetLe32(info + 8));
  const uint16_t bitsPerPixel = GetLe16(info + 14);
  const uint32_t compression = GetLe32(info + 16);
  const uint32_t colorsUsed = GetLe32(info + 32);

  if (infoHeaderBytes < kBitmapInfoHeaderBytes || infoHeaderBytes > size - kBitmapFileHeaderBytes) {
    return false;
  }
  if (width <= 0 || width > kLargestSide || height == 0 || height < -kLargestSide ||
      height > kLargestSide) {
    return false;
  }
  const bool masked = compression == kBitfields && (bitsPerPixel == 16 || bitsPerPixel == 32);
  if (!SupportedDepth(bitsPerPixel) || (compression != kUncompressed && !masked)) return false;

  // Small depths index a table of colorsUsed entries (all of them when it is 0). Larger
  // depths need no table, but the system still reads colorsUsed entries as an optional
  // palette, so those must lie inside the entry too.
  uint64_t colorCount = colorsUsed;
  if (bitsPerPixel <= 8) {
    const uint64_t fullTable = uint64_t{1} << bitsPerPixel;
    if (colorsUsed > fullTable) return false;
    colorCount = colorsUsed == 0 ? fullTable : colorsUsed;
  }
  // Masks that follow a 40-byte header belong to the info that the system reads.
  const uint64_t maskBytes =
      masked && infoHeaderBytes < kBitmapInfoHeaderBytes + kMaskBytes ? kMaskBytes : 0;
  const uint64_t infoBytes = uint64_t{infoHeaderBytes} + maskBytes + colorCount * 4;
  if (kBitmapFileHeaderBytes + infoBytes > size) return false;

  const uint64_t rowBytes = (uint64_t{static_cast<uint32_t>(width)} * bitsPerPixel + 31) / 32 * 4;
  const uint64_t bitsBytes = rowBytes * static_cast<uint64_t>(std::llabs(height));
  if (pixelOffset < kBitmapFileHeaderBytes + infoHeaderBytes + maskBytes ||
      uint64_t{pixelOffset} + bitsBytes > size) {
    return false;
  }

  dib->info = info;
  dib->infoBytes = static_cast<size_t>(infoBytes);
  dib->bits = data + pixelOffset;
  dib->bitsBytes = static_cast<size_t>(bitsBytes);
  dib->width = width;
  dib->height = height;
  dib->bitsPerPixel = bitsPerPixel;
  dib->colorCount = static_cast<uint32_t>(colorCount);
  if (masked) {
    dib->redMask = GetLe32(info + kBitmapInfoHeaderBytes);
    dib->greenMask = GetLe32(info + kBitmapInfoHeaderBytes + 4);
    dib->blueMask = GetLe32(info + kBitmapInfoHeaderBytes + 8);
  } else if (bitsPerPixel == 16) {
    dib->redMask = 0x7C00;
    dib->greenMask = 0x03E0;
    dib->blueMask = 0x001F;
  } else {
    dib->redMask = 0x00FF0000;
    dib->greenMask = 0x0000FF00;
    dib->blueMask = 0x000000FF;
  }
  return true;
}

}  // namespace datafile
