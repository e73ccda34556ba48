// The floppy job's writer thread: assembles the floppy image, finds how many cylinders
// hold data, and writes them raw to the selected drive, one cylinder per device write,
// publishing its progress and honouring a cancel request between cylinders. Its outcome
// is left in InstallJob for the monitor.
#pragma once

#include <cstdint>

#include "job/InstallJob.h"
#include "platform/DeviceIo.h"
#include "platform/DialogControls.h"
#include "platform/System.h"

namespace floppy {

struct FloppyJobServices {
  job::InstallJob* job = nullptr;
  platform::System* system = nullptr;
  platform::DeviceIo* devices = nullptr;
  platform::DialogControls* dialog = nullptr;  ///< for the writer's own, ownerless, messages
};

constexpr uint32_t kImageCylinders = 80;

/// Thread entry: does nothing while a job is running; otherwise one job on the drive
/// that the last selection readied.
void WriteFloppyThread(const FloppyJobServices& services);
void WriteImageNt(const FloppyJobServices& services);
void WriteImage9x(const FloppyJobServices& services);

/// The cylinders to write, 1 to 80: up to, not including, the first cylinder from 1 on
/// that holds nothing but the format filler. 0 when no complete image can be assembled.
uint32_t CountUsedCylinders(const FloppyJobServices& services);

/// The same count over an assembled image.
uint32_t UsedCylindersOf(const uint8_t* image);

}  // namespace floppy
