// The Linux raw-drive back end on real image files, and on real loop devices when the
// machine lets the test attach and mount them.
#include "platform/linux/LinuxDeviceIo.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <thread>

#include "platform/File.h"
#include "tests/support/TestFiles.h"

namespace {

using platform::DeviceHandle;
using platform::kInvalidDevice;
using platform::LinuxDeviceIo;
using Bytes = std::vector<uint8_t>;

// The Windows control codes, written out here independently of the code under test.
constexpr uint32_t kGetMediaTypes = 0x00070C00u, kLock = 0x00090018u, kUnlock = 0x0009001Cu,
                   kDismount = 0x00090020u;
constexpr char kDriveA[] = "\\\\.\\A:";
constexpr size_t kFloppyBytes = 1474560;
constexpr uint32_t kCylinderBytes = 18432;  // 2 heads x 18 sectors x 512 bytes
constexpr uint32_t kOfferedBytes = 240;     // what the floppy writer offers: 10 records
// One DISK_GEOMETRY: 80 cylinders (8 bytes), media type 2 (3.5" 1.44 MB), 2 tracks per
// cylinder, 18 sectors per track, 512 bytes per sector.
const Bytes k144Record = {80, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 18, 0, 0, 0, 0, 2, 0, 0};

// The flags the floppy writer opens a drive with.
platform::DeviceOpenFlags DriveFlags(uint32_t disposition = platform::kOpenExisting) {
  platform::DeviceOpenFlags flags;
  flags.access = platform::kGenericRead | platform::kGenericWrite;
  flags.share = platform::kFileShareRead | platform::kFileShareWrite;
  flags.disposition = disposition;
  flags.flagsAndAttributes = platform::kFileFlagNoBuffering | platform::kFileFlagSequentialScan |
                             platform::kFileAttributeSystem;
  return flags;
}

bool Control(LinuxDeviceIo& io, DeviceHandle handle, uint32_t code) {
  uint32_t returned = 0;
  uint8_t block[28] = {};
  return io.Control(handle, code, block, sizeof block, block, sizeof block, &returned);
}

// The media types a handle reports into a buffer of canaries, of which `offered` bytes are
// offered: the bytes returned, or nothing when the call fails. Either way nothing may be
// written past what was returned.
Bytes MediaTypes(LinuxDeviceIo& io, DeviceHandle handle, uint32_t offered = kOfferedBytes) {
  Bytes buffer(kOfferedBytes, 0xCC);
  uint32_t returned = 0xFFFFFFFFu;
  const bool succeeded =
      io.Control(handle, kGetMediaTypes, nullptr, 0, buffer.data(), offered, &returned);
  EXPECT_TRUE(succeeded || returned == 0) << returned << " bytes said returned by a failure";
  const size_t reply = succeeded ? std::min<size_t>(returned, buffer.size()) : 0;
  EXPECT_EQ(Bytes(buffer.begin() + static_cast<long>(reply), buffer.end()),
            Bytes(buffer.size() - reply, 0xCC));
  return Bytes(buffer.begin(), buffer.begin() + static_cast<long>(reply));
}

bool WriteAll(LinuxDeviceIo& io, DeviceHandle handle, const Bytes& data) {
  uint32_t written = 0xFFFFFFFFu;
  const bool succeeded =
      io.Write(handle, data.data(), static_cast<uint32_t>(data.size()), &written);
  EXPECT_EQ(written, succeeded ? data.size() : 0u);
  return succeeded;
}

// A floppy image that drive A: of a fresh back end leads to.
class ImageDrive : public ::testing::Test {
 protected:
  void MakeImage(size_t bytes) {
    testsupport::WriteBytes(image_, Bytes(bytes, 0));
    io_.MapDrive('A', image_);
  }
  DeviceHandle Open(const platform::DeviceOpenFlags& flags = DriveFlags()) {
    return io_.Open(kDriveA, flags);
  }
  // Writes three cylinders of patterns from `seed` on, then dismounts; the image must
  // hold them.
  void WriteThreeCylinders(DeviceHandle handle, uint8_t seed) {
    Bytes image(kFloppyBytes, 0);
    for (uint8_t i = 0; i < 3; ++i) {
      const Bytes cylinder = testsupport::Pattern(kCylinderBytes, static_cast<uint8_t>(seed + i));
      EXPECT_TRUE(WriteAll(io_, handle, cylinder));
      std::copy(cylinder.begin(), cylinder.end(), image.begin() + i * kCylinderBytes);
    }
    EXPECT_TRUE(Control(io_, handle, kDismount));
    EXPECT_TRUE(testsupport::ReadBytes(image_) == image) << "after Dismount";
  }

  testsupport::TempDir dir_;
  std::string image_ = dir_.Path("floppy.img");
  LinuxDeviceIo io_;
};

// The 1.44 MB format is listed only for an image of exactly that size, into a buffer that
// holds a whole record; only an existing image mapped to A: or B: opens, and only as an
// existing file.
TEST_F(ImageDrive, OnlyAnExistingFloppySizedImageOnAOrBListsThe144MbFormat) {
  const struct {
    size_t imageBytes;
    const char* path;
    uint32_t offered;
    bool listed;
  } cases[] = {{0, kDriveA, 240, false},
               {kFloppyBytes + 1, kDriveA, 240, false},
               {kFloppyBytes - 1, kDriveA, 240, false},
               {kFloppyBytes, kDriveA, 23, false},
               {kFloppyBytes, "\\\\.\\a:", 24, true},
               {kFloppyBytes, kDriveA, kOfferedBytes, true}};
  for (const auto& c : cases) {
    MakeImage(c.imageBytes);
    const DeviceHandle handle = io_.Open(c.path, DriveFlags());
    ASSERT_NE(handle, kInvalidDevice) << c.path;
    EXPECT_EQ(MediaTypes(io_, handle, c.offered), c.listed ? k144Record : Bytes())
        << c.imageBytes << " bytes, " << c.offered << " offered";
    uint32_t returned = 0;
    EXPECT_FALSE(io_.Control(handle, kGetMediaTypes, nullptr, 0, nullptr, 240, &returned));
    io_.Close(handle);
  }
  io_.MapDrive('C', image_);
  io_.MapDrive('B', dir_.Path(""));
  platform::DeviceOpenFlags readOnly = DriveFlags();
  readOnly.access = platform::kGenericRead;  // a directory opens for reading
  for (const std::string path :
       {"\\\\.\\A", "\\\\.\\A:\\", "\\\\?\\A:", "A:", "\\\\.\\C:", "\\\\.\\B:",
        "\\\\.\\PhysicalDrive0", "\\\\.\\VWIN32", image_.c_str()}) {
    EXPECT_EQ(io_.Open(path, readOnly), kInvalidDevice) << path;
  }
  EXPECT_EQ(Open(DriveFlags(2)), kInvalidDevice) << "CREATE_ALWAYS";
  EXPECT_EQ(std::filesystem::file_size(image_), kFloppyBytes) << "CREATE_ALWAYS truncated it";
  io_.MapDrive('a', "");
  EXPECT_EQ(Open(), kInvalidDevice) << "unmapped";
  io_.MapDrive('A', dir_.Path("absent.img"));
  EXPECT_EQ(Open(), kInvalidDevice);
  EXPECT_FALSE(std::filesystem::exists(dir_.Path("absent.img")));
}

// One lock at a time across handles and instances, until Unlock, Close or destruction;
// Dismount shows the writes to another reader while the handle is open.
TEST_F(ImageDrive, OneLockAtATimeAcrossHandlesAndInstances) {
  MakeImage(kFloppyBytes);
  const DeviceHandle first = Open();
  const DeviceHandle second = Open();
  ASSERT_NE(first, kInvalidDevice);
  ASSERT_NE(second, first);
  EXPECT_FALSE(Control(io_, first, kUnlock)) << "nothing was locked yet";
  ASSERT_TRUE(Control(io_, first, kLock));
  EXPECT_FALSE(Control(io_, second, kLock));
  WriteThreeCylinders(first, 1);
  ASSERT_TRUE(Control(io_, first, kUnlock));
  EXPECT_TRUE(Control(io_, second, kLock));
  EXPECT_FALSE(Control(io_, first, kLock));
  io_.Close(second);  // closing a locked handle unlocks
  EXPECT_TRUE(Control(io_, first, kLock));

  auto other = std::make_unique<LinuxDeviceIo>();
  other->MapDrive('A', image_);
  const DeviceHandle theirs = other->Open(kDriveA, DriveFlags());
  EXPECT_FALSE(Control(*other, theirs, kLock));
  ASSERT_TRUE(Control(io_, first, kUnlock));
  ASSERT_TRUE(Control(*other, theirs, kLock));
  EXPECT_FALSE(Control(io_, first, kLock));
  other.reset();  // a destroyed back end gives up its locks
  EXPECT_TRUE(Control(io_, first, kLock));
}

// A monitor thread closes the last job's handle while the dialog's thread opens the next
// one. Every handle must stay distinct and usable; ThreadSanitizer, which the test command
// runs on these tests, also catches any unguarded access to the table of handles.
TEST_F(ImageDrive, HandlesOpenAndCloseFromTwoThreadsAtOnce) {
  MakeImage(kFloppyBytes);
  constexpr int kRounds = 300;
  std::vector<DeviceHandle> handles[2];
  const auto openQueryClose = [this](std::vector<DeviceHandle>* mine) {
    for (int i = 0; i < kRounds; ++i) {
      const DeviceHandle handle = Open();
      if (MediaTypes(io_, handle) != k144Record) ADD_FAILURE() << "handle " << handle;
      mine->push_back(handle);
      io_.Close(handle);
    }
  };
  std::thread monitor(openQueryClose, &handles[1]);
  openQueryClose(&handles[0]);
  monitor.join();
  std::set<DeviceHandle> distinct(handles[0].begin(), handles[0].end());
  distinct.insert(handles[1].begin(), handles[1].end());
  EXPECT_EQ(distinct.size(), 2u * kRounds);
  EXPECT_EQ(distinct.count(kInvalidDevice), 0u);
}

// Closed, invalid, never issued and another instance's handles, and unknown control codes.
TEST_F(ImageDrive, UnknownHandlesAndCodesFailEverywhere) {
  MakeImage(kFloppyBytes);
  const DeviceHandle closed = Open();
  io_.Close(closed);
  LinuxDeviceIo other;
  other.MapDrive('A', image_);
  const DeviceHandle foreign = other.Open(kDriveA, DriveFlags());
  for (const DeviceHandle handle :
       {kInvalidDevice, DeviceHandle{0}, closed, closed + 1000, foreign}) {
    EXPECT_EQ(MediaTypes(io_, handle), Bytes()) << handle;
    for (const uint32_t code : {kLock, kUnlock, kDismount})
      EXPECT_FALSE(Control(io_, handle, code)) << handle << " " << code;
    EXPECT_FALSE(WriteAll(io_, handle, testsupport::Pattern(kCylinderBytes, 3))) << handle;
    io_.Close(handle);
  }
  EXPECT_EQ(testsupport::ReadBytes(image_), Bytes(kFloppyBytes, 0));
  const DeviceHandle handle = Open();
  for (const uint32_t code : {1u, 3u, 6u, 0x00070000u}) EXPECT_FALSE(Control(io_, handle, code));
}

// Only the third field of a line names a device, not mount IDs, parent IDs or others.
TEST(MountInfo, DeviceIsTheThirdFieldOfALine) {
  const std::string text =
      "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
      "36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root rw,errors=continue\n"
      "40 22 7:12 / /media/floppy rw - vfat /dev/loop12 rw\n";
  const struct {
    std::string text;
    unsigned major, minor;
    bool listed;
  } cases[] = {{text, 98, 0, true},   {text, 7, 12, true},        {text, 0, 21, true},
               {text, 7, 1, false},   {text, 9, 80, false},       {text, 98, 1, false},
               {text, 22, 27, false}, {"36 35\n", 36, 35, false}, {"", 0, 21, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(platform::MountInfoListsDevice(c.text, c.major, c.minor), c.listed)
        << c.major << ":" << c.minor;
  }
}

bool RunQuietly(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

bool OpensExclusively(const std::string& device) {
  const int fd = open(device.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

// A blank floppy image attached to a free loop device that drive A: leads to; attaching
// and mounting it need root and a kernel that allows them.
class LoopDrive : public ImageDrive {
 protected:
  void SetUp() override {
    MakeImage(kFloppyBytes);
    FILE* pipe =
        geteuid() != 0 ? nullptr : popen(("losetup -f --show '" + image_ + "'").c_str(), "r");
    char line[256] = {};
    if (pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr) {
      loop_.assign(line, std::strcspn(line, "\n"));
    }
    if (pipe != nullptr) pclose(pipe);
    if (loop_.empty()) GTEST_SKIP() << "no loop device: needs root and losetup";
    io_.MapDrive('A', loop_);
  }
  ~LoopDrive() override {
    if (!mountPoint_.empty()) RunQuietly("umount '" + mountPoint_ + "'");
    if (!loop_.empty()) RunQuietly("losetup -d '" + loop_ + "'");
  }

  std::string loop_;
  std::string mountPoint_;
};

// Locked, the loop device is a 1.44 MB drive that nobody else may claim exclusively (as a
// mount would); writes opened with buffering wait in its cache until Dismount pushes them
// into the image behind it; Unlock and Close give up the claim.
TEST_F(LoopDrive, IsA144MbDriveWrittenUnderAnExclusiveClaim) {
  platform::DeviceOpenFlags buffered = DriveFlags();
  buffered.flagsAndAttributes = 0;
  const DeviceHandle handle = Open(buffered);
  const DeviceHandle second = Open();
  ASSERT_NE(handle, kInvalidDevice);
  ASSERT_NE(second, kInvalidDevice);
  EXPECT_EQ(MediaTypes(io_, handle), k144Record);
  ASSERT_TRUE(Control(io_, handle, kLock));
  EXPECT_FALSE(Control(io_, second, kLock));
  EXPECT_FALSE(OpensExclusively(loop_));
  EXPECT_EQ(errno, EBUSY);
  WriteThreeCylinders(handle, 11);
  ASSERT_TRUE(Control(io_, handle, kUnlock));
  EXPECT_TRUE(OpensExclusively(loop_));
  EXPECT_TRUE(Control(io_, second, kLock));
  io_.Close(second);
  EXPECT_TRUE(OpensExclusively(loop_));
}

// Both the loop device and the image file behind it count as in use while it is mounted.
TEST_F(LoopDrive, MountedDriveRefusesTheLock) {
  const std::string point = dir_.Path("mnt");
  std::filesystem::create_directories(point);
  // FAT is what a floppy carries; kernels without vfat get ext2, since only the mount matters.
  for (const std::string mkfs : {"mkfs.fat", "mkfs.ext2 -F -q"}) {
    if (mountPoint_.empty() && RunQuietly(mkfs + " '" + loop_ + "'") &&
        RunQuietly("mount '" + loop_ + "' '" + point + "'")) {
      mountPoint_ = point;
    }
  }
  if (mountPoint_.empty()) GTEST_SKIP() << "this kernel mounts neither vfat nor ext2";
  for (const bool mounted : {true, false}) {
    ASSERT_TRUE(mounted || RunQuietly("umount '" + point + "'"));
    for (const std::string& path : {loop_, image_}) {
      io_.MapDrive('A', path);
      const DeviceHandle handle = Open();
      ASSERT_NE(handle, kInvalidDevice) << path;
      EXPECT_NE(Control(io_, handle, kLock), mounted) << path << " mounted: " << mounted;
      io_.Close(handle);
    }
  }
}

}  // namespace
