// Recorders on Linux: the list that the CD job's recorder dialog reads (optical drives
// found by libburn's scan, and "stdio:" files standing in for discs), and the drives that
// the Vista-style recorder grabs through libburn for the burn.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/linux/LinuxDiscRecording.h"
#include "platform/linux/LinuxDiscRecordingInternal.h"

namespace platform {

using namespace linux_disc;

namespace {

// Recorders get the drive letters after the floppies and the first hard disks.
constexpr char kFirstRecorderLetter = 'E';
constexpr char kLastRecorderLetter = 'Z';

// libburn scans on its own thread; the caller's thread looks in at this interval.
constexpr auto kScanPollInterval = std::chrono::milliseconds(1);

constexpr char kStdioPrefix[] = "stdio:";
constexpr size_t kStdioPrefixLength = sizeof kStdioPrefix - 1;
constexpr char kDescriptorFolder[] = "/dev/fd/";

// Each byte becomes one UTF-16 unit and back, so any path's bytes survive the CD job,
// which narrows and widens its texts the same way.
std::u16string Widen(const std::string& text) {
  std::u16string wide;
  wide.reserve(text.size());
  for (char byte : text) wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(byte)));
  return wide;
}

std::string Narrow(const std::u16string& text) {
  std::string narrow;
  narrow.reserve(text.size());
  for (char16_t unit : text) {
    if (unit == 0) break;  // a Windows string ends at its first zero
    narrow.push_back(unit <= 0xFF ? static_cast<char>(unit) : '?');
  }
  return narrow;
}

class LinuxShellCdBurn : public ShellCdBurnObject {
 public:
  explicit LinuxShellCdBurn(bool hasRecorder) : hasRecorder_(hasRecorder) {}
  HResult HasRecordableDrive(bool* hasOne) override {
    if (hasOne == nullptr) return kEPointer;
    *hasOne = hasRecorder_;
    return kSOk;
  }

 private:
  bool hasRecorder_;
};

// The device name of the n-th recorder, as its drive letter's target and the recorder's
// path name it; the libburn address is the recorder's unique id for burning.
std::string RecorderDeviceName(size_t index) {
  return "\\Device\\CdRom" + std::to_string(index);
}

class LinuxRecorderObject : public RecorderObject {
 public:
  explicit LinuxRecorderObject(std::string address) : address_(std::move(address)) {}
  HResult GetPath(std::u16string* path) override {
    if (path == nullptr) return kEPointer;
    *path = Widen(address_);
    return kSOk;
  }
  HResult Close() override { return kSOk; }

 private:
  std::string address_;
};

class LinuxRecorderEnumeration : public RecorderEnumeration {
 public:
  explicit LinuxRecorderEnumeration(std::vector<std::string> recorders)
      : recorders_(std::move(recorders)) {}
  HResult Next(std::unique_ptr<RecorderObject>* recorder, uint32_t* fetched) override {
    if (fetched != nullptr) *fetched = 0;
    if (recorder == nullptr) return kEPointer;
    recorder->reset();
    if (next_ >= recorders_.size()) return kSFalse;
    *recorder = std::make_unique<LinuxRecorderObject>(RecorderDeviceName(next_++));
    if (fetched != nullptr) *fetched = 1;
    return kSOk;
  }

 private:
  std::vector<std::string> recorders_;
  size_t next_ = 0;
};

// The XP-style disc master serves only to list the recorders: it offers no format, so
// the CD job burns through the Vista-style objects.
class LinuxDiscMaster : public DiscMasterObject {
 public:
  explicit LinuxDiscMaster(std::vector<std::string> recorders) : recorders_(std::move(recorders)) {}
  HResult Open() override { return kSOk; }
  HResult EnumFormats(uint32_t /*room*/, uint32_t* fetched) override {
    if (fetched == nullptr) return kEPointer;
    *fetched = 0;
    return kSOk;
  }
  HResult EnumDiscRecorders(std::unique_ptr<RecorderEnumeration>* recorders) override {
    if (recorders == nullptr) return kEPointer;
    *recorders = std::make_unique<LinuxRecorderEnumeration>(recorders_);
    return kSOk;
  }
  HResult SetActiveDiscRecorder(RecorderObject* /*recorder*/) override { return kSOk; }
  HResult QueryJoliet(std::unique_ptr<JolietFormat>* joliet) override {
    if (joliet != nullptr) joliet->reset();
    return kENotImpl;
  }
  HResult RecordDisc(bool /*simulate*/, bool /*ejectAfterBurn*/) override { return kENotImpl; }
  HResult Close() override { return kSOk; }

 private:
  std::vector<std::string> recorders_;
};

class LinuxDiscMaster2 : public DiscMaster2Object {
 public:
  explicit LinuxDiscMaster2(std::vector<std::string> recorders)
      : recorders_(std::move(recorders)) {}
  HResult GetItem(int32_t index, std::u16string* uniqueId) override {
    if (uniqueId == nullptr) return kEPointer;
    if (index < 0 || static_cast<size_t>(index) >= recorders_.size()) return kEInvalidArg;
    *uniqueId = Widen(recorders_[static_cast<size_t>(index)]);
    return kSOk;
  }

 private:
  std::vector<std::string> recorders_;
};

}  // namespace

namespace linux_disc {

DriveSlot::~DriveSlot() {
  Release(false);
}

HResult DriveSlot::Grab(const std::string& address) {
  std::lock_guard<std::mutex> hold(busy_);
  ReleaseHeld(false);
  if (address.empty() || address.size() >= BURN_DRIVE_ADR_LEN) return kEInvalidArg;
  if (!LibburnReady()) return kEFail;
  std::vector<char> text(address.begin(), address.end());
  text.push_back('\0');
  std::lock_guard<std::mutex> library(LibburnLock());
  if (GrabbedAddresses().count(address) != 0) return kBusy;
  burn::burn_drive_info* infos = nullptr;
  // Loading asks a drive to close its tray, so a disc just put in can be used.
  const int grabbed = burn::burn_drive_scan_and_grab(&infos, text.data(), 1);
  if (grabbed != 1) {
    // A drive found but not grabbed stays registered until its list is freed.
    if (infos != nullptr) burn::burn_drive_info_free(infos);
    return grabbed == 0 ? kFileNotFound : kEFail;
  }
  GrabbedAddresses().insert(address);
  infos_ = infos;
  address_ = address;
  return kSOk;
}

HResult DriveSlot::Release(bool eject) {
  std::lock_guard<std::mutex> hold(busy_);
  return ReleaseHeld(eject) ? kSOk : kImapiRecorderRequired;
}

bool DriveSlot::ReleaseHeld(bool eject) {
  if (infos_ == nullptr) return false;
  std::lock_guard<std::mutex> library(LibburnLock());
  burn::burn_drive_release(infos_[0].drive, eject ? 1 : 0);
  burn::burn_drive_info_free(infos_);
  GrabbedAddresses().erase(address_);
  infos_ = nullptr;
  address_.clear();
  return true;
}

HResult LinuxRecorder2::InitializeDiscRecorder(const std::u16string& uniqueId) {
  return slot_->Grab(Narrow(uniqueId));
}

HResult LinuxRecorder2::EjectMedia() {
  return slot_->Release(true);
}

HResult BlankFileTarget(const std::string& address) {
  if (address.compare(0, kStdioPrefixLength, kStdioPrefix) != 0) return kSOk;
  const std::string path = address.substr(kStdioPrefixLength);
  // "-" and /dev/fd/N are this process's descriptors, not files opened by name.
  if (path.empty() || path == "-" ||
      path.compare(0, sizeof kDescriptorFolder - 1, kDescriptorFolder) == 0) {
    return kSOk;
  }
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0) {
    return kSOk;
  }
  return truncate(path.c_str(), 0) == 0 ? kSOk : kEFail;
}

}  // namespace linux_disc

void LinuxDiscRecording::AddRecorder(const std::string& address) {
  if (address.empty()) return;
  if (std::find(recorders_.begin(), recorders_.end(), address) != recorders_.end()) return;
  recorders_.push_back(address);
}

void LinuxDiscRecording::ScanDrives() {
  if (!LibburnReady()) return;
  std::vector<std::string> found;
  {
    std::lock_guard<std::mutex> library(LibburnLock());
    // Grabbing by address leaves libburn looking at that address alone; look at all.
    burn::burn_drive_clear_whitelist();
    burn::burn_drive_info* infos = nullptr;
    unsigned int count = 0;
    // The scan runs on a libburn thread; the call says 0 until it is over.
    int scanned = 0;
    while ((scanned = burn::burn_drive_scan(&infos, &count)) == 0) {
      std::this_thread::sleep_for(kScanPollInterval);
    }
    if (scanned > 0 && infos != nullptr) {
      for (unsigned int i = 0; i < count; ++i) {
        char address[BURN_DRIVE_ADR_LEN] = {};
        if (burn::burn_drive_d_get_adr(infos[i].drive, address) > 0) found.emplace_back(address);
      }
    }
    // The scan opened the drives and may hold them exclusively; freeing the list lets
    // them go, so a burn can grab one by its address later.
    if (infos != nullptr) burn::burn_drive_info_free(infos);
  }
  for (const std::string& address : found) AddRecorder(address);
}

HResult LinuxDiscRecording::CreateShellCdBurn(std::unique_ptr<ShellCdBurnObject>* object) {
  if (object == nullptr) return kEPointer;
  *object = std::make_unique<LinuxShellCdBurn>(!recorders_.empty());
  return kSOk;
}

HResult LinuxDiscRecording::CreateDiscMaster(std::unique_ptr<DiscMasterObject>* object) {
  if (object == nullptr) return kEPointer;
  *object = std::make_unique<LinuxDiscMaster>(recorders_);
  return kSOk;
}

HResult LinuxDiscRecording::CreateDiscMaster2(std::unique_ptr<DiscMaster2Object>* object) {
  if (object == nullptr) return kEPointer;
  *object = std::make_unique<LinuxDiscMaster2>(recorders_);
  return kSOk;
}

HResult LinuxDiscRecording::CreateRecorder2(std::unique_ptr<Recorder2Object>* object) {
  if (object == nullptr) return kEPointer;
  *object = std::make_unique<LinuxRecorder2>();
  return kSOk;
}

uint32_t LinuxDiscRecording::QueryDosDevice(const std::string& name, char* buffer, uint32_t size) {
  if (buffer == nullptr || name.size() != 2 || name[1] != ':') return 0;
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
  if (letter < kFirstRecorderLetter || letter > kLastRecorderLetter) return 0;
  const size_t index = static_cast<size_t>(letter - kFirstRecorderLetter);
  if (index >= recorders_.size()) return 0;
  // The recorder's device name, not its libburn address: like a Windows kernel device name
  // it is short, so it fits the 20 bytes in which the recorder list looks for it.
  const std::string address = RecorderDeviceName(index);
  // The name and its zero, then the zero that ends the list of targets.
  const size_t stored = address.size() + 2;
  if (stored > size) return 0;
  std::memcpy(buffer, address.data(), address.size());
  buffer[address.size()] = '\0';
  buffer[address.size() + 1] = '\0';
  return static_cast<uint32_t>(stored);
}

}  // namespace platform
