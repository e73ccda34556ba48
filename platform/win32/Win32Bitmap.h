// The Windows picture: a device-dependent bitmap for the screen. The dialog shows it
// through its handle, so the class is visible to the dialog as well as to the graphics
// back end that makes it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/Graphics.h"

namespace platform {

class Win32Bitmap : public Bitmap {
 public:
  Win32Bitmap(HBITMAP bitmap, int width, int height)
      : bitmap_(bitmap), width_(width), height_(height) {}
  ~Win32Bitmap() override { DeleteObject(bitmap_); }
  Win32Bitmap(const Win32Bitmap&) = delete;
  Win32Bitmap& operator=(const Win32Bitmap&) = delete;

  int Width() const override { return width_; }
  int Height() const override { return height_; }
  uint32_t PixelAt(int x, int y) const override {
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(memory, bitmap_);
    const COLORREF color = GetPixel(memory, x, y);
    SelectObject(memory, previous);
    DeleteDC(memory);
    return (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color);
  }
  HBITMAP handle() const { return bitmap_; }

 private:
  HBITMAP bitmap_;
  int width_;
  int height_;
};

}  // namespace platform
