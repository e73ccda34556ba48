// Scriptable disc recording: the shell object, IMAPI's disc master with its recorders and
// Joliet properties, temporary storages and streams, and IMAPI2's objects. Any call can be
// made to fail by name; every call is logged; every object is counted until released.
#pragma once

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/DiscRecording.h"
#include "platform/Threads.h"

namespace fakes {

/// A property as it was written back.
struct WrittenProperty {
  uint16_t type = 0;
  int64_t number = 0;
  std::u16string text;
  std::vector<uint8_t> streamBytes;
  bool hadStream = false;
  uint32_t firstNewId = 0;
};

/// What the fake is told to do, and what it saw happen; Reset returns to these values.
struct FakeDiscScript {
  /// Calls that fail, by name ("Open"), by name and occurrence from 1
  /// ("CreateTemporaryStorage#2"), or by name and argument ("CreateStream:bootimg").
  std::set<std::string> failing;
  bool hasRecordableDrive = true;
  std::vector<std::string> recorderPaths = {"\\Device\\CdRom0"};
  /// DOS device targets by name ("E:"); each may hold several zero-separated strings.
  std::map<std::string, std::string> dosDevices;
  platform::HResult recordResult = platform::kSOk;
  platform::HResult writeResult = platform::kSOk;
  std::vector<std::u16string> imapi2Recorders = {u"recorder-0", u"recorder-1"};

  /// The files in the data storage handed over by AddData, by stream name.
  std::map<std::u16string, std::vector<uint8_t>> addedFiles;
  bool dataAdded = false;
  std::map<uint32_t, WrittenProperty> writtenProperties;
  std::vector<uint8_t> burnedImage;
  bool ejected = false;
  std::string activeRecorder;  ///< path of the recorder made active; "" for none
};

class FakeDiscRecording : public platform::DiscRecording, public FakeDiscScript {
 public:
  /// Back to a fresh script and no history; the stage watch stays.
  void Reset();
  platform::HResult CoInitialize() override { return ComInit("CoInitialize"); }
  platform::HResult CoInitializeEx(uint32_t apartment) override {
    return ComInit("CoInitializeEx " + std::to_string(apartment));
  }
  void CoUninitialize() override;
  platform::HResult CreateShellCdBurn(std::unique_ptr<platform::ShellCdBurnObject>* o) override;
  platform::HResult CreateDiscMaster(std::unique_ptr<platform::DiscMasterObject>* o) override;
  platform::HResult CreateTemporaryStorage(uint32_t mode,
                                           std::unique_ptr<platform::DiscStorage>* o) override;
  platform::HResult CreateDiscMaster2(std::unique_ptr<platform::DiscMaster2Object>* o) override;
  platform::HResult CreateRecorder2(std::unique_ptr<platform::Recorder2Object>* o) override;
  platform::HResult CreateDataWriter2(std::unique_ptr<platform::DataWriter2Object>* o) override;
  uint32_t QueryDosDevice(const std::string& name, char* buffer, uint32_t size) override;

  std::vector<std::string> Log() const;
  int LiveObjects() const;
  int ComDepth() const;

  /// When set, each logged call notes the value it had then.
  const std::atomic<int32_t>* stageWatch = nullptr;
  /// The stage at the first call logged as `line`; kNotCalled if there was none.
  int32_t StageOf(const std::string& line) const;
  static constexpr int32_t kNotCalled = -100;

  // Used by the fake objects: logs `line`, then gives `failure` if the script fails the
  // call (with its argument), else S_OK.
  platform::HResult Call(const std::string& line, const std::string& call,
                         const std::string& argument = "",
                         platform::HResult failure = platform::kEFail);
  void Count(int alive);  ///< +1 when an object is made, -1 when it is released

 private:
  platform::HResult ComInit(const std::string& line);

  mutable platform::Lock lock_;
  std::vector<std::pair<std::string, int32_t>> log_;  // call and stage
  std::map<std::string, int> occurrences_;
  int live_ = 0;
  int comDepth_ = 0;
};

}  // namespace fakes
