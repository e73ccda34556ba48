// The monitors' control logs for each outcome, with the job moved on by a virtual clock.
#include "app/Monitors.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/JobFixture.h"

namespace {

using Log = std::vector<std::string>;

const Log kFloppyRestore = {"pos 1001 0",      "text 1002 ready A:", "enable 1003",
                            "text 1004 T1004", "enable 1004",        "enable 1005",
                            "text 1003 T1035"};

class MonitorTest : public testsupport::JobFixture {
 protected:
  // A floppy job of `total` cylinders that advances one cylinder per poll and then ends
  // with `outcome` applied.
  void ScriptFloppyJob(
      uint32_t total, std::function<void()> outcome = [] {}) {
    polls_ = 0;
    job.busy = 1;
    job.progressTotal = total;
    job.firstFloppyDrive = 1;
    job.recorderCount = 1;
    system.onPause = [this, total, outcome](uint32_t milliseconds) {
      if (milliseconds != app::kMonitorPollMs || !job.busy) return;
      if (polls_ < total) {
        job.progressDone = polls_++;
      } else {
        outcome();
        job.busy = 0;
        job.progressDone = 0;
      }
    };
  }
  size_t Count(const std::string& line) {
    const Log log = dialog.Log();
    return static_cast<size_t>(std::count(log.begin(), log.end(), line));
  }
  Log Tail(size_t lines) {
    const Log log = dialog.Log();
    return Log(log.end() - static_cast<long>(std::min(lines, log.size())), log.end());
  }
  uint32_t polls_ = 0;
};

TEST_F(MonitorTest, EachFloppyOutcomeShowsTheCylindersThenItsOneMessageAndRestores) {
  struct Case {
    const char* name;
    uint32_t total;
    std::function<void()> outcome;
    Log ending;  // before the restore; a message box at most
  };
  const std::vector<Case> cases = {
      {"written",
       80,
       [] {},
       {"pos 1001 80", "text 1002 cylinder 80 of 80", "box owned 0x40 T1009: T1040 is on A:"}},
      {"cancelled", 6, [this] { job.abortRequested = 1; }, {"box owned 0x30 T1008: T1022"}},
      {"failed", 3, [this] { job.jobFailed = 1; }, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dialog.Reset();
    job.abortRequested = job.jobFailed = 0;
    ScriptFloppyJob(c.total, c.outcome);
    app::FloppyMonitorThread(Controls());
    const std::string total = std::to_string(c.total);
    const Log log = dialog.Log();
    EXPECT_EQ(Log(log.begin(), log.begin() + 3),
              (Log{"range 1001 " + total, "disable 1003", "pos 1001 0"}));
    EXPECT_EQ(Count("text 1002 cylinder 1 of " + total), 1u);
    EXPECT_GE(Count("text 1002 cylinder " + total + " of " + total), 1u);
    EXPECT_EQ(Count("enable 1004"), c.total - 1) << "Exit comes back once 2 cylinders are done";
    Log ending = c.ending;
    ending.insert(ending.end(), kFloppyRestore.begin(), kFloppyRestore.end());
    EXPECT_EQ(Tail(ending.size()), ending);
    EXPECT_EQ(dialog.Boxes().size(), c.ending.empty() ? 0u : 1u);
  }
  EXPECT_EQ(system.Pauses()[0], app::kMonitorStartDelayMs);
  EXPECT_EQ(system.Priorities(), std::vector<int>(3, platform::kThreadPriorityAboveNormal));
}

TEST_F(MonitorTest, TheFirstUpdateTakesTheTotalPublishedByThen) {
  // The writer publishes its total only after assembling the image.
  job.busy = 1;
  job.firstFloppyDrive = 1;
  int polls = 0;
  system.onPause = [&](uint32_t milliseconds) {
    if (milliseconds != app::kMonitorPollMs) return;
    if (++polls == 3) job.progressTotal = 5;
    if (polls == 4) job.progressDone = 1;
    if (polls == 6) job.busy = 0;
  };
  app::FloppyMonitorThread(Controls());
  EXPECT_EQ(dialog.Log()[0], "range 1001 0");
  for (const char* line :
       {"text 1002 cylinder 1 of 0", "range 1001 5", "text 1002 cylinder 2 of 5"})
    EXPECT_EQ(Count(line), 1u) << line;
}

TEST_F(MonitorTest, AnEarlyCloseEndsTheProcessSilentlyOnceTwoCylindersAreDone) {
  ScriptFloppyJob(10);
  job.closeRequested = 1;
  devices.vwin32Present = true;
  job.vwin32Device = devices.Open("\\\\.\\VWIN32", {});
  app::FloppyMonitorThread(Controls());
  EXPECT_EQ(system.Exits(), std::vector<uint32_t>{0});
  EXPECT_EQ(polls_, 3u) << "the end comes with progressDone at 2";
  EXPECT_TRUE(dialog.Boxes().empty());
  EXPECT_EQ(devices.OpenHandles(), 0) << "VWIN32 closed";
  EXPECT_EQ(datafile::LoadText(dataFile.get(), 1004), "") << "the data file is closed";
  EXPECT_EQ(Count("enable 1003"), 0u) << "no restore";
}

TEST_F(MonitorTest, EachMonitorReleasesTheDriveOnceAndBeforeCreateFloppyComesBack) {
  job.isNtFamily = 1;
  job.jobFailed = 1;
  job.floppyDriveCount = 1;
  devices.ntDrives["\\\\.\\A:"].mediaTypes = {fakes::Geometry144()};
  for (auto monitor : {&app::FloppyMonitorThread, &app::CdMonitorThread}) {
    target->Probe(false, 0);
    monitor(Controls());
    EXPECT_EQ(job.floppyDevice, platform::kInvalidDevice);
    EXPECT_EQ(devices.OpenHandles(), 0);
  }
  app::CdMonitorThread(Controls());  // a later monitor finds nothing left to close
  EXPECT_EQ(devices.BadCloses(), 0);
  // A click the moment Create Floppy is enabled selects the drive again; that new handle
  // belongs to the next job and must outlive this monitor.
  dialog.onLog = [this](const std::string& line) {
    if (line == "enable 1003") target->Probe(false, 0);
  };
  for (auto monitor : {&app::FloppyMonitorThread, &app::CdMonitorThread}) {
    target->Probe(false, 0);  // the ending job's drive
    monitor(Controls());
    EXPECT_NE(job.floppyDevice, platform::kInvalidDevice);
    EXPECT_EQ(devices.OpenHandles(), 1);
    EXPECT_EQ(devices.BadCloses(), 0);
  }
}

TEST_F(MonitorTest, CdStagesMoveTheStatusAndTheBarThenTheOutcomeAndTheRestore) {
  const int kBar[] = {0, 1, 1, 1, 3, 5, 10};  // where each stage leaves the bar
  for (bool failed : {false, true}) {
    SCOPED_TRACE(failed ? "failed" : "written");
    dialog.Reset();
    // A failed burn here also lacks stage 2 and a floppy drive.
    const std::vector<int32_t> stages =
        failed ? std::vector<int32_t>{1, 3, 4, 5, 6} : std::vector<int32_t>{1, 2, 3, 4, 5, 6};
    job.busy = 1;
    job.cdStage = 0;
    job.jobFailed = 0;
    job.firstFloppyDrive = job.floppyDriveCount = failed ? 0 : 1;
    size_t next = 0;
    system.onPause = [&](uint32_t) {
      const int32_t shown = job.cdStage;
      EXPECT_EQ(dialog.TextOf(app::kStatusLineId), "stage " + std::to_string(shown));
      EXPECT_EQ(dialog.PositionOf(app::kProgressBarId), kBar[shown]) << "stage " << shown;
      if (next < stages.size()) {
        job.cdStage = stages[next++];
      } else {
        job.jobFailed = failed;
        job.busy = 0;
      }
    };
    app::CdMonitorThread(Controls());
    const Log log = dialog.Log();
    EXPECT_EQ(
        Log(log.begin(), log.begin() + 5),
        (Log{"disable 1005", "disable 1003", "disable 1004", "disable 1006", "range 1001 10"}));
    Log ending = {"pos 1001 10", "pos 1001 10",        "box owned 0x40 T1009: T1040 is on CD (A:)",
                  "pos 1001 0",  "text 1002 ready A:", "enable 1003",
                  "enable 1004", "enable 1005",        "text 1003 T1035"};
    if (failed) {
      ending = {"pos 1001 10", "pos 1001 0",  "text 1002 ready @:",
                "enable 1004", "enable 1005", "text 1003 T1035"};
    }
    EXPECT_EQ(Tail(ending.size()), ending);
    EXPECT_EQ(dialog.Boxes().size(), failed ? 0u : 1u);
    EXPECT_EQ(dialog.EnabledOf(app::kCreateFloppyId), !failed);
  }
}

}  // namespace
