#include "tests/support/JobFixture.h"

#include "image/FloppyImageAssembler.h"
#include "image/FloppyLayout.h"
#include "tests/support/TestFiles.h"

namespace testsupport {

std::vector<mkinstalldat::DatEntry> JobEntries(uint32_t cylinders) {
  // Base image 33 sectors, README.TXT one sector, KERNEL.MAP the rest of the cylinders.
  std::vector<mkinstalldat::DatEntry> entries = FloppyEntries(
      FormattedBaseImage(), Pattern((cylinders * 36 - 33 - 1) * 512, 5), Pattern(512, 6));
  for (uint16_t id = 1000; id <= 1052; ++id) {
    const bool stage = id >= 1042 && id <= 1048;
    if (id != 1010 && id != 1016 && id != 1023 && id != 1032 && id != 1037)
      entries.push_back(
          {id, Bytes(stage ? "stage " + std::to_string(id - 1042) : "T" + std::to_string(id))});
  }
  entries.insert(entries.end(), {{1010, Bytes("ready %c:")},
                                 {1016, Bytes("cylinder %u of %u")},
                                 {1023, Bytes("%s is on %c:")},
                                 {1032, Bytes("%s is on CD (%c:)")}});
  return entries;
}

void JobFixture::SetUp() {
  datafile::TakeDataFileError();
  UseEntries(JobEntries(5));
  target = std::make_unique<floppy::FloppyTarget>(job, devices, dialog);
  job.floppyTarget = target.get();
}

void JobFixture::TearDown() {
  system.JoinThreads();
  datafile::TakeDataFileError();
}

void JobFixture::UseEntries(const std::vector<mkinstalldat::DatEntry>& entries) {
  files.Add("install.dat", mkinstalldat::BuildDataFile(entries));
  dataFile = datafile::OpenDataFile({&files, &system}, "install.dat");
  ASSERT_NE(dataFile, nullptr);
  job.dataFile = dataFile.get();
}

floppy::FloppyJobServices JobFixture::Services() {
  floppy::FloppyJobServices services;
  services.job = &job;
  services.system = &system;
  services.devices = &devices;
  services.dialog = &dialog;
  return services;
}

std::unique_ptr<app::MonitorControls> JobFixture::Controls() {
  auto controls = std::make_unique<app::MonitorControls>();
  controls->dialog = &dialog;
  controls->job = &job;
  controls->system = &system;
  controls->devices = &devices;
  return controls;
}

std::vector<uint8_t> JobFixture::ExpectedImage() {
  std::vector<uint8_t> floppy(image::kFloppyImageBytes);
  image::FloppyAssemblyReport report;
  const int status = image::AssembleFloppyImage(floppy.data(), dataFile.get(), system, &report);
  EXPECT_TRUE(image::FloppyImageIsComplete(status, report));
  return floppy;
}

}  // namespace testsupport
