// Start-up and commands of the main dialog, through the fakes.
#include "app/InstallDialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/Host.h"
#include "tests/fakes/FakeDiscRecording.h"
#include "tests/support/JobFixture.h"
#include "tests/support/TestFiles.h"

namespace {

using Strings = std::vector<std::string>;
using testsupport::Bytes;
constexpr char kA[] = "\\\\.\\A:";

class InstallDialogTest : public testsupport::JobFixture {
 protected:
  void SetUp() override {
    JobFixture::SetUp();
    Fresh();
  }
  // One drive A:, one recorder on E:, every text the dialog shows and a 1x1 picture.
  void Fresh() {
    datafile::TakeDataFileError();
    entries = testsupport::JobEntries(5);
    for (uint16_t id : {1000, 1001, 1002, 1007, 1013, 1014, 1015, 1020, 1021, 1031, 1033, 1034,
                        1036, 1039, 1041, 1049, 1050, 1051, 1052}) {
      entries.push_back({id, Bytes("T" + std::to_string(id))});
    }
    std::vector<uint8_t> bmp(58);
    bmp[0] = 'B', bmp[1] = 'M', bmp[10] = 54, bmp[14] = 40, bmp[28] = 24;
    bmp[18] = bmp[22] = bmp[26] = 1;
    entries.insert(entries.end(),
                   {{1037, Bytes("Drive %c:")}, {100, bmp}, {5000, Bytes("readme.txt")}});
    devices.ntDrives = {{kA, {}}};
    devices.ntDrives[kA].mediaTypes = {fakes::Geometry144()};
    recording.Reset();
    recording.dosDevices["E:"] = "\\Device\\CdRom0";
    dialog.Reset();
    dialog.script = nullptr;
  }
  int Run(std::vector<const char*> args = {}) {
    files.Add("install.dat", mkinstalldat::BuildDataFile(entries));
    args.insert(args.begin(), "installer");
    return app::RunInstaller(static_cast<int>(args.size()), args.data(), Services());
  }
  app::InstallServices Services() {
    app::InstallServices services;
    services.job = &job;
    services.system = &system;
    services.files = &files;
    services.graphics = graphics.get();
    services.devices = &devices;
    services.recording = &recording;
    services.window = &dialog;
    return services;
  }
  bool Logged(const std::string& line) const {
    const auto log = dialog.Log();
    return std::find(log.begin(), log.end(), line) != log.end();
  }
  // The message boxes after the first `skip`, as "caption: text".
  Strings BoxTexts(size_t skip = 0) const {
    Strings texts;
    for (const auto& box : dialog.Boxes()) texts.push_back(box.caption + ": " + box.text);
    return Strings(texts.begin() + static_cast<long>(std::min(skip, texts.size())), texts.end());
  }
  void ExpectTargets(const Strings& floppies, const Strings& cds, const Strings& disks,
                     const std::string& status) {
    EXPECT_EQ(dialog.ListItems(app::kFloppyListId), floppies);
    EXPECT_EQ(dialog.ListItems(app::kCdListId), cds);
    EXPECT_EQ(dialog.ListItems(app::kHardDiskListId), disks);
    EXPECT_EQ(dialog.TextOf(app::kStatusLineId), status);
  }
  void ExpectRestored() {
    EXPECT_EQ(job.busy, 0);
    EXPECT_EQ(dialog.TextOf(app::kExitId), "T1004");
    for (int id : {app::kExitId, app::kCreateFloppyId, app::kCreateCdId})
      EXPECT_TRUE(dialog.EnabledOf(id)) << id;
  }

  std::vector<mkinstalldat::DatEntry> entries;
  std::unique_ptr<platform::Graphics> graphics = platform::MakeHostGraphics();
  fakes::FakeDiscRecording recording;
};

// --- Start-up ---------------------------------------------------------------------------------

TEST_F(InstallDialogTest, StartsWithEveryTextListAndThePicture) {
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(dialog.title, "T1000");
  EXPECT_TRUE(dialog.hasPicture);
  const std::pair<int, const char*> texts[] = {
      {app::kProgressGroupId, "T1001"}, {app::kStatusGroupId, "T1002"}, {app::kExitId, "T1004"},
      {app::kCreateFloppyId, "T1035"},  {app::kFloppyGroupId, "T1033"}, {app::kCdGroupId, "T1034"},
      {app::kCreateCdId, "T1036"},      {app::kMakeBootableId, "T1052"}};
  for (const auto& [id, text] : texts) EXPECT_EQ(dialog.TextOf(id), text) << id;
  ExpectTargets({"Drive A:"}, {"Drive E:"}, {"T1051"}, "ready A:");
  EXPECT_FALSE(dialog.EnabledOf(app::kMakeBootableId));
  EXPECT_TRUE(dialog.EnabledOf(app::kCreateFloppyId) && dialog.EnabledOf(app::kCreateCdId));
  EXPECT_EQ(dialog.GetListSelection(app::kFloppyListId), 0);
  EXPECT_EQ(job.floppyDriveCount, 1);
  EXPECT_EQ(job.recorderCount, 1);
  EXPECT_EQ(job.removableDriveCount, 0);
  EXPECT_EQ(files.opens.size(), 2u) << "the fixture's and the dialog's";
  EXPECT_EQ(files.opens.back().path, "install.dat");
}

TEST_F(InstallDialogTest, OnlyTheExactWordNocdSwitchesTheCdTargetOff) {
  EXPECT_EQ(app::FirstPlainParameter(3, std::vector<const char*>{"x", "/a", "nocd"}.data()),
            "nocd");
  for (const char* word : {"NOCD", "/nocd", "-nocd", "nocdx"}) {
    Fresh();
    Run({word});
    EXPECT_EQ(job.recorderCount, 1) << word;
  }
  Fresh();
  Run({"nocd"});
  EXPECT_EQ(job.recorderCount, 0);
  const Strings calls = recording.Log();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "CreateShellCdBurn"), 0) << "no search";
  ExpectTargets({"Drive A:"}, {"T1039"}, {"T1051"}, "ready A:");
  EXPECT_FALSE(dialog.EnabledOf(app::kCdListId) || dialog.EnabledOf(app::kCreateCdId));
}

TEST_F(InstallDialogTest, NtFourOffersNoCdRecording) {
  system.version = {2, 4, 1381};
  Run();
  ExpectTargets({"Drive A:"}, {"T1050"}, {"T1051"}, "ready A:");
  EXPECT_LE(recording.Log().size(), 1u) << "no recorder search";
}

TEST_F(InstallDialogTest, ADriveOnBOnlyLettersTheListAndTheStatusB) {
  devices.ntDrives = {{"\\\\.\\B:", devices.ntDrives[kA]}};
  Run();
  ExpectTargets({"Drive B:"}, {"Drive E:"}, {"T1051"}, "ready B:");
}

TEST_F(InstallDialogTest, ARemovableDriveAloneIsATargetLetteredWithTheAtSign) {
  devices.ntDrives.clear();
  recording.hasRecordableDrive = false;
  system.removableLetters = "GK";
  Run();
  ExpectTargets({"T1049"}, {"T1039"}, {"Drive G:", "Drive K:"}, "ready @:");
  EXPECT_EQ(job.installPossible, 1);
  EXPECT_EQ(system.DriveQueries().front(), "C:\\");
  EXPECT_EQ(system.DriveQueries().size(), 24u);
}

TEST_F(InstallDialogTest, NoTargetAtAllLeavesOnlyExitAndBothCreateButtonsAnswerWithAnError) {
  devices.ntDrives.clear();
  recording.hasRecordableDrive = false;
  dialog.script = [](platform::DialogEvents& events) {
    events.OnCommand(app::kCreateFloppyId);
    events.OnCommand(app::kCreateCdId);
  };
  Run();
  ExpectTargets({"T1049"}, {"T1039"}, {"T1051"}, "T1013");
  EXPECT_EQ(job.installPossible, 0);
  for (int id : {app::kFloppyListId, app::kCdListId, app::kHardDiskListId, app::kCreateFloppyId,
                 app::kCreateCdId, app::kMakeBootableId}) {
    EXPECT_FALSE(dialog.EnabledOf(id)) << id;
  }
  EXPECT_TRUE(dialog.EnabledOf(app::kExitId));
  const Strings log = dialog.Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "box owned 0x10 T1006: T1020"), 2);
  EXPECT_EQ(dialog.Boxes().size(), 2u);
  EXPECT_EQ(job.busy, 0);
}

TEST_F(InstallDialogTest, MissingTextsAndPictureShowEmpty) {
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [](const auto& e) { return e.id == 1000 || e.id == 100; }),
                entries.end());
  Run();
  EXPECT_EQ(dialog.title, "");
  EXPECT_FALSE(dialog.hasPicture);
  EXPECT_EQ(dialog.TextOf(app::kExitId), "T1004");
}

TEST_F(InstallDialogTest, TheWindowsVersionSetsTheJobsFlags) {
  struct Case {
    const char* name;
    platform::VersionInfo version;
    bool callFails;
    uint8_t nt, cd, imapi2, extendedDos;
  };
  const std::vector<Case> cases = {
      {"Windows 95 build 950", {1, 4, 0x04000000u | 950}, false, 0, 0, 0, 1},
      {"Windows 95 build 1111", {1, 4, 0x04000000u | 1111}, false, 0, 0, 0, 1},
      {"Windows 95 build 1112", {1, 4, 0x04000000u | 1112}, false, 0, 0, 0, 0},
      {"Windows 98", {1, 4, 0x040A0000u | 1998}, false, 0, 0, 0, 0},
      {"NT 4.0", {2, 4, 1381}, false, 1, 0, 0, 0},
      {"Windows XP", {2, 5, 2600}, false, 1, 1, 0, 0},
      {"Vista", {2, 6, 6000}, false, 1, 1, 1, 0},
      {"failed call", {2, 6, 6000}, true, 0, 0, 0, 1},
  };
  for (const Case& c : cases) {
    system.version = c.version;
    system.versionCallFails = c.callFails;
    app::CInstallDlg installer(Services());
    EXPECT_TRUE(installer.started()) << c.name;
    EXPECT_EQ(job.isNtFamily, c.nt) << c.name;
    EXPECT_EQ(job.cdRecordingSupported, c.cd) << c.name;
    EXPECT_EQ(job.useImapi2, c.imapi2) << c.name;
    EXPECT_EQ(job.useExtendedDosWrite, c.extendedDos) << c.name;
  }
}

TEST_F(InstallDialogTest, AnUnknownPlatformOrABadDataFileEndsBeforeTheDialog) {
  system.version = {3, 1, 0};
  const size_t opens = files.opens.size();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(system.Exits(), std::vector<uint32_t>{0});
  EXPECT_EQ(files.opens.size(), opens) << "the data file is not read";
  EXPECT_TRUE(dialog.Boxes().empty());
  EXPECT_FALSE(dialog.ran);
  system.version = {2, 6, 6000};
  for (bool malformed : {false, true}) {  // absent, or of a version not known
    files.files_.clear();
    dialog.Reset();
    if (malformed) {
      mkinstalldat::DatLayout badVersion;
      badVersion.version = 7;
      files.Add("install.dat", mkinstalldat::BuildDataFile(entries, badVersion));
    }
    const char* args[] = {"installer"};
    EXPECT_EQ(app::RunInstaller(1, args, Services()), 0);
    const auto boxes = dialog.Boxes();
    ASSERT_EQ(BoxTexts(), Strings{"Error: Could not load Image and Resource file."});
    EXPECT_EQ(boxes[0].type, 0u);
    EXPECT_FALSE(boxes[0].owned);
    EXPECT_FALSE(dialog.ran);
  }
}

// --- Commands ---------------------------------------------------------------------------------

TEST_F(InstallDialogTest, DecliningTheFloppyConfirmationChangesNothingAndLeaksNoHandle) {
  dialog.Answer(platform::kIdCancel);
  dialog.Answer(platform::kIdCancel);
  size_t logBefore = 0;
  dialog.script = [&](platform::DialogEvents& events) {
    logBefore = dialog.Log().size();
    events.OnCommand(app::kCreateFloppyId);
    events.OnCommand(app::kCreateFloppyId);
  };
  Run();
  const auto log = dialog.Log();
  ASSERT_EQ(log.size(), logBefore + 2);
  EXPECT_EQ(log[logBefore], "box owned 0x31 T1007: T1021");
  EXPECT_EQ(devices.OpenHandles(), 1) << "the second selection closed the first one's drive";
  EXPECT_EQ(devices.BadCloses(), 0);
  EXPECT_EQ(job.busy, 0);
}

TEST_F(InstallDialogTest, AFloppyJobRunsFromThePressToTheRestoredDialog) {
  // On the virtual clock the monitor's 500 ms head start lasts until the writer has begun,
  // as the real wait gives it (bounded, in case the writer has already come and gone).
  system.onPause = [&](uint32_t milliseconds) {
    if (milliseconds != app::kMonitorStartDelayMs) return;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!job.busy && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
  };
  dialog.script = [&](platform::DialogEvents& events) {
    events.OnCommand(app::kCreateFloppyId);
    const auto log = dialog.Log();
    const Strings pressed = {"box owned 0x31 T1007: T1021",
                             "text 1004 T1005",
                             "disable 1004",
                             "disable 1005",
                             "disable 1003",
                             "disable 1006"};
    EXPECT_NE(std::search(log.begin(), log.end(), pressed.begin(), pressed.end()), log.end());
    EXPECT_EQ(dialog.TextOf(app::kStatusLineId), "T1014");
    system.JoinThreads();
  };
  Run();
  ExpectRestored();
  EXPECT_EQ(job.jobFailed, 0);
  EXPECT_EQ(devices.ntDrives[kA].contents.size(), 5u * 18432);
  EXPECT_TRUE(Logged("box owned 0x40 T1009: T1040 is on A:"));
  EXPECT_EQ(dialog.TextOf(app::kStatusLineId), "ready A:");
  EXPECT_EQ(devices.OpenHandles(), 0);
}

TEST_F(InstallDialogTest, ACdJobRunsThroughTheChosenRecorder) {
  recording.imapi2Recorders = {u"recorder-0"};
  system.holdThreads = true;
  dialog.script = [&](platform::DialogEvents& events) {
    events.OnCommand(app::kCreateCdId);
    EXPECT_EQ(job.selectedRecorder, dialog.GetListSelection(app::kCdListId));
    // The command itself takes the buttons away: no click lands before the monitor runs.
    for (int id : {app::kCreateCdId, app::kCreateFloppyId, app::kExitId, app::kMakeBootableId})
      EXPECT_FALSE(dialog.EnabledOf(id)) << id;
    system.ReleaseThreads();
    system.JoinThreads();
  };
  Run();
  ExpectRestored();
  EXPECT_EQ(job.jobFailed, 0) << ::testing::PrintToString(dialog.Log());
  EXPECT_EQ(job.selectedRecorder, 0);
  EXPECT_FALSE(recording.burnedImage.empty());
  EXPECT_TRUE(Logged("box owned 0x40 T1009: T1040 is on CD (A:)"));
}

TEST_F(InstallDialogTest, ExitCancelsARunningJobOrEndsTheProgram) {
  dialog.script = [&](platform::DialogEvents& events) {
    job.busy = 1;  // a job is running
    events.OnCommand(app::kExitId);
    EXPECT_EQ(job.abortRequested, 1);
    EXPECT_EQ(dialog.TextOf(app::kExitId), "T1004");
    EXPECT_EQ(dialog.endCode, fakes::kStillOpen);
    job.busy = 0;
    events.OnCommand(app::kExitId);
    EXPECT_EQ(datafile::LoadText(job.dataFile, 1000), "") << "the data file is closed";
  };
  Run();
  EXPECT_EQ(dialog.endCode, 0);
  EXPECT_EQ(dialog.TextOf(app::kStatusLineId), "T1015");
  EXPECT_EQ(job.dataFile, nullptr) << "the job does not keep a reader that is gone";
}

TEST_F(InstallDialogTest, CloseIsHeldBackEarlyInAJobAndIgnoredDuringACdBurn) {
  dialog.script = [&](platform::DialogEvents& events) {
    job.busy = 1;
    job.progressDone = 1;
    EXPECT_FALSE(events.OnClose());
    EXPECT_EQ(job.closeRequested, 1);
    job.progressDone = 2;
    EXPECT_TRUE(events.OnClose()) << "late in a floppy job the window closes";
    job.progressDone = 0;  // a CD job never advances it: the request is kept, nothing happens
    job.closeRequested = 0;
    EXPECT_FALSE(events.OnClose());
    job.busy = 0;
    EXPECT_TRUE(events.OnClose());
    events.OnCommand(platform::kIdCancelCommand);
  };
  Run();
  EXPECT_EQ(dialog.endCode, platform::kIdCancelCommand);
}

TEST_F(InstallDialogTest, EnterDuringAJobEndsTheProgramAndTheJobWithIt) {
  dialog.script = [&](platform::DialogEvents& events) {
    job.busy = 1;
    events.OnCommand(platform::kIdOkCommand);
  };
  Run();
  EXPECT_EQ(dialog.endCode, platform::kIdOkCommand);
  EXPECT_EQ(system.Exits(), std::vector<uint32_t>{0});
  job.busy = 0;

  // Enter between the job threads' start and their first statement, busy still clear:
  // the process ends before the dialog's objects go. The held threads never run.
  system.holdThreads = true;
  dialog.Reset();
  dialog.script = [&](platform::DialogEvents& events) {
    events.OnCommand(app::kCreateFloppyId);
    events.OnCommand(platform::kIdOkCommand);
  };
  Run();
  EXPECT_EQ(system.Exits(), (std::vector<uint32_t>{0, 0}));
}

TEST_F(InstallDialogTest, ADialogEndedWhileAMonitorRestoresItEndsTheProcessFirst) {
  const std::unique_ptr<platform::System> host = platform::MakeHostSystem();
  auto waitFor = [&](const std::function<bool()>& done) {
    for (int waitedMs = 0; waitedMs < 5000 && !done(); ++waitedMs) host->Pause(1);
  };
  std::atomic<int> phase{0};  // 1: the monitor shows its closing message; 2: the test is done
  system.onPause = [&](uint32_t milliseconds) {
    // The head start lasts until the writer has begun (its total is published by then).
    if (milliseconds == app::kMonitorStartDelayMs)
      waitFor([&] { return job.busy || job.progressTotal; });
  };
  dialog.onLog = [&](const std::string& line) {
    if (line.rfind("box owned 0x40", 0) != 0) return;
    phase = 1;
    waitFor([&] { return phase == 2; });
  };
  dialog.script = [&](platform::DialogEvents& events) {
    events.OnCommand(app::kCreateFloppyId);
    waitFor([&] { return phase == 1; });
    EXPECT_EQ(job.busy, 0);
    events.OnCommand(platform::kIdOkCommand);
  };
  Run();
  EXPECT_EQ(system.Exits(), std::vector<uint32_t>{0}) << "the monitor was still running";
  phase = 2;
  system.JoinThreads();
}

TEST_F(InstallDialogTest, AThreadOrRecordThatCannotBeHadPutsTheDialogBackWithOneMessage) {
  struct Case {
    const char* name;
    int command;
    int refusedStart;  // 1: the monitor, 2: the writer or burner; 0: the monitor's record
    const char* message;
  };
  const std::vector<Case> cases = {{"floppy monitor", app::kCreateFloppyId, 1, "T1026"},
                                   {"floppy writer", app::kCreateFloppyId, 2, "T1026"},
                                   {"CD monitor", app::kCreateCdId, 1, "T1038"},
                                   {"CD burner", app::kCreateCdId, 2, "T1038"},
                                   {"floppy monitor record", app::kCreateFloppyId, 0, "T1027"},
                                   {"CD monitor record", app::kCreateCdId, 0, "T1038"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    recording.imapi2Recorders = {u"recorder-0"};
    job.abortRequested = 1;  // left by an earlier, cancelled job
    system.threadStarts = 0;
    system.refuseThreadNumber = c.refusedStart;
    system.refusedAllocationSize = c.refusedStart ? 0 : sizeof(app::MonitorControls);
    system.holdThreads = true;
    dialog.script = [&](platform::DialogEvents& events) {
      events.OnCommand(c.command);
      system.ReleaseThreads();
      system.JoinThreads();
    };
    Run();
    // The confirmation, then the one failure.
    EXPECT_EQ(BoxTexts(1), Strings{std::string("T1006: ") + c.message});
    EXPECT_EQ(dialog.TextOf(app::kStatusLineId), "ready A:");
    ExpectRestored();
    EXPECT_TRUE(devices.ntDrives[kA].contents.empty());
    EXPECT_TRUE(recording.burnedImage.empty());
  }
}

}  // namespace
