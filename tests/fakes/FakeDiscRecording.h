// Scriptable disc recording: the shell object, IMAPI's disc master with its recorders and
// Joliet properties, temporary storages and streams, and IMAPI2's objects. Any call can be
// made to fail by name; every call is logged; every object is counted until released.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/DiscRecording.h"
#include "platform/Threads.h"

namespace fakes {

/// What the fake is told to do, and what it saw happen; Reset returns to these values.
struct FakeDiscScript {
  /// Calls that fail, by name ("Open"), by name and occurrence from 1
  /// ("CreateTemporaryStorage#2"), or by name and first argument ("CreateStream:bootimg").
  std::set<std::string> failing;
  bool hasRecordableDrive = true;
  std::vector<std::string> recorderPaths = {"\\Device\\CdRom0"};
  /// DOS device targets by name ("E:"); each may hold several zero-separated strings.
  std::map<std::string, std::string> dosDevices;
  platform::HResult recordResult = platform::kSOk;
  platform::HResult writeResult = platform::kSOk;
  std::vector<std::u16string> imapi2Recorders = {u"recorder-0", u"recorder-1"};

  std::map<std::string, std::vector<uint8_t>> addedFiles;  ///< AddData's storage, by name
  std::vector<uint8_t> bootImage;    ///< the last property written with a stream
  std::vector<uint8_t> burnedImage;  ///< what IMAPI2's writer was given
  std::string activeRecorder;        ///< path of the recorder made active; "" for none

 protected:
  std::vector<std::string> log_;
  std::map<std::string, int> occurrences_;
  int comDepth_ = 0;
  int storages_ = 0;
};

class FakeDiscRecording : public platform::DiscRecording, public FakeDiscScript {
 public:
  /// Back to a fresh script and no history; the stage watch stays.
  void Reset();
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
  std::vector<std::string> Log() const {
    std::lock_guard<platform::Lock> guard(lock_);
    return log_;
  }
  const std::atomic<int32_t>* stageWatch = nullptr;
  int LiveObjects() const {
    std::lock_guard<platform::Lock> guard(lock_);
    return live_;
  }
  int ComDepth() const {
    std::lock_guard<platform::Lock> guard(lock_);
    return comDepth_;
  }

  // Used by the fake objects: logs `line` ("Name argument ..."), then gives `failure` if
  // the script fails the call, else S_OK. Count: +1 for an object made, -1 for one gone.
  platform::HResult Call(const std::string& line, platform::HResult failure = platform::kEFail);
  void Count(int alive) {
    std::lock_guard<platform::Lock> guard(lock_);
    live_ += alive;
  }

 private:
  mutable platform::Lock lock_;
  int live_ = 0;
};

}  // namespace fakes
