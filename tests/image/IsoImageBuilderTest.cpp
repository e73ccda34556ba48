// The CD image against bytes written out from the volume format alone, and its limits.
#include "image/IsoImageBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "image/FloppyImageAssembler.h"
#include "image/FloppyLayout.h"
#include "tests/fakes/FakeFileSystem.h"
#include "tests/fakes/FakeSystem.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace image;
using namespace std::string_literals;
using testsupport::Le;
using testsupport::Pattern;
using Outcome = std::tuple<int, int, std::string, int>;  // status, failed file, its name, floppy

class IsoBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    datafile::TakeDataFileError();
    system.now = {2026, 12, 6, 20, 35, 48, 987};
  }
  // Numbers of `n` bytes as the volume stores them; text of `n` bytes of (UCS-2) spaces.
  static std::string Be(uint32_t v, int n) { return n ? Be(v >> 8, n - 1) + char(v) : ""; }
  static std::string Both(uint32_t v, int n) { return Le(v, n) + Be(v, n); }
  static std::string Blank(size_t n, bool wide) {
    return n ? Blank(n - 1, wide) + (wide && n % 2 ? '\0' : ' ') : "";
  }
  // A directory record of volume 1 with no extended attributes, unit size or gap.
  static std::string Record(uint32_t extent, uint32_t size, const std::string& date, char flags,
                            const std::string& id) {
    return char(33 + id.size()) + "\0"s + Both(extent, 4) + Both(size, 4) + date + flags + "\0\0"s +
           Both(1, 2) + char(id.size()) + id;
  }

  // CD files named `names`, of `sizes` bytes, after the floppy's entries.
  void UseFiles(const std::vector<std::string>& names, const std::vector<uint32_t>& sizes) {
    entries = {{10002, testsupport::FormattedBaseImage()}, {10003, Pattern(1000, 9)}};
    if (names.empty()) entries.push_back({5100, Pattern(10, 8)});
    for (size_t i = 0; i < names.size(); ++i) {
      entries.push_back({static_cast<uint16_t>(5000 + i), testsupport::Bytes(names[i])});
      entries.push_back({static_cast<uint16_t>(5100 + i), Pattern(sizes[i], uint8_t(i))});
    }
  }
  // Plans, then writes into `capacity` bytes (by default the plan's own) with 4 KB of 0xA5
  // after them.
  int Build(uint64_t capacity = 0) {
    files.files_.clear();
    files.Add("install.dat", mkinstalldat::BuildDataFile(entries));
    handle = datafile::OpenDataFile({&files, &system}, "install.dat");
    length = 12345;
    const int planned = PlanIsoImage(handle.get(), system, &plan, &report);
    if (planned != kIsoBuilt) return planned;
    if (capacity == 0) capacity = IsoBufferBytesFor(plan);
    image.assign(capacity + 4096, 0xA5);
    return WriteIsoImage(plan, image.data(), capacity, &length, handle.get(), system, &report);
  }
  Outcome Failure() {
    const int status = Build();
    return {status, report.failedFile, report.failedName, report.floppyStatus};
  }
  const uint8_t* Sector(uint32_t n) const { return image.data() + size_t{n} * 2048; }
  // Whether sector `n` holds each part's bytes at its offset and zeros elsewhere.
  bool SectorIs(uint32_t n, const std::vector<std::pair<size_t, std::string>>& parts) const {
    std::string expected(2048, '\0');
    for (const auto& [at, bytes] : parts) expected.replace(at, bytes.size(), bytes);
    return std::memcmp(expected.data(), Sector(n), 2048) == 0;
  }
  size_t RecordsIn(uint32_t n) const {
    size_t count = 0;
    for (size_t at = 0; at < 2048 && Sector(n)[at] != 0; at += Sector(n)[at]) ++count;
    return count;
  }
  bool All(size_t from, size_t to, uint8_t value) const {
    return std::all_of(&image[from], &image[to], [=](uint8_t b) { return b == value; });
  }

  std::vector<mkinstalldat::DatEntry> entries;
  fakes::FakeFileSystem files;
  fakes::FakeSystem system;
  std::unique_ptr<datafile::DataFile> handle;
  IsoPlan plan;
  IsoBuildReport report;
  std::vector<uint8_t> image;
  uint32_t length = 0;
};

// Every byte of the image. Stored names become 8.3 identifiers (two of them the same, which
// nothing tells apart); an empty file shares its extent with the next; the longest Joliet
// name fits.
TEST_F(IsoBuilderTest, EveryByteOfTheVolumeIsInPlace) {
  // clang-format off
  const struct {
    std::string name, identifier;
    uint32_t size, extent;
  } cases[] = {
      {"readme.txt", "README.TXT;1", 3000, 747},      {"Empty.Bin", "EMPTY.BIN;1", 0, 749},
      {"my-file.text", "MYFILE.TEX;1", 2048, 749},    {"archive.tar.gz", "ARCHIVET.GZ;1", 3, 750},
      {"Archive.TAR.gz", "ARCHIVET.GZ;1", 4, 751},    {"LICENSE", "LICENSE.;1", 1, 752},
      {".profile", "PROFILE.;1", 1, 753},             {"--- ~~~", ".;1", 1, 754},
      {"a.b-c.d-e", "ABC.DE;1", 1, 755},              {"\xE4rger.t\xFCt", "RGER.TT;1", 1, 756},
      {"my_long-name.t_t", "MY_LONGN.T_T;1", 1, 757}, {std::string(111, 'n'), "NNNNNNNN.;1", 5, 758}};
  // clang-format on
  std::vector<std::string> names;
  std::vector<uint32_t> sizes;
  for (const auto& c : cases) names.push_back(c.name), sizes.push_back(c.size);
  UseFiles(names, sizes);
  ASSERT_EQ(Build(), kIsoBuilt);
  ASSERT_EQ(length, 759u * 2048);
  EXPECT_TRUE(All(length, image.size(), 0xA5)) << "written past the image";
  EXPECT_TRUE(All(0, 16 * 2048, 0)) << "the system area";

  const std::string date = {126, 12, 6, 20, 35, 48, 0}, noDate(7, '\0');
  const std::string longDate = "2026120620354898\0"s;
  for (const bool joliet : {false, true}) {
    SCOPED_TRACE(joliet ? "Joliet" : "ISO 9660");
    const uint32_t d = joliet ? 18 : 16, root = joliet ? 24 : 21;
    const std::string shortField = Blank(36, joliet) + (joliet ? '\0' : ' ');  // 37 bytes
    EXPECT_TRUE(
        SectorIs(d, {{0, char(joliet ? 2 : 1) + "CD001\1"s},
                     {8, Blank(64, joliet)},
                     {80, Both(759, 4) + (joliet ? "%/E" : "")},
                     {120, Both(1, 2) + Both(1, 2) + Both(2048, 2) + Both(10, 4) + Le(root + 1, 4)},
                     {148, Be(root + 2, 4)},
                     {156, Record(root, 2048, date, 2, "\0"s)},
                     {190, Blank(512, joliet) + shortField + shortField + shortField},
                     {813, longDate + longDate + longDate + longDate + "\1"}}));
    // One root record each: extent and parent 1, little- then big-endian.
    EXPECT_TRUE(SectorIs(root + 1, {{0, "\1\0"s + Le(root, 4) + Le(1, 2)}}));
    EXPECT_TRUE(SectorIs(root + 2, {{0, "\1\0"s + Be(root, 4) + Be(1, 2)}}));
    std::string records =
        Record(root, 2048, noDate, 2, "\0"s) + Record(root, 2048, noDate, 2, "\1");
    for (const auto& c : cases) {
      std::string id = joliet ? "" : c.identifier + '\0';
      for (char ch : c.name) id += joliet ? "\0"s + ch : "";  // UCS-2, big-endian
      records += Record(c.extent, c.size, date, 0, id);
    }
    EXPECT_TRUE(SectorIs(root, {{0, records}}));
  }
  EXPECT_TRUE(SectorIs(17, {{0, "\0CD001\1EL TORITO SPECIFICATION"s}, {71, "\x14"}}));
  EXPECT_TRUE(SectorIs(19, {{0, "\377CD001\1"s}})) << "the set terminator";
  // The catalog (its first 16 words add up to 0) boots sector 27 as a 1.44 MB diskette.
  EXPECT_TRUE(SectorIs(
      20, {{0, "\1\0\0\0Talvo Software"s}, {28, "\xD9\xB2\x55\xAA\x88\2\xC0\7\6\0\1\0\x1B"s}}));

  std::string entryLines, writeLines;
  for (const auto& c : cases) {
    entryLines += "Entry: " + c.name + "\n";
    writeLines +=
        "Writing File " + c.name + "\nSizes: " + std::to_string((c.size + 2047) / 2048) + "\n";
  }
  EXPECT_EQ(system.TraceText(),
            "Primary Volume Descriptor\nEl-Torito Volume Descriptor\n"
            "Joliet Volume Descriptor (Unicode)\nVolume Set Terminator\nBoot Catalog\nIndex\n" +
                entryLines + "LPath\nMPath\nIndex (Joliet)\n" + entryLines +
                "LPath (Joliet)\nMPath (Joliet)\ndone\n" + writeLines);
  // Every lookup waits: two per file and three for the floppy image.
  EXPECT_EQ(system.Pauses().size(), 2 * std::size(cases) + 3);
}

// The root directory is one sector: the tree whose records overflow it first cuts both
// trees and the volume after the last file that fits, and the trace says so.
TEST_F(IsoBuilderTest, AFullRootDirectoryCutsBothTreesWhereItOverflowsFirst) {
  // Joliet records of 197 and 199 bytes, of which ten would end exactly at byte 2048;
  // "f00" makes ISO records of 40 bytes (F00.;1 and a zero) and Joliet ones of 39.
  std::vector<std::string> joliet, iso;
  for (int i = 0; i < 12; ++i) joliet.push_back(std::string(82 + i % 2, char('a' + i)));
  for (int i = 0; i < 60; ++i) iso.push_back((i < 10 ? "f0" : "f") + std::to_string(i));
  for (const auto& [names, kept] : {std::pair(joliet, size_t{9}), std::pair(iso, size_t{49})}) {
    UseFiles(names, std::vector<uint32_t>(names.size(), 100));
    ASSERT_EQ(Build(), kIsoBuilt);
    EXPECT_EQ(
        std::vector<size_t>({plan.namedFiles, plan.files.size(), plan.cutInJoliet, length / 2048u,
                             RecordsIn(21), RecordsIn(24)}),
        std::vector<size_t>({names.size(), kept, names == joliet, 747 + kept, 2 + kept, 2 + kept}));
    const std::string& last = names[kept - 1];
    EXPECT_NE(system.TraceText().find(
                  "Entry: " + last + "\nHabe z.Z. zu wenig Platz im Root-Verzeichnis. " +
                  "Werde daher hier abbrechen\nund nur die Dateien bis " + last + " speichern.\n" +
                  (names == joliet ? "LPath (Joliet)" : "LPath\n")),
              std::string::npos)
        << system.TraceText();
    EXPECT_EQ(system.TraceText().find("Writing File " + names[kept]), std::string::npos);
  }
}

// A buffer holds at least the burner's traditional 3 MB and is never written past; what
// cannot be built says which file it was.
TEST_F(IsoBuilderTest, StopsAtWhatItCannotBuildAndTellsWhichFile) {
  UseFiles({}, {});  // no files: the image ends with the boot image
  ASSERT_EQ(Build(), kIsoBuilt);
  EXPECT_EQ(std::vector<uint64_t>({length, RecordsIn(21), RecordsIn(24), IsoBufferBytesFor(plan)}),
            std::vector<uint64_t>({747 * 2048, 2, 2, kDefaultIsoBufferBytes}));
  EXPECT_EQ(Build(746 * 2048), kIsoBufferTooSmall);
  EXPECT_EQ(length, 0u);
  EXPECT_TRUE(All(0, image.size(), 0xA5)) << "nothing is written";
  EXPECT_EQ(Build(747 * 2048), kIsoBuilt);
  EXPECT_EQ(length, 747u * 2048);
  const std::string tooLong(112, 'n');
  UseFiles({"ok.txt", tooLong}, {1, 2});
  EXPECT_EQ(Failure(), Outcome(kIsoNameTooLong, 1, tooLong, 0));
  UseFiles({"a.txt", "b.txt"}, {5000, 5000});  // b.txt is cut short
  files.faults.shortReadsBeyond = mkinstalldat::BuildDataFile(entries).size() - 10;
  EXPECT_EQ(Failure(), Outcome(kIsoFileUnreadable, 1, "b.txt", 0));
  EXPECT_EQ(datafile::PeekDataFileError(), datafile::DataFileError::None);
  files.faults.shortReadsBeyond = UINT64_MAX;
  entries.erase(entries.begin());  // no base image for the floppy
  EXPECT_EQ(Failure(), Outcome(kIsoBootImageFailed, -1, "", kFloppyEntryUnreadable));
  EXPECT_EQ(length, 27u * 2048) << "the length tells what was written";
  UseFiles({"a.txt"}, {1});
  system.largestAllocation = kFloppyImageBytes - 1;
  EXPECT_EQ(Failure(), Outcome(kIsoNoMemory, -1, "", 0));
}

}  // namespace
