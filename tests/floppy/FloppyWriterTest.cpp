// The floppy writer's outcomes, with the bytes that reached the drive.
#include "floppy/FloppyWriter.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "image/FloppyLayout.h"
#include "tests/support/JobFixture.h"
#include "tests/support/TestFiles.h"

namespace {

using fakes::Geometry144;

constexpr char kA[] = "\\\\.\\A:";
constexpr uint32_t kCylinder = image::kCylinderBytes;

class WriterTest : public testsupport::JobFixture {
 protected:
  void SetUpNt() {
    job.isNtFamily = 1;
    devices.ntDrives[kA].mediaTypes = {Geometry144()};
    target->Probe(true, 0);
    target->Probe(false, 0);
  }
  void SetUp9x() {
    devices.vwin32Present = true;
    devices.dosDrives[1] = fakes::FakeDosDrive();
    target->Probe(true, 0);
    target->Probe(false, 0);
  }
  std::vector<std::string> Boxes() {
    std::vector<std::string> texts;
    for (const auto& box : dialog.Boxes()) {
      EXPECT_FALSE(box.owned) << "the writer's boxes have no owner";
      EXPECT_EQ(box.caption, "T1006");
      texts.push_back(box.text);
    }
    return texts;
  }
  std::vector<std::string> VolumeCalls() {
    std::vector<std::string> calls;
    for (const auto& line : devices.Log()) {
      if (line.rfind("control", 0) == 0 && line.find("0x70C00") == std::string::npos)
        calls.push_back(line.substr(line.rfind(' ') + 1));
      if (line.rfind("write", 0) == 0) calls.push_back("write");
    }
    return calls;
  }
  // The drive holds exactly the first `cylinders` cylinders of the image.
  void ExpectOnDisk(const std::vector<uint8_t>& disk, uint32_t cylinders) {
    const std::vector<uint8_t> expected = ExpectedImage();
    ASSERT_GE(disk.size(), uint64_t{cylinders} * kCylinder);
    EXPECT_TRUE(std::equal(disk.begin(), disk.begin() + cylinders * kCylinder, expected.begin()));
  }
};

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

// --- NT family -------------------------------------------------------------------------------

TEST_F(WriterTest, NtWritesTheUsedCylindersBetweenLockAndUnlock) {
  SetUpNt();
  floppy::WriteFloppyThread(Services());
  EXPECT_EQ(job.progressTotal, 5u);
  EXPECT_EQ(devices.ntDrives[kA].contents.size(), 5u * kCylinder);
  ExpectOnDisk(devices.ntDrives[kA].contents, 5);
  EXPECT_EQ(VolumeCalls(), (std::vector<std::string>{"0x90018", "write", "write", "write", "write",
                                                     "write", "0x90020", "0x9001C"}));
  EXPECT_EQ(job.busy, 0);
  EXPECT_EQ(job.progressDone, 0u);
  EXPECT_EQ(job.jobFailed, 0);
  EXPECT_EQ(job.abortRequested, 0);
  EXPECT_TRUE(dialog.Boxes().empty());
  EXPECT_EQ(system.Priorities(), std::vector<int>{-2});
  EXPECT_EQ(system.LivePageBlocks(), 0);
  EXPECT_EQ(devices.OpenHandles(), 1) << "the monitor closes the drive, not the writer";
}

TEST_F(WriterTest, NtRefusedLockEndsAtOnceAsCancelled) {
  SetUpNt();
  devices.ntDrives[kA].lockRefused = true;
  floppy::WriteFloppyThread(Services());
  EXPECT_EQ(Boxes(), std::vector<std::string>{"T1028"});
  EXPECT_EQ(job.abortRequested, 1);
  EXPECT_EQ(job.busy, 0);
  EXPECT_EQ(VolumeCalls(), std::vector<std::string>{"0x90018"}) << "no write, dismount or unlock";
}

TEST_F(WriterTest, NtWriteErrorKeepsWhatWasWrittenAndStillReleasesTheVolume) {
  SetUpNt();
  devices.ntDrives[kA].failWriteNumber = 3;
  floppy::WriteFloppyThread(Services());
  EXPECT_EQ(Boxes(), std::vector<std::string>{"T1026"});
  EXPECT_EQ(job.jobFailed, 1);
  EXPECT_EQ(job.abortRequested, 0);
  EXPECT_EQ(devices.ntDrives[kA].contents.size(), 3u * kCylinder);
  ExpectOnDisk(devices.ntDrives[kA].contents, 3);
  const auto calls = VolumeCalls();
  EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()),
            (std::vector<std::string>{"0x90020", "0x9001C"}));
}

TEST_F(WriterTest, NtCancelStopsAfterTheCylinderInProgress) {
  SetUpNt();
  uint32_t doneWhenCancelled = 99;
  devices.afterWrite = [&](int number) {
    if (number == 2) job.abortRequested = 1;
    doneWhenCancelled = job.progressDone;
  };
  floppy::WriteFloppyThread(Services());
  EXPECT_EQ(devices.ntDrives[kA].contents.size(), 3u * kCylinder);
  EXPECT_EQ(doneWhenCancelled, 1u) << "progress is published after the write returns";
  EXPECT_EQ(job.abortRequested, 1);
  EXPECT_EQ(job.jobFailed, 0);
  EXPECT_TRUE(dialog.Boxes().empty());
  const auto calls = VolumeCalls();
  EXPECT_EQ(calls.back(), "0x9001C");
}

TEST_F(WriterTest, AJobAlreadyRunningIsLeftAlone) {
  SetUpNt();
  job.busy = 1;
  const size_t calls = devices.Log().size();
  floppy::WriteFloppyThread(Services());
  EXPECT_EQ(devices.Log().size(), calls);
  EXPECT_EQ(job.busy, 1);
}

TEST_F(WriterTest, NtTransferBufferRefusedEndsTheProcess) {
  SetUpNt();
  system.refusePages = true;
  floppy::WriteFloppyThread(Services());
  EXPECT_EQ(Boxes(), std::vector<std::string>{"T1030"});
  EXPECT_EQ(system.Exits(), std::vector<uint32_t>{0});
  EXPECT_TRUE(devices.ntDrives[kA].contents.empty());
}

TEST_F(WriterTest, AnIncompleteImageOrAStrangeGeometryWritesNothing) {
  SetUpNt();
  auto entries = testsupport::JobEntries(5);
  entries.erase(entries.begin() + 1);  // no KERNEL.MAP: the image cannot be complete
  UseEntries(entries);
  floppy::WriteFloppyThread(Services());
  EXPECT_EQ(Boxes(), std::vector<std::string>{"T1026"});
  EXPECT_EQ(job.jobFailed, 1);
  EXPECT_EQ(job.busy, 0);
  EXPECT_TRUE(devices.ntDrives[kA].contents.empty());
  EXPECT_EQ(VolumeCalls(), (std::vector<std::string>{"0x90018", "0x9001C"}));

  UseEntries(testsupport::JobEntries(5));
  job.floppyMediaTypes[job.floppyGeometryIndex].sectorsPerTrack = 21;  // a 1.68 MB format
  floppy::WriteFloppyThread(Services());
  EXPECT_EQ(job.jobFailed, 1);
  EXPECT_TRUE(devices.ntDrives[kA].contents.empty());
}

TEST_F(WriterTest, AFullDiskIsEightyCylinders) {
  SetUpNt();
  UseEntries(testsupport::JobEntries(80));
  floppy::WriteFloppyThread(Services());
  EXPECT_EQ(job.progressTotal, 80u);
  ExpectOnDisk(devices.ntDrives[kA].contents, 80);
  EXPECT_EQ(devices.ntDrives[kA].contents.size(), image::kFloppyImageBytes);
}

// --- Windows 9x ---------------------------------------------------------------------------------

TEST_F(WriterTest, NineXWritesRunsOf36SectorsWithTheChosenDosCall) {
  SetUp9x();
  job.useExtendedDosWrite = 1;
  floppy::WriteFloppyThread(Services());
  const auto writes = devices.DosWrites();
  ASSERT_EQ(writes.size(), 5u);
  for (uint32_t i = 0; i < writes.size(); ++i) {
    EXPECT_EQ(writes[i].firstSector, i * 36);
    EXPECT_EQ(writes[i].sectorCount, 36);
    EXPECT_EQ(writes[i].code, 6u);
    EXPECT_EQ(writes[i].registers.edx, 1u);
  }
  ExpectOnDisk(devices.dosDisk, 5);
  EXPECT_EQ(job.jobFailed, 0);
  EXPECT_EQ(job.busy, 0);
  EXPECT_EQ(system.LivePageBlocks(), 0);
  for (const auto& line : devices.Log()) {
    EXPECT_EQ(line.find("0x9001"), std::string::npos)
        << "no lock, dismount or unlock on 9x: " << line;
    EXPECT_EQ(line.find("0x90020"), std::string::npos) << line;
  }
}

TEST_F(WriterTest, NineXCarryOnAWriteFailsTheJob) {
  SetUp9x();
  devices.dosWriteCarryNumber = 1;
  floppy::WriteFloppyThread(Services());
  EXPECT_EQ(Boxes(), std::vector<std::string>{"T1026"});
  EXPECT_EQ(job.jobFailed, 1);
  EXPECT_EQ(devices.DosWrites().size(), 2u);
}

TEST_F(WriterTest, NineXDriveWithoutCylindersGetsNothing) {
  SetUp9x();
  job.dosCylinders = 0;
  floppy::WriteFloppyThread(Services());
  EXPECT_EQ(Boxes(), std::vector<std::string>{"T1026"});
  EXPECT_EQ(job.jobFailed, 1);
  EXPECT_EQ(job.busy, 0);
  EXPECT_TRUE(devices.DosWrites().empty());
}

TEST_F(WriterTest, NineXTransferBufferRefusedEndsTheProcess) {
  SetUp9x();
  system.refusePages = true;
  floppy::WriteFloppyThread(Services());
  EXPECT_EQ(Boxes(), std::vector<std::string>{"T1027"});
  EXPECT_EQ(system.Exits(), std::vector<uint32_t>{0});
}

}  // namespace
