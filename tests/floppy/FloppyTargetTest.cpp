// Finding 1.44 MB drives and reaching them raw, on both Windows families, through the
// scriptable drives.
#include "floppy/FloppyTarget.h"

#include <gtest/gtest.h>

#include "tests/support/JobFixture.h"

namespace {

using fakes::Geometry144;
using fakes::GeometryOfType;

constexpr char kA[] = "\\\\.\\A:";
constexpr char kB[] = "\\\\.\\B:";

class ProbeTest : public testsupport::JobFixture {};

// --- NT family -----------------------------------------------------------------------------

TEST_F(ProbeTest, CountsBothDrivesAndLeavesNoHandleOpen) {
  job.isNtFamily = 1;
  devices.ntDrives[kA].mediaTypes = {Geometry144()};
  devices.ntDrives[kB].mediaTypes = {Geometry144()};
  EXPECT_EQ(target->Probe(true, 0), 2u);
  EXPECT_EQ(job.firstFloppyDrive, 1u);
  EXPECT_EQ(devices.OpenHandles(), 0);
  EXPECT_EQ(job.floppyDevice, platform::kInvalidDevice);
  const auto log = devices.Log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log[0], std::string("open ") + kA + " 0xC0000000 0x3 0x3 0x28000004");
  EXPECT_EQ(log[1], std::string("control ") + kA + " 0x70C00");

  // Selecting B: keeps only B:'s handle.
  EXPECT_EQ(target->Probe(false, 1), 1u);
  EXPECT_EQ(devices.OpenHandles(), 1);
  EXPECT_NE(job.floppyDevice, platform::kInvalidDevice);
  EXPECT_EQ(devices.Log().back(), std::string("control ") + kB + " 0x70C00");
}

TEST_F(ProbeTest, ADriveOnBAloneIsLetteredBAndSelectedAtPositionZero) {
  job.isNtFamily = 1;
  devices.ntDrives[kB].mediaTypes = {Geometry144()};
  EXPECT_EQ(target->Probe(true, 0), 1u);
  EXPECT_EQ(job.firstFloppyDrive, 2u);
  // List position 0 + first drive 2 - 1: index 1, B:.
  target->Probe(false, 0 + job.firstFloppyDrive - 1);
  EXPECT_EQ(devices.OpenHandles(), 1);
  EXPECT_EQ(devices.Log().back(), std::string("control ") + kB + " 0x70C00");
}

TEST_F(ProbeTest, TheGeometryIndexIsThatOfTheFirst144Entry) {
  job.isNtFamily = 1;
  // A 2.88 MB drive lists its own medium first; A: with 5.25-inch media only is passed over.
  devices.ntDrives[kA].mediaTypes = {GeometryOfType(1), GeometryOfType(3)};
  devices.ntDrives[kB].mediaTypes = {GeometryOfType(10), Geometry144()};
  EXPECT_EQ(target->Probe(true, 0), 1u);
  EXPECT_EQ(job.firstFloppyDrive, 2u);
  EXPECT_EQ(job.floppyGeometryIndex, 1u);

  // An Unknown entry ends the scan: what follows it is not looked at.
  devices.ntDrives[kB].mediaTypes = {GeometryOfType(0), Geometry144()};
  EXPECT_EQ(target->Probe(true, 0), 0u);
}

TEST_F(ProbeTest, TheFirstDriveFoundIsKeptForTheProcessesLife) {
  job.isNtFamily = 1;
  devices.ntDrives[kB].mediaTypes = {Geometry144()};
  target->Probe(true, 0);
  devices.ntDrives[kA].mediaTypes = {Geometry144()};
  EXPECT_EQ(target->Probe(true, 0), 2u);
  target->Probe(false, 0);
  EXPECT_EQ(job.firstFloppyDrive, 2u);
}

TEST_F(ProbeTest, ASelectionLeftOpenIsClosedByTheNextOneExactlyOnce) {
  job.isNtFamily = 1;
  devices.ntDrives[kA].mediaTypes = {Geometry144()};
  target->Probe(false, 0);
  target->Probe(false, 0);  // the user declined the first job and tries again
  EXPECT_EQ(devices.OpenHandles(), 1);
  job::CloseFloppyDevice(job, devices);
  job::CloseFloppyDevice(job, devices);
  EXPECT_EQ(devices.OpenHandles(), 0);
  EXPECT_EQ(devices.BadCloses(), 0);
}

TEST_F(ProbeTest, AFailedMediaQueryOrMissingDriveIsNotOffered) {
  job.isNtFamily = 1;
  devices.ntDrives[kA].mediaTypes = {Geometry144()};
  devices.ntDrives[kA].mediaQueryFails = true;
  EXPECT_EQ(target->Probe(true, 0), 0u);
  EXPECT_EQ(job.firstFloppyDrive, 0u);
  EXPECT_TRUE(dialog.Boxes().empty());
}

// --- Windows 9x --------------------------------------------------------------------------

TEST_F(ProbeTest, NineXOffersOnlyTheFirst144DriveAndKeepsVwin32Open) {
  devices.vwin32Present = true;
  devices.dosDrives[1] = fakes::FakeDosDrive();
  devices.dosDrives[2] = fakes::FakeDosDrive();
  EXPECT_EQ(target->Probe(true, 0), 1u);
  EXPECT_EQ(job.firstFloppyDrive, 1u);
  EXPECT_EQ(devices.OpenHandles(), 1) << "VWIN32 stays open";
  EXPECT_EQ(devices.Log()[0], "open \\\\.\\VWIN32 0x0 0x0 0x0 0x88000004");

  devices.dosDrives[1].cylinders = 79;
  devices.dosDrives[1].totalSectors = 2844;
  EXPECT_EQ(target->Probe(false, 0), 1u);
  EXPECT_EQ(job.dosCylinders, 79);
  EXPECT_EQ(job.dosBytesPerSector, 512);
  EXPECT_EQ(job.dosTotalSectors, 2844);
}

TEST_F(ProbeTest, NineXSkipsDrivesOfOtherTypesOrFailedCalls) {
  devices.vwin32Present = true;
  devices.dosDrives[1].deviceType = 2;     // 720 KB
  devices.dosDrives[2].queryCarry = true;  // the DOS call fails
  devices.dosDrives[3] = fakes::FakeDosDrive();
  EXPECT_EQ(target->Probe(true, 0), 1u);
  EXPECT_EQ(job.firstFloppyDrive, 3u);
}

TEST_F(ProbeTest, NineXWithoutVwin32SaysSoOnceAndOffersNothing) {
  EXPECT_EQ(target->Probe(true, 0), 0u);
  const auto boxes = dialog.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "T1024");
  EXPECT_EQ(boxes[0].caption, "T1006");
  EXPECT_EQ(boxes[0].type, platform::kMbIconError);
  EXPECT_FALSE(boxes[0].owned);
}

// --- Raw access ------------------------------------------------------------------------------

TEST_F(ProbeTest, NineXWritesUseTheClassicOrTheExtendedDosCall) {
  devices.vwin32Present = true;
  devices.dosDrives[1] = fakes::FakeDosDrive();
  target->Probe(true, 0);
  std::vector<uint8_t> cylinder(36 * 512, 0x42);

  ASSERT_TRUE(target->WriteSectors9x(36, 36, 1, cylinder.data()));
  job.useExtendedDosWrite = 1;
  ASSERT_TRUE(target->WriteSectors9x(36, 36, 1, cylinder.data()));
  const auto writes = devices.DosWrites();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].code, 3u);  // Int 26h
  EXPECT_EQ(writes[0].registers.eax, 0u);
  EXPECT_EQ(writes[0].registers.ecx, 0xFFFFu);
  EXPECT_EQ(writes[0].registers.edx, 0u);
  EXPECT_EQ(writes[0].registers.esi, 0u);
  EXPECT_EQ(writes[1].code, 6u);  // Int 21h 7305h
  EXPECT_EQ(writes[1].registers.eax, 0x7305u);
  EXPECT_EQ(writes[1].registers.ecx, 0xFFFFFFFFu);
  EXPECT_EQ(writes[1].registers.edx, 1u);
  EXPECT_EQ(writes[1].registers.esi, 0x6001u);
  for (const auto& write : writes) {
    EXPECT_EQ(write.firstSector, 36u);
    EXPECT_EQ(write.sectorCount, 36);
    EXPECT_TRUE(write.bufferResolved);
  }
  EXPECT_EQ(devices.dosDisk[36 * 512], 0x42);

  devices.dosWriteCarryNumber = 2;
  EXPECT_FALSE(target->WriteSectors9x(0, 36, 1, cylinder.data())) << "carry set means failed";
}

}  // namespace
