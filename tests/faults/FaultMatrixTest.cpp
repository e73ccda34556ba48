// Every fault the fakes can inject, one at a time, against the floppy writer and both CD
// burners. For each: the job ends, busy is 0, at most one message is shown (exactly one
// when the job failed), every handle, page block and COM object is released, and the
// target holds either nothing, the cylinders reported, or the whole image: never other
// bytes. The test prints the table of faults tried and their outcomes.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "cd/CdBurner.h"
#include "image/FloppyLayout.h"
#include "tests/fakes/FakeDiscRecording.h"
#include "tests/support/JobFixture.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr char kA[] = "\\\\.\\A:";
constexpr uint32_t kCylinders = 5;
constexpr size_t kAllBytes = kCylinders * image::kCylinderBytes;

std::vector<std::string>& Table() {
  static std::vector<std::string> rows;
  return rows;
}

class FaultMatrixTest : public testsupport::JobFixture {
 protected:
  static void TearDownTestSuite() {
    std::printf("\n%-9s %-40s %s\n", "job", "fault", "outcome");
    for (const std::string& row : Table()) std::printf("%s\n", row.c_str());
    std::printf("%zu faults tried\n", Table().size());
  }

  // No fault armed, nothing shown; `inject` then arms one.
  void Disarm() {
    dialog.Reset();
    files.faults = fakes::FileFaults();
    files.readCalls = system.allocations = system.refuseAllocationNumber = 0;
    system.refusePages = false;
  }
  void AddRow(const char* path, const std::string& fault, std::string outcome) {
    const auto boxes = dialog.Boxes();
    EXPECT_LE(boxes.size(), 1u);
    if (job.jobFailed) {
      EXPECT_EQ(boxes.size(), 1u) << "a failure says why";
    }
    if (!boxes.empty()) outcome += ", message " + boxes[0].text;
    char row[160];
    std::snprintf(row, sizeof row, "%-9s %-40s %s", path, fault.c_str(), outcome.c_str());
    Table().push_back(row);
  }

  // One floppy job from a fresh state with `inject` applied. With `cylindersOnTarget`
  // given, exactly that many reach the drive.
  void FloppyJob(bool nt, const std::string& fault, const std::function<void()>& inject,
                 int cylindersOnTarget = -1) {
    SCOPED_TRACE(fault);
    job.busy = job.abortRequested = job.jobFailed = job.firstFloppyDrive = 0;
    job.isNtFamily = nt;
    devices.ntDrives = {{kA, {}}};
    devices.ntDrives[kA].mediaTypes = {fakes::Geometry144()};
    devices.vwin32Present = !nt;
    devices.dosDrives[1] = fakes::FakeDosDrive();
    devices.dosDisk.assign(image::kFloppyImageBytes, 0);
    devices.dosWriteCarryNumber = -1;
    devices.afterWrite = nullptr;
    Disarm();
    const size_t exitsBefore = system.Exits().size();
    UseEntries(testsupport::JobEntries(kCylinders));
    target->Probe(true, 0);
    target->Probe(false, 0);
    inject();
    floppy::WriteFloppyThread(Services());
    const bool exited = system.Exits().size() > exitsBefore;
    EXPECT_EQ(job.busy, exited ? 1 : 0);  // a process that ended left its job as it was

    std::vector<uint8_t> disk = nt ? devices.ntDrives[kA].contents : devices.dosDisk;
    if (!nt) {  // DOS writes land in place: what was written is the cylinders not blank
      size_t written = 0;
      while (written < kAllBytes &&
             std::any_of(disk.begin() + static_cast<long>(written),
                         disk.begin() + static_cast<long>(written + image::kCylinderBytes),
                         [](uint8_t b) { return b != 0; })) {
        written += image::kCylinderBytes;
      }
      disk.resize(written);
    }
    files.faults = fakes::FileFaults();  // the image to compare with is assembled cleanly
    system.refuseAllocationNumber = 0;
    const std::vector<uint8_t> expected = ExpectedImage();
    EXPECT_EQ(disk.size() % image::kCylinderBytes, 0u);
    EXPECT_LE(disk.size(), kAllBytes);
    if (cylindersOnTarget >= 0) {
      EXPECT_EQ(disk.size(), static_cast<size_t>(cylindersOnTarget) * image::kCylinderBytes);
    }
    EXPECT_TRUE(std::equal(disk.begin(), disk.end(), expected.begin()));
    if (!job.jobFailed && !job.abortRequested && !exited) {
      EXPECT_EQ(disk.size(), kAllBytes) << "success with a partial disk";
    }
    job::CloseFloppyDevice(job, devices);
    const platform::DeviceHandle vwin32 = job.vwin32Device.exchange(platform::kInvalidDevice);
    if (vwin32 != platform::kInvalidDevice) devices.Close(vwin32);
    EXPECT_EQ(devices.OpenHandles(), 0);
    EXPECT_EQ(devices.BadCloses(), 0);
    EXPECT_EQ(system.LivePageBlocks(), 0);
    AddRow(nt ? "floppy" : "floppy9x", fault,
           std::string(exited               ? "process ended"
                       : job.jobFailed      ? "failed"
                       : job.abortRequested ? "cancelled"
                                            : "written") +
               ", " + std::to_string(disk.size() / image::kCylinderBytes) + " cylinders");
  }

  // One CD job on either path with `inject` applied; the disc gets `whole` or nothing.
  void CdJob(bool imapi2, const std::string& fault, const std::function<void()>& inject) {
    SCOPED_TRACE(fault);
    recording.Reset();
    Disarm();
    std::vector<mkinstalldat::DatEntry> entries = testsupport::JobEntries(kCylinders);
    entries.push_back({5000, testsupport::Bytes("readme.txt")});
    for (uint16_t id : {1031, 1039, 1041})
      entries.push_back({id, testsupport::Bytes("T" + std::to_string(id))});
    UseEntries(entries);
    job.useImapi2 = imapi2;
    job.selectedRecorder = job.cdStage = 0;
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
    EXPECT_EQ(dialog.Boxes().empty(), !job.jobFailed);
    if (whole.empty()) whole = recording.burnedImage;
    if (!recording.burnedImage.empty()) {
      EXPECT_EQ(recording.burnedImage, whole) << "the disc gets the whole image or nothing";
    }
    AddRow(imapi2 ? "cd-imapi2" : "cd-imapi", fault,
           job.jobFailed ? "failed at stage " + std::to_string(job.cdStage.load()) : "written");
  }

  fakes::FakeDiscRecording recording;
  std::vector<uint8_t> whole;
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
  FloppyJob(true, "none", [] {});  // counts the clean job's allocations and reads
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

TEST_F(FaultMatrixTest, CdEveryStepAllocationAndReadOnBothPaths) {
  const std::vector<std::string> steps[] = {
      {"CreateShellCdBurn", "HasRecordableDrive", "CreateDiscMaster", "Open", "EnumDiscRecorders",
       "QueryJoliet", "CreateTemporaryStorage#1", "CreateStream:readme.txt",
       "CreateTemporaryStorage#2", "CreateStream:bootimg", "Write:bootimg", "OpenStream:bootimg",
       "GetJolietProperties", "Enum", "SetJolietProperties", "AddData"},
      {"CreateDiscMaster2", "CreateRecorder2", "InitializeDiscRecorder", "CreateDataWriter2",
       "PutClientName", "CreateTemporaryStorage", "CreateStream:iso", "Write:iso",
       "OpenStream:iso"}};
  for (bool imapi2 : {false, true}) {
    whole.clear();
    CdJob(imapi2, "none", [] {});  // the image, and the allocations and reads it takes
    EXPECT_EQ(whole.empty(), !imapi2) << "only IMAPI2 burns one image";
    const int allocations = system.allocations;
    const int reads = files.readCalls;
    for (const std::string& step : steps[imapi2])
      CdJob(imapi2, step + " fails", [&] { recording.failing = {step}; });
    if (imapi2) {
      CdJob(true, "Write returns E_FAIL", [&] { recording.writeResult = platform::kEFail; });
    } else {
      CdJob(false, "RecordDisc returns S_FALSE",
            [&] { recording.recordResult = platform::kSFalse; });
    }
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
