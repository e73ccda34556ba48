// Checks on the real system that the scripts beside this file set up, skipped without them:
// the NT floppy writer through the real device back end onto a block device mapped as A:
// (floppy_loop_test.sh), and the paths that the running Windows version chooses
// (installer_gui_test.sh, once per version).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/InstallDialog.h"
#include "floppy/FloppyWriter.h"
#include "image/FloppyLayout.h"
#include "platform/DriveRecords.h"
#include "platform/Host.h"
#include "tests/fakes/FakeDiscRecording.h"
#include "tests/support/JobFixture.h"
#include "tests/support/TestFiles.h"

namespace {

// The real device back end, but the media-type query answers with the 1.44 MB geometry:
// Wine's volume devices answer it with nothing a floppy probe can use.
class SuppliedGeometryDevices : public platform::DeviceIo {
 public:
  using Handle = platform::DeviceHandle;
  Handle Open(const std::string& path, const platform::DeviceOpenFlags& flags) override {
    return real_->Open(path, flags);
  }
  bool Control(Handle device, uint32_t code, void* in, uint32_t inBytes, void* out,
               uint32_t outBytes, uint32_t* bytesReturned) override {
    if (code != platform::kIoctlDiskGetMediaTypes) {
      return real_->Control(device, code, in, inBytes, out, outBytes, bytesReturned);
    }
    const platform::DiskGeometry geometry{floppy::kImageCylinders, platform::kMediaF3_1Pt44_512, 2,
                                          18, image::kSectorBytes};
    if (outBytes < sizeof geometry) return false;
    std::memcpy(out, &geometry, *bytesReturned = sizeof geometry);
    return true;
  }
  bool Write(Handle device, const void* data, uint32_t bytes, uint32_t* written) override {
    return real_->Write(device, data, bytes, written);
  }
  void Close(Handle device) override { real_->Close(device); }
  uint32_t FlatAddress(void* block) override { return real_->FlatAddress(block); }

 private:
  std::unique_ptr<platform::DeviceIo> real_ = platform::MakeHostDeviceIo();
};

using Win32FloppyDeviceTest = testsupport::JobFixture;

// The loop device script names the data file, the image file behind the device (zeros), and
// the floppy that the exporter made from the same data file.
TEST_F(Win32FloppyDeviceTest, TheNtWriterPutsTheExportedFloppyOnTheDevice) {
  const char* data = std::getenv("INSTALLER_LOOP_DATA");
  const char* image = std::getenv("INSTALLER_LOOP_IMAGE");
  const char* exported = std::getenv("INSTALLER_LOOP_EXPORTED");
  if (!data || !image || !exported) GTEST_SKIP() << "no block device is mapped as A:";
  files.Add("install.dat", testsupport::ReadBytes(data));
  datafile::DataFileServices services{};
  services.files = &files;
  services.system = &system;
  dataFile = datafile::OpenDataFile(services, "install.dat");
  ASSERT_NE(dataFile, nullptr) << data;
  job.dataFile = dataFile.get();
  job.isNtFamily = 1;
  // The exporter stamped its files with the host's clock (SOURCE_DATE_EPOCH when set).
  system.now = platform::MakeHostSystem()->UtcNow();
  SuppliedGeometryDevices realDevices;
  target = std::make_unique<floppy::FloppyTarget>(job, realDevices, dialog);
  job.floppyTarget = target.get();
  ASSERT_EQ(target->Probe(true, 0), 1u) << "drive A: did not open as a volume";
  target->Probe(false, 0);
  floppy::FloppyJobServices writer = Services();
  writer.devices = &realDevices;
  floppy::WriteFloppyThread(writer);
  for (const auto& box : dialog.Boxes()) ADD_FAILURE() << "the writer said: " << box.text;
  ASSERT_EQ(job.jobFailed, 0);
  job::CloseFloppyDevice(job, realDevices);

  const std::vector<uint8_t> disk = testsupport::ReadBytes(image);
  const std::vector<uint8_t> expected = testsupport::ReadBytes(exported);
  const auto written = static_cast<long>(job.progressTotal * image::kCylinderBytes);
  ASSERT_EQ(disk.size(), image::kFloppyImageBytes);
  ASSERT_EQ(expected.size(), image::kFloppyImageBytes);
  ASSERT_GT(written, 0);
  EXPECT_TRUE(std::equal(disk.begin(), disk.begin() + written, expected.begin()));
  EXPECT_TRUE(std::all_of(disk.begin() + written, disk.end(), [](uint8_t b) { return b == 0; }))
      << "nothing past the used cylinders is written";
}

// The real version record (under Wine the prefix's Version value) through the dialog's
// version detection; INSTALLER_EXPECTED_PATHS is "9x", "nt4", "imapi" or "imapi2".
TEST(Win32VersionPathTest, TheRunningWindowsChoosesItsFloppyAndCdPaths) {
  const char* expected = std::getenv("INSTALLER_EXPECTED_PATHS");
  if (expected == nullptr) GTEST_SKIP() << "INSTALLER_EXPECTED_PATHS names no Windows version";
  job::InstallJob job;
  const std::unique_ptr<platform::System> system = platform::MakeHostSystem();
  fakes::FakeDialogWindow window;
  fakes::FakeDiscRecording recording;
  app::InstallServices services;
  services.job = &job, services.system = system.get();
  services.window = &window, services.recording = &recording;
  ASSERT_TRUE(app::CInstallDlg(services).started());
  EXPECT_EQ(!job.isNtFamily             ? "9x"
            : !job.cdRecordingSupported ? "nt4"
            : job.useImapi2             ? "imapi2"
                                        : "imapi",
            std::string(expected));
}

}  // namespace
