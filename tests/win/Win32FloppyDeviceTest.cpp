// The NT floppy writer through the real Windows device back end, onto a block device that
// the Wine prefix maps as drive A:. tests/win/floppy_loop_test.sh maps a loop device over a
// zero-filled 1,474,560-byte image file and names three files in the environment: the
// data file, the image file behind the device, and the floppy that the exporter made from
// the same data file. Without them the test is skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "floppy/FloppyWriter.h"
#include "image/FloppyLayout.h"
#include "platform/DriveRecords.h"
#include "platform/Host.h"
#include "tests/support/JobFixture.h"
#include "tests/support/TestFiles.h"

namespace {

// The real device back end, except that the media-type query answers with the one 1.44 MB
// geometry: Wine's volume devices answer it with nothing a floppy probe can use.
class SuppliedGeometryDevices : public platform::DeviceIo {
 public:
  platform::DeviceHandle Open(const std::string& path,
                              const platform::DeviceOpenFlags& flags) override {
    return real_->Open(path, flags);
  }
  bool Control(platform::DeviceHandle device, uint32_t code, void* in, uint32_t inBytes, void* out,
               uint32_t outBytes, uint32_t* bytesReturned) override {
    if (code != platform::kIoctlDiskGetMediaTypes) {
      return real_->Control(device, code, in, inBytes, out, outBytes, bytesReturned);
    }
    platform::DiskGeometry geometry;
    geometry.cylinders = floppy::kImageCylinders;
    geometry.mediaType = platform::kMediaF3_1Pt44_512;
    geometry.tracksPerCylinder = 2;
    geometry.sectorsPerTrack = 18;
    geometry.bytesPerSector = image::kSectorBytes;
    if (outBytes < sizeof geometry) return false;
    std::memcpy(out, &geometry, sizeof geometry);
    *bytesReturned = sizeof geometry;
    return true;
  }
  bool Write(platform::DeviceHandle device, const void* data, uint32_t bytes,
             uint32_t* written) override {
    return real_->Write(device, data, bytes, written);
  }
  void Close(platform::DeviceHandle device) override { real_->Close(device); }
  uint32_t FlatAddress(void* block) override { return real_->FlatAddress(block); }

 private:
  std::unique_ptr<platform::DeviceIo> real_ = platform::MakeHostDeviceIo();
};

class Win32FloppyDeviceTest : public testsupport::JobFixture {
 protected:
  void SetUp() override {
    const char* data = std::getenv("INSTALLER_LOOP_DATA");
    imagePath = std::getenv("INSTALLER_LOOP_IMAGE") ? std::getenv("INSTALLER_LOOP_IMAGE") : "";
    exportedPath =
        std::getenv("INSTALLER_LOOP_EXPORTED") ? std::getenv("INSTALLER_LOOP_EXPORTED") : "";
    if (data == nullptr || imagePath.empty() || exportedPath.empty()) {
      GTEST_SKIP() << "no block device is mapped as A: (tests/win/floppy_loop_test.sh maps one)";
    }
    JobFixture::SetUp();
    files.Add("install.dat", testsupport::ReadBytes(data));
    datafile::DataFileServices services;
    services.files = &files;
    services.system = &system;
    dataFile = datafile::OpenDataFile(services, "install.dat");
    ASSERT_NE(dataFile, nullptr) << data;
    job.dataFile = dataFile.get();
    job.isNtFamily = 1;
    // The exporter stamped its files with the host's clock (SOURCE_DATE_EPOCH when set);
    // the writer's image must carry the same time to be the same bytes.
    system.now = platform::MakeHostSystem()->UtcNow();
    target = std::make_unique<floppy::FloppyTarget>(job, realDevices, dialog);
    job.floppyTarget = target.get();
  }

  std::string imagePath;
  std::string exportedPath;
  SuppliedGeometryDevices realDevices;
};

TEST_F(Win32FloppyDeviceTest, TheNtWriterPutsTheExportedFloppyOnTheDevice) {
  ASSERT_EQ(target->Probe(true, 0), 1u) << "drive A: did not open as a volume";
  target->Probe(false, 0);
  floppy::FloppyJobServices services = Services();
  services.devices = &realDevices;
  floppy::WriteFloppyThread(services);
  for (const auto& box : dialog.Boxes()) ADD_FAILURE() << "the writer said: " << box.text;
  ASSERT_EQ(job.jobFailed, 0);
  job::CloseFloppyDevice(job, realDevices);

  const size_t written = size_t{job.progressTotal} * image::kCylinderBytes;
  const std::vector<uint8_t> disk = testsupport::ReadBytes(imagePath);
  const std::vector<uint8_t> expected = testsupport::ReadBytes(exportedPath);
  ASSERT_EQ(disk.size(), image::kFloppyImageBytes);
  ASSERT_EQ(expected.size(), image::kFloppyImageBytes);
  ASSERT_GT(written, 0u);
  EXPECT_TRUE(
      std::equal(disk.begin(), disk.begin() + static_cast<long>(written), expected.begin()));
  EXPECT_TRUE(std::all_of(disk.begin() + static_cast<long>(written), disk.end(), [](uint8_t b) {
    return b == 0;
  })) << "nothing past the used cylinders is written";
}

}  // namespace
