// The floppy job end to end on Linux: the real device back end writes the sample data
// file's floppy into an image file mapped as drive A:, and fsck.fat reads the result.
#include <gtest/gtest.h>

#include <cstdlib>

#include "image/FloppyLayout.h"
#include "platform/Host.h"
#include "platform/linux/LinuxDeviceIo.h"
#include "tests/support/JobFixture.h"
#include "tests/support/TestFiles.h"

namespace {

class LinuxFloppyJobTest : public testsupport::JobFixture {
 protected:
  void SetUp() override {
    JobFixture::SetUp();
    std::vector<uint8_t> sample = testsupport::ReadBytes(SAMPLE_DATA_FILE);
    ASSERT_FALSE(sample.empty()) << SAMPLE_DATA_FILE;
    files.Add("install.dat", sample);
    datafile::DataFileServices services;
    services.files = &files;
    services.system = &system;
    dataFile = datafile::OpenDataFile(services, "install.dat");
    ASSERT_NE(dataFile, nullptr);
    job.dataFile = dataFile.get();
    job.isNtFamily = 1;
    testsupport::WriteBytes(drivePath, std::vector<uint8_t>(image::kFloppyImageBytes, 0));
    linuxDevices.MapDrive('A', drivePath);
    target = std::make_unique<floppy::FloppyTarget>(job, linuxDevices, dialog);
    job.floppyTarget = target.get();
  }

  floppy::FloppyJobServices LinuxServices() {
    floppy::FloppyJobServices services = Services();
    services.devices = &linuxDevices;
    return services;
  }

  testsupport::TempDir dir;
  std::string drivePath = dir.Path("floppy.img");
  platform::LinuxDeviceIo linuxDevices;
};

TEST_F(LinuxFloppyJobTest, TheSampleFloppyReachesAnImageFileAndReadsBackClean) {
  ASSERT_EQ(target->Probe(true, 0), 1u) << "a 1,474,560-byte file is a 1.44 MB drive";
  target->Probe(false, 0);
  floppy::WriteFloppyThread(LinuxServices());
  ASSERT_EQ(job.jobFailed, 0);
  ASSERT_EQ(job.abortRequested, 0);
  const uint32_t cylinders = job.progressTotal;
  EXPECT_GE(cylinders, 1u);
  EXPECT_LT(cylinders, 80u);
  const std::vector<uint8_t> disk = testsupport::ReadBytes(drivePath);
  const std::vector<uint8_t> expected = ExpectedImage();
  ASSERT_EQ(disk.size(), expected.size());
  const size_t written = size_t{cylinders} * image::kCylinderBytes;
  EXPECT_TRUE(
      std::equal(disk.begin(), disk.begin() + static_cast<long>(written), expected.begin()));
  EXPECT_TRUE(std::all_of(disk.begin() + static_cast<long>(written), disk.end(), [](uint8_t b) {
    return b == 0;
  })) << "nothing past the used cylinders is written";
  app::CloseFloppyDevice(job, linuxDevices);
  if (std::system("command -v fsck.fat >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "fsck.fat is missing";
  EXPECT_EQ(std::system(("fsck.fat -n '" + drivePath + "' >/dev/null 2>&1").c_str()), 0);
}

TEST_F(LinuxFloppyJobTest, ASecondWriterOnTheSameFileIsRefusedTheLock) {
  platform::LinuxDeviceIo otherProgram;
  otherProgram.MapDrive('A', drivePath);
  platform::DeviceOpenFlags flags;
  flags.access = platform::kGenericRead | platform::kGenericWrite;
  flags.share = platform::kFileShareRead | platform::kFileShareWrite;
  flags.disposition = platform::kOpenExisting;
  const platform::DeviceHandle held = otherProgram.Open("\\\\.\\A:", flags);
  ASSERT_NE(held, platform::kInvalidDevice);
  uint32_t returned = 0;
  ASSERT_TRUE(
      otherProgram.Control(held, floppy::kFsctlLockVolume, nullptr, 0, nullptr, 0, &returned));

  target->Probe(false, 0);
  floppy::WriteFloppyThread(LinuxServices());
  EXPECT_EQ(job.abortRequested, 1);
  ASSERT_EQ(dialog.Boxes().size(), 1u);
  EXPECT_EQ(dialog.Boxes()[0].text, datafile::LoadText(dataFile.get(), 1028));
  const std::vector<uint8_t> disk = testsupport::ReadBytes(drivePath);
  EXPECT_TRUE(std::all_of(disk.begin(), disk.end(), [](uint8_t b) { return b == 0; }));
  otherProgram.Close(held);
  app::CloseFloppyDevice(job, linuxDevices);
}

}  // namespace
