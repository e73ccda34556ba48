// The Linux back end for disc recording: the recorder list that the CD job's recorder
// dialog reads, temporary storages whose streams are unnamed files, and the Vista-style
// burn, which libburn carries out on an optical drive or on a file standing in for a disc.
#include "platform/linux/LinuxDiscRecording.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libburn/libburn.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "platform/Host.h"

namespace platform {

namespace {

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

// STGM bits: the access field (read 0, write 1, read-write 2) and "replace what exists".
constexpr uint32_t kStgmAccessMask = 0x3u;
constexpr uint32_t kStgmReadWrite = 0x2u;
constexpr uint32_t kStgmCreate = 0x1000u;

// Compound files take stream names of up to 31 characters, without ! / \ or :.
constexpr size_t kMaxStreamNameLength = 31;
constexpr char16_t kForbiddenNameCharacters[] = u"!/\\:";

// Recorders get the drive letters after the floppies and the first hard disks.
constexpr char kFirstRecorderLetter = 'E';
constexpr char kLastRecorderLetter = 'Z';

// A data track is made of 2048-byte sectors.
constexpr uint64_t kSectorBytes = 2048;
constexpr size_t kCopyChunkBytes = size_t{1} << 20;

// libburn works on its own threads; the caller's thread looks in at these intervals.
constexpr auto kScanPollInterval = std::chrono::milliseconds(1);
constexpr auto kBurnPollInterval = std::chrono::milliseconds(10);

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

// --- libburn ---------------------------------------------------------------------------

// libburn's drive list and worker list are process-wide and unguarded; every call that
// changes them goes through this lock.
std::mutex& LibburnLock() {
  static std::mutex lock;
  return lock;
}

// Starts libburn once per process. burn_finish is never called: each drive is released by
// the object that grabbed it, and finishing at exit could pull drives from under objects
// that static destructors have yet to release; the rest goes with the process.
bool LibburnReady() {
  static const bool ready = [] {
    if (burn::burn_initialize() == 0) return false;
    // Nothing queued (nobody reads the queue); only problems printed, marked as libburn's.
    char queueSeverity[] = "NEVER";
    char printSeverity[] = "SORRY";
    char printPrefix[] = "libburn: ";
    burn::burn_msgs_set_severities(queueSeverity, printSeverity, printPrefix);
    return true;
  }();
  return ready;
}

// The addresses grabbed in this process, guarded by LibburnLock. libburn refuses a second
// grab of an optical drive but not of a "stdio:" file; this list refuses both alike.
std::set<std::string>& GrabbedAddresses() {
  static std::set<std::string> addresses;
  return addresses;
}

struct DiscFree {
  void operator()(burn::burn_disc* disc) const { burn::burn_disc_free(disc); }
};
struct SessionFree {
  void operator()(burn::burn_session* session) const { burn::burn_session_free(session); }
};
struct TrackFree {
  void operator()(burn::burn_track* track) const { burn::burn_track_free(track); }
};
struct SourceFree {
  void operator()(burn::burn_source* source) const { burn::burn_source_free(source); }
};
struct WriteOptionsFree {
  void operator()(burn::burn_write_opts* options) const { burn::burn_write_opts_free(options); }
};

// --- Streams ---------------------------------------------------------------------------

// A file with no name in $TMPDIR (or /tmp): it goes away with its last descriptor, so
// nothing is left behind even when the process dies.
int OpenUnnamedFile() {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  if (error) folder = "/tmp";
  int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  // File systems without O_TMPFILE: a named file, unlinked at once.
  std::string pattern = (folder / "disc-stream-XXXXXX").string();
  fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  unlink(pattern.c_str());
  return fd;
}

// One stream's bytes, shared by every stream object opened on it and by its storage.
// Reads and writes name their offset, so the descriptor's own offset is left alone.
class StreamFile {
 public:
  static std::shared_ptr<StreamFile> Create() {
    const int fd = OpenUnnamedFile();
    if (fd < 0) return nullptr;
    return std::shared_ptr<StreamFile>(new StreamFile(fd));
  }
  ~StreamFile() { close(fd_); }
  StreamFile(const StreamFile&) = delete;
  StreamFile& operator=(const StreamFile&) = delete;

  int fd() const { return fd_; }

  bool Size(uint64_t* bytes) const {
    struct stat info;
    if (fstat(fd_, &info) != 0) return false;
    *bytes = static_cast<uint64_t>(info.st_size);
    return true;
  }

  // Writes all of `bytes`, resuming after partial writes; `*done` counts what was written.
  bool WriteAt(uint64_t offset, const uint8_t* data, size_t bytes, size_t* done, int* error) const {
    *done = 0;
    while (*done < bytes) {
      const ssize_t put =
          pwrite(fd_, data + *done, bytes - *done, static_cast<off_t>(offset + *done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        *error = put < 0 ? errno : ENOSPC;
        return false;
      }
      *done += static_cast<size_t>(put);
    }
    return true;
  }

  // Reads up to `bytes`; fewer only at the end of the file.
  bool ReadAt(uint64_t offset, uint8_t* data, size_t bytes, size_t* got) const {
    *got = 0;
    while (*got < bytes) {
      const ssize_t read = pread(fd_, data + *got, bytes - *got, static_cast<off_t>(offset + *got));
      if (read < 0 && errno == EINTR) continue;
      if (read < 0) return false;
      if (read == 0) break;
      *got += static_cast<size_t>(read);
    }
    return true;
  }

 private:
  explicit StreamFile(int fd) : fd_(fd) {}
  int fd_;
};

class LinuxDiscStream : public DiscStream {
 public:
  LinuxDiscStream(std::shared_ptr<StreamFile> file, bool writable)
      : file_(std::move(file)), writable_(writable) {}

  HResult Write(const void* data, uint32_t bytes, uint32_t* written) override {
    if (written != nullptr) *written = 0;
    if (data == nullptr && bytes > 0) return kStgInvalidPointer;
    if (!writable_) return kStgAccessDenied;
    size_t done = 0;
    int error = 0;
    const bool ok =
        file_->WriteAt(position_, static_cast<const uint8_t*>(data), bytes, &done, &error);
    position_ += done;
    if (written != nullptr) *written = static_cast<uint32_t>(done);
    if (ok) return kSOk;
    return error == ENOSPC || error == EDQUOT || error == EFBIG ? kStgMediumFull : kStgWriteFault;
  }

  HResult CopyTo(DiscStream& target, uint64_t bytes) override {
    std::vector<uint8_t> chunk(static_cast<size_t>(std::min<uint64_t>(bytes, kCopyChunkBytes)));
    uint64_t left = bytes;
    while (left > 0) {
      size_t got = 0;
      const size_t want = static_cast<size_t>(std::min<uint64_t>(left, chunk.size()));
      if (!file_->ReadAt(position_, chunk.data(), want, &got)) return kStgReadFault;
      if (got == 0) break;  // the end of the stream: copying stops there, as on Windows
      position_ += got;
      left -= got;
      uint32_t written = 0;
      const HResult result = target.Write(chunk.data(), static_cast<uint32_t>(got), &written);
      if (!Succeeded(result)) return result;
      if (written != got) return kStgMediumFull;
    }
    return kSOk;
  }

  const std::shared_ptr<StreamFile>& file() const { return file_; }

 private:
  std::shared_ptr<StreamFile> file_;
  bool writable_;
  uint64_t position_ = 0;
};

bool ValidStreamName(const std::u16string& name) {
  return !name.empty() && name.size() <= kMaxStreamNameLength &&
         name.find(char16_t{0}) == std::u16string::npos &&
         name.find_first_of(kForbiddenNameCharacters) == std::u16string::npos;
}

class LinuxDiscStorage : public DiscStorage {
 public:
  HResult CreateStream(const std::u16string& name, uint32_t mode,
                       std::unique_ptr<DiscStream>* stream) override {
    if (stream == nullptr) return kStgInvalidPointer;
    stream->reset();
    if ((mode & kStgmAccessMask) > kStgmReadWrite) return kStgInvalidFlag;
    if (!ValidStreamName(name)) return kStgInvalidName;
    if (streams_.count(name) != 0 && (mode & kStgmCreate) == 0) return kStgFileAlreadyExists;
    std::shared_ptr<StreamFile> file = StreamFile::Create();
    if (!file) return kEFail;
    // Stream objects still open on a replaced stream keep reading its old bytes.
    streams_[name] = file;
    *stream = std::make_unique<LinuxDiscStream>(std::move(file), (mode & kStgmAccessMask) != 0);
    return kSOk;
  }

  HResult OpenStream(const std::u16string& name, uint32_t mode,
                     std::unique_ptr<DiscStream>* stream) override {
    if (stream == nullptr) return kStgInvalidPointer;
    stream->reset();
    if ((mode & kStgmAccessMask) > kStgmReadWrite) return kStgInvalidFlag;
    if (!ValidStreamName(name)) return kStgInvalidName;
    const auto found = streams_.find(name);
    if (found == streams_.end()) return kStgFileNotFound;
    *stream = std::make_unique<LinuxDiscStream>(found->second, (mode & kStgmAccessMask) != 0);
    return kSOk;
  }

 private:
  std::map<std::u16string, std::shared_ptr<StreamFile>> streams_;
};

// --- The recorder list -----------------------------------------------------------------

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

// --- Burning ---------------------------------------------------------------------------

// One recorder's grabbed drive. The recorder object and every data writer it was handed
// to share it, as COM's references would keep the drive object alive; the last of them
// releases a drive still grabbed, without ejecting.
class DriveSlot {
 public:
  DriveSlot() = default;
  ~DriveSlot() { Release(false); }
  DriveSlot(const DriveSlot&) = delete;
  DriveSlot& operator=(const DriveSlot&) = delete;

  // Grabs the drive at `address`, letting go of any drive grabbed before.
  HResult Grab(const std::string& address) {
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

  // Releases the drive, with an eject when asked; E_IMAPI_RECORDER_REQUIRED when none is
  // grabbed.
  HResult Release(bool eject) {
    std::lock_guard<std::mutex> hold(busy_);
    return ReleaseHeld(eject) ? kSOk : kImapiRecorderRequired;
  }

  // Held for a whole burn, so that a release from another thread waits for its end.
  std::mutex& busy() { return busy_; }
  burn::burn_drive* drive() const { return infos_ != nullptr ? infos_[0].drive : nullptr; }
  const std::string& address() const { return address_; }

 private:
  bool ReleaseHeld(bool eject) {
    if (infos_ == nullptr) return false;
    std::lock_guard<std::mutex> library(LibburnLock());
    burn::burn_drive_release(infos_[0].drive, eject ? 1 : 0);
    burn::burn_drive_info_free(infos_);
    GrabbedAddresses().erase(address_);
    infos_ = nullptr;
    address_.clear();
    return true;
  }

  std::mutex busy_;
  burn::burn_drive_info* infos_ = nullptr;
  std::string address_;
};

class LinuxRecorder2 : public Recorder2Object {
 public:
  HResult InitializeDiscRecorder(const std::u16string& uniqueId) override {
    return slot_->Grab(Narrow(uniqueId));
  }
  HResult EjectMedia() override { return slot_->Release(true); }
  const std::shared_ptr<DriveSlot>& slot() const { return slot_; }

 private:
  std::shared_ptr<DriveSlot> slot_ = std::make_shared<DriveSlot>();
};

// The image as one file: a stream of this back end already is one (read from its start);
// any other stream is copied, from its position, into a new unnamed file.
std::shared_ptr<StreamFile> ImageFile(DiscStream& image, HResult* result) {
  *result = kSOk;
  if (const auto* ours = dynamic_cast<const LinuxDiscStream*>(&image)) return ours->file();
  std::shared_ptr<StreamFile> file = StreamFile::Create();
  if (!file) {
    *result = kEFail;
    return nullptr;
  }
  LinuxDiscStream copy(file, true);
  *result = image.CopyTo(copy, std::numeric_limits<uint64_t>::max());
  return Succeeded(*result) ? file : nullptr;
}

// Burns `bytes` of `image` as one mode 1 data track in one closed session and waits for
// the end. No padding and no extra sectors: the medium receives exactly the image.
HResult BurnImage(burn::burn_drive* drive, const StreamFile& image, uint64_t bytes) {
  // libburn reads through a descriptor of its own, which it closes when done. It shares
  // the file offset with the stream's descriptor, which nothing else here moves.
  const int sourceFd = fcntl(image.fd(), F_DUPFD_CLOEXEC, 0);
  if (sourceFd < 0) return kEFail;
  if (lseek(sourceFd, 0, SEEK_SET) != 0) {
    close(sourceFd);
    return kEFail;
  }
  std::unique_ptr<burn::burn_source, SourceFree> source(
      burn::burn_fd_source_new(sourceFd, -1, static_cast<off_t>(bytes)));
  if (!source) {
    close(sourceFd);
    return kEFail;
  }
  std::unique_ptr<burn::burn_disc, DiscFree> disc(burn::burn_disc_create());
  std::unique_ptr<burn::burn_session, SessionFree> session(burn::burn_session_create());
  std::unique_ptr<burn::burn_track, TrackFree> track(burn::burn_track_create());
  if (!disc || !session || !track) return kEFail;
  burn::burn_track_define_data(track.get(), 0, 0, 0, BURN_MODE1);
  if (burn::burn_track_set_source(track.get(), source.get()) != burn::BURN_SOURCE_OK ||
      burn::burn_session_add_track(session.get(), track.get(), BURN_POS_END) == 0 ||
      burn::burn_disc_add_session(disc.get(), session.get(), BURN_POS_END) == 0) {
    return kEFail;
  }

  std::unique_ptr<burn::burn_write_opts, WriteOptionsFree> options(
      burn::burn_write_opts_new(drive));
  if (!options) return kEFail;
  burn::burn_write_opts_set_simulate(options.get(), 0);
  burn::burn_write_opts_set_underrun_proof(options.get(), 1);
  burn::burn_write_opts_set_multi(options.get(), 0);  // the CD is complete: close it
  burn::burn_drive_set_speed(drive, 0, 0);            // the fastest the drive offers
  // libburn picks a write type that the drive and medium take; a file target gets SAO.
  std::vector<char> reasons(BURN_REASONS_LEN, '\0');
  if (burn::burn_write_opts_auto_write_type(options.get(), disc.get(), reasons.data(), 0) ==
      burn::BURN_WRITE_NONE) {
    return kImapiMediaIncompatible;
  }
  {
    std::lock_guard<std::mutex> library(LibburnLock());
    burn::burn_disc_write(options.get(), disc.get());
  }
  while (burn::burn_drive_get_status(drive, nullptr) != burn::BURN_DRIVE_IDLE) {
    std::this_thread::sleep_for(kBurnPollInterval);
  }
  return burn::burn_drive_wrote_well(drive) != 0 ? kSOk : kEFail;
}

// A regular file standing in for a disc is emptied before the burn, as the blank disc it
// stands for: libburn writes over an existing file from its start but leaves whatever lay
// beyond the image.
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

class LinuxDataWriter2 : public DataWriter2Object {
 public:
  HResult PutRecorder(Recorder2Object& recorder) override {
    const auto* ours = dynamic_cast<const LinuxRecorder2*>(&recorder);
    if (ours == nullptr) return kEPointer;
    slot_ = ours->slot();
    return kSOk;
  }

  // The name is what Windows shows other programs that want the drive; nothing here asks.
  HResult PutClientName(const std::u16string& name) override {
    clientName_ = name;
    return kSOk;
  }

  HResult Write(DiscStream& image) override {
    if (!slot_) return kImapiRecorderRequired;
    std::lock_guard<std::mutex> hold(slot_->busy());
    burn::burn_drive* drive = slot_->drive();
    if (drive == nullptr) return kImapiRecorderRequired;
    HResult result = kSOk;
    const std::shared_ptr<StreamFile> file = ImageFile(image, &result);
    if (!file) return result;
    uint64_t bytes = 0;
    if (!file->Size(&bytes)) return kStgReadFault;
    if (bytes == 0 || bytes % kSectorBytes != 0) return kEInvalidArg;
    // The image starts at sector 0, so it goes only onto a blank medium.
    const burn::burn_disc_status status = burn::burn_disc_get_status(drive);
    if (status == burn::BURN_DISC_EMPTY) return kImapiMediaNoMedia;
    if (status != burn::BURN_DISC_BLANK) return kImapiMediaIncompatible;
    result = BlankFileTarget(slot_->address());
    if (result != kSOk) return result;
    return BurnImage(drive, *file, bytes);
  }

  const std::u16string& clientName() const { return clientName_; }

 private:
  std::shared_ptr<DriveSlot> slot_;
  std::u16string clientName_;
};

}  // namespace

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

HResult LinuxDiscRecording::CoInitialize() {
  ++comDepth_;
  return kSOk;
}

HResult LinuxDiscRecording::CoInitializeEx(uint32_t /*apartment*/) {
  ++comDepth_;
  return kSOk;
}

void LinuxDiscRecording::CoUninitialize() {
  if (comDepth_ > 0) --comDepth_;
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

HResult LinuxDiscRecording::CreateTemporaryStorage(uint32_t /*mode*/,
                                                   std::unique_ptr<DiscStorage>* storage) {
  if (storage == nullptr) return kStgInvalidPointer;
  *storage = std::make_unique<LinuxDiscStorage>();
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

HResult LinuxDiscRecording::CreateDataWriter2(std::unique_ptr<DataWriter2Object>* object) {
  if (object == nullptr) return kEPointer;
  *object = std::make_unique<LinuxDataWriter2>();
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

bool ReadAll(const DiscStream& stream, std::vector<uint8_t>* bytes) {
  bytes->clear();
  const auto* ours = dynamic_cast<const LinuxDiscStream*>(&stream);
  if (ours == nullptr) return false;
  uint64_t size = 0;
  if (!ours->file()->Size(&size)) return false;
  bytes->resize(static_cast<size_t>(size));
  size_t got = 0;
  if (!ours->file()->ReadAt(0, bytes->data(), bytes->size(), &got) || got != bytes->size()) {
    bytes->clear();
    return false;
  }
  return true;
}

// The machine's disc recording with no recorder listed yet: ScanDrives has not been
// called, so making the back end never opens a drive; the caller scans (or adds a file
// target) when it wants the list.
std::unique_ptr<DiscRecording> MakeHostDiscRecording() {
  return std::make_unique<LinuxDiscRecording>();
}

}  // namespace platform
