// A floppy or CD job's whole world in fakes, with a data file of short, recognisable texts.
#pragma once

#include <gtest/gtest.h>
#include <memory>
#include "app/Monitors.h"
#include "datafile/DataFile.h"
#include "floppy/FloppyTarget.h"
#include "floppy/FloppyWriter.h"
#include "image/FloppyImageAssembler.h"
#include "image/FloppyLayout.h"
#include "job/InstallJob.h"
#include "tests/fakes/FakeDeviceIo.h"
#include "tests/fakes/FakeDialogWindow.h"
#include "tests/fakes/FakeFileSystem.h"
#include "tests/fakes/FakeSystem.h"
#include "tests/support/TestFiles.h"

namespace testsupport {

/// A floppy filling exactly `cylinders` cylinders; the texts "T<number>", or printf forms.
inline std::vector<mkinstalldat::DatEntry> JobEntries(uint32_t cylinders) {
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

class JobFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    datafile::TakeDataFileError();
    UseEntries(JobEntries(5));
    target = std::make_unique<floppy::FloppyTarget>(job, devices, dialog);
    job.floppyTarget = target.get();
  }
  void TearDown() override {
    system.JoinThreads();
    datafile::TakeDataFileError();
  }
  void UseEntries(const std::vector<mkinstalldat::DatEntry>& entries) {
    files.Add("install.dat", mkinstalldat::BuildDataFile(entries));
    dataFile = datafile::OpenDataFile({&files, &system}, "install.dat");
    ASSERT_NE(dataFile, nullptr);
    job.dataFile = dataFile.get();
  }
  floppy::FloppyJobServices Services() { return {&job, &system, &devices, &dialog}; }
  std::unique_ptr<app::MonitorControls> Controls() {
    auto controls = std::make_unique<app::MonitorControls>();
    controls->dialog = &dialog, controls->job = &job;
    controls->system = &system, controls->devices = &devices;
    return controls;
  }
  /// The floppy image the writer assembles, for comparing with what reached a drive.
  std::vector<uint8_t> ExpectedImage() {
    std::vector<uint8_t> floppy(image::kFloppyImageBytes);
    image::FloppyAssemblyReport report;
    const int status = image::AssembleFloppyImage(floppy.data(), dataFile.get(), system, &report);
    EXPECT_TRUE(image::FloppyImageIsComplete(status, report));
    return floppy;
  }
  job::InstallJob job;
  fakes::FakeSystem system;
  fakes::FakeDeviceIo devices;
  fakes::FakeDialogWindow dialog;
  fakes::FakeFileSystem files;
  std::unique_ptr<datafile::DataFile> dataFile;
  std::unique_ptr<floppy::FloppyTarget> target;
};
}  // namespace testsupport
