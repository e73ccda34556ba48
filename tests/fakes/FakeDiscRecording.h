// Scriptable disc recording (both IMAPIs): calls fail by name and are logged; objects counted.
#pragma once

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/DiscRecording.h"
#include "tests/fakes/FakeSystem.h"

namespace fakes {

/// What the fake is told to do, and what it saw happen; Reset returns to these values.
struct FakeDiscScript {
  /// Failing calls: "Open", "CreateTemporaryStorage#2" (2nd call), "CreateStream:bootimg".
  std::set<std::string> failing;
  bool hasRecordableDrive = true;
  std::vector<std::string> recorderPaths = {"\\Device\\CdRom0"};
  std::map<std::string, std::string> dosDevices;  ///< targets by name ("E:"), NUL-separated
  platform::HResult recordResult = platform::kSOk, writeResult = platform::kSOk;
  std::vector<std::u16string> imapi2Recorders = {u"recorder-0", u"recorder-1"};
  std::map<std::string, std::vector<uint8_t>> addedFiles;  ///< AddData's storage, by name
  std::vector<uint8_t> bootImage, burnedImage;             ///< the stream property; IMAPI2's image
 protected:
  std::vector<std::string> log_;
  std::map<std::string, int> occurrences_;
  int comDepth_ = 0, storages_ = 0;
};

class FakeDiscRecording : public platform::DiscRecording, public FakeDiscScript, Guarded {
 public:
  void Reset();  ///< back to a fresh script and no history; the stage watch stays
  platform::HResult CoInitialize() override { return Call("CoInitialize"); }
  platform::HResult CoInitializeEx(uint32_t apartment) override {
    return Call("CoInitializeEx " + std::to_string(apartment));
  }
  void CoUninitialize() override { Call("CoUninitialize"); }
  platform::HResult CreateShellCdBurn(std::unique_ptr<platform::ShellCdBurnObject>* o) override;
  platform::HResult CreateDiscMaster(std::unique_ptr<platform::DiscMasterObject>* o) override;
  platform::HResult CreateTemporaryStorage(uint32_t mode,
                                           std::unique_ptr<platform::DiscStorage>* o) override;
  platform::HResult CreateDiscMaster2(std::unique_ptr<platform::DiscMaster2Object>* o) override;
  platform::HResult CreateRecorder2(std::unique_ptr<platform::Recorder2Object>* o) override;
  platform::HResult CreateDataWriter2(std::unique_ptr<platform::DataWriter2Object>* o) override;
  uint32_t QueryDosDevice(const std::string& name, char* buffer, uint32_t size) override;
  /// The calls made, each as "<stage> <call>" while `stageWatch` is set.
  std::vector<std::string> Log() const { return Copy(log_); }
  std::vector<std::string> Lines(const std::string& call) const;  ///< the log lines naming `call`
  const std::atomic<int32_t>* stageWatch = nullptr;
  int LiveObjects() const { return live_; }
  int ComDepth() const { return Copy(comDepth_); }
  // For the fake objects: logs `line`, gives `failure` if scripted to fail, else S_OK.
  platform::HResult Call(const std::string& line, platform::HResult failure = platform::kEFail);
  void Count(int alive) { live_ += alive; }  ///< +1 for an object made, -1 for one gone
 private:
  std::atomic<int> live_{0};
};
}  // namespace fakes
