// Every fault the fakes can inject, one at a time, against the floppy writer and both CD
// burners. For each: the job ends, busy is 0, at most one message is shown (exactly one
// when the job failed), every handle and COM object is released, and the target holds
// either nothing, the cylinders reported, or the whole image: never other bytes. The
// test prints the table of faults tried and their outcomes.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "cd/CdBurner.h"
#include "image/FloppyLayout.h"
#include "image/IsoImageBuilder.h"
#include "tests/fakes/FakeDiscRecording.h"
#include "tests/support/JobFixture.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr char kA[] = "\\\\.\\A:";
constexpr uint32_t kCylinders = 5;

struct Row {
  std::string job;
  std::string fault;
  std::string outcome;
};

std::vector<Row>& Table() {
  static std::vector<Row> rows;
  return rows;
}

class FaultMatrixTest : public testsupport::JobFixture {
 protected:
  static void TearDownTestSuite() {
    std::printf("\n%-8s %-40s %s\n", "job", "fault", "outcome");
    for (const Row& row : Table())
      std::printf("%-8s %-40s %s\n", row.job.c_str(), row.fault.c_str(), row.outcome.c_str());
    std::printf("%zu faults tried\n", Table().size());
  }

  // One floppy job from a fresh state with `inject` applied; checks the invariants and
  // records the row. With `cylindersOnTarget` given, exactly that many reach the drive.
  void FloppyJob(bool nt, const std::string& fault, const std::function<void()>& inject,
                 int cylindersOnTarget = -1) {
    SCOPED_TRACE(fault);
    job.busy = 0;
    job.abortRequested = 0;
    job.jobFailed = 0;
    job.isNtFamily = nt ? 1 : 0;
    job.firstFloppyDrive = 0;
    devices.ntDrives.clear();
    devices.ntDrives[kA].mediaTypes = {fakes::Geometry144()};
    devices.vwin32Present = !nt;
    devices.dosDrives[1] = fakes::FakeDosDrive();
    devices.dosDisk.assign(image::kFloppyImageBytes, 0);
    devices.dosWriteCarryNumber = -1;
    devices.afterWrite = nullptr;
    dialog.Reset();
    files.faults = fakes::FileFaults();
    files.readCalls = 0;
    system.refuseAllocationNumber = 0;
    system.allocations = 0;
    system.refusePages = false;
    const size_t exitsBefore = system.Exits().size();
    UseEntries(testsupport::JobEntries(kCylinders));
    target->Probe(true, 0);
    target->Probe(false, 0);
    inject();
    floppy::WriteFloppyThread(Services());
    const bool exited = system.Exits().size() > exitsBefore;

    EXPECT_EQ(job.busy, exited ? 1 : 0);  // a process that ended left its job as it was
    const auto boxes = dialog.Boxes();
    EXPECT_LE(boxes.size(), 1u);
    if (job.jobFailed) {
      EXPECT_EQ(boxes.size(), 1u);
    }
    const std::vector<uint8_t> disk =
        nt ? devices.ntDrives[kA].contents : std::vector<uint8_t>(devices.dosDisk);
    files.faults = fakes::FileFaults();  // the image to compare with is assembled cleanly
    system.refuseAllocationNumber = 0;
    const std::vector<uint8_t> expected = ExpectedImage();
    // What reached the drive is a prefix of whole cylinders of the image.
    size_t written = 0;
    if (nt) {
      written = disk.size();
    } else {
      while (written < disk.size() && written < kCylinders * image::kCylinderBytes &&
             std::any_of(disk.begin() + static_cast<long>(written),
                         disk.begin() + static_cast<long>(written + image::kCylinderBytes),
                         [](uint8_t b) { return b != 0; })) {
        written += image::kCylinderBytes;
      }
    }
    EXPECT_EQ(written % image::kCylinderBytes, 0u);
    if (cylindersOnTarget >= 0) {
      EXPECT_EQ(written, size_t{static_cast<uint32_t>(cylindersOnTarget)} * image::kCylinderBytes);
    }
    EXPECT_LE(written, kCylinders * image::kCylinderBytes);
    EXPECT_TRUE(
        std::equal(disk.begin(), disk.begin() + static_cast<long>(written), expected.begin()));
    const bool complete = written == kCylinders * image::kCylinderBytes;
    if (!job.jobFailed && !job.abortRequested && !exited) {
      EXPECT_TRUE(complete) << "success with a partial disk";
    }
    job::CloseFloppyDevice(job, devices);
    const platform::DeviceHandle vwin32 = job.vwin32Device.exchange(platform::kInvalidDevice);
    if (vwin32 != platform::kInvalidDevice) devices.Close(vwin32);
    EXPECT_EQ(devices.OpenHandles(), 0);
    EXPECT_EQ(devices.BadCloses(), 0);
    EXPECT_EQ(system.LivePageBlocks(), 0);

    std::string outcome = exited               ? "process ended"
                          : job.jobFailed      ? "failed"
                          : job.abortRequested ? "cancelled"
                                               : "written";
    outcome += ", " + std::to_string(written / image::kCylinderBytes) + " cylinders";
    if (!boxes.empty()) outcome += ", message " + boxes[0].text;
    Table().push_back({nt ? "floppy" : "floppy9x", fault, outcome});
  }

  // One CD job on either path with `inject` applied.
  void CdJob(bool imapi2, const std::string& fault, const std::function<void()>& inject) {
    SCOPED_TRACE(fault);
    recording.Reset();
    dialog.Reset();
    files.faults = fakes::FileFaults();
    files.readCalls = 0;
    system.refuseAllocationNumber = 0;
    system.allocations = 0;
    std::vector<mkinstalldat::DatEntry> entries = testsupport::JobEntries(kCylinders);
    entries.push_back({5000, testsupport::Bytes("readme.txt")});
    for (uint16_t id : {1031, 1039, 1041})
      entries.push_back({id, testsupport::Bytes("T" + std::to_string(id))});
    UseEntries(entries);
    job.useImapi2 = imapi2 ? 1 : 0;
    job.selectedRecorder = 0;
    job.cdStage = 0;
    inject();
    cd::CdJobServices services;
    services.job = &job;
    services.system = &system;
    services.recording = &recording;
    services.dialog = &dialog;
    cd::CdBurnThread(services);

    EXPECT_EQ(job.busy, 0);
    EXPECT_EQ(recording.LiveObjects(), 0);
    EXPECT_EQ(recording.ComDepth(), 0);
    const auto boxes = dialog.Boxes();
    EXPECT_EQ(boxes.size(), job.jobFailed ? 1u : 0u);
    if (!recording.burnedImage.empty()) {
      files.faults = fakes::FileFaults();
      system.refuseAllocationNumber = 0;
      image::IsoPlan plan;
      ASSERT_EQ(image::PlanIsoImage(dataFile.get(), system, &plan), image::kIsoBuilt);
      std::vector<uint8_t> iso(plan.ImageBytes());
      uint32_t length = 0;
      ASSERT_EQ(image::WriteIsoImage(plan, iso.data(), iso.size(), &length, dataFile.get(), system),
                image::kIsoBuilt);
      EXPECT_EQ(recording.burnedImage, iso) << "the disc gets the whole image or nothing";
    }
    std::string outcome =
        job.jobFailed ? "failed at stage " + std::to_string(job.cdStage.load()) : "written";
    if (!boxes.empty()) outcome += ", message " + boxes[0].text;
    Table().push_back({imapi2 ? "cd-imapi2" : "cd-imapi", fault, outcome});
  }

  fakes::FakeDiscRecording recording;
};

TEST_F(FaultMatrixTest, FloppyWriteErrorsAndCancelsAtEveryCylinder) {
  for (bool nt : {true, false}) {
    for (uint32_t k = 0; k < kCylinders; ++k) {
      // A failed write leaves the cylinders before it; a cancel lets the cylinder in
      // progress finish and starts no other.
      FloppyJob(
          nt, "write fails at cylinder " + std::to_string(k),
          [&] {
            devices.ntDrives[kA].failWriteNumber = static_cast<int>(k);
            // The fake numbers DOS writes over its whole life, across jobs.
            devices.dosWriteCarryNumber = static_cast<int>(devices.DosWrites().size() + k);
          },
          static_cast<int>(k));
      FloppyJob(
          nt, "cancel during cylinder " + std::to_string(k),
          [&] {
            devices.afterWrite = [this, k, cylinder = 0u](int) mutable {
              if (cylinder++ == k) job.abortRequested = 1;
            };
          },
          static_cast<int>(k + 1));
      // The monitor, finding the job ended, shows the cancelled message alone and puts
      // the dialog back.
      dialog.Reset();
      job.recorderCount = 1;
      app::FloppyMonitorThread(Controls());
      EXPECT_EQ(dialog.Log(),
                (std::vector<std::string>{"range 1001 5", "disable 1003", "pos 1001 0",
                                          "box owned 0x30 T1008: T1022", "pos 1001 0",
                                          "text 1002 ready A:", "enable 1003", "text 1004 T1004",
                                          "enable 1004", "enable 1005", "text 1003 T1035"}));
    }
    FloppyJob(nt, "transfer buffer refused", [&] { system.refusePages = true; });
  }
  FloppyJob(true, "volume lock refused", [&] { devices.ntDrives[kA].lockRefused = true; });
}

TEST_F(FaultMatrixTest, FloppyEveryAllocationAndEveryReadOfTheDataFile) {
  // A clean job first, to count its allocations and reads.
  FloppyJob(true, "none", [] {});
  const int allocations = system.allocations;
  const int reads = files.readCalls;
  for (int n = 1; n <= allocations; ++n) {
    FloppyJob(true, "allocation " + std::to_string(n) + " refused",
              [&] { system.refuseAllocationNumber = n; });
  }
  for (int n = 1; n <= reads; n += 3) {
    FloppyJob(true, "data file read " + std::to_string(n) + " fails",
              [&] { files.faults.failReadNumber = n; });
  }
  const uint64_t size = mkinstalldat::BuildDataFile(testsupport::JobEntries(kCylinders)).size();
  for (uint64_t cut : {size - 1, size - 600, size / 2, uint64_t{200}}) {
    FloppyJob(true, "data file ends at byte " + std::to_string(cut),
              [&] { files.faults.shortReadsBeyond = cut; });
  }
}

TEST_F(FaultMatrixTest, CdEveryStepOnBothPaths) {
  const std::vector<std::string> imapiSteps = {"CreateShellCdBurn",
                                               "HasRecordableDrive",
                                               "CreateDiscMaster",
                                               "Open",
                                               "EnumDiscRecorders",
                                               "QueryJoliet",
                                               "CreateTemporaryStorage#1",
                                               "CreateStream:readme.txt",
                                               "CreateTemporaryStorage#2",
                                               "CreateStream:bootimg",
                                               "Write:bootimg",
                                               "OpenStream:bootimg",
                                               "GetJolietProperties",
                                               "Enum",
                                               "SetJolietProperties",
                                               "AddData"};
  for (const std::string& step : imapiSteps) {
    CdJob(false, step + " fails", [&] { recording.failing = {step}; });
  }
  CdJob(false, "RecordDisc returns S_FALSE", [&] { recording.recordResult = platform::kSFalse; });
  const std::vector<std::string> imapi2Steps = {
      "CreateDiscMaster2", "CreateRecorder2", "InitializeDiscRecorder",
      "CreateDataWriter2", "PutClientName",   "CreateTemporaryStorage",
      "CreateStream:iso",  "Write:iso",       "OpenStream:iso"};
  for (const std::string& step : imapi2Steps) {
    CdJob(true, step + " fails", [&] { recording.failing = {step}; });
  }
  CdJob(true, "Write returns E_FAIL", [&] { recording.writeResult = platform::kEFail; });
}

TEST_F(FaultMatrixTest, CdEveryAllocationAndReadOfTheDataFile) {
  for (bool imapi2 : {false, true}) {
    CdJob(imapi2, "none", [] {});
    const int allocations = system.allocations;
    const int reads = files.readCalls;
    for (int n = 1; n <= allocations; n += 2) {
      CdJob(imapi2, "allocation " + std::to_string(n) + " refused",
            [&] { system.refuseAllocationNumber = n; });
    }
    for (int n = 1; n <= reads; n += 7) {
      CdJob(imapi2, "data file read " + std::to_string(n) + " fails",
            [&] { files.faults.failReadNumber = n; });
    }
  }
}

}  // namespace
