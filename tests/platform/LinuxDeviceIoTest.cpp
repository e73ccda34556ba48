// The Linux raw-drive back end on real image files, and on real loop devices when the
// machine lets the test attach and mount them.
#include "platform/linux/LinuxDeviceIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/File.h"
#include "tests/support/TestFiles.h"

namespace {

using platform::DeviceHandle;
using platform::kInvalidDevice;
using platform::LinuxDeviceIo;

// The Windows control codes and media types, written out here independently of the code
// under test.
constexpr uint32_t kGetMediaTypes = 0x00070C00u;
constexpr uint32_t kLockVolume = 0x00090018u;
constexpr uint32_t kUnlockVolume = 0x0009001Cu;
constexpr uint32_t kDismountVolume = 0x00090020u;
constexpr uint32_t kMedia144 = 2;
constexpr uint32_t kCreateAlways = 2;

constexpr char kDriveA[] = "\\\\.\\A:";
constexpr char kDriveB[] = "\\\\.\\B:";
constexpr size_t kFloppyBytes = 1474560;
constexpr uint32_t kCylinderBytes = 18432;  // 2 heads x 18 sectors x 512 bytes
constexpr uint32_t kGeometryBytes = 24;
constexpr uint32_t kMediaTypeBufferBytes = 240;  // what the floppy writer offers: 10 records
constexpr uint8_t kCanary = 0xCC;

// The flags the floppy writer opens a drive with.
platform::DeviceOpenFlags DriveFlags(uint32_t access = platform::kGenericRead |
                                                       platform::kGenericWrite) {
  platform::DeviceOpenFlags flags;
  flags.access = access;
  flags.share = platform::kFileShareRead | platform::kFileShareWrite;
  flags.disposition = platform::kOpenExisting;
  flags.flagsAndAttributes = platform::kFileFlagNoBuffering | platform::kFileFlagSequentialScan |
                             platform::kFileAttributeSystem;
  return flags;
}

uint64_t LittleEndianAt(const std::vector<uint8_t>& bytes, size_t offset, size_t size) {
  uint64_t value = 0;
  for (size_t i = 0; i < size; ++i) value |= static_cast<uint64_t>(bytes[offset + i]) << (8 * i);
  return value;
}

struct MediaTypes {
  bool succeeded = false;
  uint32_t returned = 0;
  std::vector<uint8_t> buffer;
};

MediaTypes QueryMediaTypes(LinuxDeviceIo& io, DeviceHandle handle,
                           uint32_t offered = kMediaTypeBufferBytes) {
  MediaTypes result;
  result.buffer.assign(kMediaTypeBufferBytes, kCanary);
  result.returned = 0xFFFFFFFFu;
  result.succeeded = io.Control(handle, kGetMediaTypes, nullptr, 0, result.buffer.data(), offered,
                                &result.returned);
  return result;
}

void ExpectOne144Record(const MediaTypes& types) {
  ASSERT_TRUE(types.succeeded);
  ASSERT_EQ(types.returned, kGeometryBytes);
  EXPECT_EQ(LittleEndianAt(types.buffer, 0, 8), 80u);  // cylinders
  EXPECT_EQ(LittleEndianAt(types.buffer, 8, 4), kMedia144);
  EXPECT_EQ(LittleEndianAt(types.buffer, 12, 4), 2u);   // tracks per cylinder
  EXPECT_EQ(LittleEndianAt(types.buffer, 16, 4), 18u);  // sectors per track
  EXPECT_EQ(LittleEndianAt(types.buffer, 20, 4), 512u);
  for (size_t i = kGeometryBytes; i < types.buffer.size(); ++i) {
    ASSERT_EQ(types.buffer[i], kCanary) << "byte " << i << " written past the record";
  }
}

bool Lock(LinuxDeviceIo& io, DeviceHandle handle) {
  uint32_t returned = 0;
  return io.Control(handle, kLockVolume, nullptr, 0, nullptr, 0, &returned);
}

bool Unlock(LinuxDeviceIo& io, DeviceHandle handle) {
  uint32_t returned = 0;
  return io.Control(handle, kUnlockVolume, nullptr, 0, nullptr, 0, &returned);
}

bool Dismount(LinuxDeviceIo& io, DeviceHandle handle) {
  uint32_t returned = 0;
  return io.Control(handle, kDismountVolume, nullptr, 0, nullptr, 0, &returned);
}

// A blank floppy image of `bytes` bytes; drive A: of a fresh back end leads to it.
class ImageDrive : public ::testing::Test {
 protected:
  void MakeImage(size_t bytes) {
    image_ = dir_.Path("floppy.img");
    testsupport::WriteBytes(image_, std::vector<uint8_t>(bytes, 0));
    io_.MapDrive('A', image_);
  }

  testsupport::TempDir dir_;
  std::string image_;
  LinuxDeviceIo io_;
};

TEST_F(ImageDrive, FloppySizedImageListsOne144MbFormat) {
  MakeImage(kFloppyBytes);
  const DeviceHandle handle = io_.Open(kDriveA, DriveFlags());
  ASSERT_NE(handle, kInvalidDevice);
  ExpectOne144Record(QueryMediaTypes(io_, handle));
  io_.Close(handle);
}

TEST_F(ImageDrive, DriveLetterMatchesInEitherCase) {
  MakeImage(kFloppyBytes);
  const DeviceHandle handle = io_.Open("\\\\.\\a:", DriveFlags());
  ASSERT_NE(handle, kInvalidDevice);
  ExpectOne144Record(QueryMediaTypes(io_, handle));
}

TEST_F(ImageDrive, ImagesOfOtherSizesAreNotOffered) {
  for (const size_t bytes : {kFloppyBytes + 1, kFloppyBytes - 1, size_t{0}}) {
    MakeImage(bytes);
    const DeviceHandle handle = io_.Open(kDriveA, DriveFlags());
    ASSERT_NE(handle, kInvalidDevice) << bytes;
    const MediaTypes types = QueryMediaTypes(io_, handle);
    EXPECT_FALSE(types.succeeded) << bytes;
    EXPECT_EQ(types.returned, 0u) << bytes;
    EXPECT_EQ(types.buffer, std::vector<uint8_t>(kMediaTypeBufferBytes, kCanary)) << bytes;
    io_.Close(handle);
  }
}

TEST_F(ImageDrive, MissingImageDoesNotOpenAndIsNotCreated) {
  const std::string missing = dir_.Path("absent.img");
  io_.MapDrive('A', missing);
  EXPECT_EQ(io_.Open(kDriveA, DriveFlags()), kInvalidDevice);
  EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(ImageDrive, OnlyOpenExistingIsAccepted) {
  MakeImage(kFloppyBytes);
  platform::DeviceOpenFlags flags = DriveFlags();
  flags.disposition = kCreateAlways;
  EXPECT_EQ(io_.Open(kDriveA, flags), kInvalidDevice);
  // Nothing truncated the image.
  EXPECT_EQ(std::filesystem::file_size(image_), kFloppyBytes);
}

TEST_F(ImageDrive, DirectoryIsNoDrive) {
  io_.MapDrive('A', dir_.Path(""));
  EXPECT_EQ(io_.Open(kDriveA, DriveFlags(platform::kGenericRead)), kInvalidDevice);
}

TEST(LinuxDeviceIo, DriveBWithoutFloppyDriverDoesNotOpen) {
  struct stat info;
  if (stat("/dev/fd1", &info) == 0) {
    GTEST_SKIP() << "this machine has /dev/fd1, so drive B: is a real drive";
  }
  LinuxDeviceIo io;
  EXPECT_EQ(io.Open(kDriveB, DriveFlags()), kInvalidDevice);
}

TEST_F(ImageDrive, OnlyDrivesAAndBExist) {
  MakeImage(kFloppyBytes);
  io_.MapDrive('C', image_);
  EXPECT_EQ(io_.Open("\\\\.\\C:", DriveFlags()), kInvalidDevice);
  for (const char* path :
       {"\\\\.\\A", "\\\\.\\A:\\", "\\\\?\\A:", "A:", "\\\\.\\PhysicalDrive0", image_.c_str()}) {
    EXPECT_EQ(io_.Open(path, DriveFlags()), kInvalidDevice) << path;
  }
}

TEST_F(ImageDrive, UnmappedDriveDoesNotOpen) {
  MakeImage(kFloppyBytes);
  io_.MapDrive('a', "");
  EXPECT_EQ(io_.Open(kDriveA, DriveFlags()), kInvalidDevice);
}

TEST(LinuxDeviceIo, Vwin32NeverOpens) {
  LinuxDeviceIo io;
  platform::DeviceOpenFlags flags;
  flags.flagsAndAttributes = platform::kFileFlagWriteThrough | platform::kFileFlagSequentialScan |
                             platform::kFileAttributeSystem;
  EXPECT_EQ(io.Open("\\\\.\\VWIN32", flags), kInvalidDevice);
  EXPECT_EQ(io.Open("\\\\.\\VWIN32", DriveFlags()), kInvalidDevice);
  uint8_t block[64] = {};
  EXPECT_EQ(io.FlatAddress(block), 0u);
}

TEST_F(ImageDrive, CylindersLandOneAfterAnother) {
  MakeImage(kFloppyBytes);
  const DeviceHandle handle = io_.Open(kDriveA, DriveFlags());
  ASSERT_NE(handle, kInvalidDevice);
  std::vector<std::vector<uint8_t>> cylinders;
  for (uint8_t seed = 1; seed <= 3; ++seed) {
    cylinders.push_back(testsupport::Pattern(kCylinderBytes, seed));
    uint32_t written = 0;
    ASSERT_TRUE(io_.Write(handle, cylinders.back().data(), kCylinderBytes, &written));
    EXPECT_EQ(written, kCylinderBytes);
  }
  io_.Close(handle);

  const std::vector<uint8_t> image = testsupport::ReadBytes(image_);
  ASSERT_EQ(image.size(), kFloppyBytes);
  for (size_t i = 0; i < cylinders.size(); ++i) {
    const auto start = image.begin() + static_cast<std::ptrdiff_t>(i * kCylinderBytes);
    EXPECT_TRUE(std::equal(cylinders[i].begin(), cylinders[i].end(), start)) << "cylinder " << i;
  }
  const auto rest = image.begin() + static_cast<std::ptrdiff_t>(3 * kCylinderBytes);
  EXPECT_TRUE(std::all_of(rest, image.end(), [](uint8_t byte) { return byte == 0; }));
}

TEST_F(ImageDrive, AccessFlagsDecideWhatTheHandleMayDo) {
  MakeImage(kFloppyBytes);
  const std::vector<uint8_t> cylinder = testsupport::Pattern(kCylinderBytes, 7);
  uint32_t written = 0;

  const DeviceHandle readOnly = io_.Open(kDriveA, DriveFlags(platform::kGenericRead));
  ASSERT_NE(readOnly, kInvalidDevice);
  EXPECT_FALSE(io_.Write(readOnly, cylinder.data(), kCylinderBytes, &written));
  EXPECT_EQ(written, 0u);
  io_.Close(readOnly);

  const DeviceHandle writeOnly = io_.Open(kDriveA, DriveFlags(platform::kGenericWrite));
  ASSERT_NE(writeOnly, kInvalidDevice);
  EXPECT_TRUE(io_.Write(writeOnly, cylinder.data(), kCylinderBytes, &written));
  EXPECT_EQ(written, kCylinderBytes);
  io_.Close(writeOnly);

  const std::vector<uint8_t> image = testsupport::ReadBytes(image_);
  ASSERT_EQ(image.size(), kFloppyBytes);
  EXPECT_TRUE(std::equal(cylinder.begin(), cylinder.end(), image.begin()));
}

TEST_F(ImageDrive, SecondHandleCannotLockUntilTheFirstUnlocks) {
  MakeImage(kFloppyBytes);
  const DeviceHandle first = io_.Open(kDriveA, DriveFlags());
  const DeviceHandle second = io_.Open(kDriveA, DriveFlags());
  ASSERT_NE(first, kInvalidDevice);
  ASSERT_NE(second, kInvalidDevice);
  EXPECT_NE(first, second);

  EXPECT_FALSE(Unlock(io_, first)) << "nothing was locked yet";
  ASSERT_TRUE(Lock(io_, first));
  EXPECT_FALSE(Lock(io_, second));
  ASSERT_TRUE(Unlock(io_, first));
  EXPECT_TRUE(Lock(io_, second));
  EXPECT_FALSE(Lock(io_, first));
  EXPECT_TRUE(Unlock(io_, second));
}

TEST_F(ImageDrive, SecondInstanceCannotLockUntilTheFirstUnlocks) {
  MakeImage(kFloppyBytes);
  LinuxDeviceIo other;
  other.MapDrive('A', image_);
  const DeviceHandle mine = io_.Open(kDriveA, DriveFlags());
  const DeviceHandle theirs = other.Open(kDriveA, DriveFlags());
  ASSERT_NE(mine, kInvalidDevice);
  ASSERT_NE(theirs, kInvalidDevice);

  ASSERT_TRUE(Lock(io_, mine));
  EXPECT_FALSE(Lock(other, theirs));
  ASSERT_TRUE(Unlock(io_, mine));
  EXPECT_TRUE(Lock(other, theirs));
}

TEST_F(ImageDrive, ClosingOrDestroyingReleasesTheLock) {
  MakeImage(kFloppyBytes);
  const DeviceHandle first = io_.Open(kDriveA, DriveFlags());
  ASSERT_TRUE(Lock(io_, first));
  io_.Close(first);
  const DeviceHandle second = io_.Open(kDriveA, DriveFlags());
  EXPECT_TRUE(Lock(io_, second));
  io_.Close(second);

  auto holder = std::make_unique<LinuxDeviceIo>();
  holder->MapDrive('A', image_);
  ASSERT_TRUE(Lock(*holder, holder->Open(kDriveA, DriveFlags())));
  const DeviceHandle waiting = io_.Open(kDriveA, DriveFlags());
  EXPECT_FALSE(Lock(io_, waiting));
  holder.reset();
  EXPECT_TRUE(Lock(io_, waiting));
}

// A monitor thread closes the last job's handle while the dialog's thread opens the next
// one. Every handle must stay distinct and usable; ThreadSanitizer, which the test command
// runs on these tests, also catches any unguarded access to the table of handles.
TEST_F(ImageDrive, HandlesOpenAndCloseFromTwoThreadsAtOnce) {
  MakeImage(kFloppyBytes);
  constexpr int kRounds = 300;
  struct Round {
    DeviceHandle handle;
    bool listed;
  };
  std::vector<Round> rounds[2];
  const auto openQueryClose = [this](std::vector<Round>* mine) {
    for (int i = 0; i < kRounds; ++i) {
      const DeviceHandle handle = io_.Open(kDriveA, DriveFlags());
      mine->push_back({handle, QueryMediaTypes(io_, handle).succeeded});
      io_.Close(handle);
    }
  };
  std::thread monitor(openQueryClose, &rounds[1]);
  openQueryClose(&rounds[0]);
  monitor.join();

  std::set<DeviceHandle> distinct;
  for (const auto& thread : rounds) {
    for (const Round& round : thread) {
      ASSERT_NE(round.handle, kInvalidDevice);
      EXPECT_TRUE(round.listed) << "handle " << round.handle;
      distinct.insert(round.handle);
    }
  }
  EXPECT_EQ(distinct.size(), 2u * kRounds);
}

TEST_F(ImageDrive, DismountMakesWrittenDataVisibleToOthers) {
  MakeImage(kFloppyBytes);
  const DeviceHandle handle = io_.Open(kDriveA, DriveFlags());
  ASSERT_TRUE(Lock(io_, handle));
  const std::vector<uint8_t> cylinder = testsupport::Pattern(kCylinderBytes, 9);
  uint32_t written = 0;
  ASSERT_TRUE(io_.Write(handle, cylinder.data(), kCylinderBytes, &written));
  EXPECT_TRUE(Dismount(io_, handle));
  // Read through a separate descriptor while the handle stays open.
  const std::vector<uint8_t> image = testsupport::ReadBytes(image_);
  ASSERT_EQ(image.size(), kFloppyBytes);
  EXPECT_TRUE(std::equal(cylinder.begin(), cylinder.end(), image.begin()));
}

TEST_F(ImageDrive, UnknownHandlesFailEverywhere) {
  MakeImage(kFloppyBytes);
  const DeviceHandle closed = io_.Open(kDriveA, DriveFlags());
  ASSERT_NE(closed, kInvalidDevice);
  io_.Close(closed);
  const std::vector<uint8_t> cylinder = testsupport::Pattern(kCylinderBytes, 3);
  for (const DeviceHandle handle : {kInvalidDevice, DeviceHandle{0}, closed, closed + 1000}) {
    const MediaTypes types = QueryMediaTypes(io_, handle);
    EXPECT_FALSE(types.succeeded) << handle;
    EXPECT_EQ(types.buffer, std::vector<uint8_t>(kMediaTypeBufferBytes, kCanary)) << handle;
    EXPECT_FALSE(Lock(io_, handle)) << handle;
    EXPECT_FALSE(Unlock(io_, handle)) << handle;
    EXPECT_FALSE(Dismount(io_, handle)) << handle;
    uint32_t written = 1;
    EXPECT_FALSE(io_.Write(handle, cylinder.data(), kCylinderBytes, &written)) << handle;
    EXPECT_EQ(written, 0u) << handle;
    io_.Close(handle);
  }
  // A handle of another instance is unknown here, even with the same number.
  LinuxDeviceIo other;
  other.MapDrive('A', image_);
  const DeviceHandle foreign = other.Open(kDriveA, DriveFlags());
  ASSERT_NE(foreign, kInvalidDevice);
  EXPECT_FALSE(QueryMediaTypes(io_, foreign).succeeded);
  EXPECT_EQ(std::vector<uint8_t>(kFloppyBytes, 0), testsupport::ReadBytes(image_));
}

TEST_F(ImageDrive, UnknownControlCodeFails) {
  MakeImage(kFloppyBytes);
  const DeviceHandle handle = io_.Open(kDriveA, DriveFlags());
  uint32_t returned = 0;
  uint8_t block[28] = {};
  for (const uint32_t code : {1u, 3u, 6u, 0x00070000u}) {
    EXPECT_FALSE(io_.Control(handle, code, block, sizeof block, block, sizeof block, &returned))
        << code;
  }
}

TEST_F(ImageDrive, MediaTypesNeedRoomForTheWholeRecord) {
  MakeImage(kFloppyBytes);
  const DeviceHandle handle = io_.Open(kDriveA, DriveFlags());
  ASSERT_NE(handle, kInvalidDevice);
  const MediaTypes tooSmall = QueryMediaTypes(io_, handle, kGeometryBytes - 1);
  EXPECT_FALSE(tooSmall.succeeded);
  EXPECT_EQ(tooSmall.returned, 0u);
  EXPECT_EQ(tooSmall.buffer, std::vector<uint8_t>(kMediaTypeBufferBytes, kCanary));
  ExpectOne144Record(QueryMediaTypes(io_, handle, kGeometryBytes));
  uint32_t returned = 0;
  EXPECT_FALSE(
      io_.Control(handle, kGetMediaTypes, nullptr, 0, nullptr, kMediaTypeBufferBytes, &returned));
}

TEST(MountInfo, DeviceIsTheThirdFieldOfALine) {
  const std::string text =
      "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
      "36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root rw,errors=continue\n"
      "40 22 7:12 / /media/floppy rw - vfat /dev/loop12 rw\n";
  EXPECT_TRUE(platform::MountInfoListsDevice(text, 98, 0));
  EXPECT_TRUE(platform::MountInfoListsDevice(text, 7, 12));
  EXPECT_TRUE(platform::MountInfoListsDevice(text, 0, 21));
  EXPECT_FALSE(platform::MountInfoListsDevice(text, 7, 1));
  EXPECT_FALSE(platform::MountInfoListsDevice(text, 9, 80));
  EXPECT_FALSE(platform::MountInfoListsDevice(text, 98, 1));
  // Numbers elsewhere on a line are no device: mount IDs, parent IDs, other fields.
  EXPECT_FALSE(platform::MountInfoListsDevice(text, 22, 27));
  EXPECT_FALSE(platform::MountInfoListsDevice("36 35\n", 36, 35));
  EXPECT_FALSE(platform::MountInfoListsDevice("", 0, 21));
}

TEST(MountInfo, ThisMachinesProcIsListed) {
  struct stat info;
  if (stat("/proc/self/mountinfo", &info) != 0) GTEST_SKIP() << "no /proc here";
  std::ifstream in("/proc/self/mountinfo");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(platform::MountInfoListsDevice(text, major(info.st_dev), minor(info.st_dev)));
}

// Loop devices: attaching and mounting them needs root and a kernel that allows it.

std::string CommandOutput(const std::string& command) {
  std::string output;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return output;
  char chunk[256];
  while (std::fgets(chunk, sizeof chunk, pipe.get()) != nullptr) output += chunk;
  while (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

bool RunQuietly(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// An image attached to a free loop device, detached again at the end.
class LoopDevice {
 public:
  explicit LoopDevice(const std::string& image) {
    if (geteuid() == 0) device_ = CommandOutput("losetup -f --show '" + image + "' 2>/dev/null");
  }
  ~LoopDevice() {
    if (!device_.empty()) RunQuietly("losetup -d '" + device_ + "'");
  }
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;
  const std::string& Device() const { return device_; }

 private:
  std::string device_;
};

// A mount of a loop device, unmounted at the end.
class Mount {
 public:
  Mount(const std::string& device, const std::string& type, const std::string& point)
      : point_(point) {
    std::filesystem::create_directories(point);
    mounted_ = RunQuietly("mount -t " + type + " '" + device + "' '" + point + "'");
  }
  ~Mount() {
    if (mounted_) RunQuietly("umount '" + point_ + "'");
  }
  Mount(const Mount&) = delete;
  Mount& operator=(const Mount&) = delete;
  bool Mounted() const { return mounted_; }

 private:
  std::string point_;
  bool mounted_ = false;
};

TEST_F(ImageDrive, LoopDeviceIsA144MbDriveWrittenUnderAnExclusiveClaim) {
  MakeImage(kFloppyBytes);
  LoopDevice loop(image_);
  if (loop.Device().empty()) GTEST_SKIP() << "no loop device: needs root and losetup";
  io_.MapDrive('A', loop.Device());

  const DeviceHandle handle = io_.Open(kDriveA, DriveFlags());
  ASSERT_NE(handle, kInvalidDevice);
  ExpectOne144Record(QueryMediaTypes(io_, handle));
  ASSERT_TRUE(Lock(io_, handle));
  const DeviceHandle second = io_.Open(kDriveA, DriveFlags());
  ASSERT_NE(second, kInvalidDevice);
  EXPECT_FALSE(Lock(io_, second));
  // While locked nobody else gets the device exclusively, which is what mounting needs.
  const int exclusive = open(loop.Device().c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
  EXPECT_LT(exclusive, 0);
  EXPECT_EQ(errno, EBUSY);
  if (exclusive >= 0) close(exclusive);

  EXPECT_TRUE(Dismount(io_, handle));
  std::vector<std::vector<uint8_t>> cylinders;
  for (uint8_t seed = 11; seed <= 13; ++seed) {
    cylinders.push_back(testsupport::Pattern(kCylinderBytes, seed));
    uint32_t written = 0;
    ASSERT_TRUE(io_.Write(handle, cylinders.back().data(), kCylinderBytes, &written));
    EXPECT_EQ(written, kCylinderBytes);
  }
  // Flushing pushes the loop device's blocks into the image file behind it.
  EXPECT_TRUE(Dismount(io_, handle));
  const std::vector<uint8_t> image = testsupport::ReadBytes(image_);
  ASSERT_EQ(image.size(), kFloppyBytes);
  for (size_t i = 0; i < cylinders.size(); ++i) {
    const auto start = image.begin() + static_cast<std::ptrdiff_t>(i * kCylinderBytes);
    EXPECT_TRUE(std::equal(cylinders[i].begin(), cylinders[i].end(), start)) << "cylinder " << i;
  }

  ASSERT_TRUE(Unlock(io_, handle));
  const int afterUnlock = open(loop.Device().c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
  EXPECT_GE(afterUnlock, 0) << std::strerror(errno);
  if (afterUnlock >= 0) close(afterUnlock);
  EXPECT_TRUE(Lock(io_, second));
  // Closing a locked handle gives up the exclusive claim too.
  io_.Close(second);
  const int afterClose = open(loop.Device().c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
  EXPECT_GE(afterClose, 0) << std::strerror(errno);
  if (afterClose >= 0) close(afterClose);
}

TEST_F(ImageDrive, DismountPushesCachedBlocksOfALoopDeviceIntoItsImage) {
  MakeImage(kFloppyBytes);
  LoopDevice loop(image_);
  if (loop.Device().empty()) GTEST_SKIP() << "no loop device: needs root and losetup";
  io_.MapDrive('A', loop.Device());
  // Opened with buffering, so the blocks wait in the loop device's cache until flushed.
  platform::DeviceOpenFlags buffered = DriveFlags();
  buffered.flagsAndAttributes = 0;
  const DeviceHandle handle = io_.Open(kDriveA, buffered);
  ASSERT_NE(handle, kInvalidDevice);
  ASSERT_TRUE(Lock(io_, handle));
  const std::vector<uint8_t> cylinder = testsupport::Pattern(kCylinderBytes, 21);
  uint32_t written = 0;
  ASSERT_TRUE(io_.Write(handle, cylinder.data(), kCylinderBytes, &written));
  ASSERT_TRUE(Dismount(io_, handle));
  const std::vector<uint8_t> image = testsupport::ReadBytes(image_);
  ASSERT_EQ(image.size(), kFloppyBytes);
  EXPECT_TRUE(std::equal(cylinder.begin(), cylinder.end(), image.begin()));
}

TEST_F(ImageDrive, MountedDriveRefusesTheLock) {
  MakeImage(kFloppyBytes);
  // FAT is what a floppy carries; kernels built without vfat get ext2 instead, since only
  // the mount itself matters here.
  std::string type;
  if (RunQuietly("mkfs.fat '" + image_ + "'")) type = "vfat";
  LoopDevice loop(image_);
  if (loop.Device().empty()) GTEST_SKIP() << "no loop device: needs root and losetup";
  auto mount = std::make_unique<Mount>(loop.Device(), type, dir_.Path("mnt"));
  if (!mount->Mounted()) {
    mount.reset();
    if (!RunQuietly("mkfs.ext2 -F -q '" + loop.Device() + "'")) GTEST_SKIP() << "no mkfs.ext2";
    mount = std::make_unique<Mount>(loop.Device(), "ext2", dir_.Path("mnt"));
  }
  if (!mount->Mounted()) GTEST_SKIP() << "this kernel mounts neither vfat nor ext2";

  // Both the loop device itself and the image file behind it are in use.
  for (const std::string& path : {loop.Device(), image_}) {
    io_.MapDrive('A', path);
    const DeviceHandle handle = io_.Open(kDriveA, DriveFlags());
    ASSERT_NE(handle, kInvalidDevice) << path;
    EXPECT_FALSE(Lock(io_, handle)) << path << " is mounted";
    io_.Close(handle);
  }

  mount.reset();
  for (const std::string& path : {loop.Device(), image_}) {
    io_.MapDrive('A', path);
    const DeviceHandle handle = io_.Open(kDriveA, DriveFlags());
    ASSERT_NE(handle, kInvalidDevice) << path;
    EXPECT_TRUE(Lock(io_, handle)) << path << " is no longer mounted";
    io_.Close(handle);
  }
}

}  // namespace
