// The floppy image, read back through an independent FAT12 reader.
#include "image/FloppyImageAssembler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "image/FatDirectoryEntry.h"
#include "image/FloppyLayout.h"
#include "tests/fakes/FakeFileSystem.h"
#include "tests/fakes/FakeSystem.h"
#include "tests/support/FatReader.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace image;
using namespace std::string_literals;
using testsupport::FatReader;
using testsupport::FloppyEntries;
using testsupport::FormattedBaseImage;
using testsupport::Le;
using testsupport::Pattern;

class AssemblerTest : public ::testing::Test {
 protected:
  void SetUp() override { datafile::TakeDataFileError(); }
  // Assembles from a data file holding `entries`, whose last `cut` bytes cannot be read,
  // into an image prefilled with 0x55 so that bytes the assembler leaves alone show.
  int Assemble(const std::vector<mkinstalldat::DatEntry>& entries, uint64_t cut = 0) {
    handle.reset();
    system = std::make_unique<fakes::FakeSystem>();  // a fresh trace and clock each time
    system->now = {2026, 12, 6, 20, 35, 48, 120};
    const auto bytes = mkinstalldat::BuildDataFile(entries);
    files.Add("install.dat", bytes);
    files.faults.shortReadsBeyond = bytes.size() - cut;
    handle = datafile::OpenDataFile({&files, system.get()}, "install.dat");
    image.assign(kFloppyImageBytes, 0x55);
    return AssembleFloppyImage(image.data(), handle.get(), *system, &report);
  }
  bool All(size_t from, size_t to, uint8_t value) const {
    return std::all_of(&image[from], &image[0] + to, [=](uint8_t b) { return b == value; });
  }

  fakes::FakeFileSystem files;
  std::unique_ptr<fakes::FakeSystem> system;
  std::unique_ptr<datafile::DataFile> handle;
  std::vector<uint8_t> image;
  FloppyAssemblyReport report;
};

// Images that hold both files: slots, entries, chains, the zeros after a file's last byte
// and the format filler after the last file.
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
  // The stamp 2026-12-06 20:35:48 as FAT time and date.
  const std::string time = Le((20 << 11) | (35 << 5) | 24, 2),
                    date = Le((46 << 9) | (12 << 5) | 6, 2);
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.kernelBytes << " + " << c.readmeBytes);
    const std::vector<uint8_t> data[] = {Pattern(c.kernelBytes, 1), Pattern(c.readmeBytes, 2)};
    auto base = FormattedBaseImage(c.extraSectors);
    // A deleted entry, then one in use: the files take the first free slots, 0 and 2.
    std::memcpy(&base[kRootDirectoryOffset], "\xE5LD     TXT", 11);
    std::memcpy(&base[kRootDirectoryOffset + 32], "KEEP    TXT", 11);
    ASSERT_EQ(Assemble(FloppyEntries(base, data[0], data[1])), c.status);
    EXPECT_EQ(report.sectorsUsed, c.sectorsUsed);
    EXPECT_TRUE(FloppyImageIsComplete(c.status, report));
    const FatReader fat(image);
    const uint16_t clusters[] = {c.kernelCluster, c.readmeCluster};
    for (int i = 0; i < 2; ++i) {
      const auto file = fat.Find(i == 0 ? "KERNEL  MAP" : "README  TXT");
      ASSERT_TRUE(file.has_value());
      EXPECT_EQ(file->slot, i == 0 ? 0u : 2u);
      // Read-only, hidden and system for KERNEL.MAP; the stamp as creation, access and write.
      EXPECT_EQ(file->entry.substr(11), (i == 0 ? "\7"s : "\0"s) + "\0\0"s + time + date + date +
                                            "\0\0"s + time + date + Le(clusters[i], 2) +
                                            Le(static_cast<uint32_t>(data[i].size()), 4));
      EXPECT_EQ(fat.Contents(*file), data[i]);
      const size_t end = (31u + clusters[i]) * 512u + data[i].size();
      EXPECT_TRUE(data[i].empty() || All(end, (end + 511) / 512 * 512, 0)) << "zeros after";
    }
    EXPECT_TRUE(c.extraSectors != 1 || fat.Entry(2) == 0xFFF) << "the base's own cluster";
    EXPECT_EQ(fat.Entry(c.sectorsUsed - 31), 0) << "the cluster after the last file is free";
    EXPECT_TRUE(All(c.sectorsUsed * 512, image.size(), 0xF6));
    EXPECT_EQ(system->TraceText(), "done\n");
    EXPECT_EQ(system->Pauses(), (std::vector<uint32_t>{500, 500, 500})) << "one per entry";
  }
  EXPECT_EQ(FatDate({1970, 1, 1, 0, 0, 0, 0}), (1 << 5) | 1) << "dates before 1980 clamp";
}

// Inputs that do not make a complete image: the image then starts with the base image as
// far as it was copied (a part sector completed with zeros) and nothing after it is
// touched, no file is added, and no "done" is traced.
TEST_F(AssemblerTest, AnIncompleteImageHoldsTheBaseImageAloneAndSaysWhy) {
  const auto base = FormattedBaseImage(), k = Pattern(10, 1), r = Pattern(10, 2);
  auto partSector = FormattedBaseImage(1), fullRoot = base;
  partSector.resize(partSector.size() - 12);
  for (uint32_t slot = 0; slot < 223; ++slot) fullRoot[kRootDirectoryOffset + slot * 32] = 'F';
  const struct {
    const char* name;
    std::vector<mkinstalldat::DatEntry> entries;
    int status;
    uint16_t failedEntry;
    uint32_t sectorsUsed;
    int unchanged;  // 2: all after the base image; 1: the base image as copied; 0: neither
    uint64_t cut;   // the data file's last bytes that cannot be read
  } kCases[] = {
      {"part sector", FloppyEntries(partSector, k, r), kFloppyBadBaseImage, 0, 0, 2, 0},
      {"ends in the root directory", FloppyEntries({base.begin(), base.begin() + 20 * 512}, k, r),
       kFloppyBadBaseImage, 0, 0, 2, 0},
      {"one sector too many", FloppyEntries(base, Pattern((2880 - 34) * 512, 1), Pattern(513, 2)),
       kFloppyTooLarge, 0, 2881, 2, 0},
      {"base larger than the floppy", FloppyEntries(FormattedBaseImage(2880), {}, {}),
       kFloppyTooLarge, 0, 2913, 1, 0},
      {"no base", {{10003, k}, {5100, r}}, kFloppyEntryUnreadable, 10002, 0, 2, 0},
      {"no KERNEL.MAP", {{10002, base}, {5100, r}}, kFloppyEntryUnreadable, 10003, 0, 2, 0},
      {"no README.TXT", {{10002, base}, {10003, k}}, kFloppyEntryUnreadable, 5100, 0, 2, 0},
      {"README.TXT cut short", FloppyEntries(base, Pattern(1000, 1), Pattern(1000, 2)),
       kFloppyEntryUnreadable, 5100, 37, 0, 100},
      {"root directory full", FloppyEntries(fullRoot, k, r), kFloppyRootDirectoryFull, 0, 35, 2, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(Assemble(c.entries, c.cut), c.status);
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
