// Every fault on each floppy and CD path: the job ends, releases all, says why at most once.
#include <cstdio>
#include <map>
#include "cd/CdBurner.h"
#include "tests/fakes/FakeDiscRecording.h"
#include "tests/support/JobFixture.h"

namespace {

constexpr char kA[] = "\\\\.\\A:";
constexpr uint32_t kCylinders = 5;
constexpr size_t kCylinder = image::kCylinderBytes, kAllBytes = kCylinders * kCylinder;
enum Path { kNt, kNineX, kImapi, kImapi2 };
const char* const kPathNames[] = {"floppy", "floppy9x", "cd-imapi", "cd-imapi2"};

struct Fault {
  Path path;
  std::string name;
  std::function<void()> inject;
  std::string outcome;  // pinned; empty: any that keeps the rules above
};

class FaultMatrixTest : public testsupport::JobFixture {
 protected:
  void Run(const Fault& fault) {
    SCOPED_TRACE(std::string(kPathNames[fault.path]) + " " + fault.name);
    const bool nt = fault.path == kNt, floppy = fault.path <= kNineX;
    job.busy = job.abortRequested = job.jobFailed = job.firstFloppyDrive = 0;
    job.useExtendedDosWrite = 0, job.isNtFamily = nt;
    devices.ntDrives = {{kA, {}}};
    devices.ntDrives[kA].mediaTypes = {fakes::Geometry144()};
    devices.vwin32Present = !nt, devices.dosDrives[1] = {}, devices.dosWriteCarryNumber = -1;
    devices.dosDisk.assign(image::kFloppyImageBytes, 0), devices.afterWrite = nullptr;
    recording.Reset(), dialog.Reset(), files.faults = {};
    files.readCalls = system.allocations = system.refuseAllocationNumber = system.refusePages = 0;
    UseEntries(Entries());
    const size_t exits = system.Exits().size(), calls = devices.Log().size(),
                 dosWrites = devices.DosWrites().size();
    std::string outcome;
    if (floppy) {
      target->Probe(true, 0);
      target->Probe(false, 0);
      fault.inject();
      floppy::WriteFloppyThread(Services());
      outcome = FloppyOutcome(nt, system.Exits().size() > exits, calls, dosWrites);
    } else {
      job.useImapi2 = fault.path == kImapi2;
      job.selectedRecorder = job.cdStage = 0;
      fault.inject();
      cd::CdBurnThread({&job, &system, &recording, &dialog});
      EXPECT_EQ(job.busy + recording.LiveObjects() + recording.ComDepth(), 0);
      if (whole.empty()) whole = recording.burnedImage;
      EXPECT_TRUE(recording.burnedImage.empty() || recording.burnedImage == whole);
      outcome = job.jobFailed ? "failed at stage " + std::to_string(job.cdStage.load()) : "written";
    }
    const auto boxes = dialog.Boxes();
    EXPECT_LE(boxes.size(), 1u);
    EXPECT_TRUE(job.jobFailed ? boxes.size() == 1 : floppy || boxes.empty())
        << "a failure says why";
    EXPECT_TRUE(outcome.rfind("not started", 0) != 0 || fault.name == "job already running");
    for (const auto& box : boxes) {
      EXPECT_FALSE(box.owned);
      EXPECT_TRUE(box.caption == "T1006" || box.caption.empty()) << "empty: a cut data file";
      outcome += ", message " + box.text;
    }
    EXPECT_TRUE(fault.outcome.empty() || outcome == fault.outcome) << outcome;
    std::printf("%-9s %-40s %s\n", kPathNames[fault.path], fault.name.c_str(), outcome.c_str());
  }
  static std::vector<mkinstalldat::DatEntry> Entries() {
    auto entries = testsupport::JobEntries(kCylinders);
    entries.push_back({5000, testsupport::Bytes("readme.txt")});
    return entries;
  }
  std::string FloppyOutcome(bool nt, bool exited, size_t calls, size_t dosWrites) {
    std::vector<uint8_t> disk = nt ? devices.ntDrives[kA].contents : devices.dosDisk;
    if (!nt) {  // DOS writes land in place: what was written is the cylinders not blank
      size_t written = 0;
      while (written < kAllBytes && std::any_of(&disk[written], &disk[written] + kCylinder,
                                                [](uint8_t b) { return b != 0; }))
        written += kCylinder;
      disk.resize(written);
      const auto writes = devices.DosWrites();
      for (auto w = writes.begin() + static_cast<long>(dosWrites); w != writes.end(); ++w)
        EXPECT_EQ(w->code == platform::kVwin32DosInt26 ? w->registers.eax + 1 : w->registers.edx,
                  1u)
            << "A:, Int 26h counting from 0";
    }
    EXPECT_EQ(devices.OpenHandles(), 1) << "the monitor closes the drive, not the writer";
    files.faults = fakes::FileFaults();  // the image to compare with is assembled cleanly
    system.refuseAllocationNumber = 0;
    EXPECT_TRUE(disk.size() % kCylinder == 0 && disk.size() <= kAllBytes);
    EXPECT_TRUE(disk.empty() || std::equal(disk.begin(), disk.end(), ExpectedImage().begin()));
    const bool started =
        system.Priorities().size() > std::exchange(priorities, system.Priorities().size());
    EXPECT_TRUE(!started || system.Priorities().back() == platform::kThreadPriorityLowest);
    EXPECT_TRUE(exited || job.progressDone == 0);
    job::CloseFloppyDevice(job, devices);
    const platform::DeviceHandle vwin32 = job.vwin32Device.exchange(platform::kInvalidDevice);
    if (vwin32 != platform::kInvalidDevice) devices.Close(vwin32);
    EXPECT_EQ(devices.OpenHandles() + devices.BadCloses() + system.LivePageBlocks(), 0u);
    std::string outcome = exited               ? "process ended"
                          : job.busy           ? "not started"
                          : job.jobFailed      ? "failed"
                          : job.abortRequested ? "cancelled"
                                               : "written";
    EXPECT_TRUE(outcome != "written" ||
                (disk.size() == kAllBytes && job.progressTotal == kCylinders));
    outcome += ", " + std::to_string(disk.size() / kCylinder) + " cylinders";
    if (!nt) return outcome;
    // The volume's lock (L), writes (W), dismount (D) and unlock (U), in order.
    outcome += ", calls ";
    const auto log = devices.Log();
    const std::map<std::string, char> kLetters = {
        {"0x90018", 'L'}, {"0x90020", 'D'}, {"0x9001C", 'U'}};
    for (auto line = log.begin() + static_cast<long>(calls); line != log.end(); ++line) {
      const auto code = kLetters.find(line->substr(line->rfind(' ') + 1));
      if (line->rfind("write", 0) == 0) outcome += 'W';
      if (line->rfind("control", 0) == 0 && code != kLetters.end()) outcome += code->second;
    }
    return outcome;
  }
  fakes::FakeDiscRecording recording;
  std::vector<uint8_t> whole;
  size_t priorities = 0;
};

TEST_F(FaultMatrixTest, EveryFaultOnEveryPathEndsCleanly) {
  const std::string w = "written, 5 cylinders";
  std::vector<Fault> faults = {
      {kNt, "none", [] {}, w + ", calls LWWWWWDU"},
      {kNineX, "none", [] {}, w},
      {kNineX, "extended DOS write", [&] { job.useExtendedDosWrite = 1; }, w},
      {kNt, "job already running", [&] { job.busy = 1; }, "not started, 0 cylinders, calls "},
      {kNt, "volume lock refused", [&] { devices.ntDrives[kA].lockRefused = true; },
       "cancelled, 0 cylinders, calls L, message T1028"},
      {kNt, "image incomplete",
       [&] {
         auto entries = Entries();
         entries.erase(entries.begin() + 1);  // no KERNEL.MAP
         UseEntries(entries);
       },
       "failed, 0 cylinders, calls LU, message T1026"},
      {kNt, "1.68 MB geometry",
       [&] { job.floppyMediaTypes[job.floppyGeometryIndex].sectorsPerTrack = 21; },
       "failed, 0 cylinders, calls LU, message T1026"},
      {kNineX, "no cylinders", [&] { job.dosCylinders = 0; }, "failed, 0 cylinders, message T1026"},
      {kNt, "transfer buffer refused", [&] { system.refusePages = true; },
       "process ended, 0 cylinders, calls L, message T1030"},
      {kNineX, "transfer buffer refused", [&] { system.refusePages = true; },
       "process ended, 0 cylinders, message T1027"},
      {kImapi, "RecordDisc returns S_FALSE", [&] { recording.recordResult = platform::kSFalse; },
       ""},
      {kImapi2, "Write returns E_FAIL", [&] { recording.writeResult = platform::kEFail; }, ""},
  };
  for (Path path : {kNt, kNineX}) {
    const std::string calls = path == kNt ? ", calls L" : "";
    for (uint32_t k = 0; k < kCylinders; ++k) {
      // A cancel finishes the cylinder in progress (those before it counted), starts no other.
      const std::string n = std::to_string(k), ws = std::string(k, 'W');
      faults.push_back({path, "write fails at cylinder " + n,
                        [this, k] {
                          devices.ntDrives[kA].failWriteNumber = static_cast<int>(k);
                          devices.dosWriteCarryNumber =
                              static_cast<int>(devices.DosWrites().size() + k);
                        },
                        "failed, " + n + " cylinders" + (path == kNt ? calls + ws + "WDU" : "") +
                            ", message T1026"});
      faults.push_back({path, "cancel during cylinder " + n,
                        [this, k] {
                          devices.afterWrite = [this, k, cylinder = 0u](int) mutable {
                            EXPECT_EQ(job.progressDone, cylinder ? cylinder - 1 : 0);
                            if (cylinder++ == k) job.abortRequested = 1;
                          };
                        },
                        "cancelled, " + std::to_string(k + 1) + " cylinders" +
                            (path == kNt ? calls + ws + "WDU" : "")});
    }
  }
  const uint64_t size = mkinstalldat::BuildDataFile(Entries()).size();
  for (uint64_t cut : {size - 1, size - 600, size / 2, uint64_t{200}})
    faults.push_back({kNt, "data file ends at byte " + std::to_string(cut),
                      [this, cut] { files.faults.shortReadsBeyond = cut; }, ""});
  const std::vector<std::string> steps[] = {
      {"CreateShellCdBurn", "HasRecordableDrive", "CreateDiscMaster", "Open", "EnumDiscRecorders",
       "QueryJoliet", "CreateTemporaryStorage#1", "CreateStream:readme.txt",
       "CreateTemporaryStorage#2", "CreateStream:bootimg", "Write:bootimg", "OpenStream:bootimg",
       "GetJolietProperties", "Enum", "SetJolietProperties", "AddData"},
      {"CreateDiscMaster2", "CreateRecorder2", "InitializeDiscRecorder", "CreateDataWriter2",
       "PutClientName", "CreateTemporaryStorage", "CreateStream:iso", "Write:iso",
       "OpenStream:iso"}};
  for (Path path : {kImapi, kImapi2})
    for (const std::string& step : steps[path == kImapi2])
      faults.push_back({path, step + " fails", [this, step] { recording.failing = {step}; }, ""});
  // Every allocation and (some) reads of the data file, counted in a clean job on each path.
  for (Path path : {kNt, kImapi, kImapi2}) {
    Run({path, "none", [] {}, ""});
    EXPECT_EQ(whole.empty(), path != kImapi2) << "only IMAPI2 burns one image";
    const int allocations = system.allocations, reads = files.readCalls, step = path == kNt ? 1 : 2;
    for (int n = 1; n <= allocations; n += step)
      faults.push_back({path, "allocation " + std::to_string(n) + " refused",
                        [this, n] { system.refuseAllocationNumber = n; }, ""});
    for (int n = 1; n <= reads; n += path == kNt ? 3 : 7)
      faults.push_back({path, "data file read " + std::to_string(n) + " fails",
                        [this, n] { files.faults.failReadNumber = n; }, ""});
  }
  std::printf("%-9s %-40s %s\n", "job", "fault", "outcome");
  for (const Fault& fault : faults) Run(fault);
  std::printf("%zu faults tried\n", faults.size());
}
}  // namespace
