// The monitors against a job moved on by a virtual clock: what each poll and outcome shows.
#include "app/Monitors.h"
#include "app/TextFormat.h"
#include "tests/support/JobFixture.h"

namespace {

using Log = std::vector<std::string>;
using namespace app;

class MonitorTest : public testsupport::JobFixture {
 protected:
  void SetUp() override {
    JobFixture::SetUp();
    job.busy = job.firstFloppyDrive = job.recorderCount = 1;
    Fresh();
    // A message box comes before Create Floppy is restored.
    dialog.onLog = [this](const std::string& line) {
      EXPECT_TRUE(line.rfind("box", 0) != 0 || !dialog.EnabledOf(kCreateFloppyId));
    };
  }
  void Fresh() {  // the dialog as a job's press leaves it
    dialog.Reset();
    for (int id : {kCreateFloppyId, kExitId, kCreateCdId, kMakeBootableId})
      dialog.Enable(id, false);
  }
  void ExpectRestored(const std::string& ready, bool createFloppy) {
    EXPECT_EQ(dialog.PositionOf(kProgressBarId), 0);
    EXPECT_EQ(dialog.TextOf(kStatusLineId) + dialog.TextOf(kCreateFloppyId), ready + "T1035");
    EXPECT_EQ(std::vector<bool>({dialog.EnabledOf(kCreateFloppyId), dialog.EnabledOf(kExitId),
                                 dialog.EnabledOf(kCreateCdId), dialog.EnabledOf(kMakeBootableId)}),
              std::vector<bool>({createFloppy, true, true, false}));
  }
};

// Total after the first poll, a cylinder a poll: each shown once; Exit back after two.
TEST_F(MonitorTest, EachFloppyOutcomeShowsEveryCylinderThenItsOneMessageAndRestores) {
  constexpr uint32_t kTotal = 4;
  const struct {
    const char* name;
    uint8_t aborted, failed;
    Log boxes;
  } kCases[] = {{"written", 0, 0, {"owned 0x40 T1009: T1040 is on A:"}},
                {"cancelled", 1, 0, {"owned 0x30 T1008: T1022"}},
                {"failed", 0, 1, {}}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Fresh();
    job.busy = 1, job.progressTotal = job.progressDone = job.abortRequested = job.jobFailed = 0;
    system.onPause = [&](uint32_t milliseconds) {
      if (milliseconds != kMonitorPollMs || !job.busy) return;
      EXPECT_EQ(dialog.EnabledOf(kExitId), job.progressDone > 1) << job.progressDone;
      job.progressTotal = kTotal;
      if (job.progressDone + 1 < kTotal) return void(++job.progressDone);
      job.abortRequested = c.aborted, job.jobFailed = c.failed;
      job.busy = 0, job.progressDone = 0;
    };
    FloppyMonitorThread(Controls());
    Log lines = {"cylinder 1 of 0", "cylinder 2 of 4", "cylinder 3 of 4", "cylinder 4 of 4"},
        positions = {"0", "0", "1", "2", "3"};
    if (!c.aborted && !c.failed) lines.push_back(lines.back()), positions.push_back("4");
    lines.push_back("ready A:"), positions.push_back("0");
    EXPECT_EQ(dialog.Lines("text 1002 "), lines);
    EXPECT_EQ(dialog.Lines("pos 1001 "), positions);
    const Log ranges = dialog.Lines("range 1001 ");
    EXPECT_EQ(ranges.front() + ranges.back(), "04");
    EXPECT_EQ(dialog.Lines("box "), c.boxes);
    EXPECT_EQ(dialog.TextOf(kExitId), "T1004");
    ExpectRestored("ready A:", true);
  }
  EXPECT_EQ(system.Pauses()[0], kMonitorStartDelayMs);
  EXPECT_EQ(system.Priorities(), std::vector<int>(3, platform::kThreadPriorityAboveNormal));
}

// Early close: a silent exit after two cylinders. The drive closes once, before Create Floppy.
TEST_F(MonitorTest, AnEarlyCloseEndsTheProcessAndEachMonitorReleasesTheDriveOnce) {
  job.progressTotal = 10, job.closeRequested = 1;
  system.onPause = [this](uint32_t milliseconds) {
    if (milliseconds == kMonitorPollMs) ++job.progressDone;
  };
  devices.vwin32Present = true;
  job.vwin32Device = devices.Open("\\\\.\\VWIN32", {});
  FloppyMonitorThread(Controls());
  EXPECT_EQ(system.Exits(), std::vector<uint32_t>{0});
  EXPECT_EQ(job.progressDone, 2u);
  // No box, no restore, VWIN32 and the data file closed.
  EXPECT_TRUE(dialog.Boxes().empty() && !dialog.EnabledOf(kCreateFloppyId));
  EXPECT_EQ(devices.OpenHandles(), 0);
  EXPECT_EQ(datafile::LoadText(dataFile.get(), 1004), "");
  job.closeRequested = 0;
  job.isNtFamily = job.jobFailed = job.floppyDriveCount = 1;
  devices.ntDrives = {{"\\\\.\\A:", {}}};
  devices.ntDrives["\\\\.\\A:"].mediaTypes = {fakes::Geometry144()};
  for (bool click : {false, true}) {
    dialog.onLog = [&](const std::string& line) {
      if (click && line == "enable 1003 ") target->Probe(false, 0);
    };
    for (auto monitor : {&FloppyMonitorThread, &CdMonitorThread}) {
      target->Probe(false, 0);  // the ending job's drive
      job.busy = 0;
      monitor(Controls());
      EXPECT_EQ(job.floppyDevice != platform::kInvalidDevice, click);
      EXPECT_EQ(devices.OpenHandles(), click ? 1 : 0);
    }
    CdMonitorThread(Controls());  // finds nothing left to close, or the new selection
  }
  EXPECT_EQ(devices.BadCloses(), 0);
}

TEST_F(MonitorTest, CdStagesMoveTheStatusAndTheBarThenTheOutcomeAndTheRestore) {
  const int kBar[] = {0, 1, 1, 1, 3, 5, 10};  // where each stage leaves the bar
  for (uint8_t failed : {0, 1}) {
    SCOPED_TRACE(failed ? "failed, without stage 2 or a floppy drive" : "written");
    Fresh();
    const std::vector<int32_t> stages = {1, 2 + failed, 3, 4, 5, 6};  // failed: no stage 2
    size_t next = 0;
    job.busy = 1, job.cdStage = job.jobFailed = 0;
    job.firstFloppyDrive = job.floppyDriveCount = !failed;
    system.onPause = [&](uint32_t) {
      const int32_t shown = job.cdStage;
      EXPECT_EQ(dialog.TextOf(kStatusLineId), "stage " + std::to_string(shown));
      EXPECT_EQ(dialog.PositionOf(kProgressBarId), kBar[shown]) << "stage " << shown;
      EXPECT_FALSE(dialog.EnabledOf(kCreateFloppyId) || dialog.EnabledOf(kExitId) ||
                   dialog.EnabledOf(kCreateCdId) || dialog.EnabledOf(kMakeBootableId));
      next < stages.size() ? void(job.cdStage = stages[next++])
                           : void((job.jobFailed = failed, job.busy = 0));
    };
    CdMonitorThread(Controls());
    EXPECT_EQ(dialog.Lines("range 1001 "), Log{"10"});
    EXPECT_EQ(dialog.Lines("box "), failed ? Log{} : Log{"owned 0x40 T1009: T1040 is on CD (A:)"});
    ExpectRestored(failed ? "ready @:" : "ready A:", !failed);
  }
}

TEST(TextFormat, FillsMatchingConversionsAndLeavesEveryOtherAsWritten) {
  const TextArg n1 = TextArg::Number(1);
  const std::pair<std::string, std::string> kCases[] = {
      {FormatText("cylinder %u of %u", {TextArg::Number(3), TextArg::Number(80)}),
       "cylinder 3 of 80"},
      {FormatText("%s on %c:", {TextArg::Text("Disk"), TextArg::Letter('A')}), "Disk on A:"},
      {FormatText("[%3d|%-4u|%02X]", {TextArg::Number(7), TextArg::Number(5), TextArg::Number(10)}),
       "[  7|5   |0A]"},
      {FormatText("100%% of %lu", {TextArg::Number(9)}), "100% of 9"},
      {FormatText("%.3s", {TextArg::Text("abcdef")}), "abc"},
      // Texts that ask for more, or other, arguments than the program gives.
      {FormatText("%s %s %n %p", {TextArg::Text("one")}), "one %s %n %p"},
      {FormatText("drive %s", {TextArg::Letter('A')}), "drive %s"},
      {FormatText("%c then %u", {n1}), "%c then 1"},
      {FormatText("%9999u", {n1}), "%9999u"},  // no width beyond 3 digits
      {FormatText("%*d", {n1}), "%*d"},
      {FormatText("ends with %", {n1}), "ends with %"},
      {FormatText("ready %c:", {}), "ready %c:"},
  };
  for (const auto& [actual, expected] : kCases) EXPECT_EQ(actual, expected);
}
}  // namespace
