// The IMAPI disc master of Windows XP with its recorders, and the shell's CD burning object
// that says whether the system has a recordable drive at all.
#include <windows.h>

#include <oleauto.h>
#include <shobjidl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/Win32DiscRecording.h"
#include "platform/win32/Win32DiscRecordingInternal.h"

namespace platform {

using namespace win32_disc;

namespace {

/// IDiscRecorder.
class Win32Recorder : public RecorderObject {
 public:
  explicit Win32Recorder(imapi::IDiscRecorder* recorder) : recorder_(recorder) {}

  HResult GetPath(std::u16string* path) override {
    path->clear();
    BSTR got = nullptr;
    const HRESULT result = recorder_->GetPath(&got);
    if (SUCCEEDED(result)) *path = FromBstr(got);
    SysFreeString(got);
    return result;
  }

  HResult Close() override { return recorder_->Close(); }

  imapi::IDiscRecorder* Interface() const { return recorder_.get(); }

 private:
  ComReference<imapi::IDiscRecorder> recorder_;
};

/// IEnumDiscRecorders.
class Win32RecorderEnumeration : public RecorderEnumeration {
 public:
  explicit Win32RecorderEnumeration(imapi::IEnumDiscRecorders* recorders) : recorders_(recorders) {}

  HResult Next(std::unique_ptr<RecorderObject>* recorder, uint32_t* fetched) override {
    recorder->reset();
    imapi::IDiscRecorder* got = nullptr;
    ULONG count = 0;
    const HRESULT result = recorders_->Next(1, &got, &count);
    // A recorder handed out is owned here whatever the count says, so it is released.
    if (got != nullptr) *recorder = std::make_unique<Win32Recorder>(got);
    *fetched = got != nullptr ? count : 0;
    return result;
  }

 private:
  ComReference<imapi::IEnumDiscRecorders> recorders_;
};

}  // namespace

namespace win32_disc {

HResult Win32DiscMaster::Open() {
  return master_->Open();
}

HResult Win32DiscMaster::EnumFormats(uint32_t room, uint32_t* fetched) {
  *fetched = 0;
  imapi::IEnumDiscMasterFormats* formats = nullptr;
  const HRESULT listed = master_->EnumDiscMasterFormats(&formats);
  if (FAILED(listed)) return listed;
  if (formats == nullptr) return kEPointer;
  const ComReference<imapi::IEnumDiscMasterFormats> held(formats);
  // At least one element, so that the array handed over is never null.
  std::vector<IID> ids(std::max<uint32_t>(room, 1));
  ULONG count = 0;
  const HRESULT result = held->Next(room, ids.data(), &count);
  *fetched = std::min<uint32_t>(count, room);
  return result;
}

HResult Win32DiscMaster::EnumDiscRecorders(std::unique_ptr<RecorderEnumeration>* recorders) {
  recorders->reset();
  imapi::IEnumDiscRecorders* got = nullptr;
  const HRESULT result = master_->EnumDiscRecorders(&got);
  return Adopt<Win32RecorderEnumeration>(result, got, recorders);
}

HResult Win32DiscMaster::SetActiveDiscRecorder(RecorderObject* recorder) {
  if (recorder == nullptr) return master_->SetActiveDiscRecorder(nullptr);
  auto* const ours = dynamic_cast<Win32Recorder*>(recorder);
  if (ours == nullptr) return kEPointer;
  return master_->SetActiveDiscRecorder(ours->Interface());
}

HResult Win32DiscMaster::QueryJoliet(std::unique_ptr<JolietFormat>* joliet) {
  joliet->reset();
  imapi::IJolietDiscMaster* got = nullptr;
  const HRESULT result =
      master_->QueryInterface(imapi::kIidJolietDiscMaster, reinterpret_cast<void**>(&got));
  return Adopt<Win32JolietFormat>(result, got, joliet);
}

HResult Win32DiscMaster::RecordDisc(bool simulate, bool ejectAfterBurn) {
  return master_->RecordDisc(simulate ? 1 : 0, ejectAfterBurn ? 1 : 0);
}

HResult Win32DiscMaster::Close() {
  return master_->Close();
}

HResult Win32ShellCdBurn::HasRecordableDrive(bool* hasOne) {
  BOOL has = FALSE;
  const HRESULT result = burn_->HasRecordableDrive(&has);
  *hasOne = SUCCEEDED(result) && has != FALSE;
  return result;
}

}  // namespace win32_disc

}  // namespace platform
