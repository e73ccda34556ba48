// The floppy image, read back through an independent FAT12 reader.
#include "image/FloppyImageAssembler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "image/Fat12.h"
#include "image/FatDirectoryEntry.h"
#include "image/FloppyLayout.h"
#include "tests/fakes/FakeFileSystem.h"
#include "tests/fakes/FakeSystem.h"
#include "tests/support/FatReader.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace image;
using testsupport::FatReader;
using testsupport::FormattedBaseImage;
using testsupport::Pattern;

constexpr char kKernel[] = "KERNEL  MAP";
constexpr char kReadme[] = "README  TXT";

class AssemblerTest : public ::testing::Test {
 protected:
  void SetUp() override { datafile::TakeDataFileError(); }

  // Assembles from a data file holding `entries`, into an image prefilled with 0x55 so
  // that bytes the assembler leaves alone can be told apart.
  int Assemble(const std::vector<mkinstalldat::DatEntry>& entries, uint64_t cutBeforeEnd = 0) {
    handle.reset();
    system = std::make_unique<fakes::FakeSystem>();  // a fresh trace and clock each time
    system->now = {2026, 12, 6, 20, 35, 48, 120};
    const auto bytes = mkinstalldat::BuildDataFile(entries);
    files.Add("install.dat", bytes);
    files.faults.shortReadsBeyond = cutBeforeEnd ? bytes.size() - cutBeforeEnd : UINT64_MAX;
    datafile::DataFileServices services;
    services.files = &files;
    services.system = system.get();
    handle = datafile::OpenDataFile(services, "install.dat");
    EXPECT_NE(handle, nullptr);
    image.assign(kFloppyImageBytes, 0x55);
    return AssembleFloppyImage(image.data(), handle.get(), *system, &report);
  }

  bool All(size_t from, size_t to, uint8_t value) const {
    return std::all_of(image.begin() + from, image.begin() + to,
                       [=](uint8_t b) { return b == value; });
  }
  bool FatsAreIdentical() const {
    return std::equal(image.begin() + kFirstFatOffset, image.begin() + kFirstFatOffset + kFatBytes,
                      image.begin() + kSecondFatOffset);
  }

  fakes::FakeFileSystem files;
  std::unique_ptr<fakes::FakeSystem> system;
  std::unique_ptr<datafile::DataFile> handle;
  std::vector<uint8_t> image;
  FloppyAssemblyReport report;
};

// Images that hold both files: cluster numbers, chains, attributes, stamps, the zeros after
// a file's last byte and the format filler after the last file.
TEST_F(AssemblerTest, AddsBothFilesAfterTheBaseImageAndFillsTheRest) {
  const struct {
    uint32_t extraSectors, kernelBytes, readmeBytes;
    int status;
    uint16_t kernelCluster, readmeCluster;  // 0 for an empty file, which owns none
    uint32_t sectorsUsed;
  } kCases[] = {
      {0, 1000, 700, kFloppyComplete, 2, 4, 37},  // a 33-sector base puts cluster 2 at 33
      {0, 1024, 5, kFloppyComplete, 2, 4, 36},    // a whole-sector file takes no extra sector
      {1, 600, 5, kFloppyComplete, 3, 5, 37},     // an odd first cluster closes the one before
      {0, 0, 900, kFloppyComplete, 0, 2, 35},     // README.TXT starts where KERNEL.MAP would
      {0, 0, 0, kFloppyComplete, 0, 0, 33},
      // Pieces that fill the floppy exactly need no filler, and are just as complete.
      {0, (2880 - 34) * 512, 1, kFloppyTooLarge, 2, 2848, 2880},
      {2880 - 33, 0, 0, kFloppyTooLarge, 0, 0, 2880},
  };
  const uint16_t date = static_cast<uint16_t>((46 << 9) | (12 << 5) | 6);
  const uint16_t time = static_cast<uint16_t>((20 << 11) | (35 << 5) | 24);
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.kernelBytes << " + " << c.readmeBytes);
    const auto kernelMap = Pattern(c.kernelBytes, 1);
    const auto readme = Pattern(c.readmeBytes, 2);
    auto base = FormattedBaseImage(c.extraSectors);
    // A deleted entry, then one in use: the files take the first free slots, 0 and 2.
    std::memcpy(base.data() + kRootDirectoryOffset, "\xE5LD     TXT", 11);
    std::memcpy(base.data() + kRootDirectoryOffset + 32, "KEEP    TXT", 11);
    ASSERT_EQ(Assemble(testsupport::FloppyEntries(base, kernelMap, readme)), c.status);
    EXPECT_EQ(report.sectorsUsed, c.sectorsUsed);
    EXPECT_TRUE(FloppyImageIsComplete(c.status, report));
    FatReader fat(image);
    const std::vector<uint8_t>* data[] = {&kernelMap, &readme};
    const uint16_t clusters[] = {c.kernelCluster, c.readmeCluster};
    const char* names[] = {kKernel, kReadme};
    for (int i = 0; i < 2; ++i) {
      const auto file = fat.Find(names[i]);
      ASSERT_TRUE(file.has_value());
      EXPECT_EQ(file->attributes, i == 0 ? 0x07 : 0x00);
      EXPECT_EQ(file->slot, i == 0 ? 0u : 2u);
      EXPECT_EQ(file->size, data[i]->size());
      EXPECT_EQ(file->firstCluster, clusters[i]);
      EXPECT_EQ(fat.Contents(*file), *data[i]);
      const auto chain = fat.Chain(clusters[i]);  // consecutive, ended in the last sector
      EXPECT_EQ(chain.size(), (data[i]->size() + 511) / 512);
      for (size_t k = 0; k < chain.size(); ++k) EXPECT_EQ(chain[k], clusters[i] + k);
      const size_t end = (31u + clusters[i]) * 512u + data[i]->size();
      EXPECT_TRUE(data[i]->empty() || All(end, (end + 511) / 512 * 512, 0)) << "zeros after";
      EXPECT_EQ(std::vector<uint16_t>({file->creationDate, file->accessDate, file->writeDate,
                                       file->creationTime, file->writeTime}),
                std::vector<uint16_t>({date, date, date, time, time}));
    }
    EXPECT_EQ(fat.Find("KEEP    TXT")->slot, 1u);
    EXPECT_TRUE(c.extraSectors != 1 || fat.Entry(0, 2) == 0xFFF) << "the base's own cluster";
    EXPECT_EQ(fat.Entry(0, c.sectorsUsed - 31), 0) << "the cluster after the last file is free";
    EXPECT_TRUE(FatsAreIdentical());
    EXPECT_TRUE(All(c.sectorsUsed * 512, image.size(), 0xF6));
    EXPECT_EQ(system->TraceText(), "done\n");
    EXPECT_EQ(system->Pauses(), (std::vector<uint32_t>{500, 500, 500})) << "one per entry";
  }
  platform::UtcTime early{1970, 1, 1, 0, 0, 0, 0};
  EXPECT_EQ(FatDate(early), (0 << 9) | (1 << 5) | 1) << "dates before 1980 clamp to its first day";
}

// A file of one even cluster frees its partner in the same three bytes and leaves the
// group before alone.
TEST_F(AssemblerTest, AFileOfOneEvenClusterFreesItsPartner) {
  std::vector<uint8_t> floppy = FormattedBaseImage(10);
  floppy.resize(kFloppyImageBytes);
  for (uint32_t cluster = 2; cluster < 8; ++cluster) {
    SetFat12Entry(floppy.data() + kFirstFatOffset, cluster, 0xABC);
    SetFat12Entry(floppy.data() + kSecondFatOffset, cluster, 0xABC);
  }
  ASSERT_TRUE(
      AddFatFile(floppy.data(), 37 * 512, 0, 100, "ONE     BIN", false, platform::UtcTime()));
  FatReader one(floppy);
  EXPECT_EQ(one.Find("ONE     BIN")->firstCluster, 6);
  for (int copy = 0; copy < 2; ++copy) {
    EXPECT_EQ(std::vector<uint16_t>({one.Entry(copy, 5), one.Entry(copy, 6), one.Entry(copy, 7)}),
              std::vector<uint16_t>({0xABC, 0xFFF, 0}));
  }
}

// Inputs that do not make a complete image: the image then starts with the base image as
// far as it was copied (a part sector completed with zeros) and nothing after it is
// touched, no file is added, and no "done" is traced.
TEST_F(AssemblerTest, AnIncompleteImageHoldsTheBaseImageAloneAndSaysWhy) {
  const auto base = FormattedBaseImage();
  auto partSector = FormattedBaseImage(1);
  partSector.resize(partSector.size() - 12);
  auto fullRoot = base;
  for (uint32_t slot = 0; slot < 223; ++slot) {
    uint8_t* entry = fullRoot.data() + kRootDirectoryOffset + slot * 32;
    std::memcpy(entry, "FILLER  TXT", 11);
    entry[7] = static_cast<uint8_t>('A' + slot % 26);
  }
  const auto k = Pattern(10, 1);
  const auto r = Pattern(10, 2);
  const struct {
    const char* name;
    std::vector<mkinstalldat::DatEntry> entries;
    int status;
    uint16_t failedEntry;
    uint32_t sectorsUsed;
    int unchanged;          // 2: all after the base image; 1: the base image as copied; 0: neither
    uint64_t cutBeforeEnd;  // the data file ends this many bytes early
  } kCases[] = {
      {"part sector", testsupport::FloppyEntries(partSector, k, r), kFloppyBadBaseImage, 0, 0, 2,
       0},
      {"ends in the root directory",
       testsupport::FloppyEntries(std::vector<uint8_t>(base.begin(), base.begin() + 20 * 512), k,
                                  r),
       kFloppyBadBaseImage, 0, 0, 2, 0},
      {"one sector too many",
       testsupport::FloppyEntries(base, Pattern((2880 - 34) * 512, 1), Pattern(513, 2)),
       kFloppyTooLarge, 0, 2881, 2, 0},
      {"base larger than the floppy", testsupport::FloppyEntries(FormattedBaseImage(2880), {}, {}),
       kFloppyTooLarge, 0, 2913, 1, 0},
      {"no base", {{10003, k}, {5100, r}}, kFloppyEntryUnreadable, 10002, 0, 2, 0},
      {"no KERNEL.MAP", {{10002, base}, {5100, r}}, kFloppyEntryUnreadable, 10003, 0, 2, 0},
      {"no README.TXT", {{10002, base}, {10003, k}}, kFloppyEntryUnreadable, 5100, 0, 2, 0},
      {"README.TXT cut short", testsupport::FloppyEntries(base, Pattern(1000, 1), Pattern(1000, 2)),
       kFloppyEntryUnreadable, 5100, 37, 0, 100},
      {"root directory full", testsupport::FloppyEntries(fullRoot, k, r), kFloppyRootDirectoryFull,
       0, 35, 2, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(Assemble(c.entries, c.cutBeforeEnd), c.status);
    EXPECT_EQ(report.failedEntryId, c.failedEntry);
    EXPECT_EQ(report.sectorsUsed, c.sectorsUsed);
    EXPECT_FALSE(FloppyImageIsComplete(c.status, report));
    EXPECT_EQ(datafile::PeekDataFileError(), datafile::DataFileError::None);
    EXPECT_EQ(system->TraceText(), "");
    auto copied = c.entries[0].id == 10002 ? c.entries[0].data : std::vector<uint8_t>();
    copied.resize(std::min<size_t>((copied.size() + 511) / 512 * 512, kFloppyImageBytes), 0);
    EXPECT_TRUE(c.unchanged < 1 || std::equal(copied.begin(), copied.end(), image.begin()));
    EXPECT_TRUE(c.unchanged < 2 || All(copied.size(), image.size(), 0x55));
  }
  EXPECT_EQ(AssembleFloppyImage(nullptr, handle.get(), *system), kFloppyNoBuffer);
}

}  // namespace
