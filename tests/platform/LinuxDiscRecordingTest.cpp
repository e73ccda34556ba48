// The Linux disc recording back end with real libburn: recorder lists and drive letters,
// temporary storages on real unnamed files, and whole burns onto "stdio:" file targets.
#include "platform/linux/LinuxDiscRecording.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/Host.h"
#include "tests/support/TestFiles.h"

namespace {

using platform::DiscStream;
using platform::HResult;
using platform::kSFalse;
using platform::kSOk;
using platform::LinuxDiscRecording;
using platform::Succeeded;

// Windows values, written out here independently of the code under test.
constexpr HResult kInvalidArg = static_cast<HResult>(0x80070057u);
constexpr HResult kPointer = static_cast<HResult>(0x80004003u);
constexpr HResult kNotImpl = static_cast<HResult>(0x80004001u);
constexpr uint32_t kStorageMode = 0x1012;     // STGM_CREATE | READWRITE | SHARE_EXCLUSIVE
constexpr uint32_t kNewStreamMode = 0x1011;   // STGM_CREATE | WRITE | SHARE_EXCLUSIVE
constexpr uint32_t kNoReplaceMode = 0x0011;   // WRITE | SHARE_EXCLUSIVE, no STGM_CREATE
constexpr uint32_t kReadStreamMode = 0x0010;  // READ | SHARE_EXCLUSIVE
constexpr uint32_t kApartmentThreaded = 2;

constexpr size_t kSector = 2048;
constexpr size_t kImageBytes = 1543 * kSector;  // about 3 MB, whole sectors
constexpr char kImageStream[] = "iso";
constexpr uint8_t kCanary = 0xCC;

std::string FileTarget(const std::string& path) {
  return "stdio:" + path;
}

std::u16string Wide(const std::string& text) {
  std::u16string wide;
  for (char byte : text) wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(byte)));
  return wide;
}

std::vector<uint8_t> Contents(const DiscStream& stream) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(platform::ReadAll(stream, &bytes));
  return bytes;
}

// The image put into a stream of a temporary storage, written, released and opened again
// for reading, the way the CD job hands it to the data writer.
struct StagedImage {
  std::unique_ptr<platform::DiscStorage> storage;
  std::unique_ptr<DiscStream> reading;
};

StagedImage Stage(LinuxDiscRecording& recording, const std::vector<uint8_t>& image) {
  StagedImage staged;
  EXPECT_EQ(kSOk, recording.CreateTemporaryStorage(kStorageMode, &staged.storage));
  std::unique_ptr<DiscStream> writing;
  EXPECT_EQ(kSOk, staged.storage->CreateStream(Wide(kImageStream), kNewStreamMode, &writing));
  uint32_t written = 0;
  EXPECT_EQ(kSOk, writing->Write(image.data(), static_cast<uint32_t>(image.size()), &written));
  EXPECT_EQ(image.size(), written);
  writing.reset();
  EXPECT_EQ(kSOk, staged.storage->OpenStream(Wide(kImageStream), kReadStreamMode, &staged.reading));
  return staged;
}

// The Vista-style burn of the CD job: recorder `index` of the list, its data writer, and
// `image`. The recorder stays with the caller, still grabbed.
HResult Burn(LinuxDiscRecording& recording, int32_t index, DiscStream& image,
             std::unique_ptr<platform::Recorder2Object>* recorder) {
  std::unique_ptr<platform::DiscMaster2Object> master;
  std::u16string uniqueId;
  std::unique_ptr<platform::DataWriter2Object> writer;
  EXPECT_EQ(kSOk, recording.CreateDiscMaster2(&master));
  EXPECT_EQ(kSOk, master->GetItem(index, &uniqueId));
  EXPECT_EQ(kSOk, recording.CreateRecorder2(recorder));
  const HResult grabbed = (*recorder)->InitializeDiscRecorder(uniqueId);
  if (!Succeeded(grabbed)) return grabbed;
  EXPECT_EQ(kSOk, recording.CreateDataWriter2(&writer));
  EXPECT_EQ(kSOk, writer->PutRecorder(**recorder));
  EXPECT_EQ(kSOk, writer->PutClientName(u"LinuxDiscRecordingTest"));
  return writer->Write(image);
}

HResult Burn(LinuxDiscRecording& recording, int32_t index, const std::vector<uint8_t>& image,
             std::unique_ptr<platform::Recorder2Object>* recorder) {
  StagedImage staged = Stage(recording, image);
  return Burn(recording, index, *staged.reading, recorder);
}

// A recorder of some other back end.
class ForeignRecorder : public platform::Recorder2Object {
 public:
  HResult InitializeDiscRecorder(const std::u16string&) override { return kSOk; }
  HResult EjectMedia() override { return kSOk; }
};

// A stream of some other back end: it can only hand its bytes over by CopyTo.
class ForeignStream : public DiscStream {
 public:
  explicit ForeignStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  HResult Write(const void*, uint32_t, uint32_t* written) override {
    if (written != nullptr) *written = 0;
    return platform::kEFail;
  }
  HResult CopyTo(DiscStream& target, uint64_t bytes) override {
    const uint64_t count = std::min<uint64_t>(bytes, bytes_.size() - position_);
    uint32_t written = 0;
    const HResult result =
        target.Write(bytes_.data() + position_, static_cast<uint32_t>(count), &written);
    position_ += written;
    return result;
  }

 private:
  std::vector<uint8_t> bytes_;
  size_t position_ = 0;
};

// TMPDIR pointed elsewhere for one test, as it was afterwards.
class ScopedTmpDir {
 public:
  explicit ScopedTmpDir(const std::string& path) {
    if (const char* old = std::getenv("TMPDIR")) {
      hadOld_ = true;
      old_ = old;
    }
    setenv("TMPDIR", path.c_str(), 1);
  }
  ~ScopedTmpDir() {
    if (hadOld_) {
      setenv("TMPDIR", old_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  ScopedTmpDir(const ScopedTmpDir&) = delete;
  ScopedTmpDir& operator=(const ScopedTmpDir&) = delete;

 private:
  bool hadOld_ = false;
  std::string old_;
};

size_t OpenDescriptors() {
  size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

TEST(LinuxDiscRecordingTest, ListsRecordersInOrderWithLettersFromE) {
  LinuxDiscRecording recording;
  std::unique_ptr<platform::ShellCdBurnObject> shell;
  bool hasOne = true;
  ASSERT_EQ(kSOk, recording.CreateShellCdBurn(&shell));
  EXPECT_EQ(kSOk, shell->HasRecordableDrive(&hasOne));
  EXPECT_FALSE(hasOne);

  // A byte above 0x7F shows that addresses travel byte for byte.
  const std::string first = "stdio:/tmp/caf\xC3\xA9-disc.iso";
  const std::string second = "/dev/sr7";
  recording.AddRecorder(first);
  recording.AddRecorder(second);
  recording.AddRecorder(first);  // listed already
  recording.AddRecorder("");
  ASSERT_EQ((std::vector<std::string>{first, second}), recording.Recorders());

  ASSERT_EQ(kSOk, recording.CreateShellCdBurn(&shell));
  EXPECT_EQ(kSOk, shell->HasRecordableDrive(&hasOne));
  EXPECT_TRUE(hasOne);

  std::unique_ptr<platform::DiscMasterObject> master;
  ASSERT_EQ(kSOk, recording.CreateDiscMaster(&master));
  EXPECT_EQ(kSOk, master->Open());
  uint32_t formats = 99;
  EXPECT_EQ(kSOk, master->EnumFormats(4, &formats));
  EXPECT_EQ(0u, formats);
  std::unique_ptr<platform::RecorderEnumeration> recorders;
  ASSERT_EQ(kSOk, master->EnumDiscRecorders(&recorders));
  std::vector<std::u16string> paths;
  std::unique_ptr<platform::RecorderObject> recorder;
  uint32_t fetched = 0;
  while (recorders->Next(&recorder, &fetched) == kSOk) {
    ASSERT_EQ(1u, fetched);
    ASSERT_TRUE(recorder);
    std::u16string path;
    EXPECT_EQ(kSOk, recorder->GetPath(&path));
    paths.push_back(path);
    EXPECT_EQ(kSOk, master->SetActiveDiscRecorder(recorder.get()));
    EXPECT_EQ(kSOk, recorder->Close());
  }
  EXPECT_EQ(0u, fetched);
  EXPECT_FALSE(recorder);
  EXPECT_EQ(kSFalse, recorders->Next(&recorder, &fetched));
  EXPECT_EQ((std::vector<std::u16string>{u"\\Device\\CdRom0", u"\\Device\\CdRom1"}), paths)
      << "short device names, whatever the length of the libburn address";

  // This back end never burns through the XP-style objects.
  std::unique_ptr<platform::JolietFormat> joliet;
  EXPECT_EQ(kNotImpl, master->QueryJoliet(&joliet));
  EXPECT_FALSE(joliet);
  EXPECT_EQ(kNotImpl, master->RecordDisc(false, true));
  EXPECT_EQ(kSOk, master->Close());

  char target[64];
  ASSERT_EQ(16u, recording.QueryDosDevice("E:", target, sizeof target));
  EXPECT_EQ("\\Device\\CdRom0", std::string(target));
  ASSERT_EQ(16u, recording.QueryDosDevice("F:", target, sizeof target));
  EXPECT_EQ("\\Device\\CdRom1", std::string(target));
  EXPECT_EQ(0u, recording.QueryDosDevice("G:", target, sizeof target));

  std::unique_ptr<platform::DiscMaster2Object> master2;
  ASSERT_EQ(kSOk, recording.CreateDiscMaster2(&master2));
  std::u16string uniqueId;
  EXPECT_EQ(kSOk, master2->GetItem(0, &uniqueId));
  EXPECT_EQ(Wide(first), uniqueId);
  EXPECT_EQ(kSOk, master2->GetItem(1, &uniqueId));
  EXPECT_EQ(Wide(second), uniqueId);
}

TEST(LinuxDiscRecordingTest, QueryDosDeviceStoresOneTargetWithinTheBuffer) {
  LinuxDiscRecording recording;
  recording.AddRecorder("stdio:/a/path/longer/than/the/twenty/bytes/of/the/recorder/list.iso");
  const std::string address = "\\Device\\CdRom0";
  const uint32_t needed = static_cast<uint32_t>(address.size() + 2);

  std::vector<char> buffer(needed + 4, static_cast<char>(kCanary));
  ASSERT_EQ(needed, recording.QueryDosDevice("E:", buffer.data(), needed));
  EXPECT_EQ(address, std::string(buffer.data(), address.size()));
  EXPECT_EQ('\0', buffer[address.size()]);
  EXPECT_EQ('\0', buffer[address.size() + 1]);
  for (size_t i = needed; i < buffer.size(); ++i) {
    EXPECT_EQ(static_cast<char>(kCanary), buffer[i]) << "byte " << i;
  }
  EXPECT_EQ(needed, recording.QueryDosDevice("e:", buffer.data(), needed));

  // One byte short: nothing stored, nothing touched.
  std::vector<char> small(needed - 1, static_cast<char>(kCanary));
  EXPECT_EQ(0u, recording.QueryDosDevice("E:", small.data(), needed - 1));
  for (char byte : small) EXPECT_EQ(static_cast<char>(kCanary), byte);
  EXPECT_EQ(0u, recording.QueryDosDevice("E:", nullptr, 0));

  char target[32];
  for (const char* name : {"", "E", "E:\\", "EE", "E:x", "CdRom0", "A:", "C:", "D:", "1:"}) {
    EXPECT_EQ(0u, recording.QueryDosDevice(name, target, sizeof target)) << name;
  }
}

TEST(LinuxDiscRecordingTest, LettersRunFromEToZAndThenOut) {
  LinuxDiscRecording recording;
  const int lettered = 'Z' - 'E' + 1;
  for (int i = 0; i <= lettered; ++i) recording.AddRecorder("/dev/sr" + std::to_string(i));
  char target[32];
  for (char letter = 'E'; letter <= 'Z'; ++letter) {
    const std::string expected = "\\Device\\CdRom" + std::to_string(letter - 'E');
    ASSERT_EQ(expected.size() + 2,
              recording.QueryDosDevice(std::string(1, letter) + ":", target, sizeof target));
    EXPECT_EQ(expected, std::string(target));
  }
  // The recorder after Z has no letter, though it is still listed.
  std::unique_ptr<platform::DiscMaster2Object> master;
  ASSERT_EQ(kSOk, recording.CreateDiscMaster2(&master));
  std::u16string uniqueId;
  EXPECT_EQ(kSOk, master->GetItem(lettered, &uniqueId));
  EXPECT_EQ(Wide("/dev/sr" + std::to_string(lettered)), uniqueId);
  EXPECT_EQ(0u, recording.QueryDosDevice("[:", target, sizeof target));
}

TEST(LinuxDiscRecordingTest, StorageStreamsRoundTripAndCopy) {
  LinuxDiscRecording recording;
  const std::vector<uint8_t> pattern = testsupport::Pattern(300000, 3);
  std::unique_ptr<platform::DiscStorage> storage;
  ASSERT_EQ(kSOk, recording.CreateTemporaryStorage(kStorageMode, &storage));
  {
    std::unique_ptr<DiscStream> stream;
    ASSERT_EQ(kSOk, storage->CreateStream(u"bootimg", kNewStreamMode, &stream));
    uint32_t written = 0;
    ASSERT_EQ(kSOk, stream->Write(pattern.data(), 1000, &written));
    EXPECT_EQ(1000u, written);
    ASSERT_EQ(kSOk, stream->Write(pattern.data() + 1000,
                                  static_cast<uint32_t>(pattern.size() - 1000), &written));
    EXPECT_EQ(pattern.size() - 1000, written);
  }  // released: the bytes stay in the storage

  std::unique_ptr<DiscStream> reading;
  ASSERT_EQ(kSOk, storage->OpenStream(u"bootimg", kReadStreamMode, &reading));
  EXPECT_EQ(pattern, Contents(*reading));
  uint32_t written = 7;
  EXPECT_FALSE(Succeeded(reading->Write(pattern.data(), 10, &written)));  // opened to read
  EXPECT_EQ(0u, written);

  // Into another storage's stream, in two steps; past the end nothing more comes.
  std::unique_ptr<platform::DiscStorage> other;
  ASSERT_EQ(kSOk, recording.CreateTemporaryStorage(kStorageMode, &other));
  std::unique_ptr<DiscStream> copy;
  ASSERT_EQ(kSOk, other->CreateStream(u"copy", kNewStreamMode, &copy));
  ASSERT_EQ(kSOk, reading->CopyTo(*copy, 4097));
  EXPECT_EQ(std::vector<uint8_t>(pattern.begin(), pattern.begin() + 4097), Contents(*copy));
  ASSERT_EQ(kSOk, reading->CopyTo(*copy, std::numeric_limits<uint64_t>::max()));
  EXPECT_EQ(pattern, Contents(*copy));
  ASSERT_EQ(kSOk, reading->CopyTo(*copy, 100));
  EXPECT_EQ(pattern, Contents(*copy));

  // A second reader starts at the beginning again.
  std::unique_ptr<DiscStream> again;
  ASSERT_EQ(kSOk, storage->OpenStream(u"bootimg", kReadStreamMode, &again));
  std::unique_ptr<DiscStream> head;
  ASSERT_EQ(kSOk, other->CreateStream(u"head", kNewStreamMode, &head));
  ASSERT_EQ(kSOk, again->CopyTo(*head, 10));
  EXPECT_EQ(std::vector<uint8_t>(pattern.begin(), pattern.begin() + 10), Contents(*head));

  // STGM_CREATE replaces the stream; without it an existing name is refused.
  std::unique_ptr<DiscStream> replaced;
  EXPECT_FALSE(Succeeded(storage->CreateStream(u"bootimg", kNoReplaceMode, &replaced)));
  EXPECT_FALSE(replaced);
  ASSERT_EQ(kSOk, storage->CreateStream(u"bootimg", kNewStreamMode, &replaced));
  EXPECT_TRUE(Contents(*replaced).empty());
  replaced.reset();
  std::unique_ptr<DiscStream> reopened;
  ASSERT_EQ(kSOk, storage->OpenStream(u"bootimg", kReadStreamMode, &reopened));
  EXPECT_TRUE(Contents(*reopened).empty());
  EXPECT_EQ(pattern, Contents(*reading));  // an open reader keeps the old bytes

  std::unique_ptr<DiscStream> missing;
  EXPECT_FALSE(Succeeded(storage->OpenStream(u"nothere", kReadStreamMode, &missing)));
  EXPECT_FALSE(missing);
  for (const std::u16string& name :
       {std::u16string(), std::u16string(32, u'a'), std::u16string(u"a/b"), std::u16string(u"a:b"),
        std::u16string(u"a!b"), std::u16string(u"a\\b")}) {
    std::unique_ptr<DiscStream> bad;
    EXPECT_FALSE(Succeeded(storage->CreateStream(name, kNewStreamMode, &bad)));
    EXPECT_FALSE(bad);
  }
  std::unique_ptr<DiscStream> longest;
  EXPECT_EQ(kSOk, storage->CreateStream(std::u16string(31, u'a'), kNewStreamMode, &longest));

  std::vector<uint8_t> bytes = {1, 2, 3};
  ForeignStream foreign(bytes);
  EXPECT_FALSE(platform::ReadAll(foreign, &bytes));
  EXPECT_TRUE(bytes.empty());
}

TEST(LinuxDiscRecordingTest, StorageUsesUnnamedFilesAndClosesThemWithItsStreams) {
  testsupport::TempDir temp;
  const std::string folder = temp.Path("tmp");
  std::filesystem::create_directories(folder);
  ScopedTmpDir tmpdir(folder);
  LinuxDiscRecording recording;
  const std::vector<uint8_t> pattern = testsupport::Pattern(1 << 20, 5);

  const size_t before = OpenDescriptors();
  {
    std::unique_ptr<platform::DiscStorage> storage;
    ASSERT_EQ(kSOk, recording.CreateTemporaryStorage(kStorageMode, &storage));
    std::unique_ptr<DiscStream> stream;
    ASSERT_EQ(kSOk, storage->CreateStream(u"a", kNewStreamMode, &stream));
    uint32_t written = 0;
    ASSERT_EQ(kSOk, stream->Write(pattern.data(), static_cast<uint32_t>(pattern.size()), &written));
    std::unique_ptr<DiscStream> second;
    ASSERT_EQ(kSOk, storage->CreateStream(u"b", kNewStreamMode, &second));
    EXPECT_EQ(before + 2, OpenDescriptors());
    EXPECT_TRUE(std::filesystem::is_empty(folder));  // no file has a name
    std::unique_ptr<DiscStream> reading;
    ASSERT_EQ(kSOk, storage->OpenStream(u"a", kReadStreamMode, &reading));
    storage.reset();
    // A stream outlives its storage, as an IStream does.
    EXPECT_EQ(pattern, Contents(*reading));
  }
  EXPECT_EQ(before, OpenDescriptors());
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

// The one real burn: a stream of another back end (copied into a file of this one) onto
// a file target that held more than the image, which must then hold the image alone.
TEST(LinuxDiscRecordingTest, BurnsTheImageOverALongerFileExactly) {
  testsupport::TempDir temp;
  const std::string path = temp.Path("cd.iso");
  testsupport::WriteBytes(path, testsupport::Pattern(kImageBytes + 900 * kSector + 5, 9));
  LinuxDiscRecording recording;
  recording.AddRecorder("/dev/no-such-recorder");
  recording.AddRecorder(FileTarget(path));
  const std::vector<uint8_t> image = testsupport::Pattern(kImageBytes, 7);
  ForeignStream foreign(image);

  std::unique_ptr<platform::Recorder2Object> recorder;
  ASSERT_EQ(kSOk, Burn(recording, 1, foreign, &recorder));
  const std::vector<uint8_t> burned = testsupport::ReadBytes(path);
  ASSERT_EQ(image.size(), burned.size());
  EXPECT_TRUE(image == burned);
  EXPECT_EQ(kSOk, recorder->EjectMedia());
  EXPECT_FALSE(Succeeded(recorder->EjectMedia()));  // nothing grabbed any more
}

TEST(LinuxDiscRecordingTest, RefusesAnImageOfPartSectors) {
  testsupport::TempDir temp;
  const std::string path = temp.Path("cd.iso");
  LinuxDiscRecording recording;
  recording.AddRecorder(FileTarget(path));
  std::unique_ptr<platform::Recorder2Object> recorder;
  EXPECT_EQ(kInvalidArg, Burn(recording, 0, testsupport::Pattern(3 * kSector + 100, 1), &recorder));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(kInvalidArg, Burn(recording, 0, {}, &recorder));
}

TEST(LinuxDiscRecordingTest, ReportsABurnThatFails) {
  // Every write to /dev/full fails for want of space.
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no writable /dev/full";
  LinuxDiscRecording recording;
  recording.AddRecorder(FileTarget("/dev/full"));
  std::unique_ptr<platform::Recorder2Object> recorder;
  EXPECT_FALSE(Succeeded(Burn(recording, 0, testsupport::Pattern(16 * kSector, 2), &recorder)));
}

TEST(LinuxDiscRecordingTest, WriteNeedsAGrabbedRecorder) {
  testsupport::TempDir temp;
  const std::string path = temp.Path("cd.iso");
  LinuxDiscRecording recording;
  recording.AddRecorder(FileTarget(path));
  const std::vector<uint8_t> image = testsupport::Pattern(8 * kSector, 4);
  StagedImage staged = Stage(recording, image);

  std::unique_ptr<platform::DataWriter2Object> writer;
  ASSERT_EQ(kSOk, recording.CreateDataWriter2(&writer));
  EXPECT_FALSE(Succeeded(writer->Write(*staged.reading)));  // no recorder put

  std::unique_ptr<platform::Recorder2Object> recorder;
  ASSERT_EQ(kSOk, recording.CreateRecorder2(&recorder));
  ASSERT_EQ(kSOk, writer->PutRecorder(*recorder));
  EXPECT_FALSE(Succeeded(writer->Write(*staged.reading)));  // recorder not initialized
  EXPECT_FALSE(Succeeded(recorder->EjectMedia()));

  ASSERT_EQ(kSOk, recorder->InitializeDiscRecorder(Wide(FileTarget(path))));
  ASSERT_EQ(kSOk, recorder->EjectMedia());
  EXPECT_FALSE(Succeeded(writer->Write(*staged.reading)));  // ejected
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(LinuxDiscRecordingTest, GetItemOutsideTheListIsAnInvalidArgument) {
  LinuxDiscRecording recording;
  recording.AddRecorder("/dev/sr0");
  recording.AddRecorder("/dev/sr1");
  std::unique_ptr<platform::DiscMaster2Object> master;
  ASSERT_EQ(kSOk, recording.CreateDiscMaster2(&master));
  std::u16string uniqueId = u"unchanged";
  for (int32_t index :
       {2, 3, -1, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()}) {
    EXPECT_EQ(kInvalidArg, master->GetItem(index, &uniqueId)) << index;
  }
  EXPECT_EQ(u"unchanged", uniqueId);

  // Recorders added later are not in a list made before.
  recording.AddRecorder("/dev/sr2");
  EXPECT_EQ(kInvalidArg, master->GetItem(2, &uniqueId));
}

TEST(LinuxDiscRecordingTest, PutRecorderRefusesAForeignRecorder) {
  LinuxDiscRecording recording;
  std::unique_ptr<platform::DataWriter2Object> writer;
  ASSERT_EQ(kSOk, recording.CreateDataWriter2(&writer));
  ForeignRecorder foreign;
  EXPECT_EQ(kPointer, writer->PutRecorder(foreign));
}

TEST(LinuxDiscRecordingTest, InitializeFailsWhereNoDriveCanBeGrabbed) {
  testsupport::TempDir temp;
  LinuxDiscRecording recording;
  std::unique_ptr<platform::Recorder2Object> recorder;
  ASSERT_EQ(kSOk, recording.CreateRecorder2(&recorder));
  EXPECT_FALSE(
      Succeeded(recorder->InitializeDiscRecorder(Wide(FileTarget(temp.Path("no/such/cd.iso"))))));
  EXPECT_FALSE(Succeeded(recorder->InitializeDiscRecorder(u"/dev/no-such-recorder")));
  EXPECT_FALSE(Succeeded(recorder->InitializeDiscRecorder(u"")));
  EXPECT_FALSE(Succeeded(recorder->EjectMedia()));

  // A drive is grabbed once: a second recorder cannot have it until the first lets go,
  // which releasing the first recorder does.
  const std::u16string target = Wide(FileTarget(temp.Path("cd.iso")));
  ASSERT_EQ(kSOk, recorder->InitializeDiscRecorder(target));
  std::unique_ptr<platform::Recorder2Object> second;
  ASSERT_EQ(kSOk, recording.CreateRecorder2(&second));
  EXPECT_FALSE(Succeeded(second->InitializeDiscRecorder(target)));
  recorder.reset();
  ASSERT_EQ(kSOk, second->InitializeDiscRecorder(target));
  ASSERT_EQ(kSOk, recording.CreateRecorder2(&recorder));
  EXPECT_FALSE(Succeeded(recorder->InitializeDiscRecorder(target)));
  ASSERT_EQ(kSOk, second->EjectMedia());
  EXPECT_EQ(kSOk, recorder->InitializeDiscRecorder(target));
}

TEST(LinuxDiscRecordingTest, ScanDrivesAddsOnlyDrivesAndLeavesAGrabbedDriveAlone) {
  testsupport::TempDir temp;
  const std::string path = temp.Path("cd.iso");
  LinuxDiscRecording recording;
  recording.AddRecorder(FileTarget(path));
  recording.ScanDrives();
  const std::vector<std::string> scanned = recording.Recorders();
  ASSERT_FALSE(scanned.empty());
  EXPECT_EQ(FileTarget(path), scanned[0]);
  for (size_t i = 1; i < scanned.size(); ++i) {
    EXPECT_NE(0u, scanned[i].rfind("stdio:", 0)) << scanned[i];
    EXPECT_FALSE(scanned[i].empty());
  }
  recording.ScanDrives();
  EXPECT_EQ(scanned, recording.Recorders());  // nothing twice

  // Scanning while this process holds a drive finds nothing and keeps the drive working.
  std::unique_ptr<platform::Recorder2Object> recorder;
  ASSERT_EQ(kSOk, recording.CreateRecorder2(&recorder));
  ASSERT_EQ(kSOk, recorder->InitializeDiscRecorder(Wide(FileTarget(path))));
  recording.ScanDrives();
  EXPECT_EQ(scanned, recording.Recorders());
  std::unique_ptr<platform::DataWriter2Object> writer;
  ASSERT_EQ(kSOk, recording.CreateDataWriter2(&writer));
  ASSERT_EQ(kSOk, writer->PutRecorder(*recorder));
  const std::vector<uint8_t> image = testsupport::Pattern(16 * kSector, 6);
  StagedImage staged = Stage(recording, image);
  ASSERT_EQ(kSOk, writer->Write(*staged.reading));
  EXPECT_EQ(image, testsupport::ReadBytes(path));
}

TEST(LinuxDiscRecordingTest, ComDepthCountsInitializeAgainstUninitialize) {
  LinuxDiscRecording recording;
  EXPECT_EQ(0, recording.ComDepth());
  EXPECT_EQ(kSOk, recording.CoInitialize());
  EXPECT_EQ(kSOk, recording.CoInitializeEx(kApartmentThreaded));
  EXPECT_EQ(2, recording.ComDepth());
  recording.CoUninitialize();
  EXPECT_EQ(1, recording.ComDepth());
  recording.CoUninitialize();
  recording.CoUninitialize();  // one too many changes nothing
  EXPECT_EQ(0, recording.ComDepth());
}

TEST(LinuxDiscRecordingTest, HostDiscRecordingStartsWithNoRecorder) {
  std::unique_ptr<platform::DiscRecording> host = platform::MakeHostDiscRecording();
  ASSERT_TRUE(host);
  std::unique_ptr<platform::ShellCdBurnObject> shell;
  ASSERT_EQ(kSOk, host->CreateShellCdBurn(&shell));
  bool hasOne = true;
  EXPECT_EQ(kSOk, shell->HasRecordableDrive(&hasOne));
  EXPECT_FALSE(hasOne);
  char target[32];
  EXPECT_EQ(0u, host->QueryDosDevice("E:", target, sizeof target));
}

}  // namespace
