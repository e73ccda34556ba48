// The floppy writer's outcomes, with the bytes that reached the drive. The fault matrix
// checks that every job ends holding nothing, with no stray bytes; these check that each
// ending has its own message, flags, volume calls and cylinder count.
#include "floppy/FloppyWriter.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "image/FloppyLayout.h"
#include "tests/support/JobFixture.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr char kA[] = "\\\\.\\A:";
constexpr uint32_t kCylinder = image::kCylinderBytes;

TEST(UsedCylinders, CountUpToTheFirstCylinderOfFillerOnly) {
  std::vector<uint8_t> floppy(image::kFloppyImageBytes, 0xF6);
  floppy[0] = 1;
  EXPECT_EQ(floppy::UsedCylindersOf(floppy.data()), 1u) << "cylinder 1 all filler";
  for (uint32_t cylinder = 1; cylinder < 5; ++cylinder) floppy[cylinder * kCylinder + 100] = 1;
  floppy[6 * kCylinder] = 1;  // data after an unused cylinder 5 is never written
  EXPECT_EQ(floppy::UsedCylindersOf(floppy.data()), 5u);
  std::fill(floppy.begin(), floppy.end(), 0);
  EXPECT_EQ(floppy::UsedCylindersOf(floppy.data()), 80u);
}

struct Ending {
  const char* name;  // NT or NineX, then what happens
  std::vector<std::string> boxes;
  uint8_t failed, aborted;
  uint32_t cylinders;  // written
  // Volume lock (L), dismount (D), unlock (U) and writes (W), in order.
  std::string calls;
  uint8_t busy;
  bool exits;
};

const Ending kEndings[] = {
    {"NtWhole", {}, 0, 0, 5, "LWWWWWDU", 0, false},
    {"NtFullDisk", {}, 0, 0, 80, "L" + std::string(80, 'W') + "DU", 0, false},
    {"NineXWhole", {}, 0, 0, 5, "", 0, false},
    {"NtAlreadyBusy", {}, 0, 0, 0, "", 1, false},
    {"NtLockRefused", {"T1028"}, 0, 1, 0, "L", 0, false},
    {"NtWriteError", {"T1026"}, 1, 0, 3, "LWWWWDU", 0, false},
    {"NtCancel", {}, 0, 1, 3, "LWWWDU", 0, false},
    {"NtTransferBufferRefused", {"T1030"}, 0, 0, 0, "L", 1, true},
    {"NtIncompleteImage", {"T1026"}, 1, 0, 0, "LU", 0, false},
    {"NtStrangeGeometry", {"T1026"}, 1, 0, 0, "LU", 0, false},
    {"NineXCarryOnWrite", {"T1026"}, 1, 0, 1, "", 0, false},
    {"NineXNoCylinders", {"T1026"}, 1, 0, 0, "", 0, false},
    {"NineXTransferBufferRefused", {"T1027"}, 0, 0, 0, "", 1, true},
};

class WriterTest : public testsupport::JobFixture, public ::testing::WithParamInterface<Ending> {
 protected:
  void Inject(const std::string& name) {
    if (name == "NtFullDisk") UseEntries(testsupport::JobEntries(80));
    if (name == "NineXWhole") job.useExtendedDosWrite = 1;
    if (name == "NtAlreadyBusy") job.busy = 1;
    if (name == "NtLockRefused") devices.ntDrives[kA].lockRefused = true;
    if (name == "NtWriteError") devices.ntDrives[kA].failWriteNumber = 3;
    if (name == "NtCancel") {
      devices.afterWrite = [this](int number) {
        if (number != 2) return;
        job.abortRequested = 1;
        EXPECT_EQ(job.progressDone, 1u) << "progress is published after the write returns";
      };
    }
    if (name.find("TransferBufferRefused") != std::string::npos) system.refusePages = true;
    if (name == "NtIncompleteImage") {
      auto entries = testsupport::JobEntries(5);
      entries.erase(entries.begin() + 1);  // no KERNEL.MAP: the image cannot be complete
      UseEntries(entries);
    }
    if (name == "NtStrangeGeometry")
      job.floppyMediaTypes[job.floppyGeometryIndex].sectorsPerTrack = 21;  // 1.68 MB
    if (name == "NineXCarryOnWrite") devices.dosWriteCarryNumber = 1;
    if (name == "NineXNoCylinders") job.dosCylinders = 0;
  }
  std::string Calls() {
    std::string calls;
    for (const auto& line : devices.Log()) {
      if (line.rfind("write", 0) == 0) calls += 'W';
      if (line.rfind("control", 0) != 0) continue;
      if (line.find(" 0x90018") != std::string::npos) calls += 'L';
      if (line.find(" 0x90020") != std::string::npos) calls += 'D';
      if (line.find(" 0x9001C") != std::string::npos) calls += 'U';
    }
    return calls;
  }
};

void PrintTo(const Ending& end, std::ostream* out) {
  *out << end.name;
}

TEST_P(WriterTest, EndsWithItsMessageFlagsVolumeCallsAndCylinders) {
  const Ending& end = GetParam();
  const bool nt = std::string(end.name).rfind("Nt", 0) == 0;
  if (nt) {
    job.isNtFamily = 1;
    devices.ntDrives[kA].mediaTypes = {fakes::Geometry144()};
  } else {
    devices.vwin32Present = true;
    devices.dosDrives[1] = fakes::FakeDosDrive();
  }
  target->Probe(true, 0);
  target->Probe(false, 0);
  Inject(end.name);
  floppy::WriteFloppyThread(Services());

  std::vector<std::string> boxes;
  for (const auto& box : dialog.Boxes()) {
    EXPECT_FALSE(box.owned) << "the writer's boxes have no owner";
    EXPECT_EQ(box.caption, "T1006");
    boxes.push_back(box.text);
  }
  EXPECT_EQ(boxes, end.boxes);
  EXPECT_EQ(job.jobFailed, end.failed);
  EXPECT_EQ(job.abortRequested, end.aborted);
  EXPECT_EQ(Calls(), end.calls);
  EXPECT_EQ(job.busy, end.busy);
  EXPECT_EQ(system.Exits(), end.exits ? std::vector<uint32_t>{0} : std::vector<uint32_t>{});
  EXPECT_EQ(devices.OpenHandles(), 1) << "the monitor closes the drive, not the writer";

  const std::vector<uint8_t>& disk = nt ? devices.ntDrives[kA].contents : devices.dosDisk;
  if (nt) {
    EXPECT_EQ(disk.size(), end.cylinders * kCylinder);
  }
  if (end.cylinders > 0) {
    const std::vector<uint8_t> expected = ExpectedImage();
    ASSERT_GE(disk.size(), uint64_t{end.cylinders} * kCylinder);
    EXPECT_TRUE(
        std::equal(disk.begin(), disk.begin() + end.cylinders * kCylinder, expected.begin()));
  }
  if (!end.boxes.empty() || end.aborted || end.busy) return;

  // A whole job: every used cylinder, written at the lowest priority, in runs of 36
  // sectors on 9x.
  EXPECT_EQ(job.progressTotal, end.cylinders);
  EXPECT_EQ(job.progressDone, 0u);
  EXPECT_EQ(system.Priorities(), std::vector<int>{-2});
  const auto writes = devices.DosWrites();
  ASSERT_EQ(writes.size(), nt ? 0u : end.cylinders);
  for (uint32_t i = 0; i < writes.size(); ++i) {
    EXPECT_EQ(writes[i].firstSector, i * 36);
    EXPECT_EQ(writes[i].sectorCount, 36);
    EXPECT_EQ(writes[i].registers.edx, 1u) << "drive A: for the extended call";
  }
}

INSTANTIATE_TEST_SUITE_P(Writer, WriterTest, ::testing::ValuesIn(kEndings),
                         [](const ::testing::TestParamInfo<Ending>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
