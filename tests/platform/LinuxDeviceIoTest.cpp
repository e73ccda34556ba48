// The Linux raw-drive back end on real image files, and on real loop devices where allowed.
#include "platform/linux/LinuxDeviceIo.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <thread>
#include <tuple>

#include "platform/File.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace platform;
using Bytes = std::vector<uint8_t>;

// The Windows control codes, written out independently of the code under test.
constexpr uint32_t kGetMediaTypes = 0x00070C00u, kLock = 0x00090018u, kUnlock = 0x0009001Cu,
                   kDismount = 0x00090020u;
constexpr char kDriveA[] = "\\\\.\\A:";
constexpr size_t kFloppyBytes = 1474560, kCylinderBytes = 18432;

// One DISK_GEOMETRY: 80 cylinders, media type 2 (3.5" 1.44 MB), 2 heads, 18 x 512 bytes.
const Bytes k144Record = {80, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 18, 0, 0, 0, 0, 2, 0, 0};
const DeviceOpenFlags kDriveFlags = {
    kGenericRead | kGenericWrite, kFileShareRead | kFileShareWrite, kOpenExisting,
    kFileFlagNoBuffering | kFileFlagSequentialScan | kFileAttributeSystem};
bool Control(LinuxDeviceIo& io, DeviceHandle handle, uint32_t code) {
  uint32_t returned = 0;
  uint8_t block[28] = {};
  return io.Control(handle, code, block, sizeof block, block, sizeof block, &returned);
}

// The media types put in `offered` of 240 canaries; nothing past the reply is touched.
Bytes MediaTypes(LinuxDeviceIo& io, DeviceHandle handle, uint32_t offered = 240) {
  Bytes buffer(240, 0xCC);
  uint32_t returned = 0xFFFFFFFFu;
  const bool succeeded =
      io.Control(handle, kGetMediaTypes, nullptr, 0, buffer.data(), offered, &returned);
  const long reply = succeeded ? std::min<long>(returned, 240) : 0;
  EXPECT_TRUE(succeeded || returned == 0) << returned << " bytes said returned by a failure";
  EXPECT_EQ(Bytes(buffer.begin() + reply, buffer.end()), Bytes(240 - reply, 0xCC));
  return Bytes(buffer.begin(), buffer.begin() + reply);
}

bool WriteAll(LinuxDeviceIo& io, DeviceHandle handle, const Bytes& data) {
  uint32_t written = 0xFFFFFFFFu;
  const bool succeeded = io.Write(handle, data.data(), uint32_t(data.size()), &written);
  EXPECT_EQ(written, succeeded ? data.size() : 0u);
  return succeeded;
}

// A floppy image that drive A: of a fresh back end leads to.
class ImageDrive : public ::testing::Test {
 protected:
  void SetUp() override { MakeImage(kFloppyBytes); }
  void MakeImage(size_t bytes) {
    testsupport::WriteBytes(image_, Bytes(bytes, 0));
    io_.MapDrive('A', image_);
  }
  DeviceHandle Open(const DeviceOpenFlags& flags = kDriveFlags) { return io_.Open(kDriveA, flags); }
  // Three cylinders of patterns from `seed` on, then Dismount: the image must hold them.
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

// 1.44 MB is listed only for an exact-size image and a whole record; only mapped files open.
TEST_F(ImageDrive, OnlyAnExistingFloppySizedImageOnAOrBListsThe144MbFormat) {
  using Case = std::tuple<size_t, const char*, uint32_t>;  // image bytes, path, bytes offered
  for (const auto& [bytes, path, offered] :
       {Case{0, kDriveA, 240}, Case{kFloppyBytes + 1, kDriveA, 240},
        Case{kFloppyBytes - 1, kDriveA, 240}, Case{kFloppyBytes, kDriveA, 23},
        Case{kFloppyBytes, "\\\\.\\a:", 24}, Case{kFloppyBytes, kDriveA, 240}}) {
    MakeImage(bytes);
    const DeviceHandle handle = io_.Open(path, kDriveFlags);
    ASSERT_NE(handle, kInvalidDevice) << path;
    const bool listed = bytes == kFloppyBytes && offered >= 24;
    EXPECT_EQ(MediaTypes(io_, handle, offered), listed ? k144Record : Bytes())
        << bytes << " bytes, " << offered << " offered";
    io_.Close(handle);
  }
  io_.MapDrive('b', "/dev/null");  // neither an image nor a block device
  EXPECT_EQ(io_.Open("\\\\.\\B:", kDriveFlags), kInvalidDevice);
  io_.MapDrive('a', "");
  EXPECT_EQ(Open(), kInvalidDevice) << "unmapped";
  io_.MapDrive('A', dir_.Path("absent.img"));
  EXPECT_EQ(Open(), kInvalidDevice);
  EXPECT_FALSE(std::filesystem::exists(dir_.Path("absent.img")));
}

// Two threads open and close at once: handles stay distinct and usable (TSan runs these).
TEST_F(ImageDrive, HandlesOpenFromTwoThreadsAndLockOneAtATime) {
  std::vector<DeviceHandle> handles[2];
  const auto openQueryClose = [this](std::vector<DeviceHandle>* mine) {
    for (int i = 0; i < 300; ++i) {
      mine->push_back(Open());
      if (MediaTypes(io_, mine->back()) != k144Record) ADD_FAILURE() << mine->back();
      io_.Close(mine->back());
    }
  };
  std::thread monitor(openQueryClose, &handles[1]);
  openQueryClose(&handles[0]);
  monitor.join();
  std::set<DeviceHandle> distinct(handles[0].begin(), handles[0].end());
  distinct.insert(handles[1].begin(), handles[1].end());
  EXPECT_EQ(distinct.size(), 600u);
  // One lock across handles and instances until Unlock/Close/destruction; bad handles fail.
  const DeviceHandle first = Open(), second = Open();
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
  const Bytes image = testsupport::ReadBytes(image_);
  for (const DeviceHandle handle : {kInvalidDevice, DeviceHandle{0}, second, second + 1000}) {
    EXPECT_EQ(MediaTypes(io_, handle), Bytes()) << handle;
    for (const uint32_t code : {kLock, kUnlock, kDismount})
      EXPECT_FALSE(Control(io_, handle, code)) << handle << " " << code;
    EXPECT_FALSE(WriteAll(io_, handle, testsupport::Pattern(kCylinderBytes, 3))) << handle;
    io_.Close(handle);
  }
  EXPECT_TRUE(testsupport::ReadBytes(image_) == image);
  auto other = std::make_unique<LinuxDeviceIo>();
  other->MapDrive('A', image_);
  const DeviceHandle theirs = other->Open(kDriveA, kDriveFlags);
  EXPECT_FALSE(Control(*other, theirs, kLock));
  ASSERT_TRUE(Control(io_, first, kUnlock));
  ASSERT_TRUE(Control(*other, theirs, kLock));
  EXPECT_FALSE(Control(io_, first, kLock));
  other.reset();  // a destroyed back end gives up its locks
  EXPECT_TRUE(Control(io_, first, kLock));
}

// Only the third field of a mountinfo line names a device, whole ("major:minor").
TEST(MountInfo, DeviceIsTheThirdFieldOfALine) {
  const std::string text =
      "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
      "36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root rw,errors=continue\n"
      "40 22 7:12 / /media/floppy rw - vfat /dev/loop12 rw\n";
  using Devices = std::vector<std::pair<unsigned, unsigned>>;
  for (const auto& [major, minor] : Devices{{98, 0}, {7, 12}, {0, 21}})
    EXPECT_TRUE(MountInfoListsDevice(text, major, minor)) << major << ":" << minor;
  for (const auto& [major, minor] : Devices{{7, 1}, {9, 80}, {98, 1}, {22, 27}})
    EXPECT_FALSE(MountInfoListsDevice(text, major, minor)) << major << ":" << minor;
  EXPECT_FALSE(MountInfoListsDevice("36 35\n", 36, 35));
  EXPECT_FALSE(MountInfoListsDevice("", 0, 21));
}

bool RunQuietly(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// A blank floppy image on a free loop device that drive A: leads to (needs root).
class LoopDrive : public ImageDrive {
 protected:
  void SetUp() override {
    ImageDrive::SetUp();
    const std::string listed = dir_.Path("loop");
    if (geteuid() == 0 && RunQuietly("{ losetup -f --show '" + image_ + "' >" + listed + "; }"))
      std::ifstream(listed) >> loop_;
    if (loop_.empty()) GTEST_SKIP() << "no loop device: needs root and losetup";
    io_.MapDrive('A', loop_);
  }
  ~LoopDrive() override { RunQuietly("umount '" + mountPoint_ + "'; losetup -d '" + loop_ + "'"); }
  bool OpensExclusively() {
    const int fd = open(loop_.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
    return fd >= 0 && close(fd) == 0;
  }
  std::string loop_, mountPoint_;
};

// Locked: exclusive claim, writes reach the image; Unlock/Close free it; mounted refuses.
TEST_F(LoopDrive, IsA144MbDriveWrittenUnderAnExclusiveClaimAndRefusedWhenMounted) {
  const DeviceHandle second = Open();
  const DeviceHandle handle = Open({kGenericRead | kGenericWrite, 0, kOpenExisting, 0});
  ASSERT_NE(second, kInvalidDevice);
  EXPECT_EQ(MediaTypes(io_, handle), k144Record);
  ASSERT_TRUE(Control(io_, handle, kLock));
  EXPECT_FALSE(Control(io_, second, kLock));
  EXPECT_FALSE(OpensExclusively());
  EXPECT_EQ(errno, EBUSY);
  WriteThreeCylinders(handle, 11);
  ASSERT_TRUE(Control(io_, handle, kUnlock));
  EXPECT_TRUE(OpensExclusively());
  EXPECT_TRUE(Control(io_, second, kLock));
  io_.Close(second);
  EXPECT_TRUE(OpensExclusively());
  io_.Close(handle);
  const std::string point = dir_.Path("mnt");
  std::filesystem::create_directories(point);
  for (const std::string mkfs : {"mkfs.fat", "mkfs.ext2 -F -q"}) {
    if (mountPoint_.empty() && RunQuietly(mkfs + " '" + loop_ + "'") &&
        RunQuietly("mount '" + loop_ + "' '" + point + "'"))
      mountPoint_ = point;
  }
  if (mountPoint_.empty()) GTEST_SKIP() << "this kernel mounts neither vfat nor ext2";
  for (const bool mounted : {true, false}) {
    ASSERT_TRUE(mounted || RunQuietly("umount '" + point + "'"));
    for (const std::string& path : {loop_, image_}) {
      io_.MapDrive('A', path);
      const DeviceHandle drive = Open();
      ASSERT_NE(drive, kInvalidDevice) << path;
      EXPECT_NE(Control(io_, drive, kLock), mounted) << path << " mounted: " << mounted;
      io_.Close(drive);
    }
  }
}
}  // namespace
