// Bitmaps for the dialog's picture. The core checks a stored bitmap's layout and hands
// the parts to the platform, which makes a picture the dialog can show.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

/// A device-independent bitmap whose layout has been checked: `info` is the info header
/// followed by its colour table, `bits` the pixel rows, both inside one stored entry.
struct DibView {
  const uint8_t* info = nullptr;
  size_t infoBytes = 0;
  const uint8_t* bits = nullptr;
  size_t bitsBytes = 0;
  int32_t width = 0;
  int32_t height = 0;  ///< positive: rows stored bottom-up; negative: top-down
  uint16_t bitsPerPixel = 0;
  uint32_t colorCount = 0;  ///< entries in the colour table
  /// Where 16- and 32-bit pixels keep each colour: the stored masks of a BI_BITFIELDS
  /// bitmap, or the fixed 5-5-5 and 8-8-8 layouts of an uncompressed one.
  uint32_t redMask = 0;
  uint32_t greenMask = 0;
  uint32_t blueMask = 0;
};

/// A picture owned by its holder.
class Bitmap {
 public:
  virtual ~Bitmap() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  /// The colour at (x, y), counted from the top left, as 0x00RRGGBB.
  virtual uint32_t PixelAt(int x, int y) const = 0;
};

class Graphics {
 public:
  virtual ~Graphics() = default;
  /// Makes a picture for the screen from a checked bitmap; null when the system refuses.
  virtual std::unique_ptr<Bitmap> CreateDeviceBitmap(const DibView& dib) = 0;
};

}  // namespace platform
