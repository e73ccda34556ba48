// Real-system checks that floppy_loop_test.sh and installer_gui_test.sh set up (else skipped).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "app/InstallDialog.h"
#include "floppy/FloppyWriter.h"
#include "image/FloppyLayout.h"
#include "platform/DriveRecords.h"
#include "platform/Host.h"
#include "tests/fakes/FakeDiscRecording.h"
#include "tests/support/JobFixture.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace platform;

// The real devices, but with the 1.44 MB media type that Wine's volume devices do not report.
struct SuppliedGeometryDevices : DeviceIo {
  DeviceHandle Open(const std::string& path, const DeviceOpenFlags& flags) override {
    return real->Open(path, flags);
  }
  bool Control(DeviceHandle device, uint32_t code, void* in, uint32_t inBytes, void* out,
               uint32_t outBytes, uint32_t* bytesReturned) override {
    const DiskGeometry geometry{floppy::kImageCylinders, kMediaF3_1Pt44_512, 2, 18,
                                image::kSectorBytes};
    if (code != kIoctlDiskGetMediaTypes || outBytes < sizeof geometry)
      return real->Control(device, code, in, inBytes, out, outBytes, bytesReturned);
    return std::memcpy(out, &geometry, *bytesReturned = sizeof geometry), true;
  }
  bool Write(DeviceHandle device, const void* data, uint32_t bytes, uint32_t* written) override {
    return real->Write(device, data, bytes, written);
  }
  void Close(DeviceHandle device) override { real->Close(device); }
  uint32_t FlatAddress(void* block) override { return real->FlatAddress(block); }
  std::unique_ptr<DeviceIo> real = MakeHostDeviceIo();
};

using Win32FloppyDeviceTest = testsupport::JobFixture;

// The NT writer puts the exported floppy on the loop device mapped as A: (an image of zeros).
TEST_F(Win32FloppyDeviceTest, TheNtWriterPutsTheExportedFloppyOnTheDevice) {
  const char* data = std::getenv("INSTALLER_LOOP_DATA");
  const char* image = std::getenv("INSTALLER_LOOP_IMAGE");
  const char* exported = std::getenv("INSTALLER_LOOP_EXPORTED");
  if (!data || !image || !exported) GTEST_SKIP() << "no block device is mapped as A:";
  files.Add("install.dat", testsupport::ReadBytes(data));
  datafile::DataFileServices services{};
  services.files = &files, services.system = &system;
  ASSERT_NE(dataFile = datafile::OpenDataFile(services, "install.dat"), nullptr) << data;
  job.dataFile = dataFile.get();
  job.isNtFamily = 1;
  system.now = MakeHostSystem()->UtcNow();  // as the exporter stamped its files
  SuppliedGeometryDevices realDevices;
  target = std::make_unique<floppy::FloppyTarget>(job, realDevices, dialog);
  job.floppyTarget = target.get();
  ASSERT_EQ(target->Probe(true, 0), 1u) << "drive A: did not open as a volume";
  target->Probe(false, 0);  // then the drive
  floppy::FloppyJobServices writer = Services();
  writer.devices = &realDevices;
  floppy::WriteFloppyThread(writer);
  for (const auto& box : dialog.Boxes()) ADD_FAILURE() << "the writer said: " << box.text;
  job::CloseFloppyDevice(job, realDevices);
  const auto disk = testsupport::ReadBytes(image), expected = testsupport::ReadBytes(exported);
  const auto written = static_cast<long>(job.progressTotal * image::kCylinderBytes);
  ASSERT_EQ(disk.size() + expected.size(), 2 * image::kFloppyImageBytes);
  ASSERT_GT(written, 0);
  EXPECT_TRUE(std::equal(disk.begin(), disk.begin() + written, expected.begin()));
  EXPECT_TRUE(std::all_of(disk.begin() + written, disk.end(), [](uint8_t b) { return b == 0; }))
      << "nothing past the used cylinders is written";
}

// The real version record (Wine: the prefix's) chooses the paths INSTALLER_EXPECTED_PATHS names.
TEST(Win32VersionPathTest, TheRunningWindowsChoosesItsFloppyAndCdPaths) {
  const char* expected = std::getenv("INSTALLER_EXPECTED_PATHS");
  if (expected == nullptr) GTEST_SKIP() << "INSTALLER_EXPECTED_PATHS names no Windows version";
  job::InstallJob job;
  const std::unique_ptr<System> system = MakeHostSystem();
  fakes::FakeDialogWindow window;
  fakes::FakeDiscRecording recording;
  app::InstallServices services;
  services.job = &job, services.system = system.get();
  services.window = &window, services.recording = &recording;
  ASSERT_TRUE(app::CInstallDlg(services).started());
  const char* const paths[] = {"9x", "nt4", "imapi", "imapi2"};
  const int path = !job.isNtFamily ? 0 : !job.cdRecordingSupported ? 1 : job.useImapi2 ? 3 : 2;
  EXPECT_EQ(paths[path], std::string(expected));
}
}  // namespace
