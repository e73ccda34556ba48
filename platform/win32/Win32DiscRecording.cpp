// The Windows disc recording: thin wrappers over the shell's CD burning object, IMAPI,
// IMAPI2 and the temporary compound files. Each wrapper holds one COM reference and
// releases it once when destroyed; nothing is closed implicitly, because the CD job decides
// when a disc master or a recorder is closed. This file holds the IMAPI2 objects of Windows
// Vista and later and the factory that makes every wrapper; Win32DiscStreams.cpp and
// Win32Imapi.cpp hold the others.
#include "platform/win32/Win32DiscRecording.h"

#include <windows.h>

#include <objidl.h>
#include <oleauto.h>
#include <shobjidl.h>

#include <memory>
#include <string>
#include <utility>

#include "platform/Host.h"
#include "platform/win32/ImapiDeclarations.h"
#include "platform/win32/SystemFunction.h"
#include "platform/win32/Win32DiscRecordingInternal.h"

namespace platform {

using namespace win32_disc;

namespace {

// The shell's and IMAPI's objects may live in the caller's process or in a service.
constexpr DWORD kInprocOrLocalServer = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER;

// ole32 of the first Windows 95 lacks it: the apartment choice came with DCOM. Only the CD
// paths of later versions use it.
using CoInitializeExFunction = HRESULT(WINAPI*)(void*, DWORD);

/// IDiscMaster2.
class Win32DiscMaster2 : public DiscMaster2Object {
 public:
  explicit Win32DiscMaster2(imapi::IDiscMaster2* master) : master_(master) {}

  HResult GetItem(int32_t index, std::u16string* uniqueId) override {
    uniqueId->clear();
    BSTR got = nullptr;
    const HRESULT result = master_->get_Item(index, &got);
    if (SUCCEEDED(result)) *uniqueId = FromBstr(got);
    SysFreeString(got);
    return result;
  }

 private:
  ComReference<imapi::IDiscMaster2> master_;
};

/// IDiscRecorder2.
class Win32Recorder2 : public Recorder2Object {
 public:
  explicit Win32Recorder2(imapi::IDiscRecorder2* recorder) : recorder_(recorder) {}

  HResult InitializeDiscRecorder(const std::u16string& uniqueId) override {
    const BstrCopy id(uniqueId);
    if (id.get() == nullptr) return E_OUTOFMEMORY;
    return recorder_->InitializeDiscRecorder(id.get());
  }

  HResult EjectMedia() override { return recorder_->EjectMedia(); }

  imapi::IDiscRecorder2* Interface() const { return recorder_.get(); }

 private:
  ComReference<imapi::IDiscRecorder2> recorder_;
};

/// IDiscFormat2Data.
class Win32DataWriter2 : public DataWriter2Object {
 public:
  explicit Win32DataWriter2(imapi::IDiscFormat2Data* writer) : writer_(writer) {}

  HResult PutRecorder(Recorder2Object& recorder) override {
    auto* const ours = dynamic_cast<Win32Recorder2*>(&recorder);
    if (ours == nullptr) return kEPointer;
    return writer_->put_Recorder(ours->Interface());
  }

  HResult PutClientName(const std::u16string& name) override {
    const BstrCopy client(name);
    if (client.get() == nullptr) return E_OUTOFMEMORY;
    return writer_->put_ClientName(client.get());
  }

  HResult Write(DiscStream& image) override {
    IStream* const stream = Win32StreamInterface(image);
    if (stream == nullptr) return kEPointer;
    return writer_->Write(stream);
  }

 private:
  ComReference<imapi::IDiscFormat2Data> writer_;
};

/// COM, compound files and DOS device names of the running system.
class Win32DiscRecording : public DiscRecording {
 public:
  explicit Win32DiscRecording(ComCreateFunction create) : create_(std::move(create)) {}

  HResult CoInitialize() override { return ::CoInitialize(nullptr); }

  HResult CoInitializeEx(uint32_t apartment) override {
    static const auto start =
        FindSystemFunction<CoInitializeExFunction>("ole32.dll", "CoInitializeEx");
    // Without it COM stays off on this thread, and the caller's next COM call fails.
    if (start == nullptr) return E_NOTIMPL;
    return start(nullptr, apartment);
  }

  void CoUninitialize() override { ::CoUninitialize(); }

  HResult CreateShellCdBurn(std::unique_ptr<ShellCdBurnObject>* object) override {
    return Create<Win32ShellCdBurn, ICDBurn>(CLSID_CDBurn, kInprocOrLocalServer, IID_ICDBurn,
                                             object);
  }

  HResult CreateDiscMaster(std::unique_ptr<DiscMasterObject>* object) override {
    return Create<Win32DiscMaster, imapi::IDiscMaster>(
        imapi::kClsidMsDiscMasterObj, kInprocOrLocalServer, imapi::kIidDiscMaster, object);
  }

  HResult CreateTemporaryStorage(uint32_t mode, std::unique_ptr<DiscStorage>* storage) override {
    storage->reset();
    IStorage* created = nullptr;
    // No name: COM picks a temporary file and deletes it when the storage is released.
    const HRESULT result = StgCreateDocfile(nullptr, mode, 0, &created);
    return Adopt<Win32DiscStorage>(result, created, storage);
  }

  HResult CreateDiscMaster2(std::unique_ptr<DiscMaster2Object>* object) override {
    return Create<Win32DiscMaster2, imapi::IDiscMaster2>(imapi::kClsidMsftDiscMaster2, CLSCTX_ALL,
                                                         imapi::kIidDiscMaster2, object);
  }

  HResult CreateRecorder2(std::unique_ptr<Recorder2Object>* object) override {
    return Create<Win32Recorder2, imapi::IDiscRecorder2>(imapi::kClsidMsftDiscRecorder2, CLSCTX_ALL,
                                                         imapi::kIidDiscRecorder2, object);
  }

  HResult CreateDataWriter2(std::unique_ptr<DataWriter2Object>* object) override {
    return Create<Win32DataWriter2, imapi::IDiscFormat2Data>(
        imapi::kClsidMsftDiscFormat2Data, CLSCTX_ALL, imapi::kIidDiscFormat2Data, object);
  }

  uint32_t QueryDosDevice(const std::string& name, char* buffer, uint32_t size) override {
    return QueryDosDeviceA(name.c_str(), buffer, size);
  }

 private:
  /// Creates `classId`'s object and wraps its `interfaceId` interface.
  template <typename Wrapper, typename Interface, typename Base>
  HResult Create(REFCLSID classId, DWORD context, REFIID interfaceId,
                 std::unique_ptr<Base>* object) {
    object->reset();
    Interface* created = nullptr;
    const HRESULT result =
        create_(classId, context, interfaceId, reinterpret_cast<void**>(&created));
    return Adopt<Wrapper>(result, created, object);
  }

  ComCreateFunction create_;
};

}  // namespace

std::unique_ptr<DiscRecording> MakeWin32DiscRecording(ComCreateFunction create) {
  return std::make_unique<Win32DiscRecording>(std::move(create));
}

std::unique_ptr<DiscRecording> MakeHostDiscRecording() {
  return MakeWin32DiscRecording(
      [](REFCLSID classId, DWORD context, REFIID interfaceId, void** object) {
        return ::CoCreateInstance(classId, nullptr, context, interfaceId, object);
      });
}

}  // namespace platform
