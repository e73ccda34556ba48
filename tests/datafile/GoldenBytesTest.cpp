// A data file written out byte by byte, not by the project's own encoder, so that a
// field the encoder and the reader both get wrong still shows.
#include <gtest/gtest.h>

#include "datafile/DataFile.h"
#include "tests/fakes/FakeFileSystem.h"
#include "tests/fakes/FakeSystem.h"

namespace {

// Header: magic BA BE AF FE, 3 entries, version 1, reserved 0, directory at 25. The
// entries' data lie between header and directory, which the format allows; the third
// entry claims more bytes than the file holds.
// clang-format off
const std::vector<uint8_t> kGoldenFile = {
    0xBA, 0xBE, 0xAF, 0xFE, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x19, 0x00, 0x00, 0x00,
    'T', 'a', 'l', 'v', 'o',                                                 // 14: entry 1000
    'K', 'E', 'R', 'N', 'E', 'L',                                            // 19: entry 10003
    0x00, 0xE8, 0x03, 0x00, 0x0E, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00,  // 1000 at 14, 5
    0x00, 0x13, 0x27, 0x00, 0x13, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00,  // 10003 at 19, 6
    0x00, 0xE9, 0x03, 0x00, 0x0E, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x7F,  // 1001: too long
};
// clang-format on

TEST(GoldenBytesTest, HandWrittenFileReadsAsWritten) {
  fakes::FakeFileSystem files;
  files.Add("install.dat", kGoldenFile);
  fakes::FakeSystem system;
  system.largestAllocation = size_t{1} << 20;
  datafile::TakeDataFileError();
  auto file = datafile::OpenDataFile({&files, &system}, "install.dat");
  ASSERT_EQ(datafile::TakeDataFileError(), datafile::DataFileError::None);
  EXPECT_EQ(datafile::LoadText(file.get(), 1000), "Talvo");
  datafile::EntryLocation kernelMap;
  ASSERT_TRUE(datafile::LocateEntryAndTakeError(file.get(), 10003, &kernelMap));
  EXPECT_EQ(std::make_pair(kernelMap.offset, kernelMap.size), std::make_pair(19u, 6u));
  // An entry past the file's end is a read fault, found before its bytes are allocated.
  std::string text = "stale";
  EXPECT_EQ(datafile::LoadTextOrError(file.get(), 1001, &text), datafile::DataFileError::Io);
  EXPECT_EQ(text, "");
}

}  // namespace
