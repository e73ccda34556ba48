// The floppy image through an independent FAT12 reader, the CD image byte by byte, at limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <tuple>

#include "image/FatDirectoryEntry.h"
#include "image/FloppyImageAssembler.h"
#include "image/FloppyLayout.h"
#include "image/IsoImageBuilder.h"
#include "tests/fakes/FakeFileSystem.h"
#include "tests/fakes/FakeSystem.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace image;
using namespace std::string_literals;
using namespace testsupport;
using Entries = std::vector<mkinstalldat::DatEntry>;

// A FAT entry; a file's bytes through its chain (none if it loops, leaves or ends free).
struct FatReader {
  const std::vector<uint8_t>& image;
  uint16_t Entry(uint32_t cluster) const {  // of the first FAT
    const uint8_t* pair = &image[512 + cluster + cluster / 2];
    return cluster % 2 == 0 ? (pair[0] | (pair[1] & 0x0F) << 8) : (pair[0] >> 4 | pair[1] << 4);
  }
  std::vector<uint8_t> Contents(const std::string& entry) const {
    const auto e = reinterpret_cast<const uint8_t*>(entry.data());
    std::vector<uint8_t> bytes;
    for (uint32_t c = e[26] | e[27] << 8; c >= 2 && c < 0xFF0; c = Entry(c)) {
      if (bytes.size() > 2880 * 512 || c > 2848 || Entry(c) == 0) return {};
      bytes.insert(bytes.end(), &image[(31 + c) * 512], &image[(31 + c) * 512] + 512);
    }
    bytes.resize(std::min<size_t>(bytes.size(), e[28] | e[29] << 8 | e[30] << 16));
    return bytes;
  }
};

class ImageTest : public ::testing::Test {
 protected:
  void SetUp() override { datafile::TakeDataFileError(); }
  // Opens `data` (its last `cut` bytes unreadable); a fresh trace, at 2026-12-06 20:35:48.987.
  void Open(const Entries& data, uint64_t cut = 0) {
    handle.reset();
    system = std::make_unique<fakes::FakeSystem>();
    system->now = {2026, 12, 6, 20, 35, 48, 987};
    const auto bytes = mkinstalldat::BuildDataFile(data);
    files.Add("install.dat", bytes);
    files.faults.shortReadsBeyond = bytes.size() - cut;
    handle = datafile::OpenDataFile({&files, system.get()}, "install.dat");
  }
  // Assembles into an image prefilled with 0x55, so that bytes left alone show.
  int Assemble(const Entries& data, uint64_t cut = 0) {
    Open(data, cut);
    image.assign(kFloppyImageBytes, 0x55);
    return AssembleFloppyImage(image.data(), handle.get(), *system, &floppyReport);
  }
  bool All(size_t from, size_t to, uint8_t value) const {
    return std::all_of(&image[from], &image[0] + to, [=](uint8_t b) { return b == value; });
  }

  fakes::FakeFileSystem files;
  std::unique_ptr<fakes::FakeSystem> system;
  std::unique_ptr<datafile::DataFile> handle;
  std::vector<uint8_t> image;
  FloppyAssemblyReport floppyReport;
};

// Images holding both files: slots, entries, chains, zeros after each file, the filler after.
TEST_F(ImageTest, AddsBothFilesAfterTheBaseImageAndFillsTheRest) {
  // Extra base sectors, file sizes, first clusters (0: an empty file owns none), status, sectors.
  using Sizes = std::array<uint32_t, 2>;
  const std::tuple<uint32_t, Sizes, Sizes, int, uint32_t> kCases[] = {
      {0, {1024, 5}, {2, 4}, kFloppyComplete, 36},  // a whole-sector file takes no extra sector
      {1, {600, 5}, {3, 5}, kFloppyComplete, 37},   // an odd first cluster closes the one before
      // Pieces that fill the floppy exactly need no filler, and are just as complete.
      {0, {(2880 - 34) * 512, 1}, {2, 2848}, kFloppyTooLarge, 2880},
      {2880 - 33, {0, 0}, {0, 0}, kFloppyTooLarge, 2880}};
  const std::string time = Le((20 << 11) | (35 << 5) | 24, 2),  // the stamp as FAT time, date
      date = Le((46 << 9) | (12 << 5) | 6, 2);
  for (const auto& [extra, sizes, clusters, status, sectorsUsed] : kCases) {
    SCOPED_TRACE(testing::Message() << sizes[0] << " + " << sizes[1]);
    const std::vector<uint8_t> data[] = {Pattern(sizes[0], 1), Pattern(sizes[1], 2)};
    auto base = FormattedBaseImage(extra);
    // Only the deleted slot 0 and slot 2 are free: the files take those.
    for (uint32_t slot = 0; slot < 224; ++slot)
      base[kRootDirectoryOffset + slot * 32] = slot == 0 ? 0xE5 : slot == 2 ? 0 : 'F';
    ASSERT_EQ(Assemble(FloppyEntries(base, data[0], data[1])), status);
    EXPECT_EQ(floppyReport.sectorsUsed, sectorsUsed);
    EXPECT_TRUE(FloppyImageIsComplete(status, floppyReport));
    const FatReader fat{image};
    for (int i = 0; i < 2; ++i) {  // in slots 0 and 2
      const auto at = image.begin() + kRootDirectoryOffset + 64 * i;
      const std::string entry(at, at + 32);
      // Read-only, hidden and system for KERNEL.MAP; the stamp as creation, access and write.
      EXPECT_EQ(entry, (i == 0 ? "KERNEL  MAP\7"s : "README  TXT\0"s) + "\0\0"s + time + date +
                           date + "\0\0"s + time + date + Le(clusters[i], 2) +
                           Le(static_cast<uint32_t>(data[i].size()), 4));
      EXPECT_EQ(fat.Contents(entry), data[i]);
      const size_t end = (31u + clusters[i]) * 512u + data[i].size();
      EXPECT_TRUE(data[i].empty() || All(end, (end + 511) / 512 * 512, 0)) << "zeros after";
    }
    EXPECT_TRUE(extra != 1 || fat.Entry(2) == 0xFFF) << "the base's own cluster";
    EXPECT_EQ(fat.Entry(sectorsUsed - 31), 0) << "the cluster after the last file is free";
    EXPECT_TRUE(All(sectorsUsed * 512, image.size(), 0xF6));
    EXPECT_EQ(system->TraceText(), "done\n");
    EXPECT_EQ(system->Pauses(), (std::vector<uint32_t>{500, 500, 500})) << "one per entry";
  }
  EXPECT_EQ(FatDate({1970, 1, 1, 0, 0, 0, 0}), (1 << 5) | 1) << "dates before 1980 clamp";
  // A file of one even cluster frees its partner, leaves the group before alone, in both FATs.
  image = FormattedBaseImage(10);
  image.resize(kFloppyImageBytes);
  for (uint32_t fat : {kFirstFatOffset, kSecondFatOffset}) std::fill_n(&image[fat + 3], 9, 0xBC);
  ASSERT_TRUE(AddFatFile(image.data(), 37 * 512, 0, 100, "ONE     BIN", false, {}));
  for (uint32_t fat : {kFirstFatOffset, kSecondFatOffset})  // 4-5 as they were, 6 ends, 7 free
    EXPECT_EQ(std::string(&image[fat + 6], &image[fat + 12]), "\xBC\xBC\xBC\xFF\x0F\0"s);
}

// No complete image: the base as far as copied (a part sector zero-filled), nothing after it.
TEST_F(ImageTest, AnIncompleteImageHoldsTheBaseImageAloneAndSaysWhy) {
  const auto base = FormattedBaseImage(), k = Pattern(10, 1), r = Pattern(10, 2);
  auto partSector = FormattedBaseImage(1), fullRoot = base;
  partSector.resize(partSector.size() - 12);
  for (uint32_t slot = 0; slot < 223; ++slot) fullRoot[kRootDirectoryOffset + slot * 32] = 'F';
  const std::vector<uint8_t> rootCut(base.begin(), base.begin() + 20 * 512),
      big = Pattern(2846 * 512, 1);
  // Status, failed entry, sectors used, unchanged (2: after the base too), bytes cut, entries.
  const std::tuple<const char*, int, uint16_t, uint32_t, int, uint64_t, Entries> kCases[] = {
      {"part sector", kFloppyBadBaseImage, 0, 0, 2, 0, FloppyEntries(partSector, k, r)},
      {"ends in the root directory", kFloppyBadBaseImage, 0, 0, 2, 0, FloppyEntries(rootCut, k, r)},
      {"one sector too many", kFloppyTooLarge, 0, 2881, 2, 0,
       FloppyEntries(base, big, Pattern(513, 2))},
      {"base too large", kFloppyTooLarge, 0, 2913, 1, 0,
       FloppyEntries(FormattedBaseImage(2880), {}, {})},
      {"no base", kFloppyEntryUnreadable, 10002, 0, 2, 0, {{10003, k}, {5100, r}}},
      {"no KERNEL.MAP", kFloppyEntryUnreadable, 10003, 0, 2, 0, {{10002, base}, {5100, r}}},
      {"no README.TXT", kFloppyEntryUnreadable, 5100, 0, 2, 0, {{10002, base}, {10003, k}}},
      {"README.TXT cut short", kFloppyEntryUnreadable, 5100, 37, 0, 100,
       FloppyEntries(base, Pattern(1000, 1), Pattern(1000, 2))},
      {"root directory full", kFloppyRootDirectoryFull, 0, 35, 2, 0,
       FloppyEntries(fullRoot, k, r)}};
  for (const auto& [what, status, failedEntry, sectorsUsed, unchanged, cut, entries] : kCases) {
    SCOPED_TRACE(what);
    ASSERT_EQ(Assemble(entries, cut), status);
    EXPECT_EQ(floppyReport.failedEntryId, failedEntry);
    EXPECT_EQ(floppyReport.sectorsUsed, sectorsUsed);
    EXPECT_FALSE(FloppyImageIsComplete(status, floppyReport));
    EXPECT_EQ(datafile::PeekDataFileError(), datafile::DataFileError::None);
    EXPECT_EQ(system->TraceText(), "");
    auto copied = entries[0].id == 10002 ? entries[0].data : std::vector<uint8_t>();
    copied.resize(std::min<size_t>((copied.size() + 511) / 512 * 512, kFloppyImageBytes), 0);
    EXPECT_TRUE(unchanged < 1 || std::equal(copied.begin(), copied.end(), image.begin()));
    EXPECT_TRUE(unchanged < 2 || All(copied.size(), image.size(), 0x55));
  }
  EXPECT_EQ(AssembleFloppyImage(nullptr, handle.get(), *system), kFloppyNoBuffer);
}

class IsoBuilderTest : public ImageTest {
 protected:
  // Numbers as the volume stores them; `n` bytes of (UCS-2) spaces.
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
  void UseFiles(const std::vector<std::string>& names, const std::vector<uint32_t>& sizes) {
    entries = CdEntries(names, sizes);
    if (names.empty()) entries.push_back({5100, Pattern(10, 8)});
  }
  // Plans, then writes into `capacity` bytes (default: the plan's), 4 KB of 0xA5 after.
  int Build(uint64_t capacity = 0, uint64_t cut = 0) {
    Open(entries, cut);
    length = 12345;
    const int planned = PlanIsoImage(handle.get(), *system, &plan, &report);
    if (planned != kIsoBuilt) return planned;
    if (capacity == 0) capacity = IsoBufferBytesFor(plan);
    image.assign(capacity + 4096, 0xA5);
    return WriteIsoImage(plan, image.data(), capacity, &length, handle.get(), *system, &report);
  }
  std::tuple<int, int, std::string, int> Failure(uint64_t cut = 0) {
    return {Build(0, cut), report.failedFile, report.failedName, report.floppyStatus};
  }
  // Whether sector `n` holds each part's bytes at its offset and zeros elsewhere.
  bool SectorIs(size_t n, const std::vector<std::pair<size_t, std::string>>& parts) const {
    std::string expected(2048, '\0');
    for (const auto& [at, bytes] : parts) expected.replace(at, bytes.size(), bytes);
    return std::memcmp(expected.data(), &image[n * 2048], 2048) == 0;
  }
  size_t RecordsIn(size_t n, size_t at = 0) const {
    return at < 2048 && image[n * 2048 + at] ? 1 + RecordsIn(n, at + image[n * 2048 + at]) : 0;
  }

  Entries entries;
  IsoPlan plan;
  IsoBuildReport report;
  uint32_t length = 0;
};

// Every byte: 8.3 names (two alike), an empty file sharing an extent, the longest Joliet name.
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
      {"my_long-name.t_t", "MY_LONGN.T_T;1", 1, 757},
      {std::string(111, 'n'), "NNNNNNNN.;1", 5, 758}};
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
  for (const auto& c : cases) entryLines += "Entry: " + c.name + "\n";
  for (const auto& c : cases)
    writeLines +=
        "Writing File " + c.name + "\nSizes: " + std::to_string((c.size + 2047) / 2048) + "\n";
  EXPECT_EQ(system->TraceText(),
            "Primary Volume Descriptor\nEl-Torito Volume Descriptor\n"
            "Joliet Volume Descriptor (Unicode)\nVolume Set Terminator\nBoot Catalog\nIndex\n" +
                entryLines + "LPath\nMPath\nIndex (Joliet)\n" + entryLines +
                "LPath (Joliet)\nMPath (Joliet)\ndone\n" + writeLines);
  EXPECT_EQ(system->Pauses().size(), 2 * std::size(cases) + 3) << "2 per file, 3 for the floppy";
}

// The tree whose one-sector root overflows first cuts both trees after the last file that fits.
TEST_F(IsoBuilderTest, AFullRootDirectoryCutsBothTreesWhereItOverflowsFirst) {
  // Joliet records of 197/199 bytes (ten end at 2048); ISO ones of 40 bytes, Joliet 39.
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
    const std::string &last = names[kept - 1], trace = system->TraceText();
    EXPECT_NE(trace.find("Entry: " + last + "\nHabe z.Z. zu wenig Platz im Root-Verzeichnis. " +
                         "Werde daher hier abbrechen\nund nur die Dateien bis " + last +
                         " speichern.\n" + (names == joliet ? "LPath (Joliet)" : "LPath\n")),
              std::string::npos)
        << trace;
    EXPECT_EQ(trace.find("Writing File " + names[kept]), std::string::npos);
  }
}

// A buffer of at least 3 MB, never written past; what cannot be built names its file.
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
  EXPECT_EQ(Failure(), std::make_tuple(kIsoNameTooLong, 1, tooLong, 0));
  UseFiles({"a.txt", "b.txt"}, {5000, 5000});  // b.txt is cut short
  EXPECT_EQ(Failure(10), std::make_tuple(kIsoFileUnreadable, 1, "b.txt", 0));
  entries.erase(entries.begin());  // no base image for the floppy
  EXPECT_EQ(Failure(), std::make_tuple(kIsoBootImageFailed, -1, "", kFloppyEntryUnreadable));
  EXPECT_EQ(length, 27u * 2048) << "the length tells what was written";
  UseFiles({"a.txt"}, {1});
  ASSERT_EQ(Build(), kIsoBuilt);
  system->largestAllocation = kFloppyImageBytes - 1;
  EXPECT_EQ(WriteIsoImage(plan, image.data(), length, &length, handle.get(), *system),
            kIsoNoMemory);
}

}  // namespace
