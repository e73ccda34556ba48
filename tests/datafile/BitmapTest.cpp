// The dialog picture: bitmap entries checked and turned into pictures by the machine's
// own bitmap service (CreateDIBitmap on Windows, the pixel decoder on Linux).
#include <gtest/gtest.h>

#include <functional>

#include "datafile/BitmapEntry.h"
#include "datafile/DataFile.h"
#include "platform/DibPixels.h"
#include "platform/Host.h"
#include "tests/fakes/FakeSystem.h"
#include "tests/support/TestFiles.h"

namespace {

using Pixel = std::function<uint32_t(int, int)>;

void Put(std::vector<uint8_t>& b, size_t at, uint32_t value, int bytes = 4) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t PaletteColor(uint32_t index) {
  return ((index / 2) << 16) | (index << 8) | (255 - index);
}

// A bitmap file whose pixel (x, y) from the top stores pixel(x, y); up to 8 bits get a
// palette, masks make it BI_BITFIELDS, and `gap` unused bytes lie between tables and rows.
std::vector<uint8_t> MakeBitmap(int width, int height, int bits, const Pixel& pixel,
                                uint32_t gap = 0, bool topDown = false,
                                const std::vector<uint32_t>& masks = {}) {
  const uint32_t table = bits <= 8 ? 4u << bits : static_cast<uint32_t>(masks.size()) * 4;
  const uint32_t rowBytes = (static_cast<uint32_t>(width * bits) + 31) / 32 * 4;
  const uint32_t pixelOffset = 54 + table + gap;
  std::vector<uint8_t> b(pixelOffset + rowBytes * static_cast<uint32_t>(height), 0);
  std::fill(b.begin() + 54 + table, b.begin() + pixelOffset, 0xEE);
  Put(b, 0, 'B' | 'M' << 8, 2);
  Put(b, 2, static_cast<uint32_t>(b.size()));
  Put(b, 10, pixelOffset);
  Put(b, 14, 40);
  Put(b, 18, static_cast<uint32_t>(width));
  Put(b, 22, static_cast<uint32_t>(topDown ? -height : height));
  Put(b, 26, 1 | static_cast<uint32_t>(bits) << 16);  // planes, then bits per pixel
  Put(b, 30, masks.empty() ? 0 : 3);
  for (size_t i = 0; i < masks.size(); ++i) Put(b, 54 + 4 * i, masks[i]);
  for (uint32_t i = 0; bits <= 8 && i < (1u << bits); ++i) Put(b, 54 + 4 * i, PaletteColor(i));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint32_t bit = static_cast<uint32_t>(x * bits), row = topDown ? y : height - 1 - y;
      const size_t at = pixelOffset + row * rowBytes + bit / 8;
      if (bits < 8) b[at] = static_cast<uint8_t>(b[at] | pixel(x, y) << (8 - bits - bit % 8));
      if (bits >= 8) Put(b, at, pixel(x, y), bits / 8);
    }
  }
  return b;
}

uint32_t EightBit(int x, int y) {
  return static_cast<uint32_t>((x + 3 * y) % 256);
}
uint32_t TrueColour(int x, int y) {
  return static_cast<uint32_t>((10 * x) << 16 | (20 * y) << 8 | 99);
}

class BitmapTest : public ::testing::Test {
 protected:
  void SetUp() override { datafile::TakeDataFileError(); }
  std::unique_ptr<platform::Bitmap> Load(const std::vector<uint8_t>& bitmap) {
    handle.reset();  // the open file shares only reading, so Windows would refuse the rewrite
    const std::string path = dir.Path("install.dat");
    testsupport::WriteBytes(
        path, mkinstalldat::BuildDataFile({{1000, testsupport::Bytes("t")}, {100, bitmap}}));
    handle = datafile::OpenDataFile({files.get(), &system}, path);
    EXPECT_NE(handle, nullptr);
    return datafile::LoadBitmap(handle.get(), 100, *graphics);
  }

  testsupport::TempDir dir;
  std::unique_ptr<platform::FileSystem> files = platform::MakeHostFileSystem();
  std::unique_ptr<platform::Graphics> graphics = platform::MakeHostGraphics();
  fakes::FakeSystem system;
  std::unique_ptr<datafile::DataFile> handle;
};

// Every pixel, found through the file's pixel offset in either row order, through a palette
// or masks (narrow mask fields widen by repeating their top bits).
TEST_F(BitmapTest, EveryPixelIsReadAsStored) {
  const Pixel palette = [](int x, int y) { return PaletteColor(EightBit(x, y)); };
  const Pixel pixel4 = [](int x, int y) { return static_cast<uint32_t>((x + y) % 16); };
  const Pixel pixel1 = [](int x, int y) { return static_cast<uint32_t>(x * y % 3 == 1); };
  // Four pixels: the three given, then `last`.
  const auto corners = [](std::vector<uint32_t> values, uint32_t last) -> Pixel {
    values.push_back(last);
    return [values](int x, int y) { return values[static_cast<size_t>(x + 2 * y)]; };
  };
  const std::vector<uint32_t> m16 = {0xF800, 0x07E0, 0x001F}, m32 = {0xFF, 0xFF00, 0xFF0000},
                              rgb = {0xFF0000, 0x00FF00, 0x0000FF};
  const struct {
    int width, height, bits;
    uint32_t gap;
    bool topDown;
    std::vector<uint32_t> masks;  // red, green, blue
    Pixel stored, color;
  } cases[] = {
      {21, 5, 8, 40, false, {}, EightBit, palette},
      {5, 3, 24, 0, false, {}, TrueColour, TrueColour},
      {5, 3, 24, 0, true, {}, TrueColour, TrueColour},
      {11, 3, 4, 0, true, {}, pixel4, [&](int x, int y) { return PaletteColor(pixel4(x, y)); }},
      {10, 3, 1, 4, false, {}, pixel1, [&](int x, int y) { return PaletteColor(pixel1(x, y)); }},
      {2, 2, 16, 0, false, m16, corners(m16, 0x8408), corners(rgb, 0x848242)},
      {2, 2, 32, 0, false, m32, corners(m32, 0x563412), corners(rgb, 0x123456)}};
  for (const auto& c : cases) {
    auto picture = Load(MakeBitmap(c.width, c.height, c.bits, c.stored, c.gap, c.topDown, c.masks));
    ASSERT_NE(picture, nullptr) << c.bits;
    EXPECT_EQ(std::make_pair(picture->Width(), picture->Height()),
              std::make_pair(c.width, c.height));
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x)
        EXPECT_EQ(picture->PixelAt(x, y), c.color(x, y)) << c.bits << " bits " << x << "," << y;
    }
  }
  // A missing bitmap gives no picture and takes its error.
  EXPECT_EQ(datafile::LoadBitmap(handle.get(), 101, *graphics), nullptr);
  EXPECT_EQ(datafile::PeekDataFileError(), datafile::DataFileError::None);
}

TEST_F(BitmapTest, ABitmapWhosePartsLieOutsideItsEntryGivesNoPicture) {
  const std::vector<uint8_t> good = MakeBitmap(16, 4, 8, EightBit);
  const std::vector<uint8_t> masked =
      MakeBitmap(2, 2, 32, EightBit, 0, false, {0xFF, 0xFF00, 0xFF0000});
  std::vector<std::vector<uint8_t>> bad(7, good);
  bad[0].pop_back();                                            // last row cut short
  bad[1].resize(30);                                            // info header cut short
  bad[2].assign(masked.begin(), masked.begin() + 14 + 40 + 8);  // masks past the entry
  Put(bad[3], 10, 0x7FFFFFF0u);                                 // pixels far away
  Put(bad[4], 14 + 32, 100000);  // colours used, beyond what 8 bits can index
  Put(bad[5], 14 + 16, 1);       // RLE8
  Put(bad[6], 14 + 16, 3);       // masks at a depth that has none
  for (size_t i = 0; i < bad.size(); ++i) EXPECT_EQ(Load(bad[i]), nullptr) << i;
  EXPECT_EQ(datafile::PeekDataFileError(), datafile::DataFileError::None);
}

}  // namespace
