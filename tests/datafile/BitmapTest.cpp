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

void Put(std::vector<uint8_t>& b, size_t at, uint32_t value, int bytes = 4) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t PaletteColor(uint32_t index) {
  return ((index / 2) << 16) | (index << 8) | (255 - index);
}

// A bitmap file whose pixel (x, y) from the top stores pixel(x, y); 8 bits get a palette,
// masks make it BI_BITFIELDS, and `gap` unused bytes lie between the tables and the rows.
std::vector<uint8_t> MakeBitmap(int width, int height, int bits,
                                const std::function<uint32_t(int, int)>& pixel, uint32_t gap = 0,
                                bool topDown = false, const std::vector<uint32_t>& masks = {}) {
  const uint32_t table = bits == 8 ? 256 * 4 : static_cast<uint32_t>(masks.size()) * 4;
  const uint32_t rowBytes = (static_cast<uint32_t>(width * bits) + 31) / 32 * 4;
  const uint32_t pixelOffset = 54 + table + gap;
  std::vector<uint8_t> b(pixelOffset + rowBytes * static_cast<uint32_t>(height), 0);
  b[0] = 'B';
  b[1] = 'M';
  Put(b, 2, static_cast<uint32_t>(b.size()));
  Put(b, 10, pixelOffset);
  Put(b, 14, 40);
  Put(b, 18, static_cast<uint32_t>(width));
  Put(b, 22, static_cast<uint32_t>(topDown ? -height : height));
  Put(b, 26, 1, 2);
  Put(b, 28, static_cast<uint32_t>(bits), 2);
  Put(b, 30, masks.empty() ? 0 : 3);
  for (size_t i = 0; i < masks.size(); ++i) Put(b, 54 + 4 * i, masks[i]);
  for (uint32_t i = 0; bits == 8 && i < 256; ++i) Put(b, 54 + 4 * i, PaletteColor(i));
  std::fill(b.begin() + 54 + table, b.begin() + pixelOffset, 0xEE);
  for (int y = 0; y < height; ++y) {
    const uint32_t stored = static_cast<uint32_t>(topDown ? y : height - 1 - y);
    for (int x = 0; x < width; ++x)
      Put(b, pixelOffset + stored * rowBytes + static_cast<uint32_t>(x * bits / 8), pixel(x, y),
          bits / 8);
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
    datafile::DataFileServices services;
    services.files = files.get();
    services.system = &system;
    handle = datafile::OpenDataFile(services, path);
    EXPECT_NE(handle, nullptr);
    return datafile::LoadBitmap(handle.get(), 100, *graphics);
  }

  testsupport::TempDir dir;
  std::unique_ptr<platform::FileSystem> files = platform::MakeHostFileSystem();
  std::unique_ptr<platform::Graphics> graphics = platform::MakeHostGraphics();
  fakes::FakeSystem system;
  std::unique_ptr<datafile::DataFile> handle;
};

TEST_F(BitmapTest, PixelsAreFoundThroughTheirOffsetInEitherRowOrder) {
  auto picture = Load(MakeBitmap(21, 5, 8, EightBit, 40));
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->Width(), 21);
  EXPECT_EQ(picture->Height(), 5);
  for (int y : {0, 2, 4}) {
    for (int x : {0, 7, 20})
      EXPECT_EQ(picture->PixelAt(x, y), PaletteColor(EightBit(x, y))) << x << "," << y;
  }
  for (bool topDown : {false, true}) {
    picture = Load(MakeBitmap(5, 3, 24, TrueColour, 0, topDown));
    ASSERT_NE(picture, nullptr);
    for (const auto& [x, y] : {std::pair<int, int>{4, 0}, {1, 2}})
      EXPECT_EQ(picture->PixelAt(x, y), TrueColour(x, y)) << topDown;
  }
  // A missing bitmap gives no picture and takes its error.
  EXPECT_EQ(datafile::LoadBitmap(handle.get(), 101, *graphics), nullptr);
  EXPECT_EQ(datafile::PeekDataFileError(), datafile::DataFileError::None);
}

TEST_F(BitmapTest, BitfieldBitmapsAreReadThroughTheirMasks) {
  struct Case {
    int bits;
    std::vector<uint32_t> masks;   // red, green, blue
    std::vector<uint32_t> pixels;  // top left, top right, bottom left, bottom right
    std::vector<uint32_t> colors;  // 0xRRGGBB; narrow fields widen by repeating their top bits
  };
  const std::vector<Case> cases = {
      {16,
       {0xF800, 0x07E0, 0x001F},
       {0xF800, 0x07E0, 0x001F, (16u << 11) | (32u << 5) | 8u},
       {0xFF0000, 0x00FF00, 0x0000FF, 0x848242}},
      {32,
       {0x000000FF, 0x0000FF00, 0x00FF0000},
       {0x000000FF, 0x0000FF00, 0x00FF0000, 0x00563412},
       {0xFF0000, 0x00FF00, 0x0000FF, 0x123456}},
  };
  for (const Case& c : cases) {
    auto pixel = [&](int x, int y) { return c.pixels[static_cast<size_t>(x + 2 * y)]; };
    auto picture = Load(MakeBitmap(2, 2, c.bits, pixel, 0, false, c.masks));
    ASSERT_NE(picture, nullptr) << c.bits << " bits";
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(picture->PixelAt(i % 2, i / 2), c.colors[static_cast<size_t>(i)]) << c.bits << i;
  }
}

TEST_F(BitmapTest, ABitmapWhosePartsLieOutsideItsEntryGivesNoPicture) {
  const std::vector<uint8_t> good = MakeBitmap(16, 4, 8, EightBit);
  const std::vector<uint8_t> masked =
      MakeBitmap(2, 2, 32, EightBit, 0, false, {0xFF, 0xFF00, 0xFF0000});
  std::vector<std::vector<uint8_t>> bad = {
      {good.begin(), good.end() - 1},                  // last row cut short
      {good.begin(), good.begin() + 30},               // info header cut short
      {masked.begin(), masked.begin() + 14 + 40 + 8},  // masks past the entry
      good,
      good,
      good,
      good};
  Put(bad[3], 10, 0x7FFFFFF0u);  // pixels far away
  Put(bad[4], 14 + 32, 100000);  // colours used, beyond what 8 bits can index
  Put(bad[5], 14 + 16, 1);       // RLE8
  Put(bad[6], 14 + 16, 3);       // masks at a depth that has none
  for (size_t i = 0; i < bad.size(); ++i) EXPECT_EQ(Load(bad[i]), nullptr) << i;
  EXPECT_EQ(datafile::PeekDataFileError(), datafile::DataFileError::None);
}

TEST(DibPixels, SmallDepthsIndexTheirColourTable) {
  std::vector<uint8_t> info(40 + 16 * 4, 0);
  for (int i = 0; i < 16; ++i) {
    info[40 + i * 4 + 0] = static_cast<uint8_t>(i);       // blue
    info[40 + i * 4 + 2] = static_cast<uint8_t>(i * 16);  // red
  }
  uint8_t oneBit[4] = {0xAC, 0x00, 0, 0};                        // 1010110000
  uint8_t fourBit[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0, 0, 0};  // 0..9
  for (int bits : {1, 4}) {
    platform::DibView dib;
    dib.info = info.data();
    dib.width = 10;
    dib.height = -1;
    dib.bitsPerPixel = static_cast<uint16_t>(bits);
    dib.colorCount = 1u << bits;
    dib.infoBytes = 40 + dib.colorCount * 4;
    dib.bits = bits == 1 ? oneBit : fourBit;
    for (uint32_t x = 0; x < 10; ++x) {
      const uint32_t index = bits == 4 ? x : (0xAC00u >> (15 - x)) & 1;
      EXPECT_EQ(platform::DibPixel(dib, static_cast<int>(x), 0), (index * 16) << 16 | index);
    }
  }
}

}  // namespace
