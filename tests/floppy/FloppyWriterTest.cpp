// The floppy writer's outcomes, with the bytes that reached the drive.
#include "floppy/FloppyWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "image/FloppyLayout.h"
#include "tests/support/JobFixture.h"
#include "tests/support/TestFiles.h"

namespace {

using fakes::Geometry144;

constexpr char kA[] = "\\\\.\\A:";
constexpr uint32_t kCylinder = image::kCylinderBytes;

class WriterTest : public testsupport::JobFixture {
 public:
  // For the table of early ends below.
  using JobFixture::devices;
  using JobFixture::job;
  using JobFixture::system;
  using JobFixture::UseEntries;

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
  // The lock, dismount and unlock calls, and with `writes` each write, in order.
  std::vector<std::string> VolumeCalls(bool writes = true) {
    std::vector<std::string> calls;
    for (const auto& line : devices.Log()) {
      if (line.rfind("control", 0) == 0 && line.find(" 0x900") != std::string::npos)
        calls.push_back(line.substr(line.rfind(' ') + 1));
      if (writes && line.rfind("write", 0) == 0) calls.push_back("write");
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

TEST_F(WriterTest, AJobAlreadyRunningIsLeftAlone) {
  SetUpNt();
  job.busy = 1;
  const size_t calls = devices.Log().size();
  floppy::WriteFloppyThread(Services());
  EXPECT_EQ(devices.Log().size(), calls);
  EXPECT_EQ(job.busy, 1);
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

// --- Jobs that end early -------------------------------------------------------------
// The fault matrix checks that such a job leaves nothing held and no stray bytes; these
// check that each ends with its own message, flags and volume calls.

struct EarlyEnd {
  const char* name;
  bool nt;
  std::function<void(WriterTest&)> inject;
  std::vector<std::string> boxes;
  uint8_t failed;
  uint8_t aborted;
  uint32_t cylinders;  // written before the end
  std::vector<std::string> volumeCalls;
  bool exits;
};

const std::vector<std::string> kLockOnly = {"0x90018"};
const std::vector<std::string> kLockUnlock = {"0x90018", "0x9001C"};
const std::vector<std::string> kLockDismountUnlock = {"0x90018", "0x90020", "0x9001C"};

const EarlyEnd kEarlyEnds[] = {
    {"NtLockRefused",
     true,
     [](WriterTest& t) { t.devices.ntDrives[kA].lockRefused = true; },
     {"T1028"},
     0,
     1,
     0,
     kLockOnly,
     false},
    {"NtWriteError",
     true,
     [](WriterTest& t) { t.devices.ntDrives[kA].failWriteNumber = 3; },
     {"T1026"},
     1,
     0,
     3,
     kLockDismountUnlock,
     false},
    {"NtCancel",
     true,
     [](WriterTest& t) {
       t.devices.afterWrite = [&t](int number) {
         if (number != 2) return;
         t.job.abortRequested = 1;
         // Progress is published after the write returns.
         EXPECT_EQ(t.job.progressDone, 1u);
       };
     },
     {},
     0,
     1,
     3,
     kLockDismountUnlock,
     false},
    {"NtTransferBufferRefused",
     true,
     [](WriterTest& t) { t.system.refusePages = true; },
     {"T1030"},
     0,
     0,
     0,
     kLockOnly,
     true},
    {"NtIncompleteImage",
     true,
     [](WriterTest& t) {
       auto entries = testsupport::JobEntries(5);
       entries.erase(entries.begin() + 1);  // no KERNEL.MAP: the image cannot be complete
       t.UseEntries(entries);
     },
     {"T1026"},
     1,
     0,
     0,
     kLockUnlock,
     false},
    {"NtStrangeGeometry",
     true,
     [](WriterTest& t) {
       t.job.floppyMediaTypes[t.job.floppyGeometryIndex].sectorsPerTrack = 21;  // 1.68 MB
     },
     {"T1026"},
     1,
     0,
     0,
     kLockUnlock,
     false},
    {"NineXCarryOnWrite",
     false,
     [](WriterTest& t) { t.devices.dosWriteCarryNumber = 1; },
     {"T1026"},
     1,
     0,
     1,
     {},
     false},
    {"NineXNoCylinders",
     false,
     [](WriterTest& t) { t.job.dosCylinders = 0; },
     {"T1026"},
     1,
     0,
     0,
     {},
     false},
    {"NineXTransferBufferRefused",
     false,
     [](WriterTest& t) { t.system.refusePages = true; },
     {"T1027"},
     0,
     0,
     0,
     {},
     true},
};

void PrintTo(const EarlyEnd& end, std::ostream* out) {
  *out << end.name;
}

class EarlyEndTest : public WriterTest, public ::testing::WithParamInterface<EarlyEnd> {};

TEST_P(EarlyEndTest, EndsWithItsMessageFlagsAndVolumeCalls) {
  const EarlyEnd& end = GetParam();
  if (end.nt) {
    SetUpNt();
  } else {
    SetUp9x();
  }
  end.inject(*this);
  floppy::WriteFloppyThread(Services());
  EXPECT_EQ(Boxes(), end.boxes);
  EXPECT_EQ(job.jobFailed, end.failed);
  EXPECT_EQ(job.abortRequested, end.aborted);
  EXPECT_EQ(VolumeCalls(false), end.volumeCalls);
  EXPECT_EQ(system.Exits(), end.exits ? std::vector<uint32_t>{0} : std::vector<uint32_t>{});
  if (!end.exits) {
    EXPECT_EQ(job.busy, 0);
  }
  if (end.nt) {
    EXPECT_EQ(devices.ntDrives[kA].contents.size(), end.cylinders * kCylinder);
  }
  if (end.cylinders > 0) {
    ExpectOnDisk(end.nt ? devices.ntDrives[kA].contents : devices.dosDisk, end.cylinders);
  }
}

INSTANTIATE_TEST_SUITE_P(Writer, EarlyEndTest, ::testing::ValuesIn(kEarlyEnds),
                         [](const ::testing::TestParamInfo<EarlyEnd>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
