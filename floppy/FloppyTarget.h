// FloppyTarget: finds the 3.5-inch 1.44 MB floppy drives and gives the writer raw access
// to the chosen one. NT-family systems open each drive as a volume ("\\.\A:") and ask its
// media types; Windows 9x systems make DOS calls through the VWIN32 device. Drives are
// numbered as DOS numbers them: 1 = A:, 2 = B:. Every result goes to InstallJob.
#pragma once

#include <cstdint>

#include "job/InstallJob.h"
#include "platform/DeviceIo.h"
#include "platform/DialogControls.h"

namespace floppy {

class FloppyTarget {
 public:
  FloppyTarget(job::InstallJob& job, platform::DeviceIo& devices, platform::DialogControls& dialog)
      : job_(job), devices_(devices), dialog_(dialog) {}

  /// Counting (`countOnly`, `wantedIndex` 0): the number of 1.44 MB drives, leaving no
  /// drive handle open (on 9x the VWIN32 handle opens here and stays open). Selecting:
  /// readies drive `wantedIndex` (0 = A:) for the writer.
  uint32_t Probe(bool countOnly, uint32_t wantedIndex);

  [[nodiscard]] bool LockVolume(platform::DeviceHandle volume);
  [[nodiscard]] bool UnlockVolume(platform::DeviceHandle volume);
  [[nodiscard]] bool DismountVolume(platform::DeviceHandle volume);

  /// Writes `sectorCount` sectors from `buffer` at `firstSector` of DOS drive `driveNumber`
  /// through VWIN32 (Int 21h 7305h or Int 26h); false when the call or the DOS call failed.
  [[nodiscard]] bool WriteSectors9x(uint32_t firstSector, uint16_t sectorCount,
                                    uint32_t driveNumber, void* buffer);

 private:
  uint32_t ProbeNt(bool countOnly, uint32_t wantedIndex);
  uint32_t Probe9x(bool countOnly, uint32_t wantedIndex);
  bool VolumeControl(platform::DeviceHandle volume, uint32_t code);

  job::InstallJob& job_;
  platform::DeviceIo& devices_;
  platform::DialogControls& dialog_;
};

}  // namespace floppy
