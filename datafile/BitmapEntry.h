// A bitmap entry is a whole Windows bitmap file: a 14-byte file header, the info header
// with its colour table, and the pixel rows at the offset that the file header names.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Graphics.h"

namespace datafile {

constexpr size_t kBitmapFileHeaderBytes = 14;
constexpr size_t kBitmapInfoHeaderBytes = 40;

/// Checks that the entry's info header, colour table or colour masks and pixel rows all
/// lie inside its `size` bytes and describe an uncompressed bitmap of 1, 4, 8, 16, 24 or 32
/// bits per pixel, or a 16- or 32-bit one with colour masks (BI_BITFIELDS), and points
/// `*dib` at them. The pixel rows are found through bfOffBits (the 32-bit field at byte
/// 10), not assumed to follow the colour table.
[[nodiscard]] bool ParseBitmapEntry(const uint8_t* data, size_t size, platform::DibView* dib);

}  // namespace datafile
