// DataFile against real files written by the data file writer, and against the in-memory
// fake where a fault must be injected.
#include "datafile/DataFile.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/Host.h"
#include "platform/Threads.h"
#include "tests/fakes/FakeFileSystem.h"
#include "tests/fakes/FakeSystem.h"
#include "tests/support/TestFiles.h"

namespace {

using datafile::DataFileError;
using mkinstalldat::BuildDataFile;
using mkinstalldat::DatEntry;
using mkinstalldat::DatLayout;
using testsupport::Bytes;

class DataFileTest : public ::testing::Test {
 protected:
  void SetUp() override { datafile::TakeDataFileError(); }
  void TearDown() override { datafile::TakeDataFileError(); }

  datafile::DataFileServices RealServices() {
    datafile::DataFileServices services;
    services.files = realFiles.get();
    services.system = &system;
    return services;
  }
  datafile::DataFileServices FakeServices() {
    datafile::DataFileServices services;
    services.files = &fakeFiles;
    services.system = &system;
    return services;
  }

  // Writes the bytes to a new real file and opens it. Each file gets its own name: an
  // open data file shares only reading, so Windows refuses to rewrite it.
  std::unique_ptr<datafile::DataFile> OpenReal(const std::vector<uint8_t>& bytes) {
    const std::string path = dir.Path("install" + std::to_string(++fileCount) + ".dat");
    testsupport::WriteBytes(path, bytes);
    return datafile::OpenDataFile(RealServices(), path);
  }

  testsupport::TempDir dir;
  int fileCount = 0;
  std::unique_ptr<platform::FileSystem> realFiles = platform::MakeHostFileSystem();
  fakes::FakeFileSystem fakeFiles;
  fakes::FakeSystem system;
};

std::vector<DatEntry> SomeTexts() {
  return {{1000, Bytes("Title")}, {1010, Bytes("Ready on %c:")}, {1037, Bytes("Drive %c:")}};
}

// --- Opening -------------------------------------------------------------------------

TEST_F(DataFileTest, OpensReadOnlySharedForReadingExistingFilesOnly) {
  fakeFiles.Add("install.dat", BuildDataFile(SomeTexts()));
  auto handle = datafile::OpenDataFile(FakeServices(), "install.dat");
  ASSERT_NE(handle, nullptr);
  ASSERT_EQ(fakeFiles.opens.size(), 1u);
  EXPECT_EQ(fakeFiles.opens[0].flags.access, 0x80000000u);  // GENERIC_READ
  EXPECT_EQ(fakeFiles.opens[0].flags.share, 1u);            // FILE_SHARE_READ
  EXPECT_EQ(fakeFiles.opens[0].flags.disposition, 3u);      // OPEN_EXISTING
  EXPECT_EQ(datafile::PeekDataFileError(), DataFileError::None);
}

TEST_F(DataFileTest, RefusesEachKindOfBadFileWithItsCode) {
  EXPECT_EQ(datafile::OpenDataFile(RealServices(), dir.Path("absent.dat")), nullptr);
  EXPECT_EQ(datafile::TakeDataFileError(), DataFileError::BadHandle);

  std::vector<uint8_t> good = BuildDataFile(SomeTexts());
  EXPECT_EQ(OpenReal(std::vector<uint8_t>(good.begin(), good.begin() + 13)), nullptr);
  EXPECT_EQ(datafile::TakeDataFileError(), DataFileError::Io);

  DatLayout wrongMagic;
  wrongMagic.magic = 0xFEAFBEBB;
  EXPECT_EQ(OpenReal(BuildDataFile(SomeTexts(), wrongMagic)), nullptr);
  EXPECT_EQ(datafile::TakeDataFileError(), DataFileError::BadMagic);

  DatLayout newer;
  newer.version = 2;
  EXPECT_EQ(OpenReal(BuildDataFile(SomeTexts(), newer)), nullptr);
  EXPECT_EQ(datafile::TakeDataFileError(), DataFileError::BadVersion);
}

TEST_F(DataFileTest, AcceptsVersionZeroAndAFileWithoutEntries) {
  DatLayout older;
  older.version = 0;
  auto handle = OpenReal(BuildDataFile(SomeTexts(), older));
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(datafile::LoadText(handle.get(), 1000), "Title");

  // The empty file is the header alone.
  const std::vector<uint8_t> empty = BuildDataFile({});
  ASSERT_EQ(empty.size(), 14u);
  auto emptyHandle = OpenReal(empty);
  ASSERT_NE(emptyHandle, nullptr);
  EXPECT_EQ(datafile::LoadText(emptyHandle.get(), 1000), "");
  EXPECT_EQ(datafile::PeekDataFileError(), DataFileError::None);
  auto graphics = platform::MakeHostGraphics();
  EXPECT_EQ(datafile::LoadBitmap(emptyHandle.get(), 100, *graphics), nullptr);
  uint16_t count = 99;
  EXPECT_EQ(datafile::ReadDirectory(emptyHandle.get(), &count), nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(datafile::PeekDataFileError(), DataFileError::None);
}

TEST_F(DataFileTest, APendingErrorStopsTheOperationsThatCheckIt) {
  fakeFiles.Add("install.dat", BuildDataFile(SomeTexts()));
  auto handle = datafile::OpenDataFile(FakeServices(), "install.dat");
  ASSERT_NE(handle, nullptr);

  datafile::SetDataFileError(DataFileError::NotFound);
  EXPECT_EQ(datafile::OpenDataFile(FakeServices(), "install.dat"), nullptr);
  EXPECT_EQ(fakeFiles.opens.size(), 1u) << "no second open while an error is pending";
  datafile::DataFileHeader header;
  EXPECT_FALSE(datafile::ReadHeader(handle.get(), &header));
  EXPECT_EQ(datafile::PeekDataFileError(), DataFileError::NotFound);

  // Closing is one of them: the file stays open until the error is taken.
  datafile::CloseDataFile(handle);
  EXPECT_NE(handle, nullptr);
  EXPECT_EQ(fakeFiles.openHandles, 1);
  EXPECT_EQ(datafile::SetDataFileError(DataFileError::None), DataFileError::NotFound);
  datafile::CloseDataFile(handle);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(fakeFiles.openHandles, 0);
}

// --- Looking entries up --------------------------------------------------------------

TEST_F(DataFileTest, TextsAreFoundByNumberAndTheFirstOfTwoRecordsWins) {
  auto handle = OpenReal(BuildDataFile({{1001, Bytes("first")},
                                        {1002, Bytes("")},
                                        {1001, Bytes("second")},
                                        {1003, {'a', 'b', 0, 'c'}}}));
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(datafile::LoadText(handle.get(), 1001), "first");
  EXPECT_EQ(datafile::LoadText(handle.get(), 1002), "");
  EXPECT_EQ(datafile::LoadText(handle.get(), 1003), "ab") << "a text ends at its first zero";
  EXPECT_EQ(datafile::PeekDataFileError(), DataFileError::None);
}

TEST_F(DataFileTest, AMissingTextIsEmptyAndLeavesNoErrorBehind) {
  auto handle = OpenReal(BuildDataFile(SomeTexts()));
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(datafile::LoadText(handle.get(), 4242), "");
  EXPECT_EQ(datafile::PeekDataFileError(), DataFileError::None);
  EXPECT_EQ(datafile::LoadText(handle.get(), 1037), "Drive %c:");
}

TEST_F(DataFileTest, LocateEntryWaitsThenGivesOffsetAndSizeForTheCallerToRead) {
  const std::vector<uint8_t> file = BuildDataFile({{7, Bytes("xyz")}, {10002, Bytes("payload")}});
  auto handle = OpenReal(file);
  ASSERT_NE(handle, nullptr);
  uint32_t size = 0;
  const uint32_t offset = datafile::LocateEntry(handle.get(), 10002, &size);
  EXPECT_EQ(system.Pauses(), std::vector<uint32_t>{500});
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(offset, 14u + 2 * 12 + 3);
  char read[7];
  ASSERT_TRUE(datafile::ReadExactlyAt(handle.get(), offset, read, size));
  EXPECT_EQ(std::string(read, 7), "payload");
}

TEST_F(DataFileTest, AFailedLocateEmptiesOnlyTheNextText) {
  auto handle = OpenReal(BuildDataFile(SomeTexts()));
  ASSERT_NE(handle, nullptr);
  uint32_t size = 99;
  EXPECT_EQ(datafile::LocateEntry(handle.get(), 5100, &size), 0u);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(datafile::PeekDataFileError(), DataFileError::NotFound);
  EXPECT_EQ(datafile::LoadText(handle.get(), 1000), "") << "the pending NotFound is sticky";
  EXPECT_EQ(datafile::LoadText(handle.get(), 1000), "Title");
}

TEST_F(DataFileTest, LocateAndTakeLeavesNothingPendingForOtherReaders) {
  auto handle = OpenReal(BuildDataFile(SomeTexts()));
  ASSERT_NE(handle, nullptr);
  datafile::EntryLocation location;
  EXPECT_FALSE(datafile::LocateEntryAndTakeError(handle.get(), 5100, &location));
  EXPECT_EQ(datafile::PeekDataFileError(), DataFileError::None);
  EXPECT_EQ(datafile::LoadText(handle.get(), 1000), "Title");
  EXPECT_TRUE(datafile::LocateEntryAndTakeError(handle.get(), 1000, &location));
  EXPECT_EQ(location.size, 5u);
}

TEST_F(DataFileTest, ATextLoadedDuringALookupsPauseDoesNotWaitForIt) {
  fakeFiles.Add("install.dat", BuildDataFile(SomeTexts()));
  auto handle = datafile::OpenDataFile(FakeServices(), "install.dat");
  ASSERT_NE(handle, nullptr);
  const std::unique_ptr<platform::System> host = platform::MakeHostSystem();
  std::atomic<bool> loaded{false};
  std::string text;
  // While the lookup pauses, another thread loads a text; it must get the file at once.
  system.onPause = [&](uint32_t) {
    ASSERT_TRUE(system.StartThread([&] {
      text = datafile::LoadText(handle.get(), 1000);
      loaded = true;
    }));
    for (int waitedMs = 0; waitedMs < 2000 && !loaded; ++waitedMs) host->Pause(1);
    EXPECT_TRUE(loaded) << "the text waited for the lookup's pause";
  };
  datafile::EntryLocation location;
  EXPECT_TRUE(datafile::LocateEntryAndTakeError(handle.get(), 1037, &location));
  system.JoinThreads();
  EXPECT_EQ(text, "Title");
  EXPECT_EQ(location.size, 9u);
}

TEST_F(DataFileTest, FindEntryWalksOnlyTheDirectoryThatWasRead) {
  fakeFiles.Add("install.dat", BuildDataFile(SomeTexts()));
  auto handle = datafile::OpenDataFile(FakeServices(), "install.dat");
  ASSERT_NE(handle, nullptr);
  uint16_t count = 0;
  auto entries = datafile::ReadDirectory(handle.get(), &count);
  ASSERT_EQ(count, 3);
  // The file gains a record after its directory was read; memory past the records read
  // happens to hold that number too.
  std::vector<DatEntry> grown = SomeTexts();
  grown.push_back({4242, Bytes("late")});
  fakeFiles.files_["install.dat"] = BuildDataFile(grown);
  std::vector<datafile::DirectoryEntry> memory(entries.get(), entries.get() + count);
  memory.push_back(memory[0]);
  memory.back().id = 4242;
  datafile::DirectoryEntry record;
  EXPECT_TRUE(datafile::FindEntry(handle.get(), 4242, memory.data(), count, &record));
  EXPECT_EQ(datafile::TakeDataFileError(), DataFileError::NotFound);
  uint32_t size = 0;
  EXPECT_EQ(datafile::ReadEntryData(handle.get(), 4242, memory.data(), count, &size), nullptr);
  EXPECT_EQ(datafile::TakeDataFileError(), DataFileError::NotFound);
}

TEST_F(DataFileTest, EntriesAndDirectoriesPastTheEndOfTheFileGiveIo) {
  DatLayout pastEnd;
  pastEnd.dataOffset[1000] = 1u << 20;
  auto handle = OpenReal(BuildDataFile(SomeTexts(), pastEnd));
  ASSERT_NE(handle, nullptr);
  uint16_t count = 0;
  auto entries = datafile::ReadDirectory(handle.get(), &count);
  ASSERT_NE(entries, nullptr);
  uint32_t size = 0;
  EXPECT_EQ(datafile::ReadEntryData(handle.get(), 1000, entries.get(), count, &size), nullptr);
  EXPECT_EQ(datafile::TakeDataFileError(), DataFileError::Io);
  EXPECT_EQ(size, 0u);

  // A size that reaches past the end: refused before a buffer of that size is made.
  DatLayout huge;
  huge.dataSize[1000] = 0xFFFFFFF0u;
  auto hugeHandle = OpenReal(BuildDataFile(SomeTexts(), huge));
  EXPECT_EQ(datafile::LoadText(hugeHandle.get(), 1000), "");
  EXPECT_EQ(datafile::LoadText(hugeHandle.get(), 1010), "Ready on %c:");

  DatLayout farDirectory;
  farDirectory.directoryOffset = 4000;
  auto farHandle = OpenReal(BuildDataFile(SomeTexts(), farDirectory));
  ASSERT_NE(farHandle, nullptr);
  EXPECT_EQ(datafile::ReadDirectory(farHandle.get(), &count), nullptr);
  EXPECT_EQ(datafile::TakeDataFileError(), DataFileError::Io);

  DatLayout moreRecordsThanWritten;
  moreRecordsThanWritten.entryCount = 500;
  moreRecordsThanWritten.truncateTo = 14 + 3 * 12;
  auto shortHandle = OpenReal(BuildDataFile(SomeTexts(), moreRecordsThanWritten));
  ASSERT_NE(shortHandle, nullptr);
  EXPECT_EQ(datafile::ReadDirectory(shortHandle.get(), &count), nullptr);
  EXPECT_EQ(datafile::TakeDataFileError(), DataFileError::Io);
}

TEST_F(DataFileTest, FindEntryNeedsADirectoryAndAPlaceForTheRecord) {
  auto handle = OpenReal(BuildDataFile(SomeTexts()));
  ASSERT_NE(handle, nullptr);
  datafile::DirectoryEntry record;
  EXPECT_TRUE(datafile::FindEntry(handle.get(), 1000, nullptr, 0, &record));
  EXPECT_EQ(datafile::TakeDataFileError(), DataFileError::NotFound);
  uint16_t count = 0;
  auto entries = datafile::ReadDirectory(handle.get(), &count);
  EXPECT_FALSE(datafile::FindEntry(handle.get(), 1000, entries.get(), count, nullptr));
  EXPECT_EQ(datafile::TakeDataFileError(), DataFileError::NoRecord);
  EXPECT_TRUE(datafile::FindEntry(handle.get(), 9, entries.get(), count, &record));
  EXPECT_EQ(datafile::TakeDataFileError(), DataFileError::NotFound);
  EXPECT_TRUE(datafile::FindEntry(handle.get(), 1037, entries.get(), count, &record));
  EXPECT_EQ(record.dataSize, 9u);
  EXPECT_FALSE(datafile::ReadHeader(nullptr, nullptr));
  EXPECT_EQ(datafile::TakeDataFileError(), DataFileError::BadHandle);
}

TEST_F(DataFileTest, ReadFaultsAndRefusedMemoryGiveTheirCodes) {
  fakeFiles.Add("install.dat", BuildDataFile(SomeTexts()));
  auto handle = datafile::OpenDataFile(FakeServices(), "install.dat");
  ASSERT_NE(handle, nullptr);

  // The header read, then the first directory record read.
  for (int failing : {1, 2}) {
    fakeFiles.readCalls = 0;
    fakeFiles.faults.failReadNumber = failing;
    uint16_t count = 0;
    EXPECT_EQ(datafile::ReadDirectory(handle.get(), &count), nullptr);
    EXPECT_EQ(datafile::TakeDataFileError(), DataFileError::Io) << "read " << failing;
  }
  fakeFiles.faults.failReadNumber = 0;

  system.refuseAllocationNumber = system.allocations + 1;
  uint16_t count = 0;
  EXPECT_EQ(datafile::ReadDirectory(handle.get(), &count), nullptr);
  EXPECT_EQ(datafile::TakeDataFileError(), DataFileError::NoMemory);

  auto entries = datafile::ReadDirectory(handle.get(), &count);
  system.refuseAllocationNumber = system.allocations + 1;
  uint32_t size = 0;
  EXPECT_EQ(datafile::ReadEntryData(handle.get(), 1000, entries.get(), count, &size), nullptr);
  EXPECT_EQ(datafile::TakeDataFileError(), DataFileError::NoMemory);

  // A file that ends early while its directory says otherwise: a short read.
  fakeFiles.faults.shortReadsBeyond = 14 + 3 * 12 + 2;
  EXPECT_EQ(datafile::LoadText(handle.get(), 1000), "");
  EXPECT_EQ(datafile::PeekDataFileError(), DataFileError::None);
}

TEST_F(DataFileTest, ThreadsSharingTheHandleNeverSeeEachOthersPositions) {
  std::vector<DatEntry> entries = SomeTexts();
  entries.push_back({5100, testsupport::Pattern(3000, 7)});
  const std::vector<uint8_t> file = BuildDataFile(entries);
  datafile::DataFileServices services = RealServices();
  services.lookupPause = false;
  testsupport::WriteBytes(dir.Path("shared.dat"), file);
  auto handle = datafile::OpenDataFile(services, dir.Path("shared.dat"));
  ASSERT_NE(handle, nullptr);
  datafile::EntryLocation data;
  ASSERT_TRUE(datafile::LocateEntryAndTakeError(handle.get(), 5100, &data));

  int badTexts = 0;
  int badBlocks = 0;
  platform::JoinableThread texts([&] {
    for (int i = 0; i < 300; ++i) badTexts += datafile::LoadText(handle.get(), 1037) != "Drive %c:";
  });
  platform::JoinableThread blocks([&] {
    for (int i = 0; i < 300; ++i) {
      std::vector<uint8_t> block(512);
      const uint32_t at = static_cast<uint32_t>(i % 5) * 512;
      badBlocks += !datafile::ReadExactlyAt(handle.get(), data.offset + at, block.data(), 512) ||
                   !std::equal(block.begin(), block.end(), file.begin() + data.offset + at);
    }
  });
  texts.join();
  blocks.join();
  EXPECT_EQ(badTexts, 0);
  EXPECT_EQ(badBlocks, 0);
}

}  // namespace
