// Disc streams and storages on Windows: IStreams of the temporary compound files, the
// property set of the Joliet format with its values crossing as PROPVARIANTs, and the
// Joliet format that takes a storage's streams onto the disc.
#include <windows.h>

#include <objidl.h>
#include <oleauto.h>
#include <propidl.h>

#include <memory>
#include <string>

#include "platform/win32/SystemFunction.h"
#include "platform/win32/Win32DiscRecording.h"
#include "platform/win32/Win32DiscRecordingInternal.h"

namespace platform {

using namespace win32_disc;

namespace {

// ole32 of the first Windows 95 lacks it: the property values came with the property sets.
// Only the CD paths of later versions use it.
using PropVariantClearFunction = HRESULT(WINAPI*)(PROPVARIANT*);

PropVariantClearFunction SystemPropVariantClear() {
  static const auto clear =
      FindSystemFunction<PropVariantClearFunction>("ole32.dll", "PropVariantClear");
  return clear;
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

}  // namespace

namespace win32_disc {

HResult Win32DiscStorage::CreateStream(const std::u16string& name, uint32_t mode,
                                       std::unique_ptr<DiscStream>* stream) {
  stream->reset();
  const std::wstring wideName(name.begin(), name.end());
  IStream* created = nullptr;
  const HRESULT result = storage_->CreateStream(wideName.c_str(), mode, 0, 0, &created);
  return Adopt<Win32DiscStream>(result, created, stream);
}

HResult Win32DiscStorage::OpenStream(const std::u16string& name, uint32_t mode,
                                     std::unique_ptr<DiscStream>* stream) {
  stream->reset();
  const std::wstring wideName(name.begin(), name.end());
  IStream* opened = nullptr;
  const HRESULT result = storage_->OpenStream(wideName.c_str(), nullptr, mode, 0, &opened);
  return Adopt<Win32DiscStream>(result, opened, stream);
}

HResult Win32JolietFormat::GetJolietProperties(std::unique_ptr<PropertySet>* properties) {
  properties->reset();
  IPropertyStorage* got = nullptr;
  const HRESULT result = joliet_->GetJolietProperties(&got);
  return Adopt<Win32PropertySet>(result, got, properties);
}

HResult Win32JolietFormat::SetJolietProperties(PropertySet& properties) {
  auto* const ours = dynamic_cast<Win32PropertySet*>(&properties);
  if (ours == nullptr) return kEPointer;
  return joliet_->SetJolietProperties(ours->Interface());
}

HResult Win32JolietFormat::AddData(DiscStorage& storage, int32_t overwrite) {
  auto* const ours = dynamic_cast<Win32DiscStorage*>(&storage);
  if (ours == nullptr) return kEPointer;
  return joliet_->AddData(ours->Interface(), overwrite);
}

}  // namespace win32_disc

IStream* Win32StreamInterface(DiscStream& stream) {
  auto* const ours = dynamic_cast<Win32DiscStream*>(&stream);
  return ours != nullptr ? ours->Interface() : nullptr;
}

}  // namespace platform
