// The CD image, decoded by an independent ISO 9660 reader field by field.
#include "image/IsoImageBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "image/FloppyImageAssembler.h"
#include "image/FloppyLayout.h"
#include "image/IsoNames.h"
#include "tests/fakes/FakeFileSystem.h"
#include "tests/fakes/FakeSystem.h"
#include "tests/support/IsoReader.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace image;
using namespace std::string_literals;
using testsupport::IsoReader;
using testsupport::IsoRecord;
using testsupport::Pattern;
using Contents = std::vector<std::vector<uint8_t>>;

bool AllAre(const uint8_t* from, const uint8_t* to, uint8_t value) {
  return std::all_of(from, to, [value](uint8_t b) { return b == value; });
}

// Numbers of any width, compared as one list.
template <typename... T>
std::vector<uint32_t> Values(T... values) {
  return {static_cast<uint32_t>(values)...};
}

// Whether sector `n` is all zeros but for `parts`, each placed at its offset.
bool SectorIs(const IsoReader& iso, uint32_t n, std::vector<std::pair<size_t, std::string>> parts) {
  std::vector<uint8_t> expected(2048, 0);
  for (const auto& [at, bytes] : parts) std::copy(bytes.begin(), bytes.end(), &expected[at]);
  return std::equal(expected.begin(), expected.end(), iso.Sector(n));
}

TEST(IsoNames, StoredNamesBecomeEightDotThreeIdentifiers) {
  // Pairs: stored name, identifier.
  const char* const cases[] = {
      "readme.txt",      "README.TXT;1", "Kernel.Map",       "KERNEL.MAP;1",
      "my-file.text",    "MYFILE.TEX;1", "archive.tar.gz",   "ARCHIVET.GZ;1",
      "LICENSE",         "LICENSE.;1",   ".profile",         "PROFILE.;1",
      "--- ~~~",         ".;1",          "a.b-c.d-e",        "ABC.DE;1",
      "\xE4rger.t\xFCt", "RGER.TT;1",    "my_long-name.t_t", "MY_LONGN.T_T;1"};
  for (size_t i = 0; i < std::size(cases); i += 2)
    EXPECT_EQ(MakeIsoName(cases[i]), cases[i + 1]) << cases[i];
}

class IsoBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    datafile::TakeDataFileError();
    system.now = {2026, 12, 6, 20, 35, 48, 987};
  }

  // CD files named `names`, contents `contents`, after the floppy's entries.
  void UseFiles(const std::vector<std::string>& names, const Contents& contents) {
    entries = {{10002, testsupport::FormattedBaseImage()}, {10003, Pattern(1000, 9)}};
    if (contents.empty()) entries.push_back({5100, Pattern(10, 8)});
    for (size_t i = 0; i < names.size(); ++i)
      entries.push_back({static_cast<uint16_t>(5000 + i), testsupport::Bytes(names[i])});
    for (size_t i = 0; i < contents.size(); ++i)
      entries.push_back({static_cast<uint16_t>(5100 + i), contents[i]});
  }

  // Plans, then writes into a buffer of `capacity` bytes (by default the plan's own) that
  // has 4 KB of 0xA5 after it.
  int Build(uint64_t capacity = 0) {
    files.files_.clear();
    files.Add("install.dat", mkinstalldat::BuildDataFile(entries));
    handle = datafile::OpenDataFile({&files, &system}, "install.dat");
    EXPECT_NE(handle, nullptr);
    const int planned = PlanIsoImage(handle.get(), system, &plan, &report);
    if (planned != kIsoBuilt) return planned;
    if (capacity == 0) capacity = IsoBufferBytesFor(plan);
    image.assign(capacity + 4096, 0xA5);
    return WriteIsoImage(plan, image.data(), capacity, &length, handle.get(), system, &report);
  }

  IsoReader Reader() const { return IsoReader(image.data()); }

  std::vector<mkinstalldat::DatEntry> entries;
  fakes::FakeFileSystem files;
  fakes::FakeSystem system;
  std::unique_ptr<datafile::DataFile> handle;
  IsoPlan plan;
  IsoBuildReport report;
  std::vector<uint8_t> image;
  uint32_t length = 12345;
};

TEST_F(IsoBuilderTest, EveryFieldOfTheVolumeIsInPlace) {
  // The last two names share one 8.3 identifier: two ISO records that nothing tells apart.
  const struct {
    std::string name, identifier;
    std::vector<uint8_t> contents;
    uint32_t extent;
  } cases[] = {{"readme.txt", "README.TXT;1", Pattern(3000, 1), 747},
               {"Empty.Bin", "EMPTY.BIN;1", {}, 749},
               {"Kernel.Map", "KERNEL.MAP;1", Pattern(10, 2), 749},
               {"whole.sec", "WHOLE.SEC;1", Pattern(2048, 3), 750},
               {"archive.tar.gz", "ARCHIVET.GZ;1", Pattern(3, 4), 751},
               {"Archive.TAR.gz", "ARCHIVET.GZ;1", Pattern(4, 5), 752}};
  std::vector<std::string> names;
  Contents contents;
  for (const auto& c : cases) names.push_back(c.name), contents.push_back(c.contents);
  UseFiles(names, contents);
  ASSERT_EQ(Build(), kIsoBuilt);
  EXPECT_EQ(length, 753u * 2048);
  EXPECT_TRUE(AllAre(&image[length], &image.back() + 1, 0xA5)) << "written past the image";
  const IsoReader iso = Reader();
  EXPECT_TRUE(AllAre(iso.Sector(0), iso.Sector(16), 0)) << "the system area";
  const std::vector<uint8_t> date = {126, 12, 6, 20, 35, 48, 0}, noDate(7, 0);

  // The primary and the Joliet descriptor, each with its path tables and root directory.
  for (const auto& [d, type, root, pathL, pathM] :
       {std::array<uint32_t, 5>{16, 1, 21, 22, 23}, {18, 2, 24, 25, 26}}) {
    SCOPED_TRACE("descriptor " + std::to_string(d));
    const uint8_t* s = iso.Sector(d);
    const IsoRecord top = IsoReader::RecordAt(s + 156);
    EXPECT_EQ(Values(s[0], s[6], iso.Both(d, 80, 4), iso.Both(d, 120, 2), iso.Both(d, 124, 2),
                     iso.Both(d, 128, 2), iso.Both(d, 132, 4), iso.Le32(d, 140), iso.Le32(d, 144),
                     iso.Be32(d, 148), s[881], top.length, top.extent, top.dataLength, top.flags,
                     top.bothOrdersAgree),
              Values(type, 1, 753, 1, 1, 2048, 10, pathL, 0, pathM, 1, 34, root, 2048, 2, true));
    EXPECT_EQ(top.identifier, "\0"s);
    EXPECT_EQ(top.date, date);
    EXPECT_EQ(iso.Text(d, 1, 5), "CD001");
    for (uint32_t at : {813u, 830u, 847u, 864u})
      EXPECT_EQ(iso.Text(d, at, 17), "2026120620354898\0"s) << "date at " << at;
    // One root record each: extent and parent 1, little- then big-endian.
    EXPECT_TRUE(SectorIs(iso, pathL, {{0, "\1"}, {2, {static_cast<char>(root)}}, {6, "\1"}}));
    EXPECT_TRUE(SectorIs(iso, pathM, {{0, "\1"}, {5, {static_cast<char>(root)}}, {7, "\1"}}));

    const std::vector<IsoRecord> records = iso.Directory(root);
    ASSERT_EQ(records.size(), 2 + std::size(cases));
    for (size_t i = 0; i < records.size(); ++i) {
      const IsoRecord& r = records[i];
      const bool dot = i < 2;  // self and parent: the directory itself, with zero dates
      std::string id = dot ? std::string(1, static_cast<char>(i)) : cases[i - 2].identifier + '\0';
      if (root == 24 && !dot) {  // Joliet: the stored name in UCS-2, big-endian
        id.clear();
        for (char c : cases[i - 2].name) id += "\0"s + c;
      }
      EXPECT_EQ(r.identifier, id);
      EXPECT_EQ(
          Values(r.length, r.extent, r.dataLength, r.flags, r.bothOrdersAgree),
          dot ? Values(34, root, 2048, 2, true)
              : Values(33 + id.size(), cases[i - 2].extent, cases[i - 2].contents.size(), 0, true))
          << "record " << i;
      EXPECT_EQ(r.date, dot ? noDate : date);
    }
  }
  EXPECT_EQ(iso.Text(16, 8, 64), std::string(64, ' '));
  EXPECT_EQ(iso.Text(16, 190, 623), std::string(623, ' '));
  std::string wide;  // UCS-2 big-endian spaces
  for (int i = 0; i < 256; ++i) wide += "\0 "s;
  EXPECT_EQ(iso.Text(18, 8, 64) + iso.Text(18, 88, 3), wide.substr(0, 64) + "%/E");
  const std::string wideFile = wide.substr(0, 36) + '\0';  // the last byte of 37 is zero
  EXPECT_EQ(iso.Text(18, 190, 623), wide.substr(0, 512) + wideFile + wideFile + wideFile);
  EXPECT_TRUE(SectorIs(iso, 19, {{0, "\377CD001\1"s}})) << "the set terminator";

  // The boot record, and a catalog that boots sector 27 on by 1.44 MB diskette emulation.
  EXPECT_TRUE(SectorIs(iso, 17, {{0, "\0CD001\1EL TORITO SPECIFICATION"s}, {71, "\x14"}}));
  uint16_t sum = 0;
  for (uint32_t at = 0; at < 32; at += 2)
    sum = static_cast<uint16_t>(sum + IsoReader::Le(iso.Sector(20) + at, 2));
  EXPECT_EQ(sum, 0) << "the validation entry's words add up to zero";
  EXPECT_TRUE(SectorIs(iso, 20,
                       {{0, "\1\0\0\0Talvo Software"s},
                        {28, iso.Text(20, 28, 2) + "\x55\xAA\x88\2\xC0\7\6\0\1\0\x1B"s}}));
  // Sectors 27-746 are the floppy image, assembled with the same clock; then the files.
  std::vector<uint8_t> floppy(kFloppyImageBytes);
  ASSERT_EQ(AssembleFloppyImage(floppy.data(), handle.get(), system), kFloppyComplete);
  EXPECT_TRUE(std::equal(floppy.begin(), floppy.end(), iso.Sector(27)));
  for (const auto& file : cases) {
    std::vector<uint8_t> padded = file.contents;  // the last sector ends in zeros
    padded.resize((padded.size() + 2047) / 2048 * 2048, 0);
    EXPECT_TRUE(std::equal(padded.begin(), padded.end(), iso.Sector(file.extent))) << file.name;
  }
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

TEST_F(IsoBuilderTest, AFullRootDirectoryCutsBothTreesAndTheVolumeWhereItOverflowsFirst) {
  // Joliet records of 197 and 199 bytes: ten of them end exactly at byte 2048, so the tenth
  // does not fit. The ISO records (about 46 bytes) would all fit.
  std::vector<std::string> names;
  for (int i = 0; i < 12; ++i) names.push_back(std::string(82 + i % 2, static_cast<char>('a' + i)));
  UseFiles(names, Contents(12, Pattern(100, 1)));
  ASSERT_EQ(Build(), kIsoBuilt);
  EXPECT_EQ(Values(plan.namedFiles, plan.files.size(), plan.cutInJoliet, length / 2048,
                   Reader().Both(16, 80, 4), Reader().Directory(21).size(),
                   Reader().Directory(24).size()),
            Values(12, 9, true, 747 + 9, 747 + 9, 2 + 9, 2 + 9));
  std::string trace = system.TraceText();
  EXPECT_NE(trace.find("Entry: " + names[8] + "\nHabe z.Z. zu wenig Platz im Root-Verzeichnis. " +
                       "Werde daher hier abbrechen\nund nur die Dateien bis " + names[8] +
                       " speichern.\nLPath (Joliet)"),
            std::string::npos)
      << trace;
  EXPECT_EQ(trace.find("Writing File " + names[9]), std::string::npos);

  // "F00" makes F00.;1 plus a zero byte: ISO records of 40 bytes, Joliet ones of 39.
  names.clear();
  for (int i = 0; i < 60; ++i) names.push_back((i < 10 ? "f0" : "f") + std::to_string(i));
  UseFiles(names, Contents(60, Pattern(1, 1)));
  ASSERT_EQ(Build(), kIsoBuilt);
  EXPECT_EQ(plan.files.size(), 49u) << "68 + 49 x 40 = 2028; one more would pass 2048";
  EXPECT_FALSE(plan.cutInJoliet);
  EXPECT_EQ(Reader().Directory(24).size(), 2u + 49);
  trace = system.TraceText();
  EXPECT_NE(trace.find("Entry: f48\nHabe z.Z."), std::string::npos) << trace;
  EXPECT_NE(trace.find("bis f48 speichern.\nLPath\n"), std::string::npos);
}

TEST_F(IsoBuilderTest, TheBufferIsSizedFromThePlanAndNeverOverrun) {
  UseFiles({}, {});  // no files: the image ends with the boot image
  ASSERT_EQ(Build(), kIsoBuilt);
  EXPECT_EQ(Values(length, Reader().Both(16, 80, 4), Reader().Directory(21).size(),
                   Reader().Directory(24).size(), IsoBufferBytesFor(plan)),
            Values(747 * 2048, 747, 2, 2, kDefaultIsoBufferBytes));
  EXPECT_EQ(Build(747 * 2048 - 2048), kIsoBufferTooSmall);
  EXPECT_EQ(length, 0u);
  EXPECT_TRUE(AllAre(image.data(), &image.back() + 1, 0xA5)) << "nothing is written";
  EXPECT_EQ(Build(747 * 2048), kIsoBuilt);
  EXPECT_EQ(length, 747u * 2048);

  UseFiles({"big1.bin", "big2.bin"}, {Pattern(1000000, 1), Pattern(700001, 2)});
  ASSERT_EQ(Build(), kIsoBuilt);
  EXPECT_GT(plan.ImageBytes(), kDefaultIsoBufferBytes);
  EXPECT_EQ(IsoBufferBytesFor(plan), plan.ImageBytes());
  const uint8_t* big2 = Reader().Sector(Reader().Directory(21)[3].extent);
  EXPECT_TRUE(std::equal(big2, big2 + 700001, Pattern(700001, 2).begin()));
}

// Keeps every sector it is given, up to a limit after which it refuses, and the largest
// piece of file contents (after the boot image, which ends at sector 747).
struct RecordingSink : IsoSectorSink {
  bool Put(const uint8_t* sectors, uint32_t count) override {
    if (bytes.size() / 2048 + count > limit) return false;
    if (bytes.size() / 2048 >= 747) largestFilePut = std::max(largestFilePut, count);
    bytes.insert(bytes.end(), sectors, sectors + size_t{count} * 2048);
    return true;
  }
  std::vector<uint8_t> bytes;
  uint32_t largestFilePut = 0, limit = UINT32_MAX;
};

TEST_F(IsoBuilderTest, ASinkOfTheCallersGetsTheBufferedBytesFileContentsInLargePieces) {
  UseFiles({"big.bin", "small"}, {Pattern(1000001, 1), Pattern(10, 2)});
  ASSERT_EQ(Build(), kIsoBuilt);
  RecordingSink sink;
  ASSERT_EQ(WriteIsoImage(plan, sink, handle.get(), system), kIsoBuilt);
  EXPECT_EQ(sink.bytes.size(), length);
  EXPECT_TRUE(std::equal(sink.bytes.begin(), sink.bytes.end(), image.begin()));
  EXPECT_GE(sink.largestFilePut * 2048, 65536u) << "file contents move in pieces of 64 KB or more";
  sink.bytes.clear();
  sink.limit = 800;
  EXPECT_EQ(WriteIsoImage(plan, sink, handle.get(), system), kIsoSinkFailed);
}

TEST_F(IsoBuilderTest, StopsAtWhatItCannotBuildAndTellsWhichFile) {
  UseFiles({std::string(111, 'n')}, {Pattern(5, 1)});
  ASSERT_EQ(Build(), kIsoBuilt);
  EXPECT_EQ(Reader().Directory(24)[2].length, 255) << "the longest Joliet name fits";
  UseFiles({"ok.txt", std::string(112, 'n')}, {Pattern(5, 1), Pattern(5, 2)});
  EXPECT_EQ(Build(), kIsoNameTooLong);
  EXPECT_EQ(report.failedFile, 1);

  UseFiles({"a.txt", "b.txt"}, {Pattern(5, 1)});  // b.txt has no data entry
  EXPECT_EQ(Build(), kIsoFileUnreadable);
  EXPECT_EQ(report.failedFile, 1);
  EXPECT_EQ(report.failedName, "b.txt");
  EXPECT_EQ(datafile::PeekDataFileError(), datafile::DataFileError::None);

  UseFiles({"a.txt", "b.txt"}, {Pattern(5000, 1), Pattern(5000, 2)});  // b.txt is cut short
  files.faults.shortReadsBeyond = mkinstalldat::BuildDataFile(entries).size() - 10;
  EXPECT_EQ(Build(), kIsoFileUnreadable);
  EXPECT_EQ(report.failedName, "b.txt");
  files.faults.shortReadsBeyond = UINT64_MAX;

  UseFiles({"a.txt"}, {Pattern(5, 1)});
  entries.erase(entries.begin());  // no base image for the floppy
  EXPECT_EQ(Build(), kIsoBootImageFailed);
  EXPECT_EQ(report.floppyStatus, kFloppyEntryUnreadable);
  EXPECT_EQ(length, 27u * 2048) << "the length tells what was written";

  UseFiles({"a.txt"}, {Pattern(5, 1)});
  system.largestAllocation = kFloppyImageBytes - 1;
  EXPECT_EQ(Build(), kIsoNoMemory);
}

}  // namespace
