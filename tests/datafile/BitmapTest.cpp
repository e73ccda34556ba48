// The dialog picture: bitmap entries checked and turned into pictures by the machine's
// own bitmap service (CreateDIBitmap on Windows, the pixel decoder on Linux).
#include <gtest/gtest.h>

#include "datafile/BitmapEntry.h"
#include "datafile/DataFile.h"
#include "platform/DibPixels.h"
#include "platform/Host.h"
#include "tests/fakes/FakeSystem.h"
#include "tests/support/TestFiles.h"

namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A bitmap file with `gap` unused bytes between the colour table and the pixel rows.
// Pixel (x, y) from the top has palette index (x + 3y) % 256 for 8 bits, or colour
// R = 10x, G = 20y, B = 99 for 24 bits.
std::vector<uint8_t> MakeBitmap(int width, int height, int bitsPerPixel, uint32_t gap,
                                bool topDown = false) {
  const uint32_t tableBytes = bitsPerPixel == 8 ? 256 * 4 : 0;
  const uint32_t rowBytes = (static_cast<uint32_t>(width) * bitsPerPixel + 31) / 32 * 4;
  const uint32_t pixelOffset = 14 + 40 + tableBytes + gap;
  std::vector<uint8_t> b(pixelOffset + rowBytes * height, 0xEE);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, static_cast<uint32_t>(b.size()));
  Put32(b, 6, 0);
  Put32(b, 10, pixelOffset);
  Put32(b, 14, 40);
  Put32(b, 18, static_cast<uint32_t>(width));
  Put32(b, 22, static_cast<uint32_t>(topDown ? -height : height));
  Put16(b, 26, 1);
  Put16(b, 28, static_cast<uint32_t>(bitsPerPixel));
  Put32(b, 30, 0);
  for (size_t i = 34; i < 54; ++i) b[i] = 0;
  for (uint32_t i = 0; i < tableBytes / 4; ++i) {
    b[54 + i * 4 + 0] = static_cast<uint8_t>(255 - i);  // blue
    b[54 + i * 4 + 1] = static_cast<uint8_t>(i);        // green
    b[54 + i * 4 + 2] = static_cast<uint8_t>(i / 2);    // red
    b[54 + i * 4 + 3] = 0;
  }
  for (int y = 0; y < height; ++y) {
    const int stored = topDown ? y : height - 1 - y;
    uint8_t* row = b.data() + pixelOffset + static_cast<size_t>(stored) * rowBytes;
    for (int x = 0; x < width; ++x) {
      if (bitsPerPixel == 8) {
        row[x] = static_cast<uint8_t>((x + 3 * y) % 256);
      } else {
        row[x * 3 + 0] = 99;
        row[x * 3 + 1] = static_cast<uint8_t>(20 * y);
        row[x * 3 + 2] = static_cast<uint8_t>(10 * x);
      }
    }
    for (uint32_t pad = static_cast<uint32_t>(width) * bitsPerPixel / 8; pad < rowBytes; ++pad)
      row[pad] = 0;
  }
  return b;
}

// A 2 x 2 bitmap whose pixels are read through colour masks (BI_BITFIELDS) that follow
// the info header; `pixels` are the stored values, top row first.
std::vector<uint8_t> BitfieldsBitmap(int bitsPerPixel, const std::vector<uint32_t>& masks,
                                     const std::vector<uint32_t>& pixels) {
  const uint32_t bytesPerPixel = static_cast<uint32_t>(bitsPerPixel) / 8;
  const uint32_t rowBytes = (2 * bytesPerPixel + 3) / 4 * 4;
  const uint32_t pixelOffset = 14 + 40 + 12;
  std::vector<uint8_t> b(pixelOffset + 2 * rowBytes, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 10, pixelOffset);
  Put32(b, 14, 40);
  Put32(b, 18, 2);
  Put32(b, 22, 2);
  Put16(b, 26, 1);
  Put16(b, 28, static_cast<uint32_t>(bitsPerPixel));
  Put32(b, 30, 3);  // BI_BITFIELDS
  for (size_t i = 0; i < 3; ++i) Put32(b, 54 + 4 * i, masks[i]);
  for (size_t i = 0; i < 4; ++i) {
    const size_t storedRow = 1 - i / 2;  // bottom-up
    const size_t at = pixelOffset + storedRow * rowBytes + (i % 2) * bytesPerPixel;
    for (uint32_t byte = 0; byte < bytesPerPixel; ++byte)
      b[at + byte] = static_cast<uint8_t>(pixels[i] >> (8 * byte));
  }
  return b;
}

uint32_t PaletteColor(uint32_t index) {
  return ((index / 2) << 16) | (index << 8) | (255 - index);
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

TEST_F(BitmapTest, EightBitPixelsAreFoundThroughTheirOffsetNotBehindTheTable) {
  auto picture = Load(MakeBitmap(21, 5, 8, 40));
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->Width(), 21);
  EXPECT_EQ(picture->Height(), 5);
  for (int y : {0, 2, 4}) {
    for (int x : {0, 7, 20}) {
      EXPECT_EQ(picture->PixelAt(x, y), PaletteColor(static_cast<uint32_t>(x + 3 * y)))
          << "pixel " << x << "," << y;
    }
  }
  EXPECT_EQ(datafile::PeekDataFileError(), datafile::DataFileError::None);
}

TEST_F(BitmapTest, TrueColourRowsStoredTopDownOrBottomUpComeOutTheSameWay) {
  for (bool topDown : {false, true}) {
    auto picture = Load(MakeBitmap(5, 3, 24, 0, topDown));
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->PixelAt(4, 0), (40u << 16) | (0u << 8) | 99u);
    EXPECT_EQ(picture->PixelAt(1, 2), (10u << 16) | (40u << 8) | 99u);
  }
}

TEST_F(BitmapTest, BitfieldBitmapsAreReadThroughTheirMasks) {
  struct Case {
    int bitsPerPixel;
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
    auto picture = Load(BitfieldsBitmap(c.bitsPerPixel, c.masks, c.pixels));
    ASSERT_NE(picture, nullptr) << c.bitsPerPixel << " bits";
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(picture->PixelAt(i % 2, i / 2), c.colors[static_cast<size_t>(i)])
          << c.bitsPerPixel << " bits, pixel " << i;
    }
  }
}

TEST_F(BitmapTest, ABitmapWhosePartsLieOutsideItsEntryGivesNoPicture) {
  std::vector<uint8_t> good = MakeBitmap(16, 4, 8, 0);
  std::vector<uint8_t> truncated(good.begin(), good.end() - 1);
  EXPECT_EQ(Load(truncated), nullptr);

  std::vector<uint8_t> farBits = good;
  Put32(farBits, 10, 0x7FFFFFF0u);
  EXPECT_EQ(Load(farBits), nullptr);

  std::vector<uint8_t> hugeTable = good;
  Put32(hugeTable, 14 + 32, 100000);  // colours used, beyond what 8 bits can index
  EXPECT_EQ(Load(hugeTable), nullptr);

  std::vector<uint8_t> compressed = good;
  Put32(compressed, 14 + 16, 1);  // RLE8
  EXPECT_EQ(Load(compressed), nullptr);

  EXPECT_EQ(Load(std::vector<uint8_t>(good.begin(), good.begin() + 30)), nullptr);

  // Colour masks that would lie past the entry, and masks at a depth that has none.
  const std::vector<uint8_t> masked = BitfieldsBitmap(32, {0xFF, 0xFF00, 0xFF0000}, {0, 0, 0, 0});
  std::vector<uint8_t> shortMasks(masked.begin(), masked.begin() + 14 + 40 + 8);
  EXPECT_EQ(Load(shortMasks), nullptr);
  std::vector<uint8_t> maskedEightBit = good;
  Put32(maskedEightBit, 14 + 16, 3);
  EXPECT_EQ(Load(maskedEightBit), nullptr);
  EXPECT_EQ(datafile::PeekDataFileError(), datafile::DataFileError::None);
}

TEST_F(BitmapTest, AMissingBitmapGivesNoPictureAndTakesTheError) {
  Load(MakeBitmap(4, 4, 8, 0));
  EXPECT_EQ(datafile::LoadBitmap(handle.get(), 101, *graphics), nullptr);
  EXPECT_EQ(datafile::PeekDataFileError(), datafile::DataFileError::None);
}

TEST(DibPixels, SmallDepthsIndexTheirColourTable) {
  // 1 bit: 10 pixels wide, pattern 1010110000; 4 bits: nibbles 0..9.
  std::vector<uint8_t> info(40 + 16 * 4, 0);
  for (int i = 0; i < 16; ++i) {
    info[40 + i * 4 + 0] = static_cast<uint8_t>(i);       // blue
    info[40 + i * 4 + 2] = static_cast<uint8_t>(i * 16);  // red
  }
  platform::DibView dib;
  dib.info = info.data();
  dib.width = 10;
  dib.height = -1;
  uint8_t oneBit[4] = {0xAC, 0x00, 0, 0};
  dib.bitsPerPixel = 1;
  dib.colorCount = 2;
  dib.infoBytes = 40 + 2 * 4;
  dib.bits = oneBit;
  const int expected[10] = {1, 0, 1, 0, 1, 1, 0, 0, 0, 0};
  for (int x = 0; x < 10; ++x)
    EXPECT_EQ(platform::DibPixel(dib, x, 0), expected[x] ? 0x100001u : 0u);

  uint8_t fourBit[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0, 0, 0};
  dib.bitsPerPixel = 4;
  dib.colorCount = 16;
  dib.infoBytes = 40 + 16 * 4;
  dib.bits = fourBit;
  for (uint32_t x = 0; x < 10; ++x)
    EXPECT_EQ(platform::DibPixel(dib, static_cast<int>(x), 0), (x * 16) << 16 | x);
}

}  // namespace
