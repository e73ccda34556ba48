// The Windows disc recording: thin wrappers over the shell's CD burning object, IMAPI,
// IMAPI2 and the temporary compound files. Each wrapper holds one COM reference and
// releases it once when destroyed; nothing is closed implicitly, because the CD job decides
// when a disc master or a recorder is closed.
#include "platform/win32/Win32DiscRecording.h"

#include <windows.h>

#include <objidl.h>
#include <oleauto.h>
#include <propidl.h>
#include <shobjidl.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "platform/Host.h"
#include "platform/win32/ImapiDeclarations.h"
#include "platform/win32/SystemFunction.h"

namespace platform {

namespace {

// The shell's and IMAPI's objects may live in the caller's process or in a service.
constexpr DWORD kInprocOrLocalServer = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER;

// ole32 of the first Windows 95 has neither: the apartment choice came with DCOM, the
// property values with the property sets. Only the CD paths of later versions use them.
using CoInitializeExFunction = HRESULT(WINAPI*)(void*, DWORD);
using PropVariantClearFunction = HRESULT(WINAPI*)(PROPVARIANT*);

PropVariantClearFunction SystemPropVariantClear() {
  static const auto clear =
      FindSystemFunction<PropVariantClearFunction>("ole32.dll", "PropVariantClear");
  return clear;
}

/// One COM reference, released once when the holder goes away.
template <typename Interface>
class ComReference {
 public:
  explicit ComReference(Interface* object) : object_(object) {}
  ~ComReference() {
    if (object_ != nullptr) object_->Release();
  }
  ComReference(const ComReference&) = delete;
  ComReference& operator=(const ComReference&) = delete;

  Interface* get() const { return object_; }
  Interface* operator->() const { return object_; }

 private:
  Interface* object_;
};

/// A BSTR copy of `text` (embedded zeros kept), freed when the holder goes away.
class BstrCopy {
 public:
  explicit BstrCopy(const std::u16string& text) {
    const std::wstring wide(text.begin(), text.end());
    value_ = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  }
  ~BstrCopy() { SysFreeString(value_); }
  BstrCopy(const BstrCopy&) = delete;
  BstrCopy& operator=(const BstrCopy&) = delete;

  BSTR get() const { return value_; }

 private:
  BSTR value_ = nullptr;
};

/// The characters of a BSTR, by its length prefix; none for a null BSTR.
std::u16string FromBstr(BSTR text) {
  if (text == nullptr) return {};
  return std::u16string(text, text + SysStringLen(text));
}

/// The characters of a zero-ended wide string; none for null.
std::u16string FromWideString(const wchar_t* text) {
  if (text == nullptr) return {};
  return std::u16string(text, text + std::wcslen(text));
}

/// Wraps the interface that a COM call returned. A call that succeeds without an object
/// breaks COM's rules; it is reported as E_POINTER so that the caller never sees success
/// with nothing to use.
template <typename Wrapper, typename Base, typename Interface>
HResult Adopt(HRESULT result, Interface* object, std::unique_ptr<Base>* wrapper) {
  if (FAILED(result)) return result;
  if (object == nullptr) return kEPointer;
  *wrapper = std::make_unique<Wrapper>(object);
  return result;
}

/// IStream.
class Win32DiscStream : public DiscStream {
 public:
  explicit Win32DiscStream(IStream* stream) : stream_(stream) {}

  HResult Write(const void* data, uint32_t bytes, uint32_t* written) override {
    ULONG put = 0;
    const HRESULT result = stream_->Write(data, bytes, &put);
    if (written != nullptr) *written = put;
    return result;
  }

  HResult CopyTo(DiscStream& target, uint64_t bytes) override {
    IStream* const destination = Win32StreamInterface(target);
    if (destination == nullptr) return kEPointer;
    ULARGE_INTEGER count;
    count.QuadPart = bytes;
    return stream_->CopyTo(destination, count, nullptr, nullptr);
  }

  IStream* Interface() const { return stream_.get(); }

 private:
  ComReference<IStream> stream_;
};

/// IStorage of a compound file.
class Win32DiscStorage : public DiscStorage {
 public:
  explicit Win32DiscStorage(IStorage* storage) : storage_(storage) {}

  HResult CreateStream(const std::u16string& name, uint32_t mode,
                       std::unique_ptr<DiscStream>* stream) override {
    stream->reset();
    const std::wstring wideName(name.begin(), name.end());
    IStream* created = nullptr;
    const HRESULT result = storage_->CreateStream(wideName.c_str(), mode, 0, 0, &created);
    return Adopt<Win32DiscStream>(result, created, stream);
  }

  HResult OpenStream(const std::u16string& name, uint32_t mode,
                     std::unique_ptr<DiscStream>* stream) override {
    stream->reset();
    const std::wstring wideName(name.begin(), name.end());
    IStream* opened = nullptr;
    const HRESULT result = storage_->OpenStream(wideName.c_str(), nullptr, mode, 0, &opened);
    return Adopt<Win32DiscStream>(result, opened, stream);
  }

  IStorage* Interface() const { return storage_.get(); }

 private:
  ComReference<IStorage> storage_;
};

/// IEnumSTATPROPSTG.
class Win32PropertyEnumerator : public PropertyEnumerator {
 public:
  explicit Win32PropertyEnumerator(IEnumSTATPROPSTG* enumerator) : enumerator_(enumerator) {}

  HResult Next(uint32_t* id, uint16_t* type) override {
    STATPROPSTG entry = {};
    ULONG fetched = 0;
    const HRESULT result = enumerator_->Next(1, &entry, &fetched);
    if (FAILED(result)) return result;
    if (fetched == 0) return kSFalse;
    // The name is the caller's to free; only the id and the type are wanted.
    CoTaskMemFree(entry.lpwstrName);
    *id = entry.propid;
    *type = entry.vt;
    return kSOk;
  }

 private:
  ComReference<IEnumSTATPROPSTG> enumerator_;
};

/// Fills `value` from a property read back; a stream value gets its own reference, so
/// that it outlives the PROPVARIANT.
HResult FromPropVariant(const PROPVARIANT& variant, PropertyValue* value) {
  value->type = variant.vt;
  switch (variant.vt) {
    case VT_I2:
      value->number = variant.iVal;
      break;
    case VT_I4:
      value->number = variant.lVal;
      break;
    case VT_BOOL:
      value->number = variant.boolVal;
      break;
    case VT_UI1:
      value->number = variant.bVal;
      break;
    case VT_UI2:
      value->number = variant.uiVal;
      break;
    case VT_BSTR:
      value->text = FromBstr(variant.bstrVal);
      break;
    case VT_LPWSTR:
      value->text = FromWideString(variant.pwszVal);
      break;
    case VT_STREAM:
      if (variant.pStream != nullptr) {
        variant.pStream->AddRef();
        value->stream = std::make_unique<Win32DiscStream>(variant.pStream);
      }
      break;
    case VT_UNKNOWN:
      if (variant.punkVal != nullptr) {
        IStream* stream = nullptr;
        const HRESULT result =
            variant.punkVal->QueryInterface(IID_IStream, reinterpret_cast<void**>(&stream));
        if (FAILED(result)) return result;
        if (stream == nullptr) return kEPointer;
        value->stream = std::make_unique<Win32DiscStream>(stream);
      }
      break;
    default:
      // Other types carry nothing the CD job uses; the type alone tells the caller.
      break;
  }
  return kSOk;
}

/// IPropertyStorage; values cross as PROPVARIANTs built and cleared here.
class Win32PropertySet : public PropertySet {
 public:
  explicit Win32PropertySet(IPropertyStorage* properties) : properties_(properties) {}

  HResult Enum(std::unique_ptr<PropertyEnumerator>* enumerator) override {
    enumerator->reset();
    IEnumSTATPROPSTG* created = nullptr;
    const HRESULT result = properties_->Enum(&created);
    return Adopt<Win32PropertyEnumerator>(result, created, enumerator);
  }

  HResult Read(uint32_t id, PropertyValue* value) override {
    *value = PropertyValue{};
    // A value read could not be freed again: the read fails before it is made.
    const PropVariantClearFunction clear = SystemPropVariantClear();
    if (clear == nullptr) return E_NOTIMPL;
    PROPSPEC selector = {};
    selector.ulKind = PRSPEC_PROPID;
    selector.propid = id;
    PROPVARIANT variant;
    PropVariantInit(&variant);
    const HRESULT result = properties_->ReadMultiple(1, &selector, &variant);
    HResult converted = kSOk;
    if (SUCCEEDED(result)) converted = FromPropVariant(variant, value);
    clear(&variant);
    return FAILED(converted) ? converted : result;
  }

  HResult Write(uint32_t id, const PropertyValue& value, uint32_t firstNewId) override {
    PROPVARIANT variant;
    PropVariantInit(&variant);
    variant.vt = value.type;
    // Text copies live until WriteMultiple has returned; the property set keeps its own.
    std::unique_ptr<BstrCopy> bstr;
    std::wstring wide;
    switch (value.type) {
      case kVtEmpty:
        break;
      case kVtI2:
        variant.iVal = static_cast<SHORT>(value.number);
        break;
      case kVtI4:
        variant.lVal = static_cast<LONG>(value.number);
        break;
      case kVtBool:
        variant.boolVal = static_cast<VARIANT_BOOL>(value.number);
        break;
      case kVtUi1:
        variant.bVal = static_cast<UCHAR>(value.number);
        break;
      case kVtUi2:
        variant.uiVal = static_cast<USHORT>(value.number);
        break;
      case kVtBstr:
        bstr = std::make_unique<BstrCopy>(value.text);
        if (bstr->get() == nullptr) return E_OUTOFMEMORY;
        variant.bstrVal = bstr->get();
        break;
      case kVtLpwstr:
        wide.assign(value.text.begin(), value.text.end());
        variant.pwszVal = wide.data();
        break;
      case kVtStream:
      case kVtUnknown: {
        IStream* const stream =
            value.stream != nullptr ? Win32StreamInterface(*value.stream) : nullptr;
        if (stream == nullptr) return kEPointer;
        if (value.type == kVtStream) {
          variant.pStream = stream;
        } else {
          variant.punkVal = stream;
        }
        break;
      }
      default:
        return DISP_E_BADVARTYPE;
    }
    PROPSPEC selector = {};
    selector.ulKind = PRSPEC_PROPID;
    selector.propid = id;
    return properties_->WriteMultiple(1, &selector, &variant, firstNewId);
  }

  IPropertyStorage* Interface() const { return properties_.get(); }

 private:
  ComReference<IPropertyStorage> properties_;
};

/// IJolietDiscMaster.
class Win32JolietFormat : public JolietFormat {
 public:
  explicit Win32JolietFormat(imapi::IJolietDiscMaster* joliet) : joliet_(joliet) {}

  HResult GetJolietProperties(std::unique_ptr<PropertySet>* properties) override {
    properties->reset();
    IPropertyStorage* got = nullptr;
    const HRESULT result = joliet_->GetJolietProperties(&got);
    return Adopt<Win32PropertySet>(result, got, properties);
  }

  HResult SetJolietProperties(PropertySet& properties) override {
    auto* const ours = dynamic_cast<Win32PropertySet*>(&properties);
    if (ours == nullptr) return kEPointer;
    return joliet_->SetJolietProperties(ours->Interface());
  }

  HResult AddData(DiscStorage& storage, int32_t overwrite) override {
    auto* const ours = dynamic_cast<Win32DiscStorage*>(&storage);
    if (ours == nullptr) return kEPointer;
    return joliet_->AddData(ours->Interface(), overwrite);
  }

 private:
  ComReference<imapi::IJolietDiscMaster> joliet_;
};

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

/// IDiscMaster.
class Win32DiscMaster : public DiscMasterObject {
 public:
  explicit Win32DiscMaster(imapi::IDiscMaster* master) : master_(master) {}

  HResult Open() override { return master_->Open(); }

  HResult EnumFormats(uint32_t room, uint32_t* fetched) override {
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

  HResult EnumDiscRecorders(std::unique_ptr<RecorderEnumeration>* recorders) override {
    recorders->reset();
    imapi::IEnumDiscRecorders* got = nullptr;
    const HRESULT result = master_->EnumDiscRecorders(&got);
    return Adopt<Win32RecorderEnumeration>(result, got, recorders);
  }

  HResult SetActiveDiscRecorder(RecorderObject* recorder) override {
    if (recorder == nullptr) return master_->SetActiveDiscRecorder(nullptr);
    auto* const ours = dynamic_cast<Win32Recorder*>(recorder);
    if (ours == nullptr) return kEPointer;
    return master_->SetActiveDiscRecorder(ours->Interface());
  }

  HResult QueryJoliet(std::unique_ptr<JolietFormat>* joliet) override {
    joliet->reset();
    imapi::IJolietDiscMaster* got = nullptr;
    const HRESULT result =
        master_->QueryInterface(imapi::kIidJolietDiscMaster, reinterpret_cast<void**>(&got));
    return Adopt<Win32JolietFormat>(result, got, joliet);
  }

  HResult RecordDisc(bool simulate, bool ejectAfterBurn) override {
    return master_->RecordDisc(simulate ? 1 : 0, ejectAfterBurn ? 1 : 0);
  }

  HResult Close() override { return master_->Close(); }

 private:
  ComReference<imapi::IDiscMaster> master_;
};

/// ICDBurn, as MinGW declares it.
class Win32ShellCdBurn : public ShellCdBurnObject {
 public:
  explicit Win32ShellCdBurn(ICDBurn* burn) : burn_(burn) {}

  HResult HasRecordableDrive(bool* hasOne) override {
    BOOL has = FALSE;
    const HRESULT result = burn_->HasRecordableDrive(&has);
    *hasOne = SUCCEEDED(result) && has != FALSE;
    return result;
  }

 private:
  ComReference<ICDBurn> burn_;
};

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

IStream* Win32StreamInterface(DiscStream& stream) {
  auto* const ours = dynamic_cast<Win32DiscStream*>(&stream);
  return ours != nullptr ? ours->Interface() : nullptr;
}

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
