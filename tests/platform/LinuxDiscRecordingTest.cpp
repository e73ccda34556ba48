// The Linux disc recording back end with real libburn, real unnamed files and a file target.
#include "platform/linux/LinuxDiscRecording.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <limits>

#include "tests/fakes/FakeDiscRecording.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace platform;
using testsupport::Pattern;
using Bytes = std::vector<uint8_t>;

// Windows values, written out independently of the code under test.
constexpr HResult kInvalidArg = static_cast<HResult>(0x80070057u);
constexpr uint32_t kNewStreamMode = 0x1011, kReadStreamMode = 0x0010;  // STGM_ modes
constexpr size_t kSector = 2048;
std::u16string Wide(const std::string& text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  return std::u16string(bytes, bytes + text.size());
}

Bytes Contents(const DiscStream& stream) {
  Bytes bytes;
  EXPECT_TRUE(ReadAll(stream, &bytes));
  return bytes;
}

// A stream created (or, with kReadStreamMode, opened): null exactly when refused.
std::unique_ptr<DiscStream> Stream(DiscStorage& storage, const std::u16string& name,
                                   uint32_t mode = kNewStreamMode) {
  std::unique_ptr<DiscStream> stream;
  const HResult result = mode == kReadStreamMode ? storage.OpenStream(name, mode, &stream)
                                                 : storage.CreateStream(name, mode, &stream);
  EXPECT_EQ(Succeeded(result), stream != nullptr);
  return stream;
}

TEST(LinuxDiscRecordingTest, ListsRecordersOnceInOrderWithLettersFromEToZ) {
  LinuxDiscRecording recording;
  const auto hasDrive = [&recording] {
    std::unique_ptr<ShellCdBurnObject> shell;
    bool hasOne = false;
    EXPECT_EQ(kSOk, recording.CreateShellCdBurn(&shell));
    EXPECT_EQ(kSOk, shell->HasRecordableDrive(&hasOne));
    return hasOne;
  };
  EXPECT_FALSE(hasDrive()) << "drives are scanned only when asked";
  // Addresses travel byte for byte (one above 0x7F), past the list's twenty-byte targets.
  const std::string first = "stdio:/tmp/caf\xC3\xA9-disc/a/path/longer/than/twenty/bytes.iso";
  for (const std::string& address : {first, std::string("/dev/sr7"), first, std::string()})
    recording.AddRecorder(address);
  ASSERT_EQ((std::vector<std::string>{first, "/dev/sr7"}), recording.Recorders());
  EXPECT_TRUE(hasDrive());
  // E: to Z:, either case, give the device names with two NULs, nothing after; none past Z:.
  char buffer[32];
  for (const char* name : {"", "E", "E:\\", "EE", "E:x", "A:", "C:", "D:", "1:"})
    EXPECT_EQ(0u, recording.QueryDosDevice(name, buffer, sizeof buffer)) << name;
  for (int i = 2; i <= 'Z' - 'E' + 1; ++i) recording.AddRecorder("/dev/sg" + std::to_string(i));
  std::unique_ptr<DiscMasterObject> master;
  std::unique_ptr<RecorderEnumeration> recorders;
  ASSERT_EQ(kSOk, recording.CreateDiscMaster(&master));
  ASSERT_EQ(kSOk, master->EnumDiscRecorders(&recorders));
  std::unique_ptr<RecorderObject> recorder;
  uint32_t fetched = 0;
  std::u16string path;
  for (char letter = 'E'; letter <= 'Z' + 1; ++letter) {
    const std::string device = "\\Device\\CdRom" + std::to_string(letter - 'E');
    ASSERT_EQ(kSOk, recorders->Next(&recorder, &fetched));
    EXPECT_EQ(kSOk, recorder->GetPath(&path));
    EXPECT_EQ(Wide(device), path);
    const std::string stored = device + '\0' + '\0';
    const std::string name = {static_cast<char>(letter % 2 ? letter : letter + 32), ':'};
    std::vector<char> bytes(24, '\xCC'), expected = bytes;  // the recorder list offers 20
    if (letter <= 'Z') std::copy(stored.begin(), stored.end(), expected.begin());
    EXPECT_EQ(letter <= 'Z' ? stored.size() : 0u, recording.QueryDosDevice(name, bytes.data(), 20));
    EXPECT_EQ(expected, bytes) << name;
  }
  EXPECT_NE(kSOk, recorders->Next(&recorder, &fetched));
  std::unique_ptr<DiscMaster2Object> master2;
  ASSERT_EQ(kSOk, recording.CreateDiscMaster2(&master2));
  std::u16string uniqueId;
  EXPECT_EQ(kSOk, master2->GetItem(0, &uniqueId));
  EXPECT_EQ(Wide(first), uniqueId);
  EXPECT_EQ(kSOk, master2->GetItem(22, &uniqueId));
  EXPECT_EQ(u"/dev/sg22", uniqueId);
  uniqueId = u"unchanged";
  for (int32_t index : {23, -1, std::numeric_limits<int32_t>::min(), INT32_MAX})
    EXPECT_EQ(kInvalidArg, master2->GetItem(index, &uniqueId)) << index;
  EXPECT_EQ(u"unchanged", uniqueId);
}

// Streams live in unnamed TMPDIR files, each opening with its own position, until last use.
TEST(LinuxDiscRecordingTest, StoragesKeepStreamsInUnnamedFilesUntilTheirLastUse) {
  testsupport::TempDir temp;
  const std::string folder = temp.Path("tmp");
  const std::string saved = std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "";
  std::filesystem::create_directories(folder);
  setenv("TMPDIR", folder.c_str(), 1);
  const auto descriptors = [] {
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return std::distance(begin(fds), end(fds));
  };
  const auto before = descriptors();
  LinuxDiscRecording recording;
  const Bytes pattern = Pattern(300000, 3);
  {
    std::unique_ptr<DiscStorage> storage;
    ASSERT_EQ(kSOk, recording.CreateTemporaryStorage(0x1012, &storage));
    uint32_t written = 0;
    {
      auto stream = Stream(*storage, u"bootimg");
      ASSERT_EQ(kSOk, stream->Write(pattern.data(), 1000, &written));
      ASSERT_EQ(kSOk, stream->Write(&pattern[1000], uint32_t(pattern.size() - 1000), &written));
      EXPECT_EQ(pattern.size() - 1000, written);
    }  // released: the bytes stay in the storage
    auto reading = Stream(*storage, u"bootimg", kReadStreamMode);
    EXPECT_EQ(pattern, Contents(*reading));
    EXPECT_FALSE(Succeeded(reading->Write(pattern.data(), 10, &written))) << "opened to read";
    EXPECT_EQ(0u, written);
    EXPECT_TRUE(std::filesystem::is_empty(folder)) << "no file has a name";
    // Creating replaces a stream (an open reader keeps the old); bad names are refused.
    EXPECT_TRUE(Contents(*Stream(*storage, u"bootimg")).empty());
    EXPECT_FALSE(Stream(*storage, u"nothere", kReadStreamMode));
    for (const std::u16string name : {u"", u"a/b", u"a:b", u"a!b", u"a\\b"})
      EXPECT_FALSE(Stream(*storage, name));
    EXPECT_FALSE(Stream(*storage, std::u16string(32, u'a')));
    EXPECT_TRUE(Stream(*storage, std::u16string(31, u'a')));
    storage.reset();
    EXPECT_EQ(pattern, Contents(*reading));
  }
  EXPECT_EQ(before, descriptors());
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  saved.empty() ? unsetenv("TMPDIR") : setenv("TMPDIR", saved.c_str(), 1);
}

// One real burn over a longer file; bad addresses and a grabbed drive refused; rescans keep.
TEST(LinuxDiscRecordingTest, BurnsTheImageOverALongerFileExactlyAndRefusesTheRest) {
  fakes::FakeDiscRecording foreign;
  std::unique_ptr<DiscStorage> images;
  ASSERT_EQ(kSOk, foreign.CreateTemporaryStorage(0, &images));
  const auto image = [&images](const Bytes& bytes) {
    uint32_t written = 0;
    EXPECT_EQ(kSOk,
              Stream(*images, u"image")->Write(bytes.data(), uint32_t(bytes.size()), &written));
    return Stream(*images, u"image", kReadStreamMode);
  };
  testsupport::TempDir temp;
  const std::string path = temp.Path("cd.iso");
  const Bytes old = Pattern(2443 * kSector + 5, 9);
  testsupport::WriteBytes(path, old);
  LinuxDiscRecording recording;
  recording.AddRecorder("/dev/no-such-recorder");
  recording.AddRecorder("stdio:" + path);
  recording.ScanDrives();
  const std::vector<std::string> scanned = recording.Recorders();
  ASSERT_GE(scanned.size(), 2u);
  EXPECT_EQ("stdio:" + path, scanned[1]);
  std::unique_ptr<DiscMaster2Object> master;
  std::unique_ptr<Recorder2Object> recorder, second;
  std::unique_ptr<DataWriter2Object> writer;
  std::u16string target;
  ASSERT_EQ(kSOk, recording.CreateDiscMaster2(&master));
  ASSERT_EQ(kSOk, master->GetItem(1, &target));
  ASSERT_EQ(kSOk, recording.CreateRecorder2(&recorder));
  ASSERT_EQ(kSOk, recording.CreateRecorder2(&second));
  ASSERT_EQ(kSOk, recording.CreateDataWriter2(&writer));
  ASSERT_EQ(kSOk, writer->PutRecorder(*recorder));
  for (const std::string& address : {"stdio:" + temp.Path("no/such/cd.iso"),
                                     std::string("/dev/no-such-recorder"), std::string()})
    EXPECT_FALSE(Succeeded(recorder->InitializeDiscRecorder(Wide(address))));
  ASSERT_EQ(kSOk, recorder->InitializeDiscRecorder(target));
  EXPECT_FALSE(Succeeded(second->InitializeDiscRecorder(target))) << "a drive is grabbed once";
  recording.ScanDrives();
  EXPECT_EQ(scanned, recording.Recorders());
  EXPECT_TRUE(old == testsupport::ReadBytes(path)) << "nothing written before the burn";
  const Bytes burned = Pattern(1543 * kSector, 7);  // about 3 MB
  ASSERT_EQ(kSOk, writer->Write(*image(burned)));
  EXPECT_TRUE(burned == testsupport::ReadBytes(path));
  // Ejecting and releasing let go of the drive; a target that takes no bytes fails a burn.
  EXPECT_EQ(kSOk, recorder->EjectMedia());
  ASSERT_EQ(kSOk, second->InitializeDiscRecorder(target));
  second.reset();
  ASSERT_EQ(kSOk, recorder->InitializeDiscRecorder(target));
  if (access("/dev/full", W_OK) == 0) {
    ASSERT_EQ(kSOk, recorder->InitializeDiscRecorder(u"stdio:/dev/full"));
    EXPECT_FALSE(Succeeded(writer->Write(*image(Pattern(8 * kSector, 4)))));
  }
}
}  // namespace
