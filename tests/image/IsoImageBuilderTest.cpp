// The CD image, decoded by an independent ISO 9660 reader field by field.
#include "image/IsoImageBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "image/FloppyImageAssembler.h"
#include "image/FloppyLayout.h"
#include "image/IsoNames.h"
#include "tests/fakes/FakeFileSystem.h"
#include "tests/fakes/FakeSystem.h"
#include "tests/support/IsoReader.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace image;
using mkinstalldat::DatEntry;
using testsupport::Bytes;
using testsupport::IsoReader;
using testsupport::IsoRecord;
using testsupport::Pattern;

// --- Names -------------------------------------------------------------------------------

TEST(IsoNames, StoredNamesBecomeEightDotThreeIdentifiers) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"readme.txt", "README.TXT;1"},
      {"Kernel.Map", "KERNEL.MAP;1"},
      {"my-file.text", "MYFILE.TEX;1"},
      {"archive.tar.gz", "ARCHIVET.GZ;1"},
      {"LICENSE", "LICENSE.;1"},
      {".profile", "PROFILE.;1"},
      {"--- ~~~", ".;1"},
      {"a.b-c.d-e", "ABC.DE;1"},
      {"\xE4rger.t\xFCt", "RGER.TT;1"},
      {"verylongbasename.x", "VERYLONG.X;1"},
  };
  for (const auto& [name, identifier] : cases) {
    const std::string made = MakeIsoName(name);
    EXPECT_EQ(made, identifier) << name;
    EXPECT_LE(made.size(), 14u);
  }
  std::string text = "A_b-9.Z";
  KeepIsoChars(text);
  EXPECT_EQ(text, "A_9Z");
}

// --- The image ---------------------------------------------------------------------------

class IsoBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    datafile::TakeDataFileError();
    system.now = {2026, 12, 6, 20, 35, 48, 987};
  }

  // CD files named `names`, contents `contents`, plus the floppy entries.
  void UseFiles(const std::vector<std::string>& names,
                const std::vector<std::vector<uint8_t>>& contents, bool withFloppy = true) {
    entries.clear();
    if (withFloppy) {
      entries = {{10002, testsupport::FormattedBaseImage()}, {10003, Pattern(1000, 9)}};
    }
    for (size_t i = 0; i < names.size(); ++i)
      entries.push_back({static_cast<uint16_t>(5000 + i), Bytes(names[i])});
    for (size_t i = 0; i < contents.size(); ++i)
      entries.push_back({static_cast<uint16_t>(5100 + i), contents[i]});
    if (contents.empty() && withFloppy) entries.push_back({5100, Pattern(10, 8)});
  }

  int Build(uint64_t capacity = 0) {
    files.files_.clear();
    files.Add("install.dat", mkinstalldat::BuildDataFile(entries));
    datafile::DataFileServices services;
    services.files = &files;
    services.system = &system;
    handle = datafile::OpenDataFile(services, "install.dat");
    EXPECT_NE(handle, nullptr);
    const int planned = PlanIsoImage(handle.get(), system, &plan, &report);
    if (planned != kIsoBuilt) return planned;
    image.assign(capacity != 0 ? capacity : IsoBufferBytesFor(plan) + 4096, 0xA5);
    return WriteIsoImage(plan, image.data(), capacity != 0 ? capacity : IsoBufferBytesFor(plan),
                         &length, handle.get(), system, &report);
  }

  IsoReader Reader() const { return IsoReader(image.data(), length); }

  std::vector<DatEntry> entries;
  fakes::FakeFileSystem files;
  fakes::FakeSystem system;
  std::unique_ptr<datafile::DataFile> handle;
  IsoPlan plan;
  IsoBuildReport report;
  std::vector<uint8_t> image;
  uint32_t length = 12345;
};

TEST_F(IsoBuilderTest, LaysOutTheVolumeAndItsFilesAsPlanned) {
  UseFiles({"readme.txt", "Empty.Bin", "Kernel.Map", "whole.sec"},
           {Pattern(3000, 1), {}, Pattern(10, 2), Pattern(2048, 3)});
  ASSERT_EQ(Build(), kIsoBuilt);
  // 747, then 2 sectors, 0, 1 and 1.
  EXPECT_EQ(plan.volumeSectors, 751u);
  EXPECT_EQ(length, 751u * 2048);
  IsoReader iso = Reader();
  EXPECT_TRUE(std::all_of(iso.Sector(0), iso.Sector(16), [](uint8_t b) { return b == 0; }));

  const std::vector<IsoRecord> root = iso.Directory(21);
  ASSERT_EQ(root.size(), 6u);
  const std::vector<std::pair<std::string, uint32_t>> expected = {
      {"README.TXT;1", 747}, {"EMPTY.BIN;1", 749}, {"KERNEL.MAP;1", 749}, {"WHOLE.SEC;1", 750}};
  for (size_t i = 0; i < expected.size(); ++i) {
    const IsoRecord& record = root[i + 2];
    EXPECT_EQ(record.identifier, expected[i].first + std::string(1, '\0'));
    EXPECT_EQ(record.length, 33 + record.identifier.size());
    EXPECT_EQ(record.extent, expected[i].second) << expected[i].first;
    EXPECT_EQ(record.flags, 0);
    EXPECT_TRUE(record.bothOrdersAgree);
  }
  EXPECT_EQ(root[2].offset, 68u) << "file records follow the self and parent records";
  EXPECT_EQ(root[4].length, 46) << "KERNEL.MAP;1 plus its zero byte: identifier 13, record 46";
  EXPECT_EQ(root[3].dataLength, 0u);

  // Contents at their extents; the last sector of a file ends in zeros.
  EXPECT_TRUE(std::equal(iso.Sector(747), iso.Sector(747) + 3000, Pattern(3000, 1).begin()));
  EXPECT_TRUE(
      std::all_of(iso.Sector(747) + 3000, iso.Sector(749), [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::equal(iso.Sector(750), iso.Sector(751), Pattern(2048, 3).begin()));
  EXPECT_TRUE(std::all_of(image.begin() + length, image.end(), [](uint8_t b) { return b == 0xA5; }))
      << "nothing is written past the image";
}

TEST_F(IsoBuilderTest, DescriptorsCarryTheVolumeSizeDatesAndTheirTreesPlaces) {
  UseFiles({"readme.txt"}, {Pattern(5000, 1)});
  ASSERT_EQ(Build(), kIsoBuilt);
  IsoReader iso = Reader();
  const uint32_t volume = 747 + 3;
  struct Tree {
    uint32_t descriptor, type, root, pathL, pathM;
  };
  for (const Tree& tree : {Tree{16, 1, 21, 22, 23}, Tree{18, 2, 24, 25, 26}}) {
    const uint32_t d = tree.descriptor;
    EXPECT_EQ(iso.Sector(d)[0], tree.type);
    EXPECT_EQ(iso.Text(d, 1, 5), "CD001");
    EXPECT_EQ(iso.Sector(d)[6], 1);
    EXPECT_EQ(iso.Both32(d, 80), volume);
    EXPECT_EQ(iso.Both16(d, 120), 1);
    EXPECT_EQ(iso.Both16(d, 124), 1);
    EXPECT_EQ(iso.Both16(d, 128), 2048);
    EXPECT_EQ(iso.Both32(d, 132), 10u);
    EXPECT_EQ(iso.Le32(d, 140), tree.pathL);
    EXPECT_EQ(iso.Le32(d, 144), 0u);
    EXPECT_EQ(iso.Be32(d, 148), tree.pathM);
    const IsoRecord root = iso.RecordAt(iso.Sector(d) + 156);
    EXPECT_EQ(root.length, 34);
    EXPECT_EQ(root.extent, tree.root);
    EXPECT_EQ(root.dataLength, 2048u);
    EXPECT_EQ(root.flags, 2);
    EXPECT_EQ(root.identifier, std::string(1, '\0'));
    EXPECT_EQ(root.date[0], 126);  // 2026
    EXPECT_EQ(root.date[5], 48);
    for (uint32_t at : {813u, 830u, 847u, 864u}) {
      EXPECT_EQ(iso.Text(d, at, 17), std::string("2026120620354898") + '\0') << "date at " << at;
    }
    EXPECT_EQ(iso.Sector(d)[881], 1);
  }
  EXPECT_EQ(iso.Text(16, 8, 64), std::string(64, ' '));
  EXPECT_EQ(iso.Text(16, 190, 623), std::string(623, ' '));
  std::string wideSpaces;
  for (int i = 0; i < 16; ++i) wideSpaces += std::string("\0 ", 2);
  EXPECT_EQ(iso.Text(18, 8, 32), wideSpaces);
  EXPECT_EQ(iso.Text(18, 40, 32), wideSpaces);
  EXPECT_EQ(iso.Text(18, 88, 3), "%/E");
  EXPECT_EQ(iso.Text(18, 702, 36), wideSpaces + wideSpaces.substr(0, 4));
  EXPECT_EQ(iso.Sector(18)[738], 0) << "the copyright field ends in one zero byte";

  EXPECT_EQ(iso.Sector(17)[0], 0);
  EXPECT_EQ(iso.Text(17, 1, 5), "CD001");
  EXPECT_EQ(iso.Text(17, 7, 32), std::string("EL TORITO SPECIFICATION") + std::string(9, '\0'));
  EXPECT_EQ(iso.Le32(17, 71), 20u);
  EXPECT_EQ(iso.Sector(19)[0], 255);
  EXPECT_EQ(iso.Text(19, 1, 6), "CD001\x01");
  EXPECT_TRUE(std::all_of(iso.Sector(19) + 7, iso.Sector(20), [](uint8_t b) { return b == 0; }));

  // Path tables: one root record, extent 21 or 24, parent 1.
  for (const auto& [sector, extent] :
       {std::pair<uint32_t, uint32_t>{22, 21}, {23, 21}, {25, 24}, {26, 24}}) {
    const uint8_t* table = iso.Sector(sector);
    const bool big = sector == 23 || sector == 26;
    EXPECT_EQ(table[0], 1);
    EXPECT_EQ(big ? iso.Be32(sector, 2) : iso.Le32(sector, 2), extent);
    EXPECT_EQ(big ? (table[6] << 8 | table[7]) : (table[7] << 8 | table[6]), 1);
    EXPECT_TRUE(std::all_of(table + 8, table + 2048, [](uint8_t b) { return b == 0; }));
  }
}

TEST_F(IsoBuilderTest, TheBootCatalogBootsTheFloppyImageByDiskEmulation) {
  UseFiles({"readme.txt"}, {Pattern(100, 1)});
  ASSERT_EQ(Build(), kIsoBuilt);
  IsoReader iso = Reader();
  const uint8_t* catalog = iso.Sector(20);
  uint16_t sum = 0;
  for (int i = 0; i < 16; ++i)
    sum = static_cast<uint16_t>(sum + (catalog[2 * i] | (catalog[2 * i + 1] << 8)));
  EXPECT_EQ(sum, 0) << "the validation entry's words add up to zero";
  EXPECT_NE(catalog[28] | catalog[29], 0);
  EXPECT_EQ(catalog[0], 1);
  EXPECT_EQ(catalog[1], 0);
  EXPECT_EQ(iso.Text(20, 4, 24), std::string("Talvo Software") + std::string(10, '\0'));
  EXPECT_EQ(catalog[30], 0x55);
  EXPECT_EQ(catalog[31], 0xAA);
  EXPECT_EQ(catalog[32], 0x88);
  EXPECT_EQ(catalog[33], 2);
  EXPECT_EQ(catalog[34] | (catalog[35] << 8), 0x07C0);
  EXPECT_EQ(catalog[36], 6);
  EXPECT_EQ(catalog[38] | (catalog[39] << 8), 1);
  EXPECT_EQ(iso.Le32(20, 40), 27u);
  EXPECT_TRUE(std::all_of(catalog + 44, catalog + 2048, [](uint8_t b) { return b == 0; }));

  // Sectors 27-746 are the floppy image, assembled with the same clock.
  std::vector<uint8_t> floppy(kFloppyImageBytes);
  ASSERT_EQ(AssembleFloppyImage(floppy.data(), handle.get(), system), kFloppyComplete);
  EXPECT_TRUE(std::equal(floppy.begin(), floppy.end(), iso.Sector(27)));
}

TEST_F(IsoBuilderTest, JolietRecordsCarryTheStoredNamesInWideCharacters) {
  UseFiles({"readme.txt", "Kernel.Map", "archive.tar.gz", "Archive.TAR.gz"},
           {Pattern(1, 1), Pattern(2, 2), Pattern(3, 3), Pattern(4, 4)});
  ASSERT_EQ(Build(), kIsoBuilt);
  IsoReader iso = Reader();
  const std::vector<IsoRecord> joliet = iso.Directory(24);
  ASSERT_EQ(joliet.size(), 6u);
  EXPECT_EQ(joliet[0].identifier, std::string(1, '\0'));
  EXPECT_EQ(joliet[1].identifier, std::string(1, '\1'));
  EXPECT_EQ(joliet[0].extent, 24u);
  EXPECT_EQ(joliet[1].extent, 24u);
  EXPECT_EQ(joliet[0].date[0], 0) << "self and parent carry zero dates";
  EXPECT_EQ(IsoReader::Narrow(joliet[2].identifier), "readme.txt");
  EXPECT_EQ(joliet[2].identifier.size(), 20u);
  EXPECT_EQ(joliet[2].length, 53);
  EXPECT_EQ(IsoReader::Narrow(joliet[3].identifier), "Kernel.Map");
  for (size_t i = 2; i < joliet.size(); ++i)
    EXPECT_EQ(joliet[i].length % 2, 1) << "no padding byte";

  // Two names with one 8.3 identifier: two records that nothing tells apart.
  const std::vector<IsoRecord> root = iso.Directory(21);
  EXPECT_EQ(root[4].identifier, root[5].identifier);
  EXPECT_NE(root[4].extent, root[5].extent);
}

TEST_F(IsoBuilderTest, AnEmptyListEndsTheImageWithTheBootImage) {
  UseFiles({}, {});
  ASSERT_EQ(Build(), kIsoBuilt);
  EXPECT_EQ(plan.volumeSectors, 747u);
  EXPECT_EQ(length, 747u * 2048);
  IsoReader iso = Reader();
  EXPECT_EQ(iso.Directory(21).size(), 2u);
  EXPECT_EQ(iso.Directory(24).size(), 2u);
  EXPECT_EQ(iso.Both32(16, 80), 747u);
}

TEST_F(IsoBuilderTest, PrintsItsTraceLinesInOrder) {
  UseFiles({"readme.txt", "b"}, {Pattern(3000, 1), {}});
  ASSERT_EQ(Build(), kIsoBuilt);
  EXPECT_EQ(system.TraceText(),
            "Primary Volume Descriptor\nEl-Torito Volume Descriptor\n"
            "Joliet Volume Descriptor (Unicode)\nVolume Set Terminator\nBoot Catalog\n"
            "Index\nEntry: readme.txt\nEntry: b\nLPath\nMPath\n"
            "Index (Joliet)\nEntry: readme.txt\nEntry: b\nLPath (Joliet)\nMPath (Joliet)\n"
            "done\n"
            "Writing File readme.txt\nSizes: 2\nWriting File b\nSizes: 0\n");
  // Every lookup waits: two per file and three for the floppy image.
  EXPECT_EQ(system.Pauses().size(), 2u * 2 + 3);
}

// --- A full root directory -----------------------------------------------------------------

TEST_F(IsoBuilderTest, AJolietDirectoryThatOverflowsCutsBothTreesAndTheVolume) {
  // Joliet records of 197 and 199 bytes: ten of them end exactly at byte 2048, so the tenth
  // does not fit. The ISO records (about 46 bytes) would all fit.
  std::vector<std::string> names;
  std::vector<std::vector<uint8_t>> contents;
  for (int i = 0; i < 12; ++i) {
    names.push_back(
        std::string(static_cast<size_t>(i % 2 == 0 ? 82 : 83), static_cast<char>('a' + i)) +
        std::to_string(i));
    names.back().resize(i % 2 == 0 ? 82 : 83);
    contents.push_back(Pattern(100, static_cast<uint8_t>(i)));
  }
  UseFiles(names, contents);
  ASSERT_EQ(Build(), kIsoBuilt);
  EXPECT_EQ(plan.namedFiles, 12u);
  ASSERT_EQ(plan.files.size(), 9u);
  EXPECT_TRUE(plan.cutInJoliet);
  IsoReader iso = Reader();
  EXPECT_EQ(iso.Directory(21).size(), 2u + 9);
  EXPECT_EQ(iso.Directory(24).size(), 2u + 9);
  EXPECT_EQ(plan.volumeSectors, 747u + 9);
  EXPECT_EQ(iso.Both32(16, 80), 747u + 9);
  EXPECT_EQ(length, (747u + 9) * 2048);
  const std::string trace = system.TraceText();
  const std::string cut =
      "Habe z.Z. zu wenig Platz im Root-Verzeichnis. Werde daher hier abbrechen\n"
      "und nur die Dateien bis " +
      names[8] + " speichern.\n";
  EXPECT_NE(trace.find("Entry: " + names[8] + "\n" + cut + "LPath (Joliet)"), std::string::npos)
      << trace;
  EXPECT_EQ(trace.find("Writing File " + names[9]), std::string::npos);
}

TEST_F(IsoBuilderTest, AnIsoDirectoryThatOverflowsFirstReportsTheCutThere) {
  // "F00" makes F00.;1 plus a zero byte: ISO records of 40 bytes, Joliet ones of 39.
  std::vector<std::string> names;
  for (int i = 0; i < 60; ++i)
    names.push_back("f" + std::string(i < 10 ? "0" : "") + std::to_string(i));
  UseFiles(names, std::vector<std::vector<uint8_t>>(60, Pattern(1, 1)));
  ASSERT_EQ(Build(), kIsoBuilt);
  EXPECT_EQ(plan.files.size(), 49u) << "68 + 49 x 40 = 2028; one more would pass 2048";
  EXPECT_FALSE(plan.cutInJoliet);
  const std::string trace = system.TraceText();
  EXPECT_NE(trace.find("Entry: f48\nHabe z.Z."), std::string::npos);
  EXPECT_NE(trace.find("bis f48 speichern.\nLPath\n"), std::string::npos);
  EXPECT_EQ(Reader().Directory(24).size(), 2u + 49);
}

// --- What cannot be built --------------------------------------------------------------------

TEST_F(IsoBuilderTest, NamesUpToTheJolietLimitAreKeptLongerOnesRefused) {
  UseFiles({std::string(111, 'n')}, {Pattern(5, 1)});
  ASSERT_EQ(Build(), kIsoBuilt);
  EXPECT_EQ(Reader().Directory(24)[2].length, 255);

  UseFiles({"ok.txt", std::string(112, 'n')}, {Pattern(5, 1), Pattern(5, 2)});
  EXPECT_EQ(Build(), kIsoNameTooLong);
  EXPECT_EQ(report.failedFile, 1);
}

TEST_F(IsoBuilderTest, ANameWithoutItsDataEntryIsRefusedBeforeAnythingIsWritten) {
  UseFiles({"a.txt", "b.txt"}, {Pattern(5, 1)});
  EXPECT_EQ(Build(), kIsoFileUnreadable);
  EXPECT_EQ(report.failedFile, 1);
  EXPECT_EQ(report.failedName, "b.txt");
  EXPECT_EQ(datafile::PeekDataFileError(), datafile::DataFileError::None);
}

TEST_F(IsoBuilderTest, ABufferSmallerThanThePlanIsNotWrittenAtAll) {
  UseFiles({"a.txt"}, {Pattern(5, 1)});
  ASSERT_EQ(Build(), kIsoBuilt);
  const uint64_t needed = plan.ImageBytes();
  EXPECT_EQ(Build(needed - 2048), kIsoBufferTooSmall);
  EXPECT_EQ(length, 0u);
  EXPECT_TRUE(std::all_of(image.begin(), image.end(), [](uint8_t b) { return b == 0xA5; }));
  EXPECT_EQ(Build(needed), kIsoBuilt);
  EXPECT_EQ(length, needed);
}

TEST_F(IsoBuilderTest, ALargeInstallationGetsABufferLargeEnoughToBuild) {
  UseFiles({"big1.bin", "big2.bin"}, {Pattern(1000000, 1), Pattern(700001, 2)});
  ASSERT_EQ(Build(), kIsoBuilt);
  EXPECT_GT(plan.ImageBytes(), kDefaultIsoBufferBytes);
  EXPECT_EQ(IsoBufferBytesFor(plan), plan.ImageBytes());
  EXPECT_TRUE(std::equal(
      image.begin() + static_cast<long>(Reader().Directory(21)[3].extent) * 2048,
      image.begin() + static_cast<long>(Reader().Directory(21)[3].extent) * 2048 + 700001,
      Pattern(700001, 2).begin()));
  UseFiles({"small"}, {Pattern(1, 1)});
  ASSERT_EQ(Build(), kIsoBuilt);
  EXPECT_EQ(IsoBufferBytesFor(plan), kDefaultIsoBufferBytes);
}

// Keeps every sector it is given, up to a limit after which it refuses.
struct RecordingSink : IsoSectorSink {
  bool Put(const uint8_t* sectors, uint32_t count) override {
    if (bytes.size() / 2048 + count > limit) return false;
    bytes.insert(bytes.end(), sectors, sectors + size_t{count} * 2048);
    largestPut = std::max(largestPut, count);
    return true;
  }
  std::vector<uint8_t> bytes;
  uint32_t largestPut = 0;
  uint32_t limit = UINT32_MAX;
};

TEST_F(IsoBuilderTest, ASinkOfTheCallersGetsTheBufferedBytesFileContentsInLargePieces) {
  UseFiles({"big.bin", "small"}, {Pattern(1000001, 1), Pattern(10, 2)});
  ASSERT_EQ(Build(), kIsoBuilt);
  RecordingSink sink;
  ASSERT_EQ(WriteIsoImage(plan, sink, handle.get(), system), kIsoBuilt);
  EXPECT_TRUE(std::equal(sink.bytes.begin(), sink.bytes.end(), image.begin()));
  EXPECT_EQ(sink.bytes.size(), length);
  EXPECT_GE(sink.largestPut * 2048, 65536u) << "file contents move in pieces of 64 KB or more";

  RecordingSink full;
  full.limit = 800;
  EXPECT_EQ(WriteIsoImage(plan, full, handle.get(), system), kIsoSinkFailed);
}

TEST_F(IsoBuilderTest, AFailedBootImageOrShortFileStopsTheBuild) {
  UseFiles({"a.txt"}, {Pattern(5, 1)}, false);
  EXPECT_EQ(Build(), kIsoBootImageFailed);
  EXPECT_EQ(report.floppyStatus, kFloppyEntryUnreadable);
  EXPECT_EQ(length, 27u * 2048) << "the length tells what was written";

  UseFiles({"a.txt", "b.txt"}, {Pattern(5000, 1), Pattern(5000, 2)});
  files.faults.shortReadsBeyond = mkinstalldat::BuildDataFile(entries).size() - 10;
  EXPECT_EQ(Build(), kIsoFileUnreadable);
  EXPECT_EQ(report.failedName, "b.txt");
  files.faults.shortReadsBeyond = UINT64_MAX;

  UseFiles({"a.txt"}, {Pattern(5, 1)});
  system.largestAllocation = kFloppyImageBytes - 1;
  EXPECT_EQ(Build(), kIsoNoMemory);
}

}  // namespace
