#include "floppy/FloppyWriter.h"

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "datafile/DataFile.h"
#include "datafile/TextIds.h"
#include "floppy/FloppyTarget.h"
#include "image/FloppyImageAssembler.h"
#include "image/FloppyLayout.h"

namespace floppy {

// The records and control codes that raw floppy access exchanges with the system.
using namespace platform;

namespace {

namespace text = datafile::text;

using image::kCylinderBytes;
using image::kFloppyImageBytes;

constexpr uint32_t kFillerWord = 0xF6F6F6F6u;

// An assembled image, or null when memory was refused or the image is incomplete: the
// writer never puts a partial image on a disk.
std::unique_ptr<uint8_t[]> AssembleImage(const FloppyJobServices& services) {
  auto floppy = platform::AllocateArray<uint8_t>(*services.system, kFloppyImageBytes);
  if (!floppy) return nullptr;
  image::FloppyAssemblyReport report;
  const int status =
      image::AssembleFloppyImage(floppy.get(), services.job->dataFile, *services.system, &report);
  return image::FloppyImageIsComplete(status, report) ? std::move(floppy) : nullptr;
}

void ShowError(const FloppyJobServices& services, uint16_t text, const std::string& caption) {
  services.dialog->MessageBox(datafile::LoadText(services.job->dataFile, text), caption,
                              platform::kMbIconError, false);
}

// The job cannot write anything: the write-error message, the job failed, nothing else.
void EndWithoutWriting(const FloppyJobServices& services) {
  job::InstallJob& job = *services.job;
  ShowError(services, text::kFloppyWriteError,
            datafile::LoadText(job.dataFile, text::kErrorCaption));
  job.jobFailed = 1;
  job.progressDone = 0;
  job.busy = 0;
}

// The part of a job that both families share: the image is assembled into its buffer,
// each cylinder is copied into the transfer buffer and written by `writeCylinder`, and the
// cancel request is read after each one; both buffers are released at the end.
void AssembleAndWrite(const FloppyJobServices& services, uint8_t* transfer,
                      const std::string& caption,
                      const std::function<bool(uint32_t cylinder)>& writeCylinder) {
  job::InstallJob& job = *services.job;
  job.jobFailed = 0;
  std::unique_ptr<uint8_t[]> floppy = AssembleImage(services);
  if (!floppy) {
    ShowError(services, text::kFloppyWriteError, caption);
    job.jobFailed = 1;
  }
  for (uint32_t cylinder = 0; floppy && cylinder < job.progressTotal; ++cylinder) {
    std::memcpy(transfer, floppy.get() + uint64_t{cylinder} * kCylinderBytes, kCylinderBytes);
    if (!writeCylinder(cylinder)) {
      ShowError(services, text::kFloppyWriteError, caption);
      job.jobFailed = 1;
      break;
    }
    job.progressDone = cylinder;
    if (job.abortRequested) break;
  }
  floppy.reset();
  services.system->FreePages(transfer);
}

}  // namespace

uint32_t UsedCylindersOf(const uint8_t* floppy) {
  uint32_t result = kImageCylinders;
  for (uint32_t cylinder = kImageCylinders - 1; cylinder >= 1; --cylinder) {
    const uint8_t* bytes = floppy + uint64_t{cylinder} * kCylinderBytes;
    bool unused = true;
    for (uint32_t at = 0; at < kCylinderBytes && unused; at += 4) {
      uint32_t word;
      std::memcpy(&word, bytes + at, 4);
      unused = word == kFillerWord;
    }
    if (unused) result = cylinder;
  }
  return result;
}

uint32_t CountUsedCylinders(const FloppyJobServices& services) {
  const std::unique_ptr<uint8_t[]> floppy = AssembleImage(services);
  return floppy ? UsedCylindersOf(floppy.get()) : 0;
}

void WriteFloppyThread(const FloppyJobServices& services) {
  if (services.job->busy) return;
  if (services.job->isNtFamily) {
    WriteImageNt(services);
  } else {
    WriteImage9x(services);
  }
}

void WriteImageNt(const FloppyJobServices& services) {
  job::InstallJob& job = *services.job;
  FloppyTarget& target = *job.floppyTarget;
  job.busy = 1;
  job.abortRequested = 0;
  job.progressTotal = CountUsedCylinders(services);
  // The drive's cylinder must be the 18,432 bytes by which the image was measured, or the
  // writes would not cover it or would read past it.
  const uint32_t index = job.floppyGeometryIndex;
  const DiskGeometry geometry =
      index < kMediaTypeSlots ? job.floppyMediaTypes[index] : DiskGeometry();
  const uint64_t cylinderBytes =
      uint64_t{geometry.tracksPerCylinder} * geometry.sectorsPerTrack * geometry.bytesPerSector;
  services.system->SetCurrentThreadPriority(platform::kThreadPriorityLowest);
  const std::string caption = datafile::LoadText(job.dataFile, text::kErrorCaption);
  const platform::DeviceHandle volume = job.floppyDevice;
  if (!target.LockVolume(volume)) {
    ShowError(services, text::kLockRefused, caption);
    job.abortRequested = 1;
    job.progressDone = 0;
    job.busy = 0;
    return;
  }
  if (cylinderBytes != kCylinderBytes || job.progressTotal == 0) {
    (void)target.UnlockVolume(volume);
    EndWithoutWriting(services);
    return;
  }
  uint8_t* transfer = static_cast<uint8_t*>(services.system->AllocatePages(kCylinderBytes));
  if (transfer == nullptr) {
    ShowError(services, text::kConfirmCd, caption);
    services.system->ExitProcess(0);
    return;
  }
  AssembleAndWrite(services, transfer, caption, [&](uint32_t) {
    uint32_t written = 0;
    return services.devices->Write(volume, transfer, kCylinderBytes, &written) &&
           written == kCylinderBytes;
  });
  // Their results do not matter: the data is on the disk or the job has failed already.
  (void)target.DismountVolume(volume);
  (void)target.UnlockVolume(volume);
  job.busy = 0;
  job.progressDone = 0;
}

void WriteImage9x(const FloppyJobServices& services) {
  job::InstallJob& job = *services.job;
  FloppyTarget& target = *job.floppyTarget;
  job.busy = 1;
  job.abortRequested = 0;
  job.progressTotal = CountUsedCylinders(services);
  const uint32_t cylinders = job.dosCylinders;
  const uint32_t sectorsPerCylinder = cylinders == 0 ? 0 : job.dosTotalSectors / cylinders;
  const uint32_t cylinderBytes = job.dosBytesPerSector * sectorsPerCylinder;
  services.system->SetCurrentThreadPriority(platform::kThreadPriorityLowest);
  // A drive that reports no cylinders, or cylinders of another size than the image's,
  // gets nothing written.
  if (cylinderBytes != kCylinderBytes || job.progressTotal == 0) {
    EndWithoutWriting(services);
    return;
  }
  uint8_t* transfer = static_cast<uint8_t*>(services.system->AllocatePages(kCylinderBytes));
  const std::string caption = datafile::LoadText(job.dataFile, text::kErrorCaption);
  if (transfer == nullptr) {
    ShowError(services, text::kNoBuffer9x, caption);
    services.system->ExitProcess(0);
    return;
  }
  const uint32_t drive = job.firstFloppyDrive;
  AssembleAndWrite(services, transfer, caption, [&](uint32_t cylinder) {
    return target.WriteSectors9x(cylinder * sectorsPerCylinder,
                                 static_cast<uint16_t>(sectorsPerCylinder), drive, transfer);
  });
  job.busy = 0;
  job.progressDone = 0;
}

}  // namespace floppy
