// The floppy image, read back through an independent FAT12 reader.
#include "image/FloppyImageAssembler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "image/Fat12.h"
#include "image/FatDirectoryEntry.h"
#include "image/FloppyLayout.h"
#include "platform/Host.h"
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
  void SetUp() override {
    datafile::TakeDataFileError();
    system.now = {2026, 12, 6, 20, 35, 48, 120};
  }

  // Assembles from a data file holding `entries`, into an image prefilled with 0x55 so
  // that bytes the assembler leaves alone can be told apart.
  int Assemble(const std::vector<mkinstalldat::DatEntry>& entries) {
    files.Add("install.dat", mkinstalldat::BuildDataFile(entries));
    datafile::DataFileServices services;
    services.files = &files;
    services.system = &system;
    handle = datafile::OpenDataFile(services, "install.dat");
    EXPECT_NE(handle, nullptr);
    image.assign(kFloppyImageBytes, 0x55);
    return AssembleFloppyImage(image.data(), handle.get(), system, &report);
  }

  bool FatsAreIdentical() const {
    return std::equal(image.begin() + kFirstFatOffset, image.begin() + kFirstFatOffset + kFatBytes,
                      image.begin() + kSecondFatOffset);
  }

  fakes::FakeFileSystem files;
  fakes::FakeSystem system;
  std::unique_ptr<datafile::DataFile> handle;
  std::vector<uint8_t> image;
  FloppyAssemblyReport report;
};

// --- A complete image ------------------------------------------------------------------

TEST_F(AssemblerTest, AddsBothFilesAfterTheBaseImageAndFillsTheRest) {
  const auto kernelMap = Pattern(1000, 1);
  const auto readme = Pattern(700, 2);
  ASSERT_EQ(Assemble(testsupport::FloppyEntries(FormattedBaseImage(), kernelMap, readme)),
            kFloppyComplete);
  FatReader fat(image);

  auto kernel = fat.Find(kKernel);
  ASSERT_TRUE(kernel.has_value());
  EXPECT_EQ(kernel->firstCluster, 2) << "a 33-sector base image puts KERNEL.MAP at sector 33";
  EXPECT_EQ(kernel->attributes, 0x07);
  EXPECT_EQ(kernel->size, 1000u);
  EXPECT_EQ(fat.Chain(2), (std::vector<uint16_t>{2, 3}));
  EXPECT_EQ(fat.Contents(*kernel), kernelMap);
  // The second sector holds 488 data bytes and 24 zeros.
  const size_t tail = 34 * 512 + 488;
  EXPECT_TRUE(std::all_of(image.begin() + tail, image.begin() + 35 * 512,
                          [](uint8_t b) { return b == 0; }));

  auto readmeFile = fat.Find(kReadme);
  ASSERT_TRUE(readmeFile.has_value());
  EXPECT_EQ(readmeFile->firstCluster, 4);
  EXPECT_EQ(readmeFile->attributes, 0x00);
  EXPECT_EQ(fat.Contents(*readmeFile), readme);

  EXPECT_TRUE(FatsAreIdentical());
  EXPECT_EQ(fat.Entry(0, 6), 0) << "the cluster after the last file stays free";
  EXPECT_TRUE(
      std::all_of(image.begin() + 37 * 512, image.end(), [](uint8_t b) { return b == 0xF6; }));
  EXPECT_EQ(system.TraceText(), "done\n");
  EXPECT_EQ(system.Pauses(), (std::vector<uint32_t>{500, 500, 500}));

  // A whole-sector file takes no extra sector.
  ASSERT_EQ(
      Assemble(testsupport::FloppyEntries(FormattedBaseImage(), Pattern(1024, 1), Pattern(5, 2))),
      kFloppyComplete);
  EXPECT_EQ(FatReader(image).Find(kKernel)->size, 1024u);
  EXPECT_EQ(FatReader(image).Find(kReadme)->firstCluster, 4);
}

TEST_F(AssemblerTest, StampsBothEntriesWithTheUtcClockInFatForm) {
  ASSERT_EQ(
      Assemble(testsupport::FloppyEntries(FormattedBaseImage(), Pattern(10, 1), Pattern(10, 2))),
      kFloppyComplete);
  const uint16_t date = static_cast<uint16_t>((46 << 9) | (12 << 5) | 6);
  const uint16_t time = static_cast<uint16_t>((20 << 11) | (35 << 5) | 24);
  for (const auto& file : FatReader(image).RootFiles()) {
    EXPECT_EQ(file.creationDate, date);
    EXPECT_EQ(file.accessDate, date);
    EXPECT_EQ(file.writeDate, date);
    EXPECT_EQ(file.creationTime, time);
    EXPECT_EQ(file.writeTime, time);
  }
  platform::UtcTime early{1970, 1, 1, 0, 0, 0, 0};
  EXPECT_EQ(FatDate(early), (0 << 9) | (1 << 5) | 1) << "dates before 1980 clamp to its first day";
}

TEST_F(AssemblerTest, AnOddFirstClusterClosesTheClusterBeforeIt) {
  // One sector of the base image's own data: KERNEL.MAP starts at cluster 3.
  auto base = FormattedBaseImage(1);
  SetFat12Entry(base.data() + kFirstFatOffset, 2, 0x123);
  SetFat12Entry(base.data() + kSecondFatOffset, 2, 0x123);
  ASSERT_EQ(Assemble(testsupport::FloppyEntries(base, Pattern(600, 1), Pattern(5, 2))),
            kFloppyComplete);
  FatReader fat(image);
  EXPECT_EQ(fat.Find(kKernel)->firstCluster, 3);
  EXPECT_EQ(fat.Entry(0, 2), 0xFFF);
  EXPECT_EQ(fat.Entry(1, 2), 0xFFF);
  EXPECT_TRUE(FatsAreIdentical());
}

TEST_F(AssemblerTest, AFileOfOneEvenClusterFreesItsPartner) {
  std::vector<uint8_t> floppy = FormattedBaseImage(10);
  floppy.resize(kFloppyImageBytes);
  for (uint32_t cluster = 2; cluster < 8; ++cluster) {
    SetFat12Entry(floppy.data() + kFirstFatOffset, cluster, 0xABC);
    SetFat12Entry(floppy.data() + kSecondFatOffset, cluster, 0xABC);
  }
  ASSERT_TRUE(AddFatFile(floppy.data(), 37 * 512, 0, 100, "ONE     BIN", false, system.now));
  FatReader fat(floppy);
  EXPECT_EQ(fat.Find("ONE     BIN")->firstCluster, 6);
  EXPECT_EQ(fat.Entry(0, 6), 0xFFF);
  EXPECT_EQ(fat.Entry(0, 7), 0) << "the partner in the same three bytes";
  EXPECT_EQ(fat.Entry(0, 5), 0xABC) << "the group before is left alone";
  EXPECT_EQ(fat.Entry(1, 6), 0xFFF);
  EXPECT_EQ(fat.Entry(1, 7), 0);
}

TEST_F(AssemblerTest, NewEntriesTakeTheFirstDeletedOrNeverUsedSlot) {
  auto base = FormattedBaseImage();
  uint8_t* root = base.data() + kRootDirectoryOffset;
  std::memcpy(root,
              "\xE5"
              "LD     TXT",
              11);
  std::memcpy(root + 32, "KEEP    TXT", 11);
  ASSERT_EQ(Assemble(testsupport::FloppyEntries(base, Pattern(10, 1), Pattern(10, 2))),
            kFloppyComplete);
  FatReader fat(image);
  EXPECT_EQ(fat.Find(kKernel)->slot, 0u);
  EXPECT_EQ(fat.Find("KEEP    TXT")->slot, 1u);
  EXPECT_EQ(fat.Find(kReadme)->slot, 2u);
}

TEST_F(AssemblerTest, EmptyFilesOwnNoClusterSoNothingIsCrossLinked) {
  const auto readme = Pattern(900, 2);
  ASSERT_EQ(Assemble(testsupport::FloppyEntries(FormattedBaseImage(), {}, readme)),
            kFloppyComplete);
  FatReader fat(image);
  EXPECT_EQ(fat.Find(kKernel)->size, 0u);
  EXPECT_EQ(fat.Find(kKernel)->firstCluster, 0);
  EXPECT_EQ(fat.Find(kReadme)->firstCluster, 2) << "README.TXT starts where KERNEL.MAP would have";
  EXPECT_EQ(fat.Contents(*fat.Find(kReadme)), readme);
  EXPECT_TRUE(FatsAreIdentical());

  ASSERT_EQ(Assemble(testsupport::FloppyEntries(FormattedBaseImage(), {}, {})), kFloppyComplete);
  FatReader both(image);
  EXPECT_EQ(both.Find(kReadme)->firstCluster, 0);
  EXPECT_EQ(both.Entry(0, 2), 0);
  EXPECT_TRUE(
      std::all_of(image.begin() + 33 * 512, image.end(), [](uint8_t b) { return b == 0xF6; }));
}

// --- Inputs that do not make a complete image ------------------------------------------

TEST_F(AssemblerTest, NoBufferDoesNothing) {
  Assemble(testsupport::FloppyEntries(FormattedBaseImage(), {}, {}));
  EXPECT_EQ(AssembleFloppyImage(nullptr, handle.get(), system), kFloppyNoBuffer);
}

TEST_F(AssemblerTest, ABaseImageOfPartSectorsOrTooFewSectorsIsCopiedAlone) {
  auto base = FormattedBaseImage(1);
  base.resize(base.size() - 12);
  ASSERT_EQ(Assemble(testsupport::FloppyEntries(base, Pattern(10, 1), Pattern(10, 2))),
            kFloppyBadBaseImage);
  EXPECT_TRUE(std::equal(base.begin(), base.end(), image.begin()));
  EXPECT_TRUE(FatReader(image).RootFiles().empty());
  // The part sector is completed with zeros; nothing after it is touched.
  EXPECT_TRUE(std::all_of(image.begin() + static_cast<long>(base.size()), image.begin() + 34 * 512,
                          [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(
      std::all_of(image.begin() + 34 * 512, image.end(), [](uint8_t b) { return b == 0x55; }));

  auto shortBase = FormattedBaseImage();
  shortBase.resize(20 * 512);  // ends inside the root directory
  EXPECT_EQ(Assemble(testsupport::FloppyEntries(shortBase, Pattern(10, 1), Pattern(10, 2))),
            kFloppyBadBaseImage);
  EXPECT_TRUE(
      std::all_of(image.begin() + 20 * 512, image.end(), [](uint8_t b) { return b == 0x55; }));
}

TEST_F(AssemblerTest, PiecesFillingExactlyTheFloppyNeedNoFiller) {
  const auto kernelMap = Pattern((2880 - 33 - 1) * 512, 1);
  ASSERT_EQ(Assemble(testsupport::FloppyEntries(FormattedBaseImage(), kernelMap, Pattern(1, 2))),
            kFloppyTooLarge);
  EXPECT_EQ(report.sectorsUsed, 2880u);
  FatReader fat(image);
  EXPECT_EQ(fat.Contents(*fat.Find(kKernel)), kernelMap);
  EXPECT_EQ(fat.Find(kReadme)->firstCluster, 2879 - 31);
  EXPECT_EQ(image[2879 * 512], Pattern(1, 2)[0]);
  EXPECT_EQ(image[2879 * 512 + 1], 0);

  // A base image of all 2880 sectors with two empty files is just as complete.
  EXPECT_EQ(Assemble(testsupport::FloppyEntries(FormattedBaseImage(2880 - 33), {}, {})),
            kFloppyTooLarge);
  EXPECT_EQ(report.sectorsUsed, 2880u);
  EXPECT_EQ(FatReader(image).RootFiles().size(), 2u);
}

TEST_F(AssemblerTest, PiecesTooLargeForTheFloppyAreNotCopiedAtAll) {
  const auto kernelMap = Pattern((2880 - 33 - 1) * 512, 1);
  EXPECT_EQ(Assemble(testsupport::FloppyEntries(FormattedBaseImage(), kernelMap, Pattern(513, 2))),
            kFloppyTooLarge);
  EXPECT_EQ(report.sectorsUsed, 2881u);
  EXPECT_TRUE(FatReader(image).RootFiles().empty());
  EXPECT_TRUE(
      std::all_of(image.begin() + 33 * 512, image.end(), [](uint8_t b) { return b == 0x55; }));

  // A base image larger than the floppy: copied as far as the buffer reaches.
  EXPECT_EQ(Assemble(testsupport::FloppyEntries(FormattedBaseImage(2880), {}, {})),
            kFloppyTooLarge);
  EXPECT_EQ(image.size(), kFloppyImageBytes);
}

TEST_F(AssemblerTest, AMissingOrShortEntryIsReportedWithItsNumber) {
  const auto base = FormattedBaseImage();
  const std::vector<std::pair<std::vector<mkinstalldat::DatEntry>, uint16_t>> cases = {
      {{{10003, Pattern(10, 1)}, {5100, Pattern(10, 2)}}, 10002},
      {{{10002, base}, {5100, Pattern(10, 2)}}, 10003},
      {{{10002, base}, {10003, Pattern(10, 1)}}, 5100},
  };
  for (const auto& [entries, missing] : cases) {
    EXPECT_EQ(Assemble(entries), kFloppyEntryUnreadable);
    EXPECT_EQ(report.failedEntryId, missing);
    EXPECT_EQ(datafile::PeekDataFileError(), datafile::DataFileError::None);
    if (missing == 10002) {
      EXPECT_TRUE(std::all_of(image.begin(), image.end(), [](uint8_t b) { return b == 0x55; }));
    } else {
      EXPECT_TRUE(FatReader(image).RootFiles().empty());
    }
  }

  // The data file ends in the middle of README.TXT's bytes.
  auto entries = testsupport::FloppyEntries(base, Pattern(1000, 1), Pattern(1000, 2));
  const uint64_t fileBytes = mkinstalldat::BuildDataFile(entries).size();
  files.faults.shortReadsBeyond = fileBytes - 100;
  EXPECT_EQ(Assemble(entries), kFloppyEntryUnreadable);
  EXPECT_EQ(report.failedEntryId, 5100);
  EXPECT_EQ(system.TraceText(), "") << "an incomplete image is never reported done";
}

TEST_F(AssemblerTest, AFullRootDirectoryAddsNeitherFile) {
  auto base = FormattedBaseImage();
  for (uint32_t slot = 0; slot < 223; ++slot) {
    uint8_t* entry = base.data() + kRootDirectoryOffset + slot * 32;
    std::memcpy(entry, "FILLER  TXT", 11);
    entry[7] = static_cast<uint8_t>('A' + slot % 26);
  }
  ASSERT_EQ(Assemble(testsupport::FloppyEntries(base, Pattern(10, 1), Pattern(10, 2))),
            kFloppyRootDirectoryFull);
  EXPECT_FALSE(FatReader(image).Find(kKernel).has_value());
  EXPECT_EQ(FatReader(image).Entry(0, 2), 0);
  EXPECT_EQ(CountFreeRootEntries(image.data()), 1u);
}

}  // namespace
