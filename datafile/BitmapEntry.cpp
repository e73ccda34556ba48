#include "datafile/BitmapEntry.h"

#include <cstdlib>

#include "image/ByteOrder.h"

namespace datafile {

namespace {

constexpr uint32_t kUncompressed = 0;  // BI_RGB
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
  using image::GetLe16;
  using image::GetLe32;
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
  if (!SupportedDepth(bitsPerPixel) || compression != kUncompressed) return false;

  uint64_t colorCount = 0;
  if (bitsPerPixel <= 8) {
    const uint64_t fullTable = uint64_t{1} << bitsPerPixel;
    if (colorsUsed > fullTable) return false;
    colorCount = colorsUsed == 0 ? fullTable : colorsUsed;
  }
  const uint64_t infoBytes = uint64_t{infoHeaderBytes} + colorCount * 4;
  if (kBitmapFileHeaderBytes + infoBytes > size) return false;

  const uint64_t rowBytes = (uint64_t{static_cast<uint32_t>(width)} * bitsPerPixel + 31) / 32 * 4;
  const uint64_t bitsBytes = rowBytes * static_cast<uint64_t>(std::llabs(height));
  if (pixelOffset < kBitmapFileHeaderBytes + infoHeaderBytes ||
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
  return true;
}

}  // namespace datafile
