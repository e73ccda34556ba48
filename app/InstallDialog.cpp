#include "app/InstallDialog.h"

#include <new>

#include "app/TextFormat.h"
#include "cd/CdBurner.h"
#include "datafile/TextIds.h"
#include "floppy/FloppyWriter.h"

namespace app {

namespace {

namespace text = datafile::text;

constexpr uint32_t kPlatformWin32s = 0;
constexpr uint32_t kPlatformWindows9x = 1;
constexpr uint32_t kPlatformNt = 2;
constexpr uint32_t kLastExtendedDosWriteBuild = 1111;
constexpr uint32_t kMajorWithCdRecording = 5;
constexpr uint32_t kMajorWithImapi2 = 6;
constexpr uint32_t kErrorBox = platform::kMbOk | platform::kMbIconError;
constexpr uint32_t kConfirmBox = platform::kMbOkCancel | platform::kMbIconExclamation;

}  // namespace

CInstallDlg::CInstallDlg(const InstallServices& services)
    : services_(services),
      job_(*services.job),
      window_(*services.window),
      recorders_(*services.recording) {
  job_.cdRecordingSupported = 0;
  job_.useImapi2 = 0;
  job_.useExtendedDosWrite = 0;
  // The call's result is not looked at: a system that refuses the extended record leaves
  // it zero, and so counts as Windows 95 with build 0.
  platform::VersionInfo version;
  services_.system->GetVersion(&version);
  floppyCount_ = 0;
  recorderCount_ = 0;
  switch (version.platformId) {
    case kPlatformWin32s:
    case kPlatformWindows9x:
      job_.isNtFamily = 0;
      job_.useExtendedDosWrite = (version.build & 0xFFFF) <= kLastExtendedDosWriteBuild ? 1 : 0;
      break;
    case kPlatformNt:
      job_.isNtFamily = 1;
      job_.cdRecordingSupported = version.major >= kMajorWithCdRecording ? 1 : 0;
      job_.useImapi2 = version.major >= kMajorWithImapi2 ? 1 : 0;
      break;
    default:
      started_ = false;
      services_.system->ExitProcess(0);
      break;
  }
}

CInstallDlg::~CInstallDlg() {
  // The application ends the process rather than destroy a dialog whose job threads still
  // run. The job record outlives the dialog; it keeps no pointer to what goes with it.
  job_.floppyTarget = nullptr;
  job_.dataFile = nullptr;
}

std::string CInstallDlg::Text(uint16_t id) const {
  return datafile::LoadText(dataFile_.get(), id);
}

std::string CInstallDlg::DriveItem(char letter) const {
  std::string item = FormatText(Text(text::kDriveItem), {TextArg::Letter(letter)});
  // The item is formatted into 20 characters; the first zero ends it, as it would there.
  item = item.substr(0, item.find('\0'));
  if (item.size() > kListItemChars) item.resize(kListItemChars);
  return item;
}

void CInstallDlg::ShowStatus() {
  window_.SetText(kStatusLineId, statusText_);
}

int CInstallDlg::DoModal() {
  datafile::DataFileServices files;
  files.files = services_.files;
  files.system = services_.system;
  dataFile_ = datafile::OpenDataFile(files, kDataFileName);
  job_.dataFile = dataFile_.get();
  if (datafile::TakeDataFileError() != datafile::DataFileError::None || !dataFile_) {
    window_.MessageBox(kDataFileMissingText, kDataFileMissingCaption, platform::kMbOk, false);
    return -1;
  }
  floppyTarget_ = std::make_unique<floppy::FloppyTarget>(job_, *services_.devices, window_);
  job_.floppyTarget = floppyTarget_.get();
  floppyCount_ = static_cast<int32_t>(floppyTarget_->Probe(true, 0));
  if (job_.cdRecordingSupported && recorderCount_ == 0) {
    recorderCount_ = recorders_.FindRecorders();
  } else {
    recorderCount_ = 0;  // the system cannot record, or "nocd" switched the CD target off
  }
  removableCount_ = ListRemovableDrives(removableLetters_);
  if (floppyCount_ + recorderCount_ + removableCount_ > 0) {
    statusText_ = FormatText(Text(text::kReadyStatus),
                             {TextArg::Letter(static_cast<char>(64 + job_.firstFloppyDrive))});
  } else {
    statusText_ = Text(text::kNoTargetStatus);
    job_.installPossible = 0;
  }
  return window_.RunModal(*this);
}

int CInstallDlg::ListRemovableDrives(char* letters) {
  int count = 0;
  for (char letter = 'C'; letter <= 'Z' && count < kRemovableSlots; ++letter) {
    const std::string root = std::string(1, letter) + ":\\";
    if (services_.system->DriveType(root) == platform::kDriveRemovable) letters[count++] = letter;
  }
  return count;
}

bool CInstallDlg::OnInitDialog() {
  ShowStatus();
  if (auto picture =
          datafile::LoadBitmap(dataFile_.get(), datafile::kDialogBitmapId, *services_.graphics)) {
    window_.SetPicture(kPictureId, std::move(picture));
  }
  window_.SetText(kProgressGroupId, Text(text::kProgressGroupLabel));
  window_.SetText(kStatusGroupId, Text(text::kStatusGroupLabel));
  window_.SetText(kExitId, Text(text::kExitLabel));
  window_.SetText(kCreateFloppyId, Text(text::kCreateFloppyLabel));
  window_.SetText(kFloppyGroupId, Text(text::kFloppyGroupLabel));
  window_.SetText(kCdGroupId, Text(text::kCdGroupLabel));
  window_.SetText(kCreateCdId, Text(text::kCreateCdLabel));
  window_.SetText(kMakeBootableId, Text(text::kMakeBootableLabel));

  for (int32_t i = 0; i < floppyCount_; ++i) {
    window_.AddListItem(kFloppyListId,
                        DriveItem(static_cast<char>(64 + job_.firstFloppyDrive + i)));
  }
  if (floppyCount_ == 0) {
    window_.AddListItem(kFloppyListId, Text(text::kNoFloppyItem));
    window_.Enable(kFloppyListId, false);
    window_.Enable(kCreateFloppyId, false);
  }
  window_.SetListSelection(kFloppyListId, 0);
  job_.floppyDriveCount = floppyCount_;

  if (recorderCount_ == 0) {
    window_.AddListItem(
        kCdListId, Text(job_.cdRecordingSupported ? text::kNoRecorder : text::kNoRecordingItem));
    window_.Enable(kCdListId, false);
    window_.Enable(kCreateCdId, false);
  }
  job_.recorderCount = recorderCount_;
  for (int32_t i = 0; i < recorderCount_; ++i) {
    window_.AddListItem(kCdListId, DriveItem(recorders_.LetterAt(i)));
  }
  window_.SetListSelection(kCdListId, 0);

  job_.removableDriveCount = removableCount_;
  if (removableCount_ == 0) {
    window_.AddListItem(kHardDiskListId, Text(text::kNoRemovableItem));
    window_.Enable(kHardDiskListId, false);
    window_.Enable(kMakeBootableId, false);
  }
  for (int32_t i = 0; i < removableCount_; ++i) {
    window_.AddListItem(kHardDiskListId, DriveItem(removableLetters_[i]));
  }
  window_.SetListSelection(kHardDiskListId, 0);

  window_.SetTitle(Text(text::kDialogTitle));
  return true;
}

void CInstallDlg::OnCommand(int controlId) {
  switch (controlId) {
    case kCreateFloppyId:
      OnCreateFloppy();
      break;
    case kExitId:
      OnExit();
      break;
    case kCreateCdId:
      OnCreateCdRom();
      break;
    case kMakeBootableId:
      OnMakeBootable();
      break;
    case kImageButtonId:
      OnImageButton();
      break;
    case kIsoButtonId:
      OnIsoButton();
      break;
    case platform::kIdOkCommand:
    case platform::kIdCancelCommand:
      // The base dialog's Enter and Escape: the dialog ends, also while a job runs.
      window_.EndDialog(controlId);
      break;
    default:
      break;
  }
}

std::unique_ptr<MonitorControls> CInstallDlg::NewMonitorControls() {
  if (!services_.system->AllowAllocation(sizeof(MonitorControls))) return nullptr;
  std::unique_ptr<MonitorControls> controls(new (std::nothrow) MonitorControls());
  if (!controls) return nullptr;
  controls->dialog = &window_;
  controls->job = &job_;
  controls->system = services_.system;
  controls->devices = services_.devices;
  return controls;
}

bool CInstallDlg::StartJobThread(std::function<void()> body) {
  const std::shared_ptr<std::atomic<int>> running = runningThreads_;
  ++*running;
  const bool started = services_.system->StartThread([running, body = std::move(body)]() mutable {
    body();
    // The body's captures go before the count does: once it reads zero, no job thread
    // touches the program's objects any more.
    body = nullptr;
    --*running;
  });
  if (!started) --*running;
  return started;
}

bool CInstallDlg::StartMonitor(void (*monitor)(std::unique_ptr<MonitorControls>),
                               std::unique_ptr<MonitorControls> controls) {
  // The thread's body owns the record; a body that never runs frees it as it goes.
  auto record = std::make_shared<std::unique_ptr<MonitorControls>>(std::move(controls));
  return StartJobThread([monitor, record] { monitor(std::move(*record)); });
}

void CInstallDlg::RefuseJob(uint16_t message) {
  window_.MessageBox(Text(message), Text(text::kErrorCaption), kErrorBox, true);
}

void CInstallDlg::DisableJobButtons() {
  window_.Enable(kExitId, false);
  window_.Enable(kCreateCdId, false);
  window_.Enable(kCreateFloppyId, false);
  window_.Enable(kMakeBootableId, false);
}

void CInstallDlg::RestoreIdleButtons() {
  window_.SetText(kExitId, Text(text::kExitLabel));
  window_.Enable(kExitId, true);
  if (floppyCount_ > 0) window_.Enable(kCreateFloppyId, true);
  if (recorderCount_ > 0) window_.Enable(kCreateCdId, true);
  if (removableCount_ > 0) window_.Enable(kMakeBootableId, true);
}

void CInstallDlg::OnCreateFloppy() {
  const int selection = window_.GetListSelection(kFloppyListId);
  // Selecting also closes a drive that an earlier, declined selection left open.
  floppyTarget_->Probe(
      false, static_cast<uint32_t>(selection + static_cast<int>(job_.firstFloppyDrive) - 1));
  if (!job_.installPossible) {
    RefuseJob(text::kNothingToInstall);
    return;
  }
  if (window_.MessageBox(Text(text::kConfirmFloppy), Text(text::kConfirmCaption), kConfirmBox,
                         true) != platform::kIdOk) {
    return;
  }
  // The monitor's record is had before the dialog changes, so a job that cannot start
  // leaves the dialog as it was.
  std::unique_ptr<MonitorControls> controls = NewMonitorControls();
  if (!controls) {
    RefuseJob(text::kNoBuffer9x);
    return;
  }
  const std::string idleStatus = statusText_;
  statusText_ = Text(text::kFloppyRunningStatus);
  window_.SetText(kExitId, Text(text::kCancelJobLabel));
  DisableJobButtons();
  job_.closeRequested = 0;
  // Until its writer begins, the job counts as failed and not cancelled: a writer that
  // never starts leaves its monitor nothing to announce, and an earlier job's cancel is
  // not taken for this one's. The writer clears both as it begins.
  job_.abortRequested = 0;
  job_.jobFailed = 1;
  if (!StartMonitor(&FloppyMonitorThread, std::move(controls))) {
    statusText_ = idleStatus;
    RestoreIdleButtons();
    RefuseJob(text::kFloppyWriteError);
    return;
  }
  floppy::FloppyJobServices writer;
  writer.job = &job_;
  writer.system = services_.system;
  writer.devices = services_.devices;
  writer.dialog = &window_;
  if (!StartJobThread([writer] { floppy::WriteFloppyThread(writer); })) {
    // The monitor, finding no job, puts the dialog back without a message of its own.
    statusText_ = idleStatus;
    RefuseJob(text::kFloppyWriteError);
    return;
  }
  ShowStatus();
}

void CInstallDlg::OnCreateCdRom() {
  if (!job_.installPossible) {
    RefuseJob(text::kNothingToInstall);
    return;
  }
  if (window_.MessageBox(Text(text::kConfirmCd), Text(text::kConfirmCaption), kConfirmBox, true) !=
      platform::kIdOk) {
    return;
  }
  std::unique_ptr<MonitorControls> controls = NewMonitorControls();
  if (!controls) {
    RefuseJob(text::kDiscNotWritten);
    return;
  }
  // The buttons go before any thread starts: a click between the start and the monitor's
  // first step would otherwise begin a second job beside this one.
  DisableJobButtons();
  job_.busy = 1;
  job_.selectedRecorder = window_.GetListSelection(kCdListId);
  job_.cdStage = 0;
  if (!StartMonitor(&CdMonitorThread, std::move(controls))) {
    job_.busy = 0;
    RestoreIdleButtons();
    RefuseJob(text::kDiscNotWritten);
    return;
  }
  cd::CdJobServices burner;
  burner.job = &job_;
  burner.system = services_.system;
  burner.recording = services_.recording;
  burner.dialog = &window_;
  if (!StartJobThread([burner] { cd::CdBurnThread(burner); })) {
    // Failed before busy drops, so the monitor puts the dialog back without a message.
    job_.jobFailed = 1;
    job_.busy = 0;
    RefuseJob(text::kDiscNotWritten);
    return;
  }
  ShowStatus();
}

void CInstallDlg::OnExit() {
  if (job_.busy) {
    job_.abortRequested = 1;
    window_.SetText(kExitId, Text(text::kExitLabel));
    return;
  }
  statusText_ = Text(text::kLeavingStatus);
  ShowStatus();
  const platform::DeviceHandle vwin32 = job_.vwin32Device.exchange(platform::kInvalidDevice);
  if (vwin32 != platform::kInvalidDevice) services_.devices->Close(vwin32);
  // The file is closed but its reader object stays until the dialog goes: a monitor still
  // showing its closing message may fetch one more text, which then reads empty.
  datafile::CloseDataFile(dataFile_.get());
  window_.EndDialog(0);
}

void CInstallDlg::OnShowWindow(bool) {
  if (!job_.installPossible) window_.Enable(kCreateFloppyId, false);
}

bool CInstallDlg::OnClose() {
  if (job_.busy && job_.progressDone <= 1) {
    job_.closeRequested = 1;
    return false;
  }
  return true;
}

}  // namespace app
