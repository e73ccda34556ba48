// DataFile on in-memory files where faults are injected, and on a real file where threads
// share one handle.
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
using mkinstalldat::DatLayout;
using testsupport::Bytes;

const std::vector<mkinstalldat::DatEntry> kTexts = {
    {1000, Bytes("Title")}, {1010, Bytes("Ready on %c:")}, {1037, Bytes("Drive %c:")}};

class DataFileTest : public ::testing::Test {
 protected:
  void SetUp() override { datafile::TakeDataFileError(); }
  void TearDown() override { datafile::TakeDataFileError(); }
  // Each file gets its own name, so that handles already open keep their bytes.
  std::unique_ptr<datafile::DataFile> Open(const std::vector<uint8_t>& bytes) {
    const std::string name = "install" + std::to_string(files.files_.size()) + ".dat";
    files.Add(name, bytes);
    return datafile::OpenDataFile({&files, &system}, name);
  }
  std::unique_ptr<datafile::DataFile> Open(const DatLayout& layout = DatLayout()) {
    return Open(BuildDataFile(kTexts, layout));
  }
  // The code that an operation with this result (true or false) left pending, taken.
  template <typename T>
  static DataFileError Code(const T& result, bool expected = false) {
    EXPECT_EQ(static_cast<bool>(result), expected);
    return datafile::TakeDataFileError();
  }

  fakes::FakeFileSystem files;
  fakes::FakeSystem system;
};

TEST_F(DataFileTest, OpensReadOnlySharedAndRefusesEachBadFileWithItsCode) {
  ASSERT_NE(Open(), nullptr);
  const platform::FileOpenFlags& flags = files.opens[0].flags;
  EXPECT_EQ(std::vector<uint32_t>({flags.access, flags.share, flags.disposition}),
            std::vector<uint32_t>({platform::kGenericRead, platform::kFileShareRead, 3}))
      << "read-only, shared for reading, existing files only";
  EXPECT_EQ(Code(datafile::OpenDataFile({&files, &system}, "absent.dat")),
            DataFileError::BadHandle);
  DatLayout shortHeader, magic, newer, older;
  shortHeader.truncateTo = 13;
  magic.magic = 0xFEAFBEBB;
  newer.version = 2;
  older.version = 0;
  for (const auto& [layout, error] : {std::pair(shortHeader, DataFileError::Io),
                                      {magic, DataFileError::BadMagic},
                                      {newer, DataFileError::BadVersion}}) {
    EXPECT_EQ(Code(Open(layout)), error);
  }
  EXPECT_EQ(datafile::LoadText(Open(older).get(), 1000), "Title");
  // A file of the header alone has no texts and no directory, which is no fault.
  auto handle = Open(BuildDataFile({}));
  EXPECT_EQ(datafile::LoadText(handle.get(), 1000), "");
  uint16_t count = 99;
  EXPECT_EQ(datafile::ReadDirectory(handle.get(), &count), nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(datafile::PeekDataFileError(), DataFileError::None);
}

TEST_F(DataFileTest, APendingErrorStopsTheOperationsThatCheckIt) {
  auto handle = Open();
  datafile::SetDataFileError(DataFileError::NotFound);
  EXPECT_EQ(datafile::OpenDataFile({&files, &system}, "install0.dat"), nullptr);
  EXPECT_EQ(files.opens.size(), 1u) << "no second open while an error is pending";
  datafile::DataFileHeader header;
  EXPECT_FALSE(datafile::ReadHeader(handle.get(), &header));
  // Closing is one of them: the file stays open until the error is taken.
  datafile::CloseDataFile(handle);
  EXPECT_EQ(files.openHandles, 1);
  EXPECT_EQ(datafile::SetDataFileError(DataFileError::None), DataFileError::NotFound);
  datafile::CloseDataFile(handle);
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
    EXPECT_EQ(datafile::LoadText(handle.get(), id), text);
  EXPECT_EQ(datafile::PeekDataFileError(), DataFileError::None);

  // A lookup pauses, then gives offset and size for the caller to read.
  uint32_t size = 0;
  const uint32_t offset = datafile::LocateEntry(handle.get(), 10002, &size);
  EXPECT_EQ(system.Pauses(), std::vector<uint32_t>{500});
  char read[7];
  ASSERT_EQ(size, 7u);
  ASSERT_TRUE(datafile::ReadExactlyAt(handle.get(), offset, read, size));
  EXPECT_EQ(std::string(read, 7), "payload");

  // A failed lookup's NotFound stays and empties the next text only; the taking variant
  // leaves nothing behind.
  EXPECT_EQ(datafile::LocateEntry(handle.get(), 5100, &size), 0u);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(datafile::PeekDataFileError(), DataFileError::NotFound);
  EXPECT_EQ(datafile::LoadText(handle.get(), 1001), "");
  EXPECT_EQ(datafile::LoadText(handle.get(), 1001), "first");
  datafile::EntryLocation location;
  EXPECT_FALSE(datafile::LocateEntryAndTakeError(handle.get(), 5100, &location));
  EXPECT_EQ(datafile::PeekDataFileError(), DataFileError::None);
  EXPECT_TRUE(datafile::LocateEntryAndTakeError(handle.get(), 1001, &location));
  EXPECT_EQ(location.size, 5u);
}

TEST_F(DataFileTest, ATextLoadedDuringALookupsPauseDoesNotWaitForIt) {
  auto handle = Open();
  const std::unique_ptr<platform::System> host = platform::MakeHostSystem();
  std::atomic<bool> loaded{false};
  std::string text;
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

TEST_F(DataFileTest, EveryFaultGivesItsCode) {
  uint16_t count = 0;
  DatLayout farDirectory, moreRecordsThanWritten;
  farDirectory.directoryOffset = 4000;
  moreRecordsThanWritten.entryCount = 500;
  moreRecordsThanWritten.truncateTo = 14 + 3 * 12;
  for (const DatLayout& layout : {farDirectory, moreRecordsThanWritten}) {
    EXPECT_EQ(Code(datafile::ReadDirectory(Open(layout).get(), &count)), DataFileError::Io);
  }
  auto handle = Open();
  auto entries = datafile::ReadDirectory(handle.get(), &count);
  ASSERT_EQ(count, 3);
  // Records beyond the count given are not searched, although the file has them; nor is a
  // missing directory; a found record needs a place and a lookup a handle.
  datafile::DirectoryEntry record;
  uint32_t size = 0;
  EXPECT_EQ(Code(datafile::FindEntry(handle.get(), 1037, entries.get(), 2, &record), true),
            DataFileError::NotFound);
  EXPECT_EQ(Code(datafile::ReadEntryData(handle.get(), 1037, entries.get(), 2, &size)),
            DataFileError::NotFound);
  EXPECT_EQ(Code(datafile::FindEntry(handle.get(), 1000, nullptr, 0, &record), true),
            DataFileError::NotFound);
  EXPECT_EQ(Code(datafile::FindEntry(handle.get(), 1000, entries.get(), count, nullptr)),
            DataFileError::NoRecord);
  EXPECT_EQ(Code(datafile::ReadHeader(nullptr, nullptr)), DataFileError::BadHandle);
  EXPECT_EQ(Code(datafile::FindEntry(handle.get(), 1037, entries.get(), count, &record), true),
            DataFileError::None);
  EXPECT_EQ(record.dataSize, 9u);
  for (int failing : {1, 2}) {  // the header read, then the directory read
    files.readCalls = 0;
    files.faults.failReadNumber = failing;
    EXPECT_EQ(Code(datafile::ReadDirectory(handle.get(), &count)), DataFileError::Io) << failing;
  }
  files.faults.failReadNumber = 0;
  system.refuseAllocationNumber = system.allocations + 1;
  EXPECT_EQ(Code(datafile::ReadDirectory(handle.get(), &count)), DataFileError::NoMemory);
  system.refuseAllocationNumber = system.allocations + 1;
  EXPECT_EQ(Code(datafile::ReadEntryData(handle.get(), 1000, entries.get(), count, &size)),
            DataFileError::NoMemory);
  // A file that ends early while its directory says otherwise: a short read.
  files.faults.shortReadsBeyond = 14 + 3 * 12 + 2;
  EXPECT_EQ(datafile::LoadText(handle.get(), 1000), "");
  EXPECT_EQ(datafile::PeekDataFileError(), DataFileError::None);
}

TEST_F(DataFileTest, ThreadsSharingARealFilesHandleNeverSeeEachOthersPositions) {
  std::vector<mkinstalldat::DatEntry> entries = kTexts;
  entries.push_back({5100, testsupport::Pattern(3000, 7)});
  const std::vector<uint8_t> file = BuildDataFile(entries);
  testsupport::TempDir dir;
  testsupport::WriteBytes(dir.Path("shared.dat"), file);
  const std::unique_ptr<platform::FileSystem> real = platform::MakeHostFileSystem();
  auto handle = datafile::OpenDataFile({real.get(), &system, false}, dir.Path("shared.dat"));
  datafile::EntryLocation data;
  ASSERT_TRUE(datafile::LocateEntryAndTakeError(handle.get(), 5100, &data));
  std::atomic<int> bad{0};
  platform::JoinableThread texts([&] {
    for (int i = 0; i < 300; ++i) bad += datafile::LoadText(handle.get(), 1037) != "Drive %c:";
  });
  for (uint32_t i = 0; i < 300; ++i) {
    std::vector<uint8_t> block(512);
    const uint32_t at = data.offset + i % 5 * 512;
    bad += !datafile::ReadExactlyAt(handle.get(), at, block.data(), 512) ||
           !std::equal(block.begin(), block.end(), file.begin() + at);
  }
  texts.join();
  EXPECT_EQ(bad, 0);
}

}  // namespace
