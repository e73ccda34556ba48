// Start-up and commands of the main dialog, through the fakes.
#include <algorithm>
#include <atomic>
#include "app/InstallDialog.h"
#include "platform/Host.h"
#include "tests/fakes/FakeDiscRecording.h"
#include "tests/support/JobFixture.h"

namespace {

using Strings = std::vector<std::string>;
using testsupport::Bytes;
using namespace app;
constexpr char kA[] = "\\\\.\\A:";

class InstallDialogTest : public testsupport::JobFixture {
 protected:
  void SetUp() override { JobFixture::SetUp(), Fresh(); }
  // One drive A:, one recorder on E:, every text the dialog shows and a 1x1 picture.
  void Fresh() {
    datafile::TakeDataFileError();
    std::vector<uint8_t> bmp(58);
    bmp[0] = 'B', bmp[1] = 'M', bmp[10] = 54, bmp[14] = 40, bmp[28] = 24;
    bmp[18] = bmp[22] = bmp[26] = 1;
    entries = testsupport::JobEntries(5);
    entries.insert(entries.end(),
                   {{1037, Bytes("Drive %c:")}, {100, bmp}, {5000, Bytes("readme.txt")}});
    devices.ntDrives = {{kA, {}}};
    devices.ntDrives[kA].mediaTypes = {fakes::Geometry144()};
    recording.Reset(), recording.imapi2Recorders = {u"recorder-0"};
    recording.dosDevices["E:"] = "\\Device\\CdRom0";
    system.removableLetters.clear(), system.version = {2, 6, 6000};
    job.installPossible = 1, job.firstFloppyDrive = 0;
    dialog.Reset(), dialog.script = nullptr;
  }
  int Run(std::vector<const char*> args = {}) {
    files.Add("install.dat", mkinstalldat::BuildDataFile(entries));
    args.insert(args.begin(), "installer");
    return app::RunInstaller(static_cast<int>(args.size()), args.data(), Services());
  }
  app::InstallServices Services() {
    return {&job, &system, &files, graphics.get(), &devices, &recording, &dialog};
  }
  Strings BoxTexts(size_t skip = 0) const {
    Strings texts;
    for (const auto& box : dialog.Boxes()) texts.push_back(box.caption + ": " + box.text);
    return Strings(texts.begin() + static_cast<long>(std::min(skip, texts.size())), texts.end());
  }
  std::vector<mkinstalldat::DatEntry> entries;
  std::unique_ptr<platform::Graphics> graphics = platform::MakeHostGraphics();
  fakes::FakeDiscRecording recording;
};

// Each list: the drives found, or a text and disabled with its button; no target: errors.
TEST_F(InstallDialogTest, StartUpShowsEveryTextAndListsTheTargetsFound) {
  const Strings a = {"Drive A:"}, e = {"Drive E:"}, none = {"T1051"}, noCd = {"T1039"};
  const auto noDrives = [&] { devices.ntDrives.clear(), recording.hasRecordableDrive = false; };
  const auto pressBoth = [&] {
    noDrives();
    dialog.script = [](platform::DialogEvents& events) {
      events.OnCommand(kCreateFloppyId);
      events.OnCommand(kCreateCdId);
    };
  };
  const auto dropTitle = [&] {
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const auto& x) { return x.id == 1000 || x.id == 100; }),
                  entries.end());
  };
  const auto nt4 = [&] { system.version = {2, 4, 1381}; };
  const auto onlyB = [&] { devices.ntDrives = {{"\\\\.\\B:", devices.ntDrives[kA]}}; };
  const auto removable = [&] { noDrives(), system.removableLetters = "GK"; };
  const std::function<void()> nothing = [] {};
  const struct {
    const char* name;  // the parameter, for the nocd cases
    std::function<void()> setup;
    Strings floppies, cds, disks;
    const char* status;
    bool search;  // for recorders
  } kCases[] = {
      // Only the first plain parameter, exactly "nocd", switches the CD target off.
      {"", nothing, a, e, none, "ready A:", true},
      {"NOCD", nothing, a, e, none, "ready A:", true},
      {"/nocd", nothing, a, e, none, "ready A:", true},
      {"-nocd", nothing, a, e, none, "ready A:", true},
      {"nocdx", nothing, a, e, none, "ready A:", true},
      {"nocd", nothing, a, noCd, none, "ready A:", false},
      {"NT 4", nt4, a, {"T1050"}, none, "ready A:", false},
      {"B: only", onlyB, {"Drive B:"}, e, none, "ready B:", true},
      {"removable only", removable, {"T1049"}, noCd, {"Drive G:", "Drive K:"}, "ready @:", true},
      {"nothing", pressBoth, {"T1049"}, noCd, none, "T1013", true},
      // A missing text reads empty and leaves the next ones as they are.
      {"no title or picture", dropTitle, a, e, none, "ready A:", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Fresh();
    c.setup();
    EXPECT_EQ(Run({"/a", c.name}), 0);
    const bool whole = c.name != std::string("no title or picture");
    EXPECT_EQ(dialog.title, whole ? "T1000" : "");
    EXPECT_EQ(dialog.hasPicture, whole);
    const std::pair<int, const char*> texts[] = {
        {kProgressGroupId, "T1001"}, {kStatusGroupId, "T1002"},  {kExitId, "T1004"},
        {kCreateFloppyId, "T1035"},  {kFloppyGroupId, "T1033"},  {kCdGroupId, "T1034"},
        {kCreateCdId, "T1036"},      {kMakeBootableId, "T1052"}, {kStatusLineId, c.status}};
    for (const auto& [id, text] : texts) EXPECT_EQ(dialog.TextOf(id), text) << id;
    const std::tuple<int, int, const Strings&, int> lists[] = {
        {kFloppyListId, kCreateFloppyId, c.floppies, job.floppyDriveCount},
        {kCdListId, kCreateCdId, c.cds, job.recorderCount},
        {kHardDiskListId, kMakeBootableId, c.disks, job.removableDriveCount}};
    for (const auto& [list, button, items, count] : lists) {
      const bool drives = items[0].rfind("Drive", 0) == 0;
      EXPECT_EQ(dialog.ListItems(list), items);
      EXPECT_EQ(dialog.EnabledOf(list) && dialog.EnabledOf(button), drives);
      EXPECT_EQ(count, drives ? static_cast<int>(items.size()) : 0);
      EXPECT_EQ(dialog.GetListSelection(list), 0);
    }
    EXPECT_EQ(recording.Log().size() > 1, c.search);
    const bool possible = c.status != std::string("T1013");
    EXPECT_EQ(job.installPossible, possible);
    EXPECT_EQ(BoxTexts(), possible ? Strings() : Strings(2, "T1006: T1020"));
    EXPECT_EQ(job.busy, 0);
  }
  EXPECT_EQ(system.DriveQueries().front(), "C:\\");
  EXPECT_EQ(system.DriveQueries().size(), 24 * std::size(kCases)) << "C: to Z: each time";
}

// NT, CD recording, IMAPI2, extended DOS write by version; build 0: the call fails.
TEST_F(InstallDialogTest, TheWindowsVersionSetsTheJobsFlags) {
  const std::pair<platform::VersionInfo, const char*> kCases[] = {
      {{1, 4, 0x04000000u | 950}, "0001"},
      {{1, 4, 0x04000000u | 1111}, "0001"},
      {{1, 4, 0x04000000u | 1112}, "0000"},
      {{1, 4, 0x040A0000u | 1998}, "0000"},
      {{2, 4, 1381}, "1000"},
      {{2, 5, 2600}, "1100"},
      {{2, 6, 6000}, "1110"},
      {{2, 6, 0}, "0001"}};
  for (const auto& [version, flags] : kCases) {
    system.version = version;
    system.versionCallFails = version.build == 0;
    EXPECT_TRUE(app::CInstallDlg(Services()).started());
    EXPECT_EQ(std::to_string(job.isNtFamily) + std::to_string(job.cdRecordingSupported) +
                  std::to_string(job.useImapi2) + std::to_string(job.useExtendedDosWrite),
              flags)
        << version.build;
  }
}

TEST_F(InstallDialogTest, AnUnknownPlatformOrABadDataFileEndsBeforeTheDialog) {
  system.version = {3, 1, 0};
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(system.Exits(), std::vector<uint32_t>{0});
  EXPECT_EQ(files.opens.size(), 1u) << "the fixture's only: the data file is not read";
  EXPECT_TRUE(dialog.Boxes().empty() && !dialog.ran);
  system.version = {2, 6, 6000};  // a bad version (a missing file: installer_batch_test.sh)
  mkinstalldat::DatLayout badVersion;
  badVersion.version = 7;
  files.Add("install.dat", mkinstalldat::BuildDataFile(entries, badVersion));
  const char* args[] = {"installer"};
  EXPECT_EQ(app::RunInstaller(1, args, Services()), 0);
  ASSERT_EQ(BoxTexts(), Strings{"Error: Could not load Image and Resource file."});
  EXPECT_FALSE(dialog.Boxes()[0].type || dialog.Boxes()[0].owned || dialog.ran);
}

// Buttons go before any job thread runs; Enter ends the process first, threads held or not.
TEST_F(InstallDialogTest, AJobRunsFromThePressToItsMessageAndEnterEndsTheProcessFirst) {
  const std::unique_ptr<platform::System> host = platform::MakeHostSystem();
  auto waitFor = [&](const std::function<bool()>& done) {
    for (int waitedMs = 0; waitedMs < 5000 && !done(); ++waitedMs) host->Pause(1);
  };
  const struct {
    int command;
    const char* message;  // the success box; none: the threads are never released
  } kCases[] = {{kCreateFloppyId, "T1009: T1040 is on A:"},
                {kCreateCdId, "T1009: T1040 is on CD (A:)"},
                {kCreateFloppyId, nullptr}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.command * 10 + (c.message != nullptr));
    Fresh();
    std::atomic<int> phase{0};  // 1: the monitor shows its closing message; 2: test done
    system.holdThreads = true;
    // The monitor's head start ends once the writer has begun (busy up, or seen up before).
    std::atomic<bool> begun{false};
    system.onPause = [&](uint32_t milliseconds) {
      if (job.busy) begun = true;
      if (milliseconds == kMonitorStartDelayMs) waitFor([&] { return job.busy || begun; });
    };
    dialog.onLog = [&](const std::string& line) {
      if (line.rfind("box owned 0x40", 0) != 0) return;
      phase = 1;
      waitFor([&] { return phase == 2; });
    };
    dialog.script = [&](platform::DialogEvents& events) {
      events.OnCommand(c.command);
      for (int id : {kCreateCdId, kCreateFloppyId, kExitId, kMakeBootableId})
        EXPECT_FALSE(dialog.EnabledOf(id)) << id;
      const bool floppy = c.command == kCreateFloppyId;
      EXPECT_EQ(dialog.TextOf(kExitId), floppy ? "T1005" : "T1004");
      EXPECT_EQ(dialog.TextOf(kStatusLineId), floppy ? "T1014" : "ready A:");
      EXPECT_EQ(job.selectedRecorder, floppy ? 0 : dialog.GetListSelection(kCdListId));
      if (c.message) {
        system.ReleaseThreads();
        waitFor([&] { return phase == 1; });
        EXPECT_EQ(job.busy + job.jobFailed, 0);
      }
      events.OnCommand(platform::kIdOkCommand);
    };
    const size_t exits = system.Exits().size();
    Run();
    EXPECT_EQ(system.Exits().size(), exits + 1) << "the job's threads were still running";
    EXPECT_EQ(BoxTexts(1), c.message ? Strings{c.message} : Strings());
    phase = 2;
    system.JoinThreads();
    EXPECT_TRUE(!c.message ||
                (devices.OpenHandles() == 0 &&
                 (c.command == kCreateFloppyId ? devices.ntDrives[kA].contents.size() == 5u * 18432
                                               : !recording.burnedImage.empty())));
  }
}

TEST_F(InstallDialogTest, DuringAJobExitCancelsCloseIsHeldBackEarlyAndEnterEndsTheProcess) {
  dialog.script = [&](platform::DialogEvents& events) {
    job.busy = 1;
    events.OnCommand(kExitId);
    EXPECT_EQ(job.abortRequested, 1);
    EXPECT_EQ(dialog.TextOf(kExitId), "T1004");
    EXPECT_EQ(dialog.endCode, fakes::kStillOpen);
    // Closing is held back (and asked of the monitor) until two cylinders are done.
    for (uint32_t done : {0u, 1u, 2u}) {
      job.progressDone = done, job.closeRequested = 0;
      EXPECT_EQ(events.OnClose(), done == 2) << done;
      EXPECT_EQ(job.closeRequested, done < 2);
    }
    job.busy = 0;
    EXPECT_TRUE(events.OnClose());
    job.busy = 1;
    events.OnCommand(platform::kIdOkCommand);
  };
  Run();
  EXPECT_EQ(dialog.endCode, platform::kIdOkCommand);
  EXPECT_EQ(system.Exits(), std::vector<uint32_t>{0});
  Fresh();  // Without a job, Exit ends the program and closes the data file.
  job.busy = 0;
  dialog.script = [&](platform::DialogEvents& events) {
    events.OnCommand(kExitId);
    EXPECT_EQ(datafile::LoadText(job.dataFile, 1000), "") << "the data file is closed";
  };
  Run();
  EXPECT_EQ(dialog.endCode, 0);
  EXPECT_EQ(dialog.TextOf(kStatusLineId), "T1015");
  EXPECT_EQ(job.dataFile, nullptr) << "the job does not keep a reader that is gone";
}

// Declined, or a thread or monitor record refused: the dialog as it was, nothing written.
TEST_F(InstallDialogTest, ADeclinedOrRefusedJobPutsTheDialogBackWithOneMessageAtMost) {
  const struct {
    int command;
    int refused;  // -1: declined; 0: the monitor's record; thread start 1: monitor, 2: job
    const char* message;
  } kCases[] = {{kCreateFloppyId, -1, nullptr}, {kCreateFloppyId, 1, "T1026"},
                {kCreateFloppyId, 2, "T1026"},  {kCreateCdId, 1, "T1038"},
                {kCreateCdId, 2, "T1038"},      {kCreateFloppyId, 0, "T1027"},
                {kCreateCdId, 0, "T1038"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.command * 10 + c.refused);
    Fresh();
    job.abortRequested = 1;  // left by an earlier, cancelled job
    system.threadStarts = 0, system.refuseThreadNumber = c.refused;
    system.refusedAllocationSize = c.refused ? 0 : sizeof(MonitorControls);
    system.holdThreads = true;
    if (c.refused < 0) dialog.Answer(platform::kIdCancel), dialog.Answer(platform::kIdCancel);
    dialog.script = [&](platform::DialogEvents& events) {
      events.OnCommand(c.command);
      if (c.refused < 0) events.OnCommand(c.command);  // the second closes the first's drive
      system.ReleaseThreads();
      system.JoinThreads();
    };
    Run();
    EXPECT_EQ(BoxTexts(c.refused < 0 ? 2 : 1),  // after the confirmations
              c.message ? Strings{std::string("T1006: ") + c.message} : Strings());
    EXPECT_EQ(dialog.TextOf(kStatusLineId) + ", " + dialog.TextOf(kExitId), "ready A:, T1004");
    for (int id : {kExitId, kCreateFloppyId, kCreateCdId}) EXPECT_TRUE(dialog.EnabledOf(id)) << id;
    EXPECT_TRUE(!job.busy && devices.ntDrives[kA].contents.empty() &&
                recording.burnedImage.empty());
    EXPECT_TRUE(devices.BadCloses() == 0 && (c.refused >= 0 || devices.OpenHandles() == 1));
  }
}
}  // namespace
