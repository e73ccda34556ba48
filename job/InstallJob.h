// InstallJob: the one record that the dialog, the writer threads and the monitors share.
// Every field is one flag or one 32-bit value, each an atomic read and written whole; the
// threads meet only here and never call each other.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/DeviceIo.h"
#include "platform/DriveRecords.h"

namespace datafile {
class DataFile;
}
namespace floppy {
class FloppyTarget;
}

namespace job {

struct InstallJob {
  // Set up at start-up and read for the rest of the run.
  std::atomic<datafile::DataFile*> dataFile{nullptr};
  std::atomic<uint8_t> installPossible{1};
  std::atomic<uint8_t> isNtFamily{0};
  std::atomic<uint8_t> cdRecordingSupported{0};
  std::atomic<uint8_t> useImapi2{0};
  std::atomic<uint8_t> useExtendedDosWrite{0};
  std::atomic<int32_t> floppyDriveCount{0};
  std::atomic<int32_t> recorderCount{0};
  std::atomic<int32_t> removableDriveCount{0};
  std::atomic<uint32_t> firstFloppyDrive{0};
  std::atomic<floppy::FloppyTarget*> floppyTarget{nullptr};

  // The selected floppy drive. The media-type list is written by a probe on the dialog's
  // thread before a writer thread starts, and only read while one runs.
  std::atomic<platform::DeviceHandle> floppyDevice{platform::kInvalidDevice};
  std::atomic<platform::DeviceHandle> vwin32Device{platform::kInvalidDevice};
  platform::DiskGeometry floppyMediaTypes[platform::kMediaTypeSlots] = {};
  std::atomic<uint32_t> floppyGeometryIndex{0};
  std::atomic<uint16_t> dosCylinders{0};
  std::atomic<uint16_t> dosBytesPerSector{0};
  std::atomic<uint16_t> dosTotalSectors{0};

  // The job.
  std::atomic<uint8_t> busy{0};
  std::atomic<uint8_t> abortRequested{0};
  std::atomic<uint8_t> jobFailed{0};
  std::atomic<uint32_t> progressTotal{0};
  std::atomic<uint32_t> progressDone{0};
  std::atomic<int32_t> cdStage{0};
  std::atomic<int32_t> selectedRecorder{0};
  std::atomic<uint8_t> closeRequested{0};
};

/// Closes the selected drive's handle if it is open and marks it closed, so that however
/// many parties finish with it (both monitors, a new selection) it is closed exactly once.
void CloseFloppyDevice(InstallJob& job, platform::DeviceIo& devices);

}  // namespace job
