// A floppy or CD job's whole world in fakes: the job record, a data file with short,
// recognisable texts and a floppy image, the drives, the dialog and a virtual clock.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "app/Monitors.h"
#include "datafile/DataFile.h"
#include "floppy/FloppyTarget.h"
#include "floppy/FloppyWriter.h"
#include "job/InstallJob.h"
#include "tests/fakes/FakeDeviceIo.h"
#include "tests/fakes/FakeDialogWindow.h"
#include "tests/fakes/FakeFileSystem.h"
#include "tests/fakes/FakeSystem.h"
#include "tools/mkinstalldat/DatWriter.h"

namespace testsupport {

/// The data file entries of a floppy whose data fills exactly `cylinders` cylinders, and
/// the texts the jobs use: "T<number>" for plain texts, printf forms where they take
/// arguments.
std::vector<mkinstalldat::DatEntry> JobEntries(uint32_t cylinders);

class JobFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  /// Reopens the data file with `entries`.
  void UseEntries(const std::vector<mkinstalldat::DatEntry>& entries);
  floppy::FloppyJobServices Services();
  std::unique_ptr<app::MonitorControls> Controls();
  /// The floppy image the writer assembles, for comparing with what reached a drive.
  std::vector<uint8_t> ExpectedImage();

  job::InstallJob job;
  fakes::FakeSystem system;
  fakes::FakeDeviceIo devices;
  fakes::FakeDialogWindow dialog;
  fakes::FakeFileSystem files;
  std::unique_ptr<datafile::DataFile> dataFile;
  std::unique_ptr<floppy::FloppyTarget> target;
};

}  // namespace testsupport
