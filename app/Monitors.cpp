#include "app/Monitors.h"

#include <string>
#include <vector>

#include "app/TextFormat.h"
#include "datafile/DataFile.h"
#include "datafile/TextIds.h"

namespace app {

namespace {

namespace text = datafile::text;

constexpr int32_t kLastStage = 6;
constexpr int kCdBarRange = 10;

std::string Text(const MonitorControls& controls, uint16_t id) {
  return datafile::LoadText(controls.job->dataFile, id);
}

char FirstFloppyLetter(const job::InstallJob& job) {
  return static_cast<char>(64 + job.firstFloppyDrive);
}

std::string ReadyStatus(const MonitorControls& controls) {
  return FormatText(Text(controls, text::kReadyStatus),
                    {TextArg::Letter(FirstFloppyLetter(*controls.job))});
}

void ShowSuccess(const MonitorControls& controls, uint16_t message) {
  const std::string text =
      FormatText(Text(controls, message), {TextArg::Text(Text(controls, text::kProductName)),
                                           TextArg::Letter(FirstFloppyLetter(*controls.job))});
  controls.dialog->MessageBox(text, Text(controls, text::kSuccessCaption),
                              platform::kMbOk | platform::kMbIconInformation, true);
}

}  // namespace

void FloppyMonitorThread(std::unique_ptr<MonitorControls> controls) {
  job::InstallJob& job = *controls->job;
  platform::DialogControls& dialog = *controls->dialog;
  controls->system->SetCurrentThreadPriority(platform::kThreadPriorityAboveNormal);
  const std::string progressLine = Text(*controls, text::kProgressLine);
  // The writer sets busy as its first step; this head start keeps the loop from taking a
  // job that has not yet begun for one that has ended.
  controls->system->Pause(kMonitorStartDelayMs);

  dialog.SetProgressRange(controls->progressBar, static_cast<uint16_t>(job.progressTotal));
  dialog.Enable(controls->createFloppy, false);
  uint32_t lastShown = job.progressDone;
  dialog.SetProgressPos(controls->progressBar, static_cast<int>(lastShown));
  lastShown += 1;  // differs from progressDone, so the first poll shows it

  while (job.busy) {
    const uint32_t done = job.progressDone;
    if (done != lastShown) {
      const uint32_t total = job.progressTotal;
      dialog.SetProgressRange(controls->progressBar, static_cast<uint16_t>(total));
      dialog.SetProgressPos(controls->progressBar, static_cast<int>(done));
      dialog.SetText(controls->statusLine,
                     FormatText(progressLine, {TextArg::Number(done + 1), TextArg::Number(total)}));
      lastShown = done;
    }
    if (job.closeRequested && job.progressDone > 1) {
      // The window was closed early: the process ends here, silently, the disk half written.
      const platform::DeviceHandle vwin32 = job.vwin32Device.exchange(platform::kInvalidDevice);
      if (vwin32 != platform::kInvalidDevice) controls->devices->Close(vwin32);
      datafile::CloseDataFileNow(job.dataFile);
      controls->system->ExitProcess(0);
      return;
    }
    if (job.progressDone > 1) dialog.Enable(controls->exitButton, true);
    controls->system->Pause(kMonitorPollMs);
  }
  // The writer is done with the drive. It is released before any button comes back: a
  // Create Floppy click selects the drive anew, and that handle belongs to the next job.
  job::CloseFloppyDevice(job, *controls->devices);

  if (job.abortRequested) {
    dialog.MessageBox(Text(*controls, text::kFloppyCancelled),
                      Text(*controls, text::kCancelledCaption),
                      platform::kMbOk | platform::kMbIconExclamation, true);
  } else if (!job.jobFailed) {
    const uint32_t total = job.progressTotal;
    dialog.SetProgressPos(controls->progressBar, static_cast<int>(total));
    dialog.SetText(controls->statusLine,
                   FormatText(progressLine, {TextArg::Number(total), TextArg::Number(total)}));
    ShowSuccess(*controls, text::kFloppyWritten);
  }

  dialog.SetProgressPos(controls->progressBar, 0);
  dialog.SetText(controls->statusLine, ReadyStatus(*controls));
  dialog.Enable(controls->createFloppy, true);
  dialog.SetText(controls->exitButton, Text(*controls, text::kExitLabel));
  dialog.Enable(controls->exitButton, true);
  if (job.recorderCount > 0) dialog.Enable(controls->createCd, true);
  if (job.removableDriveCount > 0) dialog.Enable(controls->makeBootable, true);
  dialog.SetText(controls->createFloppy, Text(*controls, text::kCreateFloppyLabel));
}

void CdMonitorThread(std::unique_ptr<MonitorControls> controls) {
  job::InstallJob& job = *controls->job;
  platform::DialogControls& dialog = *controls->dialog;
  controls->system->SetCurrentThreadPriority(platform::kThreadPriorityAboveNormal);
  std::vector<std::string> stageTexts;
  for (int32_t stage = 0; stage <= kLastStage; ++stage) {
    stageTexts.push_back(Text(*controls, static_cast<uint16_t>(text::kFirstStageText + stage)));
  }
  dialog.Enable(controls->createCd, false);
  dialog.Enable(controls->createFloppy, false);
  dialog.Enable(controls->exitButton, false);
  dialog.Enable(controls->makeBootable, false);
  dialog.SetProgressRange(controls->progressBar, kCdBarRange);
  dialog.SetProgressPos(controls->progressBar, 0);
  int32_t lastShown = job.cdStage - 1;

  while (job.busy) {
    const int32_t stage = job.cdStage;
    if (stage != lastShown) {
      const bool known = stage >= 0 && stage <= kLastStage;
      dialog.SetText(controls->statusLine,
                     known ? stageTexts[static_cast<size_t>(stage)] : std::string());
      // Stages 0, 2 and 3 leave the bar where it is.
      switch (stage) {
        case 1:
          dialog.SetProgressPos(controls->progressBar, 1);
          break;
        case 4:
          dialog.SetProgressPos(controls->progressBar, 3);
          break;
        case 5:
          dialog.SetProgressPos(controls->progressBar, 5);
          break;
        case 6:
          dialog.SetProgressPos(controls->progressBar, 10);
          break;
        default:
          break;
      }
      lastShown = stage;
    }
    controls->system->Pause(kMonitorPollMs);
  }
  // A drive that a declined floppy selection left open is released before Create Floppy
  // comes back, so a new selection's handle is never the one closed here.
  job::CloseFloppyDevice(job, *controls->devices);

  if (!job.jobFailed) {
    dialog.SetProgressPos(controls->progressBar, kCdBarRange);
    ShowSuccess(*controls, text::kCdWritten);
  }
  dialog.SetProgressPos(controls->progressBar, 0);
  // The ready line takes the first floppy drive's letter after a CD job as after a floppy
  // job; shown unformatted it would read "%c" to the user.
  dialog.SetText(controls->statusLine, ReadyStatus(*controls));
  if (job.floppyDriveCount > 0) dialog.Enable(controls->createFloppy, true);
  dialog.Enable(controls->exitButton, true);
  dialog.Enable(controls->createCd, true);
  if (job.removableDriveCount > 0) dialog.Enable(controls->makeBootable, true);
  dialog.SetText(controls->createFloppy, Text(*controls, text::kCreateFloppyLabel));
}

}  // namespace app
