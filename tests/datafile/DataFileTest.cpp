// DataFile on in-memory files with faults, on a real file shared by threads, and bitmaps.
#include "datafile/DataFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>

#include "platform/Host.h"
#include "platform/Threads.h"
#include "tests/fakes/FakeFileSystem.h"
#include "tests/fakes/FakeSystem.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace std::string_literals;
using namespace datafile;
using namespace mkinstalldat;
using namespace testsupport;

const std::vector<mkinstalldat::DatEntry> kTexts = {
    {1000, Bytes("Title")}, {1010, Bytes("Ready on %c:")}, {1037, Bytes("Drive %c:")}};

using Pixel = std::function<uint32_t(int, int)>;
const auto PaletteColor = [](uint32_t i) { return (i / 2) << 16 | i << 8 | (255 - i); };
const Pixel EightBit = [](int x, int y) { return static_cast<uint32_t>((x + 3 * y) % 256); };
const Pixel TrueColour = [](int x, int y) { return uint32_t(10 * x << 16 | 20 * y << 8 | 99); };

// Stores pixel(x, y) from the top; a palette up to 8 bits, masks, `gap` bytes before the rows.
std::vector<uint8_t> MakeBitmap(int width, int height, int bits, const Pixel& pixel,
                                uint32_t gap = 0, bool topDown = false,
                                const std::vector<uint32_t>& masks = {}) {
  std::string tables;
  for (uint32_t i = 0; bits <= 8 && i < (1u << bits); ++i) tables += Le(PaletteColor(i), 4);
  for (uint32_t mask : masks) tables += Le(mask, 4);
  const uint32_t rowBytes = (static_cast<uint32_t>(width * bits) + 31) / 32 * 4;
  const uint32_t pixelOffset = static_cast<uint32_t>(54 + tables.size() + gap);
  const uint32_t size = pixelOffset + rowBytes * static_cast<uint32_t>(height);
  const std::string head = "BM" + Le(size, 4) + Le(0, 4) + Le(pixelOffset, 4) + Le(40, 4) +
                           Le(width, 4) + Le(topDown ? -height : height, 4) + Le(1, 2) +
                           Le(bits, 2) + Le(masks.empty() ? 0 : 3, 4) + std::string(20, '\0') +
                           tables + std::string(gap, '\xEE');
  std::vector<uint8_t> b(head.begin(), head.end());
  b.resize(size, 0);
  for (int x = 0, y = 0; y < height; x = (x + 1) % width, y += x == 0) {
    const uint32_t bit = static_cast<uint32_t>(x * bits), row = topDown ? y : height - 1 - y;
    const size_t at = pixelOffset + row * rowBytes + bit / 8;
    for (int i = 0; i < std::max(bits / 8, 1); ++i)
      b[at + i] |=
          static_cast<uint8_t>(pixel(x, y) << (bits < 8 ? 8 - bits - bit % 8 : 0) >> 8 * i);
  }
  return b;
}

class DataFileTest : public ::testing::Test {
 protected:
  void SetUp() override { TakeDataFileError(); }
  // Each file gets its own name, so that handles already open keep their bytes.
  std::unique_ptr<DataFile> Open(const std::vector<uint8_t>& bytes) {
    const std::string name = "install" + std::to_string(files.files_.size()) + ".dat";
    files.Add(name, bytes);
    return OpenDataFile({&files, &system}, name);
  }
  std::unique_ptr<DataFile> Open() { return Open(BuildDataFile(kTexts)); }
  // The code that an operation with this result (true or false) left pending, taken.
  template <typename T>
  static DataFileError Code(const T& result, bool expected = false) {
    EXPECT_EQ(static_cast<bool>(result), expected);
    return TakeDataFileError();
  }
  std::unique_ptr<platform::Bitmap> Picture(const std::vector<uint8_t>& bitmap) {
    pictures = Open(BuildDataFile({{100, bitmap}}));
    return LoadBitmap(pictures.get(), 100, *graphics);
  }

  fakes::FakeFileSystem files;
  fakes::FakeSystem system;
  std::unique_ptr<platform::Graphics> graphics = platform::MakeHostGraphics();
  std::unique_ptr<DataFile> pictures;
};

// Hand-written, so a field that encoder and reader both get wrong shows; directory at 25.
const std::string kGoldenFile =
    "\xBA\xBE\xAF\xFE\3\0\1\0\0\0\x19\0\0\0TalvoKERNEL"  // data at 14, 19
    "\0\xE8\3\0\x0E\0\0\0\5\0\0\0"                       // 1000 at 14, 5
    "\0\x13\x27\0\x13\0\0\0\6\0\0\0"                     // 10003 at 19, 6
    "\0\xE9\3\0\x0E\0\0\0\xFF\xFF\xFF\x7F"s;             // 1001: too long

using GoldenBytesTest = DataFileTest;

TEST_F(GoldenBytesTest, HandWrittenFileReadsAsWritten) {
  system.largestAllocation = size_t{1} << 20;
  auto file = Open(Bytes(kGoldenFile));
  EXPECT_EQ(LoadText(file.get(), 1000), "Talvo");
  EntryLocation kernelMap;
  ASSERT_TRUE(LocateEntryAndTakeError(file.get(), 10003, &kernelMap));
  EXPECT_EQ(std::make_pair(kernelMap.offset, kernelMap.size), std::make_pair(19u, 6u));
  std::string text = "stale";  // too long: a read fault, found before allocating
  EXPECT_EQ(LoadTextOrError(file.get(), 1001, &text), DataFileError::Io);
  EXPECT_EQ(text, "");
}

TEST_F(DataFileTest, OpensReadOnlySharedRefusesBadFilesAndHoldsBackWhileAnErrorIsPending) {
  ASSERT_NE(Open(), nullptr);
  const platform::FileOpenFlags& flags = files.opens[0].flags;
  EXPECT_EQ(std::vector<uint32_t>({flags.access, flags.share, flags.disposition}),
            std::vector<uint32_t>({platform::kGenericRead, platform::kFileShareRead, 3}));
  EXPECT_EQ(Code(OpenDataFile({&files, &system}, "absent.dat")), DataFileError::BadHandle);
  auto magic = BuildDataFile(kTexts), newer = magic, older = magic, shortHeader = magic;
  magic[0] ^= 1, newer[6] = 2, older[6] = 0, shortHeader.resize(13);  // version at 6
  for (const auto& [bytes, error] : {std::pair(shortHeader, DataFileError::Io),
                                     {magic, DataFileError::BadMagic},
                                     {newer, DataFileError::BadVersion}})
    EXPECT_EQ(Code(Open(bytes)), error);
  EXPECT_EQ(LoadText(Open(older).get(), 1000), "Title");
  // A header alone has no texts and no directory, which is no fault.
  auto handle = Open(BuildDataFile({}));
  EXPECT_EQ(LoadText(handle.get(), 1000), "");
  uint16_t count = 99;
  EXPECT_EQ(ReadDirectory(handle.get(), &count), nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(PeekDataFileError(), DataFileError::None);
  // A pending error stops the operations that check it, opening and closing among them.
  SetDataFileError(DataFileError::NotFound);
  const size_t opens = files.opens.size();
  EXPECT_EQ(OpenDataFile({&files, &system}, "install0.dat"), nullptr);
  EXPECT_EQ(files.opens.size(), opens) << "no open while an error is pending";
  DataFileHeader header;
  EXPECT_FALSE(ReadHeader(handle.get(), &header));
  CloseDataFile(handle);
  EXPECT_EQ(files.openHandles, 1);
  EXPECT_EQ(SetDataFileError(DataFileError::None), DataFileError::NotFound);
  CloseDataFile(handle);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(files.openHandles, 0);
}

TEST_F(DataFileTest, LooksEntriesUpByNumber) {
  auto handle = Open(BuildDataFile({{1001, Bytes("first")},
                                    {1002, Bytes("")},
                                    {1001, Bytes("second")},
                                    {1003, {'a', 'b', 0, 'c'}},
                                    {10002, Bytes("payload")}}));
  // The first of two records wins, a text ends at its first zero, a missing one is empty.
  for (const auto& [id, text] : std::vector<std::pair<uint16_t, std::string>>{
           {1001, "first"}, {1002, ""}, {1003, "ab"}, {4242, ""}})
    EXPECT_EQ(LoadText(handle.get(), id), text);
  EXPECT_EQ(PeekDataFileError(), DataFileError::None);
  uint32_t size = 0;
  const uint32_t offset = LocateEntry(handle.get(), 10002, &size);
  char read[7];
  ASSERT_EQ(size, 7u);
  ASSERT_TRUE(ReadExactlyAt(handle.get(), offset, read, size));
  EXPECT_EQ(std::string(read, 7), "payload");
  // A failed lookup's NotFound empties the next text only; the taking variant leaves none.
  EXPECT_EQ(LocateEntry(handle.get(), 5100, &size), 0u);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(PeekDataFileError(), DataFileError::NotFound);
  EXPECT_EQ(LoadText(handle.get(), 1001), "");
  EXPECT_EQ(LoadText(handle.get(), 1001), "first");
  EntryLocation location;
  EXPECT_FALSE(LocateEntryAndTakeError(handle.get(), 5100, &location));
  EXPECT_EQ(PeekDataFileError(), DataFileError::None);
}

// A text loaded in a lookup's pause does not wait; threads sharing a real handle keep positions.
TEST_F(DataFileTest, ThreadsNeitherWaitForALookupsPauseNorMoveEachOthersPositions) {
  auto paused = Open();
  const std::unique_ptr<platform::System> host = platform::MakeHostSystem();
  std::atomic<bool> loaded{false};
  system.onPause = [&](uint32_t) {
    ASSERT_TRUE(system.StartThread([&] { loaded = LoadText(paused.get(), 1000) == "Title"; }));
    for (int waitedMs = 0; waitedMs < 2000 && !loaded; ++waitedMs) host->Pause(1);
    EXPECT_TRUE(loaded) << "the text waited for the lookup's pause";
  };
  EntryLocation location;
  EXPECT_TRUE(LocateEntryAndTakeError(paused.get(), 1037, &location));
  system.JoinThreads();
  const std::vector<uint8_t> file = BuildDataFile({kTexts[2], {5100, Pattern(3000, 7)}});
  TempDir dir;
  WriteBytes(dir.Path("shared.dat"), file);
  const std::unique_ptr<platform::FileSystem> real = platform::MakeHostFileSystem();
  auto handle = OpenDataFile({real.get(), &system, false}, dir.Path("shared.dat"));
  EntryLocation data;
  ASSERT_TRUE(LocateEntryAndTakeError(handle.get(), 5100, &data));
  std::atomic<int> bad{0};
  platform::JoinableThread texts([&] {
    for (int i = 0; i < 300; ++i) bad += LoadText(handle.get(), 1037) != "Drive %c:";
  });
  for (uint32_t i = 0; i < 300; ++i) {
    std::vector<uint8_t> block(512);
    const uint32_t at = data.offset + i % 5 * 512;
    bad += !ReadExactlyAt(handle.get(), at, block.data(), 512) ||
           !std::equal(block.begin(), block.end(), file.begin() + at);
  }
  texts.join();
  EXPECT_EQ(bad, 0);
}

TEST_F(DataFileTest, EveryFaultGivesItsCode) {
  uint16_t count = 0;
  auto far = BuildDataFile(kTexts), more = far;  // directory at 4000; 500 records, 3 written
  far[10] = 0xA0, far[11] = 0x0F, more[4] = 0xF4, more[5] = 1, more.resize(14 + 3 * 12);
  for (const auto& bytes : {far, more})
    EXPECT_EQ(Code(ReadDirectory(Open(bytes).get(), &count)), DataFileError::Io);
  auto handle = Open();
  auto entries = ReadDirectory(handle.get(), &count);
  ASSERT_EQ(count, 3);
  // Records past the count given, or no directory, are not searched; FindEntry needs a place.
  DirectoryEntry record;
  uint32_t size = 0;
  EXPECT_EQ(Code(FindEntry(handle.get(), 1037, entries.get(), 2, &record), true),
            DataFileError::NotFound);
  EXPECT_EQ(Code(FindEntry(handle.get(), 1000, nullptr, 0, &record), true),
            DataFileError::NotFound);
  EXPECT_EQ(Code(FindEntry(handle.get(), 1000, entries.get(), count, nullptr)),
            DataFileError::NoRecord);
  EXPECT_EQ(Code(ReadHeader(nullptr, nullptr)), DataFileError::BadHandle);
  EXPECT_EQ(Code(FindEntry(handle.get(), 1037, entries.get(), count, &record), true),
            DataFileError::None);
  EXPECT_EQ(record.dataSize, 9u);
  for (int failing : {1, 2}) {  // the header read, then the directory read
    files.readCalls = 0;
    files.faults.failReadNumber = failing;
    EXPECT_EQ(Code(ReadDirectory(handle.get(), &count)), DataFileError::Io) << failing;
  }
  files.faults.failReadNumber = 0;
  system.refuseAllocationNumber = system.allocations + 1;
  EXPECT_EQ(Code(ReadDirectory(handle.get(), &count)), DataFileError::NoMemory);
  system.refuseAllocationNumber = system.allocations + 1;
  EXPECT_EQ(Code(ReadEntryData(handle.get(), 1000, entries.get(), count, &size)),
            DataFileError::NoMemory);
  // A file that ends early while its directory says otherwise: a short read.
  files.faults.shortReadsBeyond = 14 + 3 * 12 + 2;
  EXPECT_EQ(LoadText(handle.get(), 1000), "");
  EXPECT_EQ(PeekDataFileError(), DataFileError::None);
}

// Every pixel via offset, row order, palette or masks (narrow ones widen by repeating top bits).
TEST_F(DataFileTest, EveryPixelOfABitmapIsReadAsStoredUnlessPartsLieOutsideItsEntry) {
  const auto indexed = [](Pixel p) -> Pixel {
    return [p](int x, int y) { return PaletteColor(p(x, y)); };
  };
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
    int width, height, bits, gap, topDown;
    std::vector<uint32_t> masks;  // red, green, blue
    Pixel stored, color;
  } cases[] = {{21, 5, 8, 40, false, {}, EightBit, indexed(EightBit)},
               {5, 3, 24, 0, false, {}, TrueColour, TrueColour},
               {11, 3, 4, 0, true, {}, pixel4, indexed(pixel4)},
               {10, 3, 1, 4, false, {}, pixel1, indexed(pixel1)},
               {2, 2, 16, 0, false, m16, corners(m16, 0x8408), corners(rgb, 0x848242)},
               {2, 2, 32, 0, false, m32, corners(m32, 0x563412), corners(rgb, 0x123456)}};
  for (const auto& c : cases) {
    auto picture =
        Picture(MakeBitmap(c.width, c.height, c.bits, c.stored, c.gap, c.topDown, c.masks));
    ASSERT_NE(picture, nullptr) << c.bits;
    EXPECT_EQ(std::make_pair(picture->Width(), picture->Height()),
              std::make_pair(c.width, c.height));
    for (int x = 0, y = 0; y < c.height; x = (x + 1) % c.width, y += x == 0)
      EXPECT_EQ(picture->PixelAt(x, y), c.color(x, y)) << c.bits << " bits " << x << "," << y;
  }
  EXPECT_EQ(LoadBitmap(pictures.get(), 101, *graphics), nullptr);  // a missing one
  const auto good = MakeBitmap(16, 4, 8, EightBit),
             masked = MakeBitmap(2, 2, 32, EightBit, 0, false, {0xFF, 0xFF00, 0xFF0000});
  std::vector<std::vector<uint8_t>> bad(7, good);
  bad.push_back(MakeBitmap(2, 2, 24, TrueColour));  // a palette the system would read past
  std::memcpy(&bad[7][14 + 32], Le(100000, 4).data(), 4);
  bad[0].pop_back();                                            // last row cut short
  bad[1].resize(30);                                            // info header cut short
  bad[2].assign(masked.begin(), masked.begin() + 14 + 40 + 8);  // masks past the entry
  // Pixels far away; colours used beyond what 8 bits index; RLE8; masks where none can be.
  std::memcpy(&bad[3][10], Le(0x7FFFFFF0u, 4).data(), 4);
  std::memcpy(&bad[4][14 + 32], Le(100000, 4).data(), 4);
  std::memcpy(&bad[5][14 + 16], Le(1, 4).data(), 4);
  std::memcpy(&bad[6][14 + 16], Le(3, 4).data(), 4);
  for (size_t i = 0; i < bad.size(); ++i) EXPECT_EQ(Picture(bad[i]), nullptr) << i;
  EXPECT_EQ(PeekDataFileError(), DataFileError::None);
}

}  // namespace
