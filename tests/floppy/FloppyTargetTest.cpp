// Finding 1.44 MB drives and reaching them raw, on both Windows families.
#include "floppy/FloppyTarget.h"
#include "tests/support/JobFixture.h"

namespace {

constexpr char kA[] = "\\\\.\\A:";
constexpr char kB[] = "\\\\.\\B:";

class ProbeTest : public testsupport::JobFixture {};
// A drive's media types: 144 for the 1.44 MB record, else the type (1: 5.25" 1.2 MB, 10: 2.88).
std::vector<platform::DiskGeometry> Media(std::initializer_list<uint32_t> types) {
  std::vector<platform::DiskGeometry> media;
  for (uint32_t type : types)
    media.push_back(type == 144 ? fakes::Geometry144()
                                : platform::DiskGeometry{80, type, 2, type == 10 ? 36u : 15u, 512});
  return media;
}

TEST_F(ProbeTest, NtCountsTheDrivesAndSelectsTheOneAtItsListPosition) {
  const struct {
    std::vector<platform::DiskGeometry> a, b;
    bool aQueryFails;
    uint32_t count, firstDrive, geometryIndex;
  } kCases[] = {
      {Media({144}), Media({144}), false, 2, 1, 0},
      {{}, Media({144}), false, 1, 2, 0},
      // A 2.88 MB drive lists its own medium first; 5.25-inch media only are passed over.
      {Media({1, 3}), Media({10, 144}), false, 1, 2, 1},
      {{}, Media({0, 144}), false, 0, 0, 0},  // an Unknown entry ends the scan
      {Media({144}), {}, true, 0, 0, 0},
  };
  job.isNtFamily = 1;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.count * 100 + c.firstDrive * 10 + c.geometryIndex);
    job::CloseFloppyDevice(job, devices);
    job.firstFloppyDrive = 0;
    devices.ntDrives.clear();
    if (!c.a.empty()) devices.ntDrives[kA].mediaTypes = c.a;
    if (!c.b.empty()) devices.ntDrives[kB].mediaTypes = c.b;
    devices.ntDrives[kA].mediaQueryFails = c.aQueryFails;
    EXPECT_EQ(target->Probe(true, 0), c.count);
    EXPECT_EQ(job.firstFloppyDrive, c.firstDrive);
    EXPECT_EQ(devices.OpenHandles(), 0);
    if (c.count == 0) continue;
    EXPECT_EQ(job.floppyGeometryIndex, c.geometryIndex);
    // The last drive listed, twice: a selection left open is closed by the next.
    for (int twice = 0; twice < 2; ++twice)
      EXPECT_EQ(target->Probe(false, c.count - 1 + c.firstDrive - 1), 1u);
    EXPECT_EQ(devices.OpenHandles(), 1);
    EXPECT_EQ(devices.Log().back(),
              std::string("control ") + (c.count + c.firstDrive == 2 ? kA : kB) + " 0x70C00");
  }
  EXPECT_EQ(devices.Log()[0], std::string("open ") + kA + " 0xC0000000 0x3 0x3 0x28000004");
  // The first drive found is kept for the process's life.
  job.firstFloppyDrive = 2;
  devices.ntDrives[kA].mediaQueryFails = false;
  devices.ntDrives[kA].mediaTypes = devices.ntDrives[kB].mediaTypes = Media({144});
  EXPECT_EQ(target->Probe(true, 0), 2u);
  EXPECT_EQ(job.firstFloppyDrive, 2u);
  job::CloseFloppyDevice(job, devices);
  EXPECT_EQ(devices.OpenHandles() + devices.BadCloses(), 0);
  EXPECT_TRUE(dialog.Boxes().empty());
}

TEST_F(ProbeTest, NineXOffersTheFirst144DriveThroughVwin32AndWritesByEitherDosCall) {
  // Without VWIN32: one message, and nothing offered.
  EXPECT_EQ(target->Probe(true, 0), 0u);
  EXPECT_EQ(devices.Log()[0], "open \\\\.\\VWIN32 0x0 0x0 0x0 0x88000004");
  ASSERT_EQ(dialog.Log(), std::vector<std::string>{"box free 0x10 T1006: T1024"});
  devices.vwin32Present = true;
  devices.dosDrives[1].deviceType = 2;     // 720 KB
  devices.dosDrives[2].queryCarry = true;  // the DOS call fails
  devices.dosDrives[3] = devices.dosDrives[4] = fakes::FakeDosDrive();
  EXPECT_EQ(target->Probe(true, 0), 1u);
  EXPECT_EQ(job.firstFloppyDrive, 3u);
  EXPECT_EQ(devices.OpenHandles(), 1) << "VWIN32 stays open";
  devices.dosDrives[3].cylinders = 79;
  devices.dosDrives[3].totalSectors = 2844;
  EXPECT_EQ(target->Probe(false, 0), 1u);
  EXPECT_EQ((std::vector<int>{job.dosCylinders, job.dosBytesPerSector, job.dosTotalSectors}),
            (std::vector<int>{79, 512, 2844}));
  std::vector<uint8_t> cylinder(36 * 512, 0x42);
  for (uint8_t extended : {0, 1}) {
    job.useExtendedDosWrite = extended;
    ASSERT_TRUE(target->WriteSectors9x(36, 36, 1, cylinder.data()));
  }
  const auto writes = devices.DosWrites();
  ASSERT_EQ(writes.size(), 2u);
  // Int 26h (code 3) counts drives from 0; Int 21h 7305h (code 6) from 1; sectors 36 to 71.
  const uint32_t expected[2][7] = {{3, 0, 0xFFFF, 0, 0, 36, 36},
                                   {6, 0x7305, 0xFFFFFFFF, 1, 0x6001, 36, 36}};
  for (size_t i = 0; i < 2; ++i) {
    const auto& r = writes[i].registers;
    EXPECT_EQ((std::vector<uint32_t>{writes[i].code, r.eax, r.ecx, r.edx, r.esi,
                                     writes[i].firstSector, writes[i].sectorCount}),
              std::vector<uint32_t>(expected[i], expected[i] + 7));
  }
  EXPECT_EQ(devices.dosDisk[36 * 512], 0x42);
  devices.dosWriteCarryNumber = 2;
  EXPECT_FALSE(target->WriteSectors9x(0, 36, 1, cylinder.data())) << "carry set means failed";
}

// The writer's outcomes on every path are in the fault matrix; here, how much it writes.
TEST(UsedCylinders, CountUpToTheFirstCylinderOfFillerOnly) {
  constexpr uint32_t kCylinder = image::kCylinderBytes;
  std::vector<uint8_t> floppy(image::kFloppyImageBytes, 0xF6);
  floppy[0] = 1;
  EXPECT_EQ(floppy::UsedCylindersOf(floppy.data()), 1u) << "cylinder 1 all filler";
  for (uint32_t cylinder = 1; cylinder < 5; ++cylinder) floppy[cylinder * kCylinder + 100] = 1;
  floppy[6 * kCylinder] = 1;  // data after an unused cylinder 5 is never written
  EXPECT_EQ(floppy::UsedCylindersOf(floppy.data()), 5u);
  floppy[kCylinder * 80 - 1] = 1;
  for (uint32_t cylinder = 5; cylinder < 80; ++cylinder) floppy[cylinder * kCylinder + 7] = 0;
  EXPECT_EQ(floppy::UsedCylindersOf(floppy.data()), 80u) << "a full disk";
}
}  // namespace
