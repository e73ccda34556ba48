// What the files of the Windows disc recording share: the COM reference and BSTR holders,
// the string conversions, the wrapping of returned interfaces, and the wrappers that one
// file makes and another hands out (the compound file storage, the Joliet format, the IMAPI
// disc master and the shell's CD burning object).
#pragma once

#include <windows.h>

#include <objidl.h>
#include <oleauto.h>
#include <shobjidl.h>

#include <cstdint>
#include <cwchar>
#include <memory>
#include <string>

#include "platform/DiscRecording.h"
#include "platform/win32/ImapiDeclarations.h"

namespace platform::win32_disc {

// --- COM helpers ------------------------------------------------------------------------

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
inline std::u16string FromBstr(BSTR text) {
  if (text == nullptr) return {};
  return std::u16string(text, text + SysStringLen(text));
}

/// The characters of a zero-ended wide string; none for null.
inline std::u16string FromWideString(const wchar_t* text) {
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

// --- Storages and the Joliet format (Win32DiscStreams.cpp) -------------------------------

/// IStorage of a compound file.
class Win32DiscStorage : public DiscStorage {
 public:
  explicit Win32DiscStorage(IStorage* storage) : storage_(storage) {}

  HResult CreateStream(const std::u16string& name, uint32_t mode,
                       std::unique_ptr<DiscStream>* stream) override;
  HResult OpenStream(const std::u16string& name, uint32_t mode,
                     std::unique_ptr<DiscStream>* stream) override;

  IStorage* Interface() const { return storage_.get(); }

 private:
  ComReference<IStorage> storage_;
};

/// IJolietDiscMaster.
class Win32JolietFormat : public JolietFormat {
 public:
  explicit Win32JolietFormat(imapi::IJolietDiscMaster* joliet) : joliet_(joliet) {}

  HResult GetJolietProperties(std::unique_ptr<PropertySet>* properties) override;
  HResult SetJolietProperties(PropertySet& properties) override;
  HResult AddData(DiscStorage& storage, int32_t overwrite) override;

 private:
  ComReference<imapi::IJolietDiscMaster> joliet_;
};

// --- IMAPI and the shell's CD burning (Win32Imapi.cpp) ----------------------------------

/// IDiscMaster.
class Win32DiscMaster : public DiscMasterObject {
 public:
  explicit Win32DiscMaster(imapi::IDiscMaster* master) : master_(master) {}

  HResult Open() override;
  HResult EnumFormats(uint32_t room, uint32_t* fetched) override;
  HResult EnumDiscRecorders(std::unique_ptr<RecorderEnumeration>* recorders) override;
  HResult SetActiveDiscRecorder(RecorderObject* recorder) override;
  HResult QueryJoliet(std::unique_ptr<JolietFormat>* joliet) override;
  HResult RecordDisc(bool simulate, bool ejectAfterBurn) override;
  HResult Close() override;

 private:
  ComReference<imapi::IDiscMaster> master_;
};

/// ICDBurn, as MinGW declares it.
class Win32ShellCdBurn : public ShellCdBurnObject {
 public:
  explicit Win32ShellCdBurn(ICDBurn* burn) : burn_(burn) {}

  HResult HasRecordableDrive(bool* hasOne) override;

 private:
  ComReference<ICDBurn> burn_;
};

}  // namespace platform::win32_disc
