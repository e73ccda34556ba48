// Raw floppy drives on Linux: the Windows drive paths "\\.\A:" and "\\.\B:" lead to block
// devices (the floppy driver's /dev/fd0 and /dev/fd1 unless mapped elsewhere) or to image
// files, and the Windows control codes the floppy writer sends are carried out with the
// Linux equivalents.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "platform/DeviceIo.h"

namespace platform {

/// The DeviceIo of a Linux machine. Drive handles are small numbers handed out by this
/// object, never reused, and unknown to any other instance. Any thread may call it: the
/// table of drives and handles is guarded, and each call runs whole before the next one
/// starts, so a handle is never closed under a write through it.
class LinuxDeviceIo : public DeviceIo {
 public:
  /// Drive A: is /dev/fd0 and drive B: is /dev/fd1 until mapped elsewhere.
  LinuxDeviceIo();
  /// Closes every handle still open, which also releases their locks.
  ~LinuxDeviceIo() override;
  LinuxDeviceIo(const LinuxDeviceIo&) = delete;
  LinuxDeviceIo& operator=(const LinuxDeviceIo&) = delete;

  /// Makes drive `letter` (A or B, either case) open `path`: a block device such as a USB
  /// floppy or a loop device, or an image file. An empty path removes the drive. Other
  /// letters are ignored: the installer only writes the floppy drives A: and B:. Handles
  /// already open keep the file they opened.
  void MapDrive(char letter, const std::string& path);

  /// Opens "\\.\A:" or "\\.\B:" (letter in either case) for reading, writing or both as
  /// `flags.access` asks; only OPEN_EXISTING is accepted, so nothing is ever created. A
  /// drive opens without a disk inserted, as on Windows, so that it can be listed; the
  /// first write finds out whether a writable disk is there. Every other path, the
  /// Windows 9x "\\.\VWIN32" included, fails.
  DeviceHandle Open(const std::string& path, const DeviceOpenFlags& flags) override;

  /// IOCTL_DISK_GET_MEDIA_TYPES: one 1.44 MB record (a 2.88 MB drive first lists its own
  /// format) for a drive that the floppy driver names as one of those types, whatever its
  /// size, or another device or file of exactly 1,474,560 bytes; fails for anything else
  /// and when `out` cannot hold every record.
  /// FSCTL_LOCK_VOLUME: takes the drive for this handle alone (again through the same handle
  /// changes nothing); refused while the drive, or a loop device reading from the image
  /// file, is mounted, or while another handle of any instance or process holds it.
  /// FSCTL_UNLOCK_VOLUME: gives the drive back; fails when this handle did not lock it.
  /// FSCTL_DISMOUNT_VOLUME: pushes pending writes to the medium and, for a block device,
  /// drops its cached blocks. Every other code fails.
  [[nodiscard]] bool Control(DeviceHandle device, uint32_t code, void* in, uint32_t inBytes,
                             void* out, uint32_t outBytes, uint32_t* bytesReturned) override;

  /// Writes all `bytes` at the handle's position, resuming after partial writes and
  /// interrupted calls; `*written` counts what reached the drive, also on failure. Before
  /// the first write through a block device's handle, the device is opened once for
  /// writing without O_NONBLOCK: a driver that skipped its media check when the handle was
  /// opened (the floppy driver does) then checks for a disk, its write protection and its
  /// size. A drive without a writable disk fails that write with nothing written.
  [[nodiscard]] bool Write(DeviceHandle device, const void* data, uint32_t bytes,
                           uint32_t* written) override;

  /// Releases the handle's lock and closes it; unknown handles are ignored.
  void Close(DeviceHandle device) override;

  /// Always 0: DOS calls through VWIN32 exist only on Windows 9x, and "\\.\VWIN32" never
  /// opens here, so no caller can have a use for the address.
  uint32_t FlatAddress(void* block) override;

 private:
  struct OpenDrive {
    int fd = -1;
    /// The kernel's exclusive claim on a block device, held while the drive is locked.
    int exclusiveFd = -1;
    bool locked = false;
    /// Set once the driver has confirmed a writable disk for this handle.
    bool mediumChecked = false;
    std::string path;
  };

  /// The drive behind `device`, or null when this instance did not hand it out. The
  /// helpers below run with `mutex_` held.
  OpenDrive* Find(DeviceHandle device);
  /// Releases the lock of the handle and closes it.
  void CloseLocked(DeviceHandle device);
  /// Lets the driver check the disk in a block device before anything is written to it.
  bool CheckMedium(OpenDrive& drive);
  /// Fills `out` with the drive's DISK_GEOMETRY records.
  bool ReportMediaTypes(const OpenDrive& drive, void* out, uint32_t outBytes,
                        uint32_t* bytesReturned);
  /// An advisory lock on the file, plus the kernel's exclusive claim on a block device.
  bool Lock(OpenDrive& drive);
  bool Unlock(OpenDrive& drive);
  /// fsync, then for a block device BLKFLSBUF.
  bool Flush(const OpenDrive& drive);

  /// Guards everything below: the monitor thread closes a handle while the dialog's
  /// thread may open the next one.
  std::mutex mutex_;
  std::map<char, std::string> drivePaths_;
  std::map<DeviceHandle, OpenDrive> openDrives_;
  DeviceHandle nextHandle_ = 1;
};

/// True when /proc/self/mountinfo text `mountinfoText` has a mount whose source device is
/// `majorNumber`:`minorNumber` (the third field of each line).
bool MountInfoListsDevice(const std::string& mountinfoText, unsigned majorNumber,
                          unsigned minorNumber);

}  // namespace platform
