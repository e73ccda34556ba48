// The monitors' control logs for each outcome, with the job moved on by a virtual clock.
#include "app/Monitors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "tests/support/JobFixture.h"

namespace {

using testsupport::JobFixture;

class MonitorTest : public JobFixture {
 protected:
  // A floppy job of `total` cylinders that advances one cylinder per poll and then ends
  // with `outcome` applied.
  void ScriptFloppyJob(
      uint32_t total, std::function<void()> outcome = [] {}) {
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
  std::vector<std::string> LogFrom(const std::string& first) {
    const auto log = dialog.Log();
    auto start = std::find(log.begin(), log.end(), first);
    return std::vector<std::string>(start, log.end());
  }
  uint32_t polls_ = 0;
};

const std::vector<std::string> kFloppyRestore = {
    "pos 1001 0",  "text 1002 ready A:", "enable 1003",    "text 1004 T1004",
    "enable 1004", "enable 1005",        "text 1003 T1035"};

TEST_F(MonitorTest, ASuccessfulFloppyJobShowsEveryCylinderThenTheMessage) {
  ScriptFloppyJob(80);
  app::FloppyMonitorThread(Controls());
  const auto log = dialog.Log();
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 3),
            (std::vector<std::string>{"range 1001 80", "disable 1003", "pos 1001 0"}));
  EXPECT_NE(std::find(log.begin(), log.end(), "text 1002 cylinder 1 of 80"), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "text 1002 cylinder 80 of 80"), log.end());
  EXPECT_EQ(std::count(log.begin(), log.end(), "enable 1004") - 1, 78)
      << "Exit is enabled once a cylinder past 1 is done";
  std::vector<std::string> end = {"pos 1001 80", "text 1002 cylinder 80 of 80",
                                  "box owned 0x40 T1009: T1040 is on A:"};
  end.insert(end.end(), kFloppyRestore.begin(), kFloppyRestore.end());
  EXPECT_EQ(LogFrom("pos 1001 80"), end);
  EXPECT_EQ(system.Pauses()[0], 500u);
  EXPECT_EQ(system.Priorities(), std::vector<int>{1});
}

TEST_F(MonitorTest, ACancelledFloppyJobShowsTheCancelledMessageOnly) {
  ScriptFloppyJob(6, [this] { job.abortRequested = 1; });
  app::FloppyMonitorThread(Controls());
  std::vector<std::string> end = {"box owned 0x30 T1008: T1022"};
  end.insert(end.end(), kFloppyRestore.begin(), kFloppyRestore.end());
  EXPECT_EQ(LogFrom("box owned 0x30 T1008: T1022"), end);
  EXPECT_EQ(dialog.Boxes().size(), 1u);
}

TEST_F(MonitorTest, AFailedFloppyJobIsRestoredWithoutAMessage) {
  ScriptFloppyJob(3, [this] { job.jobFailed = 1; });
  app::FloppyMonitorThread(Controls());
  EXPECT_TRUE(dialog.Boxes().empty());
  const auto log = dialog.Log();
  EXPECT_EQ(std::vector<std::string>(log.end() - 7, log.end()), kFloppyRestore);
}

TEST_F(MonitorTest, TheDriveHandleIsClosedOnceWhenTheJobEnds) {
  job.isNtFamily = 1;
  devices.ntDrives["\\\\.\\A:"].mediaTypes = {fakes::Geometry144()};
  target->Probe(false, 0);
  ScriptFloppyJob(2);
  app::FloppyMonitorThread(Controls());
  EXPECT_EQ(devices.OpenHandles(), 0);
  EXPECT_EQ(job.floppyDevice, platform::kInvalidDevice);
  app::CdMonitorThread(Controls());  // a later monitor finds nothing left to close
  EXPECT_EQ(devices.BadCloses(), 0);
}

TEST_F(MonitorTest, EachMonitorReleasesTheDriveBeforeCreateFloppyComesBack) {
  job.isNtFamily = 1;
  job.jobFailed = 1;
  job.floppyDriveCount = 1;
  devices.ntDrives["\\\\.\\A:"].mediaTypes = {fakes::Geometry144()};
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
  const auto log = dialog.Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "enable 1003"), 0) << "no restore";
}

TEST_F(MonitorTest, TheFirstUpdateTakesTheTotalPublishedByThen) {
  // The writer publishes its total only after assembling the image.
  job.busy = 1;
  job.progressTotal = 0;
  job.firstFloppyDrive = 1;
  int polls = 0;
  system.onPause = [&](uint32_t milliseconds) {
    if (milliseconds != app::kMonitorPollMs) return;
    if (++polls == 3) job.progressTotal = 5;
    if (polls == 4) job.progressDone = 1;
    if (polls == 6) job.busy = 0;
  };
  app::FloppyMonitorThread(Controls());
  const auto log = dialog.Log();
  EXPECT_EQ(log[0], "range 1001 0");
  EXPECT_NE(std::find(log.begin(), log.end(), "text 1002 cylinder 1 of 0"), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "range 1001 5"), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "text 1002 cylinder 2 of 5"), log.end());
}

// --- The CD monitor ----------------------------------------------------------------------------

class CdMonitorTest : public MonitorTest {
 protected:
  void ScriptCdJob(std::vector<int32_t> stages, bool failed) {
    job.busy = 1;
    job.cdStage = 0;
    job.firstFloppyDrive = 1;
    job.floppyDriveCount = 1;
    system.onPause = [this, stages, failed](uint32_t) {
      if (!job.busy) return;
      if (next_ < stages.size()) {
        job.cdStage = stages[next_++];
      } else {
        job.jobFailed = failed ? 1 : 0;
        job.busy = 0;
      }
    };
  }
  size_t next_ = 0;
};

TEST_F(CdMonitorTest, StagesMoveTheStatusAndTheBarThenTheSuccessMessage) {
  ScriptCdJob({1, 2, 3, 4, 5, 6}, false);
  app::CdMonitorThread(Controls());
  EXPECT_EQ(dialog.Log(), (std::vector<std::string>{"disable 1005",
                                                    "disable 1003",
                                                    "disable 1004",
                                                    "disable 1006",
                                                    "range 1001 10",
                                                    "pos 1001 0",
                                                    "text 1002 stage 0",
                                                    "text 1002 stage 1",
                                                    "pos 1001 1",
                                                    "text 1002 stage 2",
                                                    "text 1002 stage 3",
                                                    "text 1002 stage 4",
                                                    "pos 1001 3",
                                                    "text 1002 stage 5",
                                                    "pos 1001 5",
                                                    "text 1002 stage 6",
                                                    "pos 1001 10",
                                                    "pos 1001 10",
                                                    "box owned 0x40 T1009: T1040 is on CD (A:)",
                                                    "pos 1001 0",
                                                    "text 1002 ready A:",
                                                    "enable 1003",
                                                    "enable 1004",
                                                    "enable 1005",
                                                    "text 1003 T1035"}));
}

TEST_F(CdMonitorTest, AFailedBurnRestoresWithoutAMessageAndWithoutAFloppyDrive) {
  job.floppyDriveCount = 0;
  ScriptCdJob({1, 3, 4, 5, 6}, true);
  job.floppyDriveCount = 0;
  job.firstFloppyDrive = 0;
  app::CdMonitorThread(Controls());
  EXPECT_TRUE(dialog.Boxes().empty());
  EXPECT_FALSE(dialog.EnabledOf(app::kCreateFloppyId))
      << "no floppy drive: Create Floppy stays off";
  EXPECT_TRUE(dialog.EnabledOf(app::kCreateCdId));
  EXPECT_EQ(dialog.TextOf(app::kStatusLineId), "ready @:");
  // Stage 2 never came: the bar stayed at 1 until stage 4.
  const auto log = dialog.Log();
  const std::vector<std::string> heldAtOne = {"pos 1001 1", "text 1002 stage 3"};
  EXPECT_NE(std::search(log.begin(), log.end(), heldAtOne.begin(), heldAtOne.end()), log.end());
}

// --- A whole floppy job on threads -------------------------------------------------------------

TEST_F(MonitorTest, WriterAndMonitorOnTheirOwnThreadsMeetOnlyInTheJob) {
  job.isNtFamily = 1;
  devices.ntDrives["\\\\.\\A:"].mediaTypes = {fakes::Geometry144()};
  job.firstFloppyDrive = 1;
  target->Probe(false, 0);
  // On the virtual clock the monitor's 500 ms head start lasts until the writer has begun
  // (or already finished), which is what the real wait gives it.
  std::atomic<bool> writerFinished{false};
  system.onPause = [&](uint32_t milliseconds) {
    if (milliseconds != app::kMonitorStartDelayMs) return;
    while (!job.busy && !writerFinished) std::this_thread::yield();
  };
  app::MonitorControls* controls = Controls().release();  // the thread takes it over
  ASSERT_TRUE(system.StartThread(
      [controls] { app::FloppyMonitorThread(std::unique_ptr<app::MonitorControls>(controls)); }));
  ASSERT_TRUE(system.StartThread([&] {
    floppy::WriteFloppyThread(Services());
    writerFinished = true;
  }));
  system.JoinThreads();
  EXPECT_EQ(dialog.TextOf(app::kStatusLineId), "ready A:");
  EXPECT_TRUE(dialog.EnabledOf(app::kCreateFloppyId));
  EXPECT_EQ(devices.ntDrives["\\\\.\\A:"].contents.size(), 5u * 18432);
  EXPECT_NE(dialog.TextOf(app::kStatusLineId).find("ready"), std::string::npos);
  const auto log = dialog.Log();
  EXPECT_NE(std::find(log.begin(), log.end(), "box owned 0x40 T1009: T1040 is on A:"), log.end());
  EXPECT_EQ(job.busy, 0);
}

}  // namespace
