// The Linux disc recording back end with real libburn: the recorder list and drive letters,
// temporary storages on real unnamed files, and one burn onto a "stdio:" file target.
#include "platform/linux/LinuxDiscRecording.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <limits>

#include "tests/fakes/FakeDiscRecording.h"
#include "tests/support/TestFiles.h"

namespace {

using platform::DiscStream;
using platform::HResult;
using platform::kSOk;
using platform::LinuxDiscRecording;
using platform::Succeeded;
using testsupport::Pattern;
using Bytes = std::vector<uint8_t>;

// Windows values, written out here independently of the code under test.
constexpr HResult kInvalidArg = static_cast<HResult>(0x80070057u);
constexpr uint32_t kNewStreamMode = 0x1011;   // STGM_CREATE | WRITE | SHARE_EXCLUSIVE
constexpr uint32_t kNoReplaceMode = 0x0011;   // WRITE | SHARE_EXCLUSIVE, no STGM_CREATE
constexpr uint32_t kReadStreamMode = 0x0010;  // READ | SHARE_EXCLUSIVE
constexpr size_t kSector = 2048;

std::u16string Wide(const std::string& text) {
  std::u16string wide;
  for (char byte : text) wide.push_back(static_cast<unsigned char>(byte));
  return wide;
}

Bytes Contents(const DiscStream& stream) {
  Bytes bytes;
  EXPECT_TRUE(platform::ReadAll(stream, &bytes));
  return bytes;
}

// A stream created (or, with kReadStreamMode, opened): null exactly when refused.
std::unique_ptr<DiscStream> Stream(platform::DiscStorage& storage, const std::u16string& name,
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
    std::unique_ptr<platform::ShellCdBurnObject> shell;
    bool hasOne = false;
    EXPECT_EQ(kSOk, recording.CreateShellCdBurn(&shell));
    EXPECT_EQ(kSOk, shell->HasRecordableDrive(&hasOne));
    return hasOne;
  };
  EXPECT_FALSE(hasDrive()) << "drives are scanned only when asked";
  // A byte above 0x7F shows that addresses travel byte for byte; this one is also longer
  // than the twenty bytes of the recorder list's targets.
  const std::string first = "stdio:/tmp/caf\xC3\xA9-disc/a/path/longer/than/twenty/bytes.iso";
  for (const std::string& address : {first, std::string("/dev/sr7"), first, std::string()})
    recording.AddRecorder(address);
  ASSERT_EQ((std::vector<std::string>{first, "/dev/sr7"}), recording.Recorders());
  EXPECT_TRUE(hasDrive());

  // The XP-style objects list short device names.
  std::unique_ptr<platform::DiscMasterObject> master;
  std::unique_ptr<platform::RecorderEnumeration> recorders;
  ASSERT_EQ(kSOk, recording.CreateDiscMaster(&master));
  ASSERT_EQ(kSOk, master->EnumDiscRecorders(&recorders));
  std::vector<std::u16string> paths;
  std::unique_ptr<platform::RecorderObject> recorder;
  uint32_t fetched = 0;
  while (recorders->Next(&recorder, &fetched) == kSOk && fetched == 1) {
    paths.emplace_back();
    EXPECT_EQ(kSOk, recorder->GetPath(&paths.back()));
  }
  EXPECT_EQ((std::vector<std::u16string>{u"\\Device\\CdRom0", u"\\Device\\CdRom1"}), paths);

  // Letters run from E: to Z:, in either case; the recorder after Z: is still listed,
  // without one. A letter's target and two NULs are stored only when they fit, and nothing
  // after them is touched. A list made before recorders are added does not hold them.
  char buffer[32];
  for (const char* name : {"", "E", "E:\\", "EE", "E:x", "CdRom0", "A:", "C:", "D:", "1:", "[:"})
    EXPECT_EQ(0u, recording.QueryDosDevice(name, buffer, sizeof buffer)) << name;
  std::unique_ptr<platform::DiscMaster2Object> early, late;
  ASSERT_EQ(kSOk, recording.CreateDiscMaster2(&early));
  for (int i = 2; i <= 'Z' - 'E' + 1; ++i) recording.AddRecorder("/dev/sg" + std::to_string(i));
  for (char letter = 'E'; letter <= 'Z'; ++letter) {
    const std::string stored = "\\Device\\CdRom" + std::to_string(letter - 'E') + '\0' + '\0';
    const std::string name = {static_cast<char>(letter % 2 ? letter : letter + 32), ':'};
    for (size_t room : {stored.size() - 1, stored.size(), stored.size() + 4}) {
      std::vector<char> bytes(room + 4, '\xCC');
      std::vector<char> expected = bytes;
      if (room >= stored.size()) std::copy(stored.begin(), stored.end(), expected.begin());
      EXPECT_EQ(room >= stored.size() ? stored.size() : 0u,
                recording.QueryDosDevice(name, bytes.data(), static_cast<uint32_t>(room)));
      EXPECT_EQ(expected, bytes) << name << " in " << room;
    }
  }
  ASSERT_EQ(kSOk, recording.CreateDiscMaster2(&late));
  std::u16string uniqueId;
  EXPECT_EQ(kSOk, late->GetItem(0, &uniqueId));
  EXPECT_EQ(Wide(first), uniqueId);
  EXPECT_EQ(kSOk, late->GetItem(22, &uniqueId));
  EXPECT_EQ(u"/dev/sg22", uniqueId);
  uniqueId = u"unchanged";
  for (int32_t index :
       {23, -1, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()}) {
    EXPECT_EQ(kInvalidArg, late->GetItem(index, &uniqueId)) << index;
  }
  EXPECT_EQ(kInvalidArg, early->GetItem(2, &uniqueId));
  EXPECT_EQ(u"unchanged", uniqueId);
}

// Streams live in unnamed files in TMPDIR, each opening with its own position, until
// their last user goes; a stream outlives its storage, as an IStream does.
TEST(LinuxDiscRecordingTest, StoragesKeepStreamsInUnnamedFilesUntilTheirLastUse) {
  testsupport::TempDir temp;
  const std::string folder = temp.Path("tmp");
  std::filesystem::create_directories(folder);
  const char* oldTmpDir = std::getenv("TMPDIR");
  const std::string saved = oldTmpDir != nullptr ? oldTmpDir : "";
  setenv("TMPDIR", folder.c_str(), 1);
  const auto descriptors = [] {
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return std::distance(begin(fds), end(fds));
  };
  const auto before = descriptors();
  LinuxDiscRecording recording;
  const Bytes pattern = Pattern(300000, 3);
  {
    std::unique_ptr<platform::DiscStorage> storage, other;
    ASSERT_EQ(kSOk, recording.CreateTemporaryStorage(0x1012, &storage));
    ASSERT_EQ(kSOk, recording.CreateTemporaryStorage(0x1012, &other));
    {
      auto stream = Stream(*storage, u"bootimg");
      uint32_t written = 0;
      ASSERT_EQ(kSOk, stream->Write(pattern.data(), 1000, &written));
      ASSERT_EQ(kSOk, stream->Write(&pattern[1000], uint32_t(pattern.size() - 1000), &written));
      EXPECT_EQ(pattern.size() - 1000, written);
    }  // released: the bytes stay in the storage
    auto reading = Stream(*storage, u"bootimg", kReadStreamMode);
    EXPECT_EQ(pattern, Contents(*reading));
    uint32_t written = 7;
    EXPECT_FALSE(Succeeded(reading->Write(pattern.data(), 10, &written)));  // opened to read
    EXPECT_EQ(0u, written);
    EXPECT_TRUE(std::filesystem::is_empty(folder)) << "no file has a name";

    // Into another storage's stream in two steps, past the end nothing more; a second
    // reader starts at the beginning.
    auto copy = Stream(*other, u"copy");
    ASSERT_EQ(kSOk, reading->CopyTo(*copy, 4097));
    EXPECT_EQ(Bytes(pattern.begin(), pattern.begin() + 4097), Contents(*copy));
    ASSERT_EQ(kSOk, reading->CopyTo(*copy, std::numeric_limits<uint64_t>::max()));
    ASSERT_EQ(kSOk, reading->CopyTo(*copy, 100));
    EXPECT_EQ(pattern, Contents(*copy));
    auto head = Stream(*other, u"head");
    ASSERT_EQ(kSOk, Stream(*storage, u"bootimg", kReadStreamMode)->CopyTo(*head, 10));
    EXPECT_EQ(Bytes(pattern.begin(), pattern.begin() + 10), Contents(*head));

    // STGM_CREATE replaces a stream, which an open reader does not see; without it an
    // existing name is refused, as are missing and malformed names.
    EXPECT_FALSE(Stream(*storage, u"bootimg", kNoReplaceMode));
    EXPECT_TRUE(Contents(*Stream(*storage, u"bootimg")).empty());
    EXPECT_FALSE(Stream(*storage, u"nothere", kReadStreamMode));
    for (const std::u16string& name :
         {std::u16string(), std::u16string(32, u'a'), std::u16string(u"a/b"),
          std::u16string(u"a:b"), std::u16string(u"a!b"), std::u16string(u"a\\b")})
      EXPECT_FALSE(Stream(*storage, name));
    EXPECT_TRUE(Stream(*storage, std::u16string(31, u'a')));
    storage.reset();
    other.reset();
    EXPECT_EQ(pattern, Contents(*reading));
  }
  EXPECT_EQ(before, descriptors());
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  if (oldTmpDir != nullptr) {
    setenv("TMPDIR", saved.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

// The one real burn, onto a file target that held more than the image: the file must then
// hold the image alone. Scanning for drives adds only drives, once, and leaves a grabbed
// drive working. Around it, what the writer and the recorders refuse. The images are
// another back end's streams (the fake's), copied into this one's on the way.
TEST(LinuxDiscRecordingTest, BurnsTheImageOverALongerFileExactlyAndRefusesTheRest) {
  fakes::FakeDiscRecording foreign;
  std::unique_ptr<platform::DiscStorage> images;
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
  for (size_t i = 2; i < scanned.size(); ++i) EXPECT_NE(0u, scanned[i].rfind("stdio:", 0));

  std::unique_ptr<platform::DiscMaster2Object> master;
  std::unique_ptr<platform::Recorder2Object> recorder, second, foreignRecorder;
  std::unique_ptr<platform::DataWriter2Object> writer;
  std::u16string target;
  ASSERT_EQ(kSOk, recording.CreateDiscMaster2(&master));
  ASSERT_EQ(kSOk, master->GetItem(1, &target));
  ASSERT_EQ(kSOk, recording.CreateRecorder2(&recorder));
  ASSERT_EQ(kSOk, recording.CreateRecorder2(&second));
  ASSERT_EQ(kSOk, recording.CreateDataWriter2(&writer));
  ASSERT_EQ(kSOk, foreign.CreateRecorder2(&foreignRecorder));
  EXPECT_EQ(platform::kEPointer, writer->PutRecorder(*foreignRecorder));
  const Bytes small = Pattern(8 * kSector, 4);
  EXPECT_FALSE(Succeeded(writer->Write(*image(small)))) << "no recorder put";
  ASSERT_EQ(kSOk, writer->PutRecorder(*recorder));
  for (const std::u16string& address : {Wide("stdio:" + temp.Path("no/such/cd.iso")),
                                        std::u16string(u"/dev/no-such-recorder"), std::u16string()})
    EXPECT_FALSE(Succeeded(recorder->InitializeDiscRecorder(address)));
  EXPECT_FALSE(Succeeded(writer->Write(*image(small)))) << "not initialized";
  EXPECT_FALSE(Succeeded(recorder->EjectMedia()));
  ASSERT_EQ(kSOk, recorder->InitializeDiscRecorder(target));
  EXPECT_FALSE(Succeeded(second->InitializeDiscRecorder(target))) << "a drive is grabbed once";
  recording.ScanDrives();
  EXPECT_EQ(scanned, recording.Recorders());
  // Images of part sectors or none are refused before anything is written.
  for (const Bytes& bad : {Pattern(3 * kSector + 100, 1), Bytes()})
    EXPECT_EQ(kInvalidArg, writer->Write(*image(bad)));
  EXPECT_TRUE(old == testsupport::ReadBytes(path));
  const Bytes burned = Pattern(1543 * kSector, 7);  // about 3 MB
  ASSERT_EQ(kSOk, writer->Write(*image(burned)));
  EXPECT_TRUE(burned == testsupport::ReadBytes(path));

  // Ejecting and releasing let go of the drive; an ejected recorder writes nothing; a
  // target that takes no bytes fails the burn.
  EXPECT_EQ(kSOk, recorder->EjectMedia());
  EXPECT_FALSE(Succeeded(recorder->EjectMedia()));
  EXPECT_FALSE(Succeeded(writer->Write(*image(small))));
  ASSERT_EQ(kSOk, second->InitializeDiscRecorder(target));
  second.reset();
  ASSERT_EQ(kSOk, recorder->InitializeDiscRecorder(target));
  if (access("/dev/full", W_OK) == 0) {
    ASSERT_EQ(kSOk, recorder->InitializeDiscRecorder(u"stdio:/dev/full"));
    EXPECT_FALSE(Succeeded(writer->Write(*image(small))));
  }
}

}  // namespace
