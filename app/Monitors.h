// The two progress monitors. Each runs beside a writer thread, polls InstallJob every
// 100 ms, drives the dialog's progress bar, status line and buttons, shows the closing
// message, restores the dialog and ends.
#pragma once

#include <memory>

#include "job/InstallJob.h"
#include "platform/DeviceIo.h"
#include "platform/DialogControls.h"
#include "platform/System.h"

namespace app {

/// Control ids of the main dialog that the monitors drive.
constexpr int kProgressBarId = 1001;
constexpr int kStatusLineId = 1002;
constexpr int kCreateFloppyId = 1003;
constexpr int kExitId = 1004;
constexpr int kCreateCdId = 1005;
constexpr int kMakeBootableId = 1006;

/// A monitor's argument: the dialog and its six working controls, and the services it
/// reaches the job through. The monitor owns it and frees it when it ends.
struct MonitorControls {
  platform::DialogControls* dialog = nullptr;
  int progressBar = kProgressBarId;
  int createFloppy = kCreateFloppyId;
  int exitButton = kExitId;
  int createCd = kCreateCdId;
  int makeBootable = kMakeBootableId;
  int statusLine = kStatusLineId;
  job::InstallJob* job = nullptr;
  platform::System* system = nullptr;
  platform::DeviceIo* devices = nullptr;
};

constexpr uint32_t kMonitorStartDelayMs = 500;
constexpr uint32_t kMonitorPollMs = 100;

/// Monitor of a floppy job: cylinders as progress, the cancel and early-close rules.
void FloppyMonitorThread(std::unique_ptr<MonitorControls> controls);
/// Monitor of a CD job: the burn's stages 0 to 6 as status texts and bar positions.
void CdMonitorThread(std::unique_ptr<MonitorControls> controls);

}  // namespace app
