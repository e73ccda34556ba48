// The Windows disc recording. Compound files, streams and property sets are the system's
// own (Wine's when run there). The CD classes are not
// registered under Wine, so their wrappers are driven through stand-in objects whose
// method tables are laid out slot by slot as Windows lays out a COM object, with each
// method's C signature: a wrapper that calls a wrong slot reaches a trap and stops the run.
#include "platform/win32/Win32DiscRecording.h"

#include <objbase.h>
#include <oleauto.h>
#include <propidl.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/DiscRecording.h"
#include "platform/win32/ImapiDeclarations.h"
#include "tests/fakes/FakeDiscRecording.h"

namespace {

namespace imapi = platform::imapi;
using platform::HResult;

// Windows results that the system returns here, written out independently of the code
// under test.
constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80030002u);  // STG_E_FILENOTFOUND
constexpr HRESULT kNoInterface = static_cast<HRESULT>(0x80004002u);   // E_NOINTERFACE
constexpr HRESULT kBadVarType = static_cast<HRESULT>(0x80020008u);    // DISP_E_BADVARTYPE
// IMAPI_E_MEDIUM_NOTPRESENT and IMAPI_S_PROPERTIESIGNORED.
constexpr HRESULT kMediaNotPresent = static_cast<HRESULT>(0x8004020Fu);
constexpr HRESULT kPropertiesIgnored = 0x00040200;

/// The registry form of a GUID, as the system formats it.
std::string GuidText(const GUID& guid) {
  wchar_t wide[40] = {};
  const int length = StringFromGUID2(guid, wide, 40);
  std::string text;
  for (int i = 0; i + 1 < length; ++i) text.push_back(static_cast<char>(wide[i]));
  return text;
}

// ---- Stand-in COM objects ------------------------------------------------------------

using Slot = void (*)();
constexpr size_t kMaxSlots = 44;  // the longest table here: IDiscFormat2Data

// A slot that no method under test may reach; the calling convention of the real method
// is unknown here, so the run stops instead of returning into a damaged stack.
template <size_t N>
void Trap() {
  std::fprintf(stderr, "vtable slot %u called, which the test did not expect\n",
               static_cast<unsigned>(N));
  std::fflush(stderr);
  std::abort();
}

template <size_t... N>
std::array<Slot, kMaxSlots> TrapTable(std::index_sequence<N...>) {
  return {&Trap<N>...};
}

template <typename Function>
Slot AsSlot(Function* function) {
  return reinterpret_cast<Slot>(function);
}

/// A COM object as a C program would build it: the method table pointer first, then the
/// object's state. Every interface handed out is counted; the tests expect 0 at the end.
struct FakeCom {
  FakeCom();
  FakeCom(const FakeCom&) = delete;
  FakeCom& operator=(const FakeCom&) = delete;
  void Set(size_t slot, Slot method) { table[slot] = method; }
  IUnknown* Unknown() { return reinterpret_cast<IUnknown*>(this); }

  const Slot* vtable;
  std::array<Slot, kMaxSlots> table;
  LONG references = 0;
  std::vector<size_t> calls;  // the slots reached, in order (not AddRef and Release)
  HRESULT result = S_OK;      // what the scripted methods return
  // Objects handed out through an out-pointer, by the slot that hands them out.
  std::map<size_t, IUnknown*> children;
  IID queryInterfaceId = {};  // the interface QueryInterface answers with children[0]
  std::vector<IID> askedInterfaces;
  // What the object was given.
  std::vector<void*> pointers;
  std::vector<int64_t> numbers;
  std::vector<std::wstring> texts;
  // What the object gives back.
  BOOL flag = FALSE;
  std::wstring answer;
  std::vector<IID> formats;
  std::vector<IUnknown*> recorders;
  PROPVARIANT written = {};
  PROPID firstNewId = 0;
};

FakeCom* Self(void* object) {
  return static_cast<FakeCom*>(object);
}

HRESULT STDMETHODCALLTYPE FakeQueryInterface(void* object, const IID* interfaceId, void** out) {
  FakeCom* self = Self(object);
  self->askedInterfaces.push_back(*interfaceId);
  *out = nullptr;
  IUnknown* answer = nullptr;
  if (IsEqualGUID(*interfaceId, IID_IUnknown)) {
    answer = self->Unknown();
  } else if (IsEqualGUID(*interfaceId, self->queryInterfaceId)) {
    // Another object's interface when one is registered, else this object's own.
    answer = self->children.count(0) != 0 ? self->children[0] : self->Unknown();
  } else {
    return kNoInterface;
  }
  answer->AddRef();
  *out = answer;
  return S_OK;
}

ULONG STDMETHODCALLTYPE FakeAddRef(void* object) {
  return static_cast<ULONG>(++Self(object)->references);
}

ULONG STDMETHODCALLTYPE FakeRelease(void* object) {
  return static_cast<ULONG>(--Self(object)->references);
}

FakeCom::FakeCom() : vtable(nullptr), table(TrapTable(std::make_index_sequence<kMaxSlots>())) {
  vtable = table.data();
  table[0] = AsSlot(&FakeQueryInterface);
  table[1] = AsSlot(&FakeAddRef);
  table[2] = AsSlot(&FakeRelease);
}

/// Notes that slot `slot` was reached and gives the scripted result.
HRESULT Reached(void* object, size_t slot) {
  Self(object)->calls.push_back(slot);
  return Self(object)->result;
}

/// A method without arguments.
template <size_t S>
HRESULT STDMETHODCALLTYPE NoArguments(void* object) {
  return Reached(object, S);
}

/// A method that hands out the child registered for its slot.
template <size_t S>
HRESULT STDMETHODCALLTYPE HandOut(void* object, IUnknown** out) {
  *out = SUCCEEDED(Reached(object, S)) ? Self(object)->children.at(S) : nullptr;
  if (*out != nullptr) (*out)->AddRef();
  return Self(object)->result;
}

/// A method that takes one interface pointer.
template <size_t S>
HRESULT STDMETHODCALLTYPE TakePointer(void* object, void* pointer) {
  Self(object)->pointers.push_back(pointer);
  return Reached(object, S);
}

/// A method that takes one BSTR; its length prefix is kept too.
template <size_t S>
HRESULT STDMETHODCALLTYPE TakeBstr(void* object, BSTR text) {
  Self(object)->texts.emplace_back(text, SysStringLen(text));
  return Reached(object, S);
}

// IDiscRecorder slot 8: a new BSTR copy of the object's answer.
HRESULT STDMETHODCALLTYPE GivePath(void* object, BSTR* out) {
  *out = SUCCEEDED(Reached(object, 8)) ? SysAllocString(Self(object)->answer.c_str()) : nullptr;
  return Self(object)->result;
}

// IDiscMaster2 slot 8: the same, for an index.
HRESULT STDMETHODCALLTYPE GiveItem(void* object, LONG index, BSTR* out) {
  Self(object)->numbers.push_back(index);
  return GivePath(object, out);
}

// ICDBurn slot 5.
HRESULT STDMETHODCALLTYPE FakeHasRecordableDrive(void* object, BOOL* has) {
  *has = Self(object)->flag;
  return Reached(object, 5);
}

// IDiscMaster slot 13.
HRESULT STDMETHODCALLTYPE FakeRecordDisc(void* object, boolean simulate, boolean eject) {
  Self(object)->numbers.insert(Self(object)->numbers.end(), {simulate, eject});
  return Reached(object, 13);
}

// IEnumDiscMasterFormats slot 3.
HRESULT STDMETHODCALLTYPE FakeNextFormats(void* object, ULONG count, IID* ids, ULONG* fetched) {
  FakeCom* self = Self(object);
  Reached(object, 3);
  self->numbers.push_back(count);
  *fetched = std::min<ULONG>(count, static_cast<ULONG>(self->formats.size()));
  std::copy(self->formats.begin(), self->formats.begin() + *fetched, ids);
  return *fetched == count ? S_OK : S_FALSE;
}

// IEnumDiscRecorders slot 3: the recorders one after the other.
HRESULT STDMETHODCALLTYPE FakeNextRecorder(void* object, ULONG count, IUnknown** recorders,
                                           ULONG* fetched) {
  FakeCom* self = Self(object);
  Reached(object, 3);
  self->numbers.push_back(count);
  *fetched = self->recorders.empty() ? 0 : 1;
  recorders[0] = self->recorders.empty() ? nullptr : self->recorders.front();
  if (*fetched == 0) return S_FALSE;
  self->recorders.erase(self->recorders.begin());
  recorders[0]->AddRef();
  return count == 1 ? S_OK : S_FALSE;
}

// IJolietDiscMaster slot 6.
HRESULT STDMETHODCALLTYPE FakeAddData(void* object, void* storage, long overwrite) {
  Self(object)->pointers.push_back(storage);
  Self(object)->numbers.push_back(overwrite);
  return Reached(object, 6);
}

// IPropertyStorage slot 3: every property read is the child stream, as a stream or as an
// unknown as `flag` says.
HRESULT STDMETHODCALLTYPE FakeReadMultiple(void* object, ULONG count, const PROPSPEC* selectors,
                                           PROPVARIANT* values) {
  FakeCom* self = Self(object);
  Reached(object, 3);
  self->numbers.insert(self->numbers.end(), {count, selectors[0].ulKind, selectors[0].propid});
  values[0].vt = self->flag ? VT_STREAM : VT_UNKNOWN;
  values[0].punkVal = self->children.at(3);  // pStream shares the place
  values[0].punkVal->AddRef();
  return S_OK;
}

// IPropertyStorage slot 4: keeps the value as given (no copy of what it points to).
HRESULT STDMETHODCALLTYPE FakeWriteMultiple(void* object, ULONG count, const PROPSPEC* selectors,
                                            const PROPVARIANT* values, PROPID firstNewId) {
  FakeCom* self = Self(object);
  self->numbers.insert(self->numbers.end(), {count, selectors[0].ulKind, selectors[0].propid});
  self->written = values[0];
  if (values[0].vt == VT_BSTR) {
    self->texts.emplace_back(values[0].bstrVal, SysStringLen(values[0].bstrVal));
  }
  self->firstNewId = firstNewId;
  return Reached(object, 4);
}

/// The CoCreateInstance stand-in: logs each request as "class interface context" and hands
/// out `object`.
struct FakeCreation {
  platform::ComCreateFunction Function() {
    return [this](REFCLSID classId, DWORD context, REFIID interfaceId, void** out) {
      requests.push_back(GuidText(classId) + " " + GuidText(interfaceId) + " " +
                         std::to_string(context));
      *out = nullptr;
      if (SUCCEEDED(result) && object != nullptr) {
        object->AddRef();
        *out = object;
      }
      return result;
    };
  }

  HRESULT result = S_OK;
  IUnknown* object = nullptr;
  std::vector<std::string> requests;
};

/// Objects of the interface kinds that are not the Windows disc recording's own: the
/// test fakes'.
struct Foreign {
  Foreign() {
    recording.CreateTemporaryStorage(0, &storage);
    storage->CreateStream(u"iso", 0, &stream);
    recording.CreateRecorder2(&recorder2);
    std::unique_ptr<platform::DiscMasterObject> master;
    recording.CreateDiscMaster(&master);
    std::unique_ptr<platform::RecorderEnumeration> list;
    master->EnumDiscRecorders(&list);
    uint32_t fetched = 0;
    list->Next(&recorder, &fetched);
    std::unique_ptr<platform::JolietFormat> joliet;
    master->QueryJoliet(&joliet);
    joliet->GetJolietProperties(&properties);
  }

  fakes::FakeDiscRecording recording;
  std::unique_ptr<platform::DiscStorage> storage;
  std::unique_ptr<platform::DiscStream> stream;
  std::unique_ptr<platform::Recorder2Object> recorder2;
  std::unique_ptr<platform::RecorderObject> recorder;
  std::unique_ptr<platform::PropertySet> properties;
};

/// The first `size` bytes of a stream, read through COM from its start.
std::vector<uint8_t> ReadAll(platform::DiscStream& stream, size_t size) {
  IStream* com = platform::Win32StreamInterface(stream);
  std::vector<uint8_t> bytes(size + 1);
  ULONG got = 0;
  LARGE_INTEGER start;
  start.QuadPart = 0;
  if (com == nullptr || FAILED(com->Seek(start, STREAM_SEEK_SET, nullptr)) ||
      FAILED(com->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got))) {
    return {};
  }
  bytes.resize(got);
  return bytes;
}

// ---- Creation of the system's objects ------------------------------------------------

template <typename Object>
using Creator = HResult (platform::DiscRecording::*)(std::unique_ptr<Object>*);

// Creates one object through `creator`; true when a wrapper was handed out.
template <typename Object>
std::function<bool(platform::DiscRecording&, HResult*)> Creates(Creator<Object> creator) {
  return [creator](platform::DiscRecording& recording, HResult* result) {
    std::unique_ptr<Object> object;
    *result = (recording.*creator)(&object);
    return object != nullptr;
  };
}

// Context 5 is CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, 23 CLSCTX_ALL.
TEST(CreationTest, EachObjectIsAskedForByClassInterfaceAndContextAndFailsCleanly) {
  using Recording = platform::DiscRecording;
  const std::pair<std::function<bool(Recording&, HResult*)>, const char*> rows[] = {
      {Creates(&Recording::CreateShellCdBurn),  // CDBurn
       "{FBEB8A05-BEEE-4442-804E-409D6C4515E9} {3D73A659-E5D0-4D42-AFC0-5121BA425C8D} 5"},
      {Creates(&Recording::CreateDiscMaster),  // MSDiscMasterObj
       "{520CCA63-51A5-11D3-9144-00104BA11C5E} {520CCA62-51A5-11D3-9144-00104BA11C5E} 5"},
      {Creates(&Recording::CreateDiscMaster2),  // MsftDiscMaster2
       "{2735412E-7F64-5B0F-8F00-5D77AFBE261E} {27354130-7F64-5B0F-8F00-5D77AFBE261E} 23"},
      {Creates(&Recording::CreateRecorder2),  // MsftDiscRecorder2
       "{2735412D-7F64-5B0F-8F00-5D77AFBE261E} {27354133-7F64-5B0F-8F00-5D77AFBE261E} 23"},
      {Creates(&Recording::CreateDataWriter2),  // MsftDiscFormat2Data
       "{2735412A-7F64-5B0F-8F00-5D77AFBE261E} {27354153-9F64-5B0F-8F00-5D77AFBE261E} 23"},
  };
  for (const auto& [create, request] : rows) {
    SCOPED_TRACE(request);
    FakeCom object;
    FakeCreation creation;
    creation.object = object.Unknown();
    const auto recording = platform::MakeWin32DiscRecording(creation.Function());
    HResult result = 0;
    EXPECT_TRUE(create(*recording, &result));
    EXPECT_EQ(result, S_OK);
    EXPECT_EQ(creation.requests, std::vector<std::string>{request});
    EXPECT_EQ(object.references, 0);  // released with its wrapper

    creation.result = platform::kClassNotRegistered;
    EXPECT_FALSE(create(*recording, &result));
    EXPECT_EQ(result, platform::kClassNotRegistered);
    creation.result = S_OK;
    creation.object = nullptr;  // a success without an object
    EXPECT_FALSE(create(*recording, &result));
    EXPECT_EQ(result, platform::kEPointer);
    EXPECT_EQ(object.references, 0);
  }
}

// ---- The wrappers, on stand-in objects -----------------------------------------------

class StandInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_.Set(3, AsSlot(&NoArguments<3>));
    master_.Set(4, AsSlot(&HandOut<4>));
    master_.Set(7, AsSlot(&HandOut<7>));
    master_.Set(9, AsSlot(&TakePointer<9>));
    master_.Set(13, AsSlot(&FakeRecordDisc));
    master_.Set(14, AsSlot(&NoArguments<14>));
    master_.children[4] = formats_.Unknown();
    master_.children[7] = recorders_.Unknown();
    master_.children[0] = joliet_.Unknown();
    master_.queryInterfaceId = imapi::kIidJolietDiscMaster;
    formats_.Set(3, AsSlot(&FakeNextFormats));
    recorders_.Set(3, AsSlot(&FakeNextRecorder));
    for (FakeCom* recorder : {&recorder_, &second_}) {
      recorder->Set(8, AsSlot(&GivePath));
      recorder->Set(17, AsSlot(&NoArguments<17>));
    }
    joliet_.Set(6, AsSlot(&FakeAddData));
    joliet_.Set(8, AsSlot(&TakePointer<8>));
    shell_.Set(5, AsSlot(&FakeHasRecordableDrive));
    master2_.Set(8, AsSlot(&GiveItem));
    recorder2_.Set(7, AsSlot(&NoArguments<7>));
    recorder2_.Set(13, AsSlot(&TakeBstr<13>));
    writer2_.Set(12, AsSlot(&TakePointer<12>));
    writer2_.Set(30, AsSlot(&TakeBstr<30>));
    writer2_.Set(41, AsSlot(&TakePointer<41>));

    recording_ = platform::MakeWin32DiscRecording(creation_.Function());
    creation_.object = master_.Unknown();
    ASSERT_EQ(recording_->CreateDiscMaster(&master), S_OK);
    creation_.object = shell_.Unknown();
    ASSERT_EQ(recording_->CreateShellCdBurn(&shell), S_OK);
    creation_.object = master2_.Unknown();
    ASSERT_EQ(recording_->CreateDiscMaster2(&master2), S_OK);
    creation_.object = recorder2_.Unknown();
    ASSERT_EQ(recording_->CreateRecorder2(&recorder2), S_OK);
    creation_.object = writer2_.Unknown();
    ASSERT_EQ(recording_->CreateDataWriter2(&writer2), S_OK);
  }

  void TearDown() override {
    master.reset();
    shell.reset();
    master2.reset();
    recorder2.reset();
    writer2.reset();
    for (const FakeCom* fake : {&master_, &formats_, &recorders_, &recorder_, &second_, &joliet_,
                                &shell_, &master2_, &recorder2_, &writer2_}) {
      EXPECT_EQ(fake->references, 0);
    }
  }

  FakeCom master_, formats_, recorders_, recorder_, second_, joliet_;
  FakeCom shell_, master2_, recorder2_, writer2_;
  FakeCreation creation_;
  std::unique_ptr<platform::DiscRecording> recording_;
  std::unique_ptr<platform::DiscMasterObject> master;
  std::unique_ptr<platform::ShellCdBurnObject> shell;
  std::unique_ptr<platform::DiscMaster2Object> master2;
  std::unique_ptr<platform::Recorder2Object> recorder2;
  std::unique_ptr<platform::DataWriter2Object> writer2;
};

// Each wrapper call reaches its method's slot with the caller's arguments and gives back
// the method's own result.
TEST_F(StandInTest, EachCallReachesItsSlotWithItsArgumentsAndResult) {
  // The recorders come one by one, with their paths, until the enumeration says S_FALSE.
  recorder_.answer = L"\\Device\\CdRom0";
  second_.answer = L"\\Device\\CdRom1";
  recorders_.recorders = {recorder_.Unknown(), second_.Unknown()};
  std::unique_ptr<platform::RecorderEnumeration> list;
  ASSERT_EQ(master->EnumDiscRecorders(&list), S_OK);
  std::vector<std::unique_ptr<platform::RecorderObject>> found(3);
  std::vector<std::u16string> paths(2);
  for (size_t i = 0; i < found.size(); ++i) {
    uint32_t fetched = 99;
    EXPECT_EQ(list->Next(&found[i], &fetched), i < 2 ? S_OK : S_FALSE);
    EXPECT_EQ(fetched, i < 2 ? 1u : 0u);
    EXPECT_EQ(found[i] != nullptr, i < 2);
    if (i < 2 && found[i] != nullptr) {
      EXPECT_EQ(found[i]->GetPath(&paths[i]), S_OK);
    }
  }
  EXPECT_EQ(paths, (std::vector<std::u16string>{u"\\Device\\CdRom0", u"\\Device\\CdRom1"}));
  EXPECT_EQ(recorders_.numbers, (std::vector<int64_t>{1, 1, 1}));
  EXPECT_EQ(master_.calls, (std::vector<size_t>{7}));
  list.reset();
  found[1].reset();
  ASSERT_NE(found[0], nullptr);
  platform::RecorderObject* recorder = found[0].get();
  shell_.flag = TRUE;  // a failed call must not pass it on
  bool has = true;
  std::u16string text;
  // Per call: the object, the slot, the numbers, text and pointers it was given.
  struct Row {
    FakeCom* object;
    size_t slot;
    std::vector<int64_t> numbers;
    std::wstring text;
    std::vector<void*> pointers;
    std::function<HResult()> call;
  };
  const Row rows[] = {
      {&master_, 3, {}, L"", {}, [&] { return master->Open(); }},
      {&master_, 13, {0, 1}, L"", {}, [&] { return master->RecordDisc(false, true); }},
      {&master_, 13, {1, 0}, L"", {}, [&] { return master->RecordDisc(true, false); }},
      {&master_, 14, {}, L"", {}, [&] { return master->Close(); }},
      {&master_, 9, {}, L"", {&recorder_}, [&] { return master->SetActiveDiscRecorder(recorder); }},
      {&master_, 9, {}, L"", {nullptr}, [&] { return master->SetActiveDiscRecorder(nullptr); }},
      {&recorder_, 8, {}, L"", {}, [&] { return recorder->GetPath(&text); }},
      {&recorder_, 17, {}, L"", {}, [&] { return recorder->Close(); }},
      {&shell_, 5, {}, L"", {}, [&] { return shell->HasRecordableDrive(&has); }},
      {&master2_, 8, {2}, L"", {}, [&] { return master2->GetItem(2, &text); }},
      {&recorder2_,
       13,
       {},
       L"{a1b2}\\?\\ide#cdrom",
       {},
       [&] { return recorder2->InitializeDiscRecorder(u"{a1b2}\\?\\ide#cdrom"); }},
      {&recorder2_, 7, {}, L"", {}, [&] { return recorder2->EjectMedia(); }},
      {&writer2_, 12, {}, L"", {&recorder2_}, [&] { return writer2->PutRecorder(*recorder2); }},
      {&writer2_, 30, {}, L"Talvo", {}, [&] { return writer2->PutClientName(u"Talvo"); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("row " + std::to_string(&row - rows));
    FakeCom& object = *row.object;
    object.calls.clear();
    object.numbers.clear();
    object.texts.clear();
    object.pointers.clear();
    object.result = kMediaNotPresent;
    EXPECT_EQ(row.call(), kMediaNotPresent);
    object.result = S_OK;
    EXPECT_EQ(object.calls, std::vector<size_t>{row.slot});
    EXPECT_EQ(object.numbers, row.numbers);
    EXPECT_EQ(object.texts,
              row.text.empty() ? std::vector<std::wstring>{} : std::vector<std::wstring>{row.text});
    EXPECT_EQ(object.pointers, row.pointers);
  }
  // What failed calls hand back is empty; what successful ones hand back is converted.
  EXPECT_FALSE(has);
  EXPECT_TRUE(text.empty());
  shell_.flag = 7;  // any nonzero BOOL is true
  EXPECT_EQ(shell->HasRecordableDrive(&has), S_OK);
  EXPECT_TRUE(has);
  master2_.answer = L"{a1b2}\\?\\ide#cdrom";
  EXPECT_EQ(master2->GetItem(0, &text), S_OK);
  EXPECT_EQ(text, u"{a1b2}\\?\\ide#cdrom");
  EXPECT_EQ(recorder_.references, 1);  // the caller's only
  EXPECT_EQ(second_.references, 0);
}

// Joliet is asked for by its interface; objects of another kind are refused without a call.
TEST_F(StandInTest, JolietIsAskedForAndObjectsOfAnotherKindAreRefusedWithoutACall) {
  Foreign foreign;
  ASSERT_NE(foreign.properties, nullptr);
  std::unique_ptr<platform::JolietFormat> joliet;
  ASSERT_EQ(master->QueryJoliet(&joliet), S_OK);
  ASSERT_NE(joliet, nullptr);
  EXPECT_EQ(GuidText(master_.askedInterfaces.back()), "{E3BC42CE-4E5C-11D3-9144-00104BA11C5E}");
  EXPECT_EQ(master->SetActiveDiscRecorder(foreign.recorder.get()), platform::kEPointer);
  EXPECT_EQ(writer2->PutRecorder(*foreign.recorder2), platform::kEPointer);
  EXPECT_EQ(writer2->Write(*foreign.stream), platform::kEPointer);
  EXPECT_EQ(joliet->AddData(*foreign.storage, 1), platform::kEPointer);
  EXPECT_EQ(joliet->SetJolietProperties(*foreign.properties), platform::kEPointer);
  for (const FakeCom* fake : {&master_, &writer2_, &joliet_}) EXPECT_TRUE(fake->calls.empty());
  joliet.reset();
  master_.queryInterfaceId = imapi::kIidRedbookDiscMaster;
  EXPECT_EQ(master->QueryJoliet(&joliet), kNoInterface);
  EXPECT_EQ(joliet, nullptr);
}

TEST_F(StandInTest, FormatsAreCountedAndTheirEnumeratorReleased) {
  formats_.formats = {imapi::kIidRedbookDiscMaster, imapi::kIidJolietDiscMaster};
  uint32_t fetched = 99;
  EXPECT_EQ(master->EnumFormats(10, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 2u);
  EXPECT_EQ(master->EnumFormats(1, &fetched), S_OK);
  EXPECT_EQ(fetched, 1u);
  EXPECT_EQ(formats_.numbers, (std::vector<int64_t>{10, 1}));
  EXPECT_EQ(formats_.references, 0);

  master_.result = kMediaNotPresent;
  EXPECT_EQ(master->EnumFormats(10, &fetched), kMediaNotPresent);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(formats_.calls.size(), 2u);
}

// Staged bytes copy from one of the system's compound files to another, and the storage
// and the image reach IMAPI as the compound files' own interfaces.
TEST_F(StandInTest, CompoundFilesCarryTheStagedBytesToTheRecorders) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  {
    std::vector<uint8_t> bytes(5000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 256);
    Foreign foreign;
    std::unique_ptr<platform::DiscStorage> source, target;
    ASSERT_EQ(recording_->CreateTemporaryStorage(platform::kStgmCreateReadWriteExclusive, &source),
              S_OK);
    ASSERT_EQ(recording_->CreateTemporaryStorage(platform::kStgmCreateReadWriteExclusive, &target),
              S_OK);
    ASSERT_NE(source, nullptr);
    ASSERT_NE(target, nullptr);
    {
      std::unique_ptr<platform::DiscStream> writing;
      ASSERT_EQ(source->CreateStream(u"iso", platform::kStgmCreateWriteExclusive, &writing), S_OK);
      ASSERT_NE(writing, nullptr);
      uint32_t written = 0;
      EXPECT_EQ(writing->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &written), S_OK);
      EXPECT_EQ(written, bytes.size());
    }  // released: an exclusive stream opens again only once it is closed
    std::unique_ptr<platform::DiscStream> reading, copy, copied;
    ASSERT_EQ(source->OpenStream(u"iso", platform::kStgmReadExclusive, &reading), S_OK);
    ASSERT_NE(reading, nullptr);
    ASSERT_EQ(target->CreateStream(u"copy", platform::kStgmCreateWriteExclusive, &copy), S_OK);
    EXPECT_EQ(reading->CopyTo(*foreign.stream, 16), platform::kEPointer);
    EXPECT_EQ(platform::Win32StreamInterface(*foreign.stream), nullptr);
    EXPECT_EQ(reading->CopyTo(*copy, bytes.size()), S_OK);
    copy.reset();
    ASSERT_EQ(target->OpenStream(u"copy", platform::kStgmReadExclusive, &copied), S_OK);
    EXPECT_EQ(ReadAll(*copied, bytes.size()), bytes);

    writer2_.result = kMediaNotPresent;
    EXPECT_EQ(writer2->Write(*copied), kMediaNotPresent);
    EXPECT_EQ(writer2_.pointers, (std::vector<void*>{platform::Win32StreamInterface(*copied)}));
    EXPECT_EQ(writer2_.calls, (std::vector<size_t>{41}));
    std::unique_ptr<platform::JolietFormat> joliet;
    ASSERT_EQ(master->QueryJoliet(&joliet), S_OK);
    joliet_.result = kPropertiesIgnored;
    EXPECT_EQ(joliet->AddData(*target, 1), kPropertiesIgnored);
    ASSERT_EQ(joliet_.pointers.size(), 1u);
    EXPECT_NE(joliet_.pointers[0], nullptr);
    EXPECT_EQ(joliet_.numbers, (std::vector<int64_t>{1}));

    // A missing stream is not found, and a stream the caller held is dropped.
    std::unique_ptr<platform::DiscStream> held = std::move(foreign.stream);
    EXPECT_EQ(target->OpenStream(u"bootimg", platform::kStgmReadExclusive, &held), kFileNotFound);
    EXPECT_EQ(held, nullptr);
  }
  CoUninitialize();
}

// ---- Property sets, reached as the CD job reaches them: disc master, Joliet, properties

class PropertiesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  // The wrapper of `storage` (the system's or a stand-in) through the chain of stand-ins.
  void Open(IUnknown* storage) {
    joliet_.Set(7, AsSlot(&HandOut<7>));
    joliet_.children[7] = storage;
    master_.queryInterfaceId = imapi::kIidJolietDiscMaster;
    master_.children[0] = joliet_.Unknown();
    creation_.object = master_.Unknown();
    auto recording = platform::MakeWin32DiscRecording(creation_.Function());
    std::unique_ptr<platform::DiscMasterObject> master;
    ASSERT_EQ(recording->CreateDiscMaster(&master), S_OK);
    std::unique_ptr<platform::JolietFormat> joliet;
    ASSERT_EQ(master->QueryJoliet(&joliet), S_OK);
    ASSERT_EQ(joliet->GetJolietProperties(&properties_), S_OK);
    ASSERT_NE(properties_, nullptr);
  }
  void TearDown() override {
    properties_.reset();
    if (system_ != nullptr) system_->Release();
    if (storage_ != nullptr) storage_->Release();
    for (const FakeCom* fake : {&master_, &joliet_, &stand_in_, &stream_}) {
      EXPECT_EQ(fake->references, 0);
    }
    CoUninitialize();
  }
  static platform::PropertyValue Value(uint16_t type, int64_t number, std::u16string text = {}) {
    platform::PropertyValue value;
    value.type = type;
    value.number = number;
    value.text = std::move(text);
    return value;
  }

  IStorage* storage_ = nullptr;
  IPropertyStorage* system_ = nullptr;
  FakeCom master_, joliet_, stand_in_, stream_;
  FakeCreation creation_;
  std::unique_ptr<platform::PropertySet> properties_;
};

// On the system's own property storage: every type the CD job writes comes back as written
// and is listed with its type; an absent property reads empty; unusable values are refused.
TEST_F(PropertiesTest, SystemPropertiesComeBackAsWrittenAndUnusableValuesAreRefused) {
  ASSERT_EQ(
      StgCreateDocfile(nullptr, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &storage_),
      S_OK);
  IPropertySetStorage* sets = nullptr;
  ASSERT_EQ(storage_->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets)),
            S_OK);
  const FMTID format = {
      0x7D2C4B11, 0x0A3E, 0x4F5B, {0x9C, 0x11, 0x2E, 0x33, 0x44, 0x55, 0x66, 0x77}};
  const HRESULT created =
      sets->Create(format, nullptr, PROPSETFLAG_DEFAULT,
                   STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &system_);
  sets->Release();
  ASSERT_EQ(created, S_OK);
  Open(reinterpret_cast<IUnknown*>(system_));

  struct Row {
    uint32_t id;
    uint16_t type;
    int64_t number;
    std::u16string text;
  };
  const Row rows[] = {{3, platform::kVtI2, -2, u""},
                      {4, platform::kVtBool, -1, u""},
                      {5, platform::kVtBstr, 0, u"Talvo boot"},
                      {6, platform::kVtUi1, 200, u""},
                      {7, platform::kVtUi2, 65535, u""},
                      {9, platform::kVtI4, -100000, u""},
                      {10, platform::kVtLpwstr, 0, u"VOLUME"}};
  std::set<std::pair<uint32_t, uint16_t>> expectedList;
  for (const Row& row : rows) {
    ASSERT_EQ(properties_->Write(row.id, Value(row.type, row.number, row.text), 2), S_OK) << row.id;
    expectedList.insert({row.id, row.type});
  }
  for (const Row& row : rows) {
    platform::PropertyValue value;
    EXPECT_EQ(properties_->Read(row.id, &value), S_OK) << row.id;
    EXPECT_EQ(value.type, row.type) << row.id;
    EXPECT_EQ(value.number, row.number) << row.id;
    EXPECT_EQ(value.text, row.text) << row.id;
    EXPECT_EQ(value.stream, nullptr) << row.id;
  }
  std::unique_ptr<platform::PropertyEnumerator> enumerator;
  ASSERT_EQ(properties_->Enum(&enumerator), S_OK);
  ASSERT_NE(enumerator, nullptr);
  std::set<std::pair<uint32_t, uint16_t>> listed;
  uint32_t id = 0;
  uint16_t type = 0;
  HResult result;
  while ((result = enumerator->Next(&id, &type)) == S_OK) listed.insert({id, type});
  EXPECT_EQ(result, S_FALSE);
  EXPECT_EQ(listed, expectedList);

  platform::PropertyValue value = Value(platform::kVtBstr, 9, u"left over");
  EXPECT_EQ(properties_->Read(77, &value), S_FALSE);
  EXPECT_EQ(value.type, platform::kVtEmpty);
  EXPECT_EQ(value.number, 0);
  EXPECT_TRUE(value.text.empty());
  Foreign foreign;
  platform::PropertyValue stream = Value(platform::kVtStream, 0);
  EXPECT_EQ(properties_->Write(8, stream, 2), platform::kEPointer);
  stream.stream = std::move(foreign.stream);
  EXPECT_EQ(properties_->Write(8, stream, 2), platform::kEPointer);
  EXPECT_EQ(properties_->Write(8, Value(VT_R8, 1), 2), kBadVarType);
  EXPECT_EQ(properties_->Read(8, &value), S_FALSE);  // nothing reached the property set
}

// On a stand-in property storage: the selector and first new id pass through, values go out
// as the caller typed them, and a stream read as VT_STREAM or as an unknown that is asked for
// its stream keeps one reference of its own and writes back as the same object.
TEST_F(PropertiesTest, StreamsKeepTheirOwnReferenceAndValuesGoOutAsTyped) {
  stand_in_.Set(3, AsSlot(&FakeReadMultiple));
  stand_in_.Set(4, AsSlot(&FakeWriteMultiple));
  stand_in_.children[3] = stream_.Unknown();
  stream_.queryInterfaceId = IID_IStream;
  Open(stand_in_.Unknown());

  for (const BOOL asStream : {TRUE, FALSE}) {
    SCOPED_TRACE(asStream ? "VT_STREAM" : "VT_UNKNOWN");
    stand_in_.flag = asStream;
    stand_in_.numbers.clear();
    stream_.askedInterfaces.clear();
    platform::PropertyValue value;
    ASSERT_EQ(properties_->Read(8, &value), S_OK);
    EXPECT_EQ(stand_in_.numbers, (std::vector<int64_t>{1, PRSPEC_PROPID, 8}));
    EXPECT_EQ(value.type, asStream ? platform::kVtStream : platform::kVtUnknown);
    ASSERT_NE(value.stream, nullptr);
    EXPECT_EQ(stream_.askedInterfaces.size(), asStream ? 0u : 1u);
    // The PROPVARIANT's reference went with PropVariantClear; the value holds one.
    EXPECT_EQ(stream_.references, 1);
    EXPECT_EQ(platform::Win32StreamInterface(*value.stream), reinterpret_cast<IStream*>(&stream_));
    ASSERT_EQ(properties_->Write(8, value, asStream ? 2 : 5), S_OK);
    EXPECT_EQ(stand_in_.written.vt, asStream ? VT_STREAM : VT_UNKNOWN);
    EXPECT_EQ(stand_in_.written.punkVal, stream_.Unknown());
    EXPECT_EQ(stand_in_.firstNewId, asStream ? 2u : 5u);
    EXPECT_EQ(stream_.references, 1);
    value.stream.reset();
    EXPECT_EQ(stream_.references, 0);
  }

  stream_.queryInterfaceId = IID_IStorage;  // an unknown that is no stream fails the read
  platform::PropertyValue value;
  EXPECT_EQ(properties_->Read(8, &value), kNoInterface);
  EXPECT_EQ(value.stream, nullptr);
  EXPECT_EQ(stream_.references, 0);

  stand_in_.numbers.clear();
  ASSERT_EQ(properties_->Write(4, Value(platform::kVtBool, 1), 2), S_OK);
  EXPECT_EQ(stand_in_.numbers, (std::vector<int64_t>{1, PRSPEC_PROPID, 4}));
  EXPECT_EQ(stand_in_.written.vt, VT_BOOL);
  EXPECT_EQ(stand_in_.written.boolVal, 1);  // as given, not turned into VARIANT_TRUE
  ASSERT_EQ(properties_->Write(5, Value(platform::kVtBstr, 0, std::u16string(u"Tal\0vo", 6)), 2),
            S_OK);
  EXPECT_EQ(stand_in_.written.vt, VT_BSTR);
  EXPECT_EQ(stand_in_.texts, (std::vector<std::wstring>{std::wstring(L"Tal\0vo", 6)}));
}

}  // namespace
