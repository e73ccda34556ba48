// CInstallDlg: the installer's one dialog. Before its window exists it detects the Windows
// version, opens install.dat and counts the targets (floppy drives, CD recorders,
// removable drives); when the window is created it fills its labels, picture and lists
// from the data file; its buttons start the floppy and CD jobs, whose monitors then drive
// the controls until the job ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/InstallServices.h"
#include "app/Monitors.h"
#include "cd/ImapiRecorderList.h"
#include "datafile/DataFile.h"
#include "floppy/FloppyTarget.h"

namespace app {

/// Controls of dialog template 101 beyond the monitors' six.
constexpr int kPictureId = 1011;
constexpr int kProgressGroupId = 1012;
constexpr int kStatusGroupId = 1013;
constexpr int kFloppyListId = 1015;
constexpr int kCdListId = 1016;
constexpr int kCdGroupId = 1017;
constexpr int kFloppyGroupId = 1018;
constexpr int kImageButtonId = 1019;
constexpr int kIsoButtonId = 1021;
constexpr int kHardDiskGroupId = 1022;
constexpr int kHardDiskListId = 1023;

constexpr char kDataFileName[] = "install.dat";
constexpr char kDataFileMissingText[] = "Could not load Image and Resource file.";
constexpr char kDataFileMissingCaption[] = "Error";
/// List items are formatted into 20 characters, the terminating zero included.
constexpr size_t kListItemChars = 19;
constexpr int kRemovableSlots = 24;  // C to Z

class CInstallDlg : public platform::DialogEvents {
 public:
  /// Records the Windows version flags in the job. An unknown platform ends the process.
  explicit CInstallDlg(const InstallServices& services);
  ~CInstallDlg() override;

  /// Opens the data file, counts the targets, chooses the first status line and runs the
  /// dialog; the dialog's end code, or -1 when the data file could not be opened (after
  /// its message).
  int DoModal();

  bool OnInitDialog() override;
  void OnCommand(int controlId) override;
  void OnShowWindow(bool show) override;
  bool OnClose() override;

  void OnCreateFloppy();
  void OnCreateCdRom();
  void OnExit();
  void OnMakeBootable() {}
  void OnImageButton() {}
  void OnIsoButton() {}

  /// The removable drives' letters, C to Z, into `letters`; how many.
  int ListRemovableDrives(char* letters);

  /// -1 switches the CD target off ("nocd"); start-up then makes no recorder search.
  void SetRecorderCount(int32_t count) { recorderCount_ = count; }
  /// False when the constructor ended the process (an unknown platform).
  bool started() const { return started_; }
  /// How many of the threads that the Create commands started have not yet ended; while
  /// any runs, the dialog's objects must stay.
  int RunningJobThreads() const { return *runningThreads_; }
  const std::string& statusText() const { return statusText_; }

 private:
  std::string Text(uint16_t id) const;
  std::string DriveItem(char letter) const;
  void ShowStatus();
  /// The monitor's record, or null when it cannot be had.
  std::unique_ptr<MonitorControls> NewMonitorControls();
  /// Starts `body` on a thread counted in RunningJobThreads; false when none started.
  bool StartJobThread(std::function<void()> body);
  /// Starts `monitor` on its own thread with `controls`; false when no thread started.
  bool StartMonitor(void (*monitor)(std::unique_ptr<MonitorControls>),
                    std::unique_ptr<MonitorControls> controls);
  void RefuseJob(uint16_t message);
  /// The Create buttons, Exit and Make Bootable, disabled while a job runs.
  void DisableJobButtons();
  /// The buttons and the Exit label as they are between jobs, after a job that could not
  /// start.
  void RestoreIdleButtons();

  InstallServices services_;
  job::InstallJob& job_;
  platform::DialogWindow& window_;
  std::string statusText_;
  int32_t floppyCount_ = 0;
  int32_t recorderCount_ = 0;
  int32_t removableCount_ = 0;
  char removableLetters_[kRemovableSlots] = {};
  cd::ImapiRecorderList recorders_;
  std::unique_ptr<datafile::DataFile> dataFile_;
  std::unique_ptr<floppy::FloppyTarget> floppyTarget_;
  bool started_ = true;
  // Shared with the job threads, so that a thread's last step, counting itself out, never
  // touches a dialog that is already gone.
  std::shared_ptr<std::atomic<int>> runningThreads_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace app
