// The Linux back end for disc recording, on libburn: the library's session (started once,
// guarded by one process-wide lock, its messages printed only when something goes wrong)
// and the Vista-style burn, which libburn carries out on an optical drive or on a file
// standing in for a disc. The recorder list and the drives are in LinuxDiscDrives.cpp, the
// streams and storages in LinuxDiscStreams.cpp.
#include "platform/linux/LinuxDiscRecording.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/Host.h"
#include "platform/linux/LinuxDiscRecordingInternal.h"

namespace platform {

using namespace linux_disc;

namespace {

// A data track is made of 2048-byte sectors.
constexpr uint64_t kSectorBytes = 2048;

// libburn burns on its own threads; the caller's thread looks in at this interval.
constexpr auto kBurnPollInterval = std::chrono::milliseconds(10);

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

namespace linux_disc {

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

std::set<std::string>& GrabbedAddresses() {
  static std::set<std::string> addresses;
  return addresses;
}

}  // namespace linux_disc

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

HResult LinuxDiscRecording::CreateDataWriter2(std::unique_ptr<DataWriter2Object>* object) {
  if (object == nullptr) return kEPointer;
  *object = std::make_unique<LinuxDataWriter2>();
  return kSOk;
}

// The machine's disc recording with no recorder listed yet: ScanDrives has not been
// called, so making the back end never opens a drive; the caller scans (or adds a file
// target) when it wants the list.
std::unique_ptr<DiscRecording> MakeHostDiscRecording() {
  return std::make_unique<LinuxDiscRecording>();
}

}  // namespace platform
