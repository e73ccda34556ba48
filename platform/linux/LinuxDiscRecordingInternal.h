// What the files of the Linux disc recording share: the result codes they report, the
// libburn session every drive call goes through, the unnamed file that holds a stream or
// an image, and the grabbed drive that a recorder shares with its data writers.
#pragma once

#include <libburn/libburn.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/DiscRecording.h"

namespace platform::linux_disc {

// Windows result codes this back end reports, besides those of DiscRecording.h.
constexpr HResult kEInvalidArg = static_cast<HResult>(0x80070057u);
constexpr HResult kFileNotFound = static_cast<HResult>(0x80070002u);  // ERROR_FILE_NOT_FOUND
constexpr HResult kBusy = static_cast<HResult>(0x800700AAu);          // ERROR_BUSY
constexpr HResult kStgFileNotFound = static_cast<HResult>(0x80030002u);
constexpr HResult kStgAccessDenied = static_cast<HResult>(0x80030005u);
constexpr HResult kStgInvalidPointer = static_cast<HResult>(0x80030009u);
constexpr HResult kStgWriteFault = static_cast<HResult>(0x8003001Du);
constexpr HResult kStgReadFault = static_cast<HResult>(0x8003001Eu);
constexpr HResult kStgFileAlreadyExists = static_cast<HResult>(0x80030050u);
constexpr HResult kStgMediumFull = static_cast<HResult>(0x80030070u);
constexpr HResult kStgInvalidName = static_cast<HResult>(0x800300FCu);
constexpr HResult kStgInvalidFlag = static_cast<HResult>(0x800300FFu);
constexpr HResult kImapiRecorderRequired = static_cast<HResult>(0xC0AA0003u);
constexpr HResult kImapiMediaNoMedia = static_cast<HResult>(0xC0AA0202u);
constexpr HResult kImapiMediaIncompatible = static_cast<HResult>(0xC0AA0203u);

// --- The libburn session ----------------------------------------------------------------

/// libburn's drive list and worker list are process-wide and unguarded; every call that
/// changes them goes through this lock.
std::mutex& LibburnLock();

/// Starts libburn once per process and says whether it started.
bool LibburnReady();

/// The addresses grabbed in this process, guarded by LibburnLock. libburn refuses a second
/// grab of an optical drive but not of a "stdio:" file; this list refuses both alike.
std::set<std::string>& GrabbedAddresses();

// --- Streams ----------------------------------------------------------------------------

/// One stream's bytes, shared by every stream object opened on it and by its storage.
/// Reads and writes name their offset, so the descriptor's own offset is left alone.
class StreamFile {
 public:
  /// A new empty file with no name; null when none can be made.
  static std::shared_ptr<StreamFile> Create();
  ~StreamFile();
  StreamFile(const StreamFile&) = delete;
  StreamFile& operator=(const StreamFile&) = delete;

  int fd() const { return fd_; }

  bool Size(uint64_t* bytes) const;

  /// Writes all of `bytes`, resuming after partial writes; `*done` counts what was written.
  bool WriteAt(uint64_t offset, const uint8_t* data, size_t bytes, size_t* done, int* error) const;

  /// Reads up to `bytes`; fewer only at the end of the file.
  bool ReadAt(uint64_t offset, uint8_t* data, size_t bytes, size_t* got) const;

 private:
  explicit StreamFile(int fd) : fd_(fd) {}
  int fd_;
};

/// The image as one file: a stream of this back end already is one (read from its start);
/// any other stream is copied, from its position, into a new unnamed file.
std::shared_ptr<StreamFile> ImageFile(DiscStream& image, HResult* result);

// --- Drives -----------------------------------------------------------------------------

/// One recorder's grabbed drive. The recorder object and every data writer it was handed
/// to share it, as COM's references would keep the drive object alive; the last of them
/// releases a drive still grabbed, without ejecting.
class DriveSlot {
 public:
  DriveSlot() = default;
  ~DriveSlot();
  DriveSlot(const DriveSlot&) = delete;
  DriveSlot& operator=(const DriveSlot&) = delete;

  /// Grabs the drive at `address`, letting go of any drive grabbed before.
  HResult Grab(const std::string& address);

  /// Releases the drive, with an eject when asked; E_IMAPI_RECORDER_REQUIRED when none is
  /// grabbed.
  HResult Release(bool eject);

  /// Held for a whole burn, so that a release from another thread waits for its end.
  std::mutex& busy() { return busy_; }
  burn::burn_drive* drive() const { return infos_ != nullptr ? infos_[0].drive : nullptr; }
  const std::string& address() const { return address_; }

 private:
  bool ReleaseHeld(bool eject);

  std::mutex busy_;
  burn::burn_drive_info* infos_ = nullptr;
  std::string address_;
};

/// The Vista-style recorder: its unique id is a libburn drive address.
class LinuxRecorder2 : public Recorder2Object {
 public:
  HResult InitializeDiscRecorder(const std::u16string& uniqueId) override;
  HResult EjectMedia() override;
  const std::shared_ptr<DriveSlot>& slot() const { return slot_; }

 private:
  std::shared_ptr<DriveSlot> slot_ = std::make_shared<DriveSlot>();
};

/// A regular file standing in for a disc is emptied before the burn, as the blank disc it
/// stands for: libburn writes over an existing file from its start but leaves whatever lay
/// beyond the image.
HResult BlankFileTarget(const std::string& address);

}  // namespace platform::linux_disc
