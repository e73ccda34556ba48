// The Linux back end for raw floppy drives: drive paths become block devices or image
// files, and the Windows control codes become fstat, floppy driver and block ioctls,
// advisory and exclusive locks, and fsync.
#include "platform/linux/LinuxDeviceIo.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fd.h>
#include <linux/fs.h>
#include <linux/major.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <vector>

#include "platform/File.h"
#include "platform/Host.h"

namespace platform {

namespace {

// Control codes of the Windows DDK that a drive handle understands.
constexpr uint32_t kIoctlDiskGetMediaTypes = 0x00070C00u;
constexpr uint32_t kFsctlLockVolume = 0x00090018u;
constexpr uint32_t kFsctlUnlockVolume = 0x0009001Cu;
constexpr uint32_t kFsctlDismountVolume = 0x00090020u;

// Windows MEDIA_TYPE values of the two 3.5-inch formats a floppy drive can list.
constexpr uint32_t kMediaF3_1Pt44_512 = 2u;
constexpr uint32_t kMediaF3_2Pt88_512 = 3u;

// One DISK_GEOMETRY record: Cylinders (int64), MediaType, TracksPerCylinder,
// SectorsPerTrack and BytesPerSector (uint32 each), all little-endian.
constexpr uint32_t kDiskGeometryBytes = 24u;
constexpr size_t kGeometryMediaTypeOffset = 8;
constexpr size_t kGeometryTracksOffset = 12;
constexpr size_t kGeometrySectorsOffset = 16;
constexpr size_t kGeometryBytesPerSectorOffset = 20;

constexpr uint64_t kFloppy144Bytes = 1474560u;  // 80 cylinders x 2 heads x 18 sectors x 512

// Drive paths are "\\.\X:"; the letter sits at this index.
constexpr char kDrivePathPrefix[] = "\\\\.\\";
constexpr size_t kDrivePathLength = 6;
constexpr size_t kDriveLetterIndex = 4;

// How often the first write asks the driver for a disk before it takes "none" for an answer.
constexpr int kMediumCheckAttempts = 2;

// Loop devices appear in /sys/block as loop0, loop1 and so on.
constexpr char kLoopDevicePrefix[] = "loop";

struct Geometry {
  int64_t cylinders;
  uint32_t mediaType;
  uint32_t tracksPerCylinder;
  uint32_t sectorsPerTrack;
  uint32_t bytesPerSector;
};

constexpr Geometry kGeometry144 = {80, kMediaF3_1Pt44_512, 2, 18, 512};
constexpr Geometry kGeometry288 = {80, kMediaF3_2Pt88_512, 2, 36, 512};

void PutLittleEndian(uint8_t* at, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutGeometry(uint8_t* record, const Geometry& geometry) {
  PutLittleEndian(record, static_cast<uint64_t>(geometry.cylinders), sizeof(int64_t));
  PutLittleEndian(record + kGeometryMediaTypeOffset, geometry.mediaType, sizeof(uint32_t));
  PutLittleEndian(record + kGeometryTracksOffset, geometry.tracksPerCylinder, sizeof(uint32_t));
  PutLittleEndian(record + kGeometrySectorsOffset, geometry.sectorsPerTrack, sizeof(uint32_t));
  PutLittleEndian(record + kGeometryBytesPerSectorOffset, geometry.bytesPerSector,
                  sizeof(uint32_t));
}

// The upper-case drive letter of "\\.\X:", or 0 when `path` names no drive.
char DriveLetterOfPath(const std::string& path) {
  if (path.size() != kDrivePathLength ||
      path.compare(0, kDriveLetterIndex, kDrivePathPrefix) != 0 ||
      path[kDrivePathLength - 1] != ':') {
    return 0;
  }
  const unsigned char letter = static_cast<unsigned char>(path[kDriveLetterIndex]);
  return std::isalpha(letter) ? static_cast<char>(std::toupper(letter)) : 0;
}

// Small text files of /proc and /sys; empty when unreadable.
std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// "major:minor" as /sys and mountinfo write a device number.
bool ParseDeviceNumber(const std::string& text, dev_t* device) {
  unsigned major = 0;
  unsigned minor = 0;
  if (std::sscanf(text.c_str(), "%u:%u", &major, &minor) != 2) return false;
  *device = makedev(major, minor);
  return true;
}

std::vector<std::string> DirectoryEntries(const std::string& path) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> directory(opendir(path.c_str()), closedir);
  if (!directory) return names;
  while (const dirent* entry = readdir(directory.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  return names;
}

// A block device counts as mounted when it or one of its partitions is the source of a
// mount; a USB floppy formatted with a partition table mounts as its first partition.
bool BlockDeviceIsMounted(const std::string& mountinfo, dev_t device) {
  if (MountInfoListsDevice(mountinfo, major(device), minor(device))) return true;
  const std::string sysDevice =
      "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
  for (const std::string& name : DirectoryEntries(sysDevice)) {
    struct stat partitionInfo;
    if (stat((sysDevice + "/" + name + "/partition").c_str(), &partitionInfo) != 0) continue;
    dev_t partition = 0;
    if (ParseDeviceNumber(ReadTextFile(sysDevice + "/" + name + "/dev"), &partition) &&
        MountInfoListsDevice(mountinfo, major(partition), minor(partition))) {
      return true;
    }
  }
  return false;
}

// An image file counts as mounted when a loop device reading from it is mounted, since
// raw writes would then pull the file system out from under the kernel.
bool ImageFileIsMounted(const std::string& mountinfo, const struct stat& image) {
  const std::string sysBlock = "/sys/block/";
  for (const std::string& name : DirectoryEntries(sysBlock)) {
    if (name.compare(0, std::strlen(kLoopDevicePrefix), kLoopDevicePrefix) != 0) continue;
    std::string backing = ReadTextFile(sysBlock + name + "/loop/backing_file");
    while (!backing.empty() && backing.back() == '\n') backing.pop_back();
    struct stat backingInfo;
    // Compared by identity rather than by name, so links and relative paths match too.
    if (backing.empty() || stat(backing.c_str(), &backingInfo) != 0 ||
        backingInfo.st_dev != image.st_dev || backingInfo.st_ino != image.st_ino) {
      continue;
    }
    dev_t loop = 0;
    if (ParseDeviceNumber(ReadTextFile(sysBlock + name + "/dev"), &loop) &&
        BlockDeviceIsMounted(mountinfo, loop)) {
      return true;
    }
  }
  return false;
}

// The formats a drive can write, best first; empty when it is no 1.44 MB drive.
std::vector<Geometry> DriveMediaTypes(int fd) {
  struct stat info;
  if (fstat(fd, &info) != 0) return {};
  const bool isBlockDevice = S_ISBLK(info.st_mode);
  if (isBlockDevice && major(info.st_rdev) == FLOPPY_MAJOR) {
    // The floppy driver names the drive's type from the CMOS or its parameters, e.g.
    // "H1440" or "E2880"; it knows this without a disk in the drive. Its size means nothing
    // here: until a blocking open has checked the disk it reports a placeholder of 0 or
    // 4096 bytes, so the type alone decides.
    floppy_drive_name driveName = {};
    if (ioctl(fd, FDGETDRVTYP, driveName) == 0) {
      const std::string name(driveName, strnlen(driveName, sizeof driveName));
      if (name.find("2880") != std::string::npos) return {kGeometry288, kGeometry144};
      if (name.find("1440") != std::string::npos) return {kGeometry144};
      return {};
    }
  }
  uint64_t size = 0;
  if (isBlockDevice) {
    if (ioctl(fd, BLKGETSIZE64, &size) != 0) return {};
  } else {
    size = static_cast<uint64_t>(info.st_size);
  }
  if (size == kFloppy144Bytes) return {kGeometry144};
  return {};
}

}  // namespace

bool MountInfoListsDevice(const std::string& mountinfoText, unsigned majorNumber,
                          unsigned minorNumber) {
  const std::string wanted = std::to_string(majorNumber) + ":" + std::to_string(minorNumber);
  std::istringstream lines(mountinfoText);
  std::string line;
  while (std::getline(lines, line)) {
    // Mount ID, parent ID, then the source device's major:minor.
    std::istringstream fields(line);
    std::string mountId;
    std::string parentId;
    std::string device;
    if (fields >> mountId >> parentId >> device && device == wanted) return true;
  }
  return false;
}

LinuxDeviceIo::LinuxDeviceIo() {
  drivePaths_['A'] = "/dev/fd0";
  drivePaths_['B'] = "/dev/fd1";
}

LinuxDeviceIo::~LinuxDeviceIo() {
  const std::lock_guard<std::mutex> lock(mutex_);
  while (!openDrives_.empty()) CloseLocked(openDrives_.begin()->first);
}

void LinuxDeviceIo::MapDrive(char letter, const std::string& path) {
  const char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  if (drive != 'A' && drive != 'B') return;
  const std::lock_guard<std::mutex> lock(mutex_);
  if (path.empty()) {
    drivePaths_.erase(drive);
  } else {
    drivePaths_[drive] = path;
  }
}

DeviceHandle LinuxDeviceIo::Open(const std::string& path, const DeviceOpenFlags& flags) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto mapped = drivePaths_.find(DriveLetterOfPath(path));
  if (mapped == drivePaths_.end()) return kInvalidDevice;
  // A drive is never created or truncated, whatever else the caller asks.
  if (flags.disposition != kOpenExisting) return kInvalidDevice;

  const bool wantsRead = (flags.access & kGenericRead) != 0;
  const bool wantsWrite = (flags.access & kGenericWrite) != 0;
  int openFlags = wantsWrite ? (wantsRead ? O_RDWR : O_WRONLY) : O_RDONLY;
  // Without buffering or with write-through, Windows reports a failed sector at the write
  // that hit it; synchronous writes do the same here instead of failing later at close.
  if ((flags.flagsAndAttributes & (kFileFlagNoBuffering | kFileFlagWriteThrough)) != 0) {
    openFlags |= O_DSYNC;
  }
  // Non-blocking open lets the floppy driver open an empty drive, as Windows does, so the
  // drive can still be listed; the flag is cleared again so writes block normally. The
  // driver then skips its media check, which the first write makes up for (CheckMedium).
  const int fd = open(mapped->second.c_str(), openFlags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return kInvalidDevice;
  struct stat info;
  const int statusFlags = fcntl(fd, F_GETFL);
  if (fstat(fd, &info) != 0 || !(S_ISREG(info.st_mode) || S_ISBLK(info.st_mode)) ||
      statusFlags < 0 || fcntl(fd, F_SETFL, statusFlags & ~O_NONBLOCK) != 0) {
    close(fd);
    return kInvalidDevice;
  }
  const DeviceHandle handle = nextHandle_++;
  OpenDrive& drive = openDrives_[handle];
  drive.fd = fd;
  drive.path = mapped->second;
  return handle;
}

bool LinuxDeviceIo::Control(DeviceHandle device, uint32_t code, void* /*in*/, uint32_t /*inBytes*/,
                            void* out, uint32_t outBytes, uint32_t* bytesReturned) {
  if (bytesReturned != nullptr) *bytesReturned = 0;
  const std::lock_guard<std::mutex> lock(mutex_);
  OpenDrive* drive = Find(device);
  if (drive == nullptr) return false;
  switch (code) {
    case kIoctlDiskGetMediaTypes:
      return ReportMediaTypes(*drive, out, outBytes, bytesReturned);
    case kFsctlLockVolume:
      return Lock(*drive);
    case kFsctlUnlockVolume:
      return Unlock(*drive);
    case kFsctlDismountVolume:
      return Flush(*drive);
    default:
      return false;
  }
}

bool LinuxDeviceIo::Write(DeviceHandle device, const void* data, uint32_t bytes,
                          uint32_t* written) {
  if (written != nullptr) *written = 0;
  const std::lock_guard<std::mutex> lock(mutex_);
  OpenDrive* drive = Find(device);
  if (drive == nullptr || (data == nullptr && bytes != 0)) return false;
  if (!drive->mediumChecked) {
    if (!CheckMedium(*drive)) return false;
    drive->mediumChecked = true;
  }
  const auto* from = static_cast<const uint8_t*>(data);
  uint32_t total = 0;
  bool succeeded = true;
  while (total < bytes) {
    const ssize_t put = write(drive->fd, from + total, bytes - total);
    if (put < 0 && errno == EINTR) continue;
    // A device that accepts nothing (its end reached) would otherwise spin here forever.
    if (put <= 0) {
      succeeded = false;
      break;
    }
    total += static_cast<uint32_t>(put);
  }
  if (written != nullptr) *written = total;
  return succeeded;
}

void LinuxDeviceIo::Close(DeviceHandle device) {
  const std::lock_guard<std::mutex> lock(mutex_);
  CloseLocked(device);
}

void LinuxDeviceIo::CloseLocked(DeviceHandle device) {
  OpenDrive* drive = Find(device);
  if (drive == nullptr) return;
  if (drive->locked) Unlock(*drive);
  close(drive->fd);
  openDrives_.erase(device);
}

uint32_t LinuxDeviceIo::FlatAddress(void* /*block*/) {
  return 0;
}

LinuxDeviceIo::OpenDrive* LinuxDeviceIo::Find(DeviceHandle device) {
  const auto found = openDrives_.find(device);
  return found == openDrives_.end() ? nullptr : &found->second;
}

bool LinuxDeviceIo::CheckMedium(OpenDrive& drive) {
  struct stat info;
  if (fstat(drive.fd, &info) != 0) return false;
  const int statusFlags = fcntl(drive.fd, F_GETFL);
  // An image file has no medium to check, and a read-only handle fails its write anyway.
  if (!S_ISBLK(info.st_mode) || statusFlags < 0 || (statusFlags & O_ACCMODE) == O_RDONLY) {
    return true;
  }
  // The floppy driver answers a blocking open for writing with ENXIO when the drive is
  // empty and EROFS when the disk is write-protected; on success it has read the disk's
  // format, so the handle's writes reach the whole disk instead of a 4096-byte placeholder.
  // Right after a disk change it can answer ENXIO once although a disk is in the drive
  // (its first read of the new disk fails); asked again, it finds the disk.
  int checkFd = -1;
  for (int attempt = 1; attempt <= kMediumCheckAttempts; ++attempt) {
    do {
      checkFd = open(drive.path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    } while (checkFd < 0 && errno == EINTR);
    if (checkFd >= 0 || (errno != ENXIO && errno != ENOMEDIUM)) break;
  }
  if (checkFd < 0) return false;
  struct stat checkInfo;
  // The path may lead elsewhere now than when the handle was opened.
  const bool sameDevice = fstat(checkFd, &checkInfo) == 0 && S_ISBLK(checkInfo.st_mode) &&
                          checkInfo.st_rdev == info.st_rdev;
  close(checkFd);
  return sameDevice;
}

bool LinuxDeviceIo::ReportMediaTypes(const OpenDrive& drive, void* out, uint32_t outBytes,
                                     uint32_t* bytesReturned) {
  const std::vector<Geometry> types = DriveMediaTypes(drive.fd);
  if (types.empty()) return false;
  const size_t needed = types.size() * kDiskGeometryBytes;
  if (out == nullptr || outBytes < needed) return false;
  auto* record = static_cast<uint8_t*>(out);
  for (const Geometry& geometry : types) {
    PutGeometry(record, geometry);
    record += kDiskGeometryBytes;
  }
  if (bytesReturned != nullptr) *bytesReturned = static_cast<uint32_t>(needed);
  return true;
}

bool LinuxDeviceIo::Lock(OpenDrive& drive) {
  // Locking again through the handle that holds the lock changes nothing.
  if (drive.locked) return true;
  struct stat info;
  if (fstat(drive.fd, &info) != 0) return false;
  const bool isBlockDevice = S_ISBLK(info.st_mode);
  const std::string mountinfo = ReadTextFile("/proc/self/mountinfo");
  if (isBlockDevice ? BlockDeviceIsMounted(mountinfo, info.st_rdev)
                    : ImageFileIsMounted(mountinfo, info)) {
    return false;
  }
  // Another writer of this installer, through any handle or instance, holds this lock.
  if (flock(drive.fd, LOCK_EX | LOCK_NB) != 0) return false;
  if (isBlockDevice) {
    // The kernel grants an exclusive open only while nothing has the device mounted or
    // claimed, including mounts in other namespaces that mountinfo does not show; keeping
    // it open keeps anyone from mounting the drive while it is written.
    const int exclusiveFd = open(drive.path.c_str(), O_RDONLY | O_EXCL | O_NONBLOCK | O_CLOEXEC);
    struct stat exclusiveInfo;
    if (exclusiveFd < 0 || fstat(exclusiveFd, &exclusiveInfo) != 0 ||
        exclusiveInfo.st_rdev != info.st_rdev) {
      // The path may lead elsewhere now than when the handle was opened.
      if (exclusiveFd >= 0) close(exclusiveFd);
      flock(drive.fd, LOCK_UN);
      return false;
    }
    drive.exclusiveFd = exclusiveFd;
  }
  drive.locked = true;
  return true;
}

bool LinuxDeviceIo::Unlock(OpenDrive& drive) {
  if (!drive.locked) return false;
  if (drive.exclusiveFd >= 0) close(drive.exclusiveFd);
  drive.exclusiveFd = -1;
  flock(drive.fd, LOCK_UN);
  drive.locked = false;
  return true;
}

bool LinuxDeviceIo::Flush(const OpenDrive& drive) {
  if (fsync(drive.fd) != 0) return false;
  struct stat info;
  if (fstat(drive.fd, &info) != 0) return false;
  if (S_ISBLK(info.st_mode) && ioctl(drive.fd, BLKFLSBUF, 0) != 0) {
    // Dropping cached blocks needs CAP_SYS_ADMIN; a user of the floppy group may write the
    // drive without it, and after fsync the medium already holds everything written.
    return errno == EPERM || errno == EACCES;
  }
  return true;
}

std::unique_ptr<DeviceIo> MakeHostDeviceIo() {
  return std::make_unique<LinuxDeviceIo>();
}

}  // namespace platform
