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

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/DiscRecording.h"
#include "platform/Host.h"
#include "platform/Threads.h"
#include "platform/win32/ImapiDeclarations.h"

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
constexpr DWORD kInprocOrLocal = 5;  // CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER
constexpr DWORD kAllContexts = 23;   // CLSCTX_ALL

/// The registry form of a GUID, as the system formats it.
std::string GuidText(const GUID& guid) {
  wchar_t wide[40] = {};
  const int length = StringFromGUID2(guid, wide, 40);
  std::string text;
  for (int i = 0; i + 1 < length; ++i) text.push_back(static_cast<char>(wide[i]));
  return text;
}

std::string Hex(HRESULT result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
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

/// A method without arguments.
template <size_t S>
HRESULT STDMETHODCALLTYPE NoArguments(void* object) {
  Self(object)->calls.push_back(S);
  return Self(object)->result;
}

/// A method that hands out the child registered for its slot.
template <size_t S>
HRESULT STDMETHODCALLTYPE HandOut(void* object, void** out) {
  FakeCom* self = Self(object);
  self->calls.push_back(S);
  *out = nullptr;
  if (FAILED(self->result)) return self->result;
  IUnknown* child = self->children.at(S);
  child->AddRef();
  *out = child;
  return self->result;
}

/// A method that takes one interface pointer.
template <size_t S>
HRESULT STDMETHODCALLTYPE TakePointer(void* object, void* pointer) {
  Self(object)->calls.push_back(S);
  Self(object)->pointers.push_back(pointer);
  return Self(object)->result;
}

/// A method that takes one BSTR; its length prefix is kept too.
template <size_t S>
HRESULT STDMETHODCALLTYPE TakeBstr(void* object, BSTR text) {
  Self(object)->calls.push_back(S);
  Self(object)->texts.emplace_back(text, SysStringLen(text));
  return Self(object)->result;
}

/// A method that hands out a new BSTR copy of the object's answer.
template <size_t S>
HRESULT STDMETHODCALLTYPE GiveBstr(void* object, BSTR* out) {
  FakeCom* self = Self(object);
  self->calls.push_back(S);
  *out = SUCCEEDED(self->result) ? SysAllocString(self->answer.c_str()) : nullptr;
  return self->result;
}

// ICDBurn slot 5.
HRESULT STDMETHODCALLTYPE FakeHasRecordableDrive(void* object, BOOL* has) {
  Self(object)->calls.push_back(5);
  *has = Self(object)->flag;
  return Self(object)->result;
}

// IDiscMaster slot 13.
HRESULT STDMETHODCALLTYPE FakeRecordDisc(void* object, boolean simulate, boolean eject) {
  Self(object)->calls.push_back(13);
  Self(object)->numbers.push_back(simulate);
  Self(object)->numbers.push_back(eject);
  return Self(object)->result;
}

// IEnumDiscMasterFormats slot 3.
HRESULT STDMETHODCALLTYPE FakeNextFormats(void* object, ULONG count, IID* ids, ULONG* fetched) {
  FakeCom* self = Self(object);
  self->calls.push_back(3);
  self->numbers.push_back(count);
  ULONG given = 0;
  while (given < count && given < self->formats.size()) {
    ids[given] = self->formats[given];
    ++given;
  }
  *fetched = given;
  return given == count ? S_OK : S_FALSE;
}

// IEnumDiscRecorders slot 3: the recorders one after the other.
HRESULT STDMETHODCALLTYPE FakeNextRecorder(void* object, ULONG count, void** recorders,
                                           ULONG* fetched) {
  FakeCom* self = Self(object);
  self->calls.push_back(3);
  self->numbers.push_back(count);
  *fetched = 0;
  recorders[0] = nullptr;
  if (self->recorders.empty()) return S_FALSE;
  IUnknown* next = self->recorders.front();
  self->recorders.erase(self->recorders.begin());
  next->AddRef();
  recorders[0] = next;
  *fetched = 1;
  return count == 1 ? S_OK : S_FALSE;
}

// IJolietDiscMaster slot 6.
HRESULT STDMETHODCALLTYPE FakeAddData(void* object, void* storage, long overwrite) {
  Self(object)->calls.push_back(6);
  Self(object)->pointers.push_back(storage);
  Self(object)->numbers.push_back(overwrite);
  return Self(object)->result;
}

// IDiscMaster2 slot 8.
HRESULT STDMETHODCALLTYPE FakeGetItem(void* object, LONG index, BSTR* out) {
  Self(object)->numbers.push_back(index);
  return GiveBstr<8>(object, out);
}

// IPropertyStorage slot 3: every property read is the child stream, as a stream or as an
// unknown as `flag` says.
HRESULT STDMETHODCALLTYPE FakeReadMultiple(void* object, ULONG count, const PROPSPEC* selectors,
                                           PROPVARIANT* values) {
  FakeCom* self = Self(object);
  self->calls.push_back(3);
  self->numbers.push_back(count);
  self->numbers.push_back(selectors[0].ulKind);
  self->numbers.push_back(selectors[0].propid);
  IUnknown* stream = self->children.at(3);
  stream->AddRef();
  if (self->flag) {
    values[0].vt = VT_STREAM;
    values[0].pStream = reinterpret_cast<IStream*>(stream);
  } else {
    values[0].vt = VT_UNKNOWN;
    values[0].punkVal = stream;
  }
  return S_OK;
}

// IPropertyStorage slot 4: keeps the value as given (no copy of what it points to).
HRESULT STDMETHODCALLTYPE FakeWriteMultiple(void* object, ULONG count, const PROPSPEC* selectors,
                                            const PROPVARIANT* values, PROPID firstNewId) {
  FakeCom* self = Self(object);
  self->calls.push_back(4);
  self->numbers.push_back(count);
  self->numbers.push_back(selectors[0].ulKind);
  self->numbers.push_back(selectors[0].propid);
  self->written = values[0];
  if (values[0].vt == VT_BSTR) {
    self->texts.emplace_back(values[0].bstrVal, SysStringLen(values[0].bstrVal));
  }
  if (values[0].vt == VT_LPWSTR) self->texts.emplace_back(values[0].pwszVal);
  self->firstNewId = firstNewId;
  return self->result;
}

/// The CoCreateInstance stand-in: logs each request and hands out `object`.
struct FakeCreation {
  struct Request {
    CLSID classId;
    DWORD context;
    IID interfaceId;
  };

  platform::ComCreateFunction Function() {
    return [this](REFCLSID classId, DWORD context, REFIID interfaceId, void** out) {
      requests.push_back({classId, context, interfaceId});
      *out = nullptr;
      if (FAILED(result)) return result;
      if (object != nullptr) {
        object->AddRef();
        *out = object;
      }
      return result;
    };
  }

  HRESULT result = S_OK;
  IUnknown* object = nullptr;
  std::vector<Request> requests;
};

// Objects of the interface kinds that are not the Windows disc recording's own.
class ForeignStream : public platform::DiscStream {
 public:
  HResult Write(const void*, uint32_t, uint32_t* written) override {
    *written = 0;
    return platform::kSOk;
  }
  HResult CopyTo(DiscStream&, uint64_t) override { return platform::kSOk; }
};

class ForeignStorage : public platform::DiscStorage {
 public:
  HResult CreateStream(const std::u16string&, uint32_t,
                       std::unique_ptr<platform::DiscStream>*) override {
    return platform::kSOk;
  }
  HResult OpenStream(const std::u16string&, uint32_t,
                     std::unique_ptr<platform::DiscStream>*) override {
    return platform::kSOk;
  }
};

class ForeignPropertySet : public platform::PropertySet {
 public:
  HResult Enum(std::unique_ptr<platform::PropertyEnumerator>*) override { return platform::kSOk; }
  HResult Read(uint32_t, platform::PropertyValue*) override { return platform::kSOk; }
  HResult Write(uint32_t, const platform::PropertyValue&, uint32_t) override {
    return platform::kSOk;
  }
};

class ForeignRecorder : public platform::RecorderObject {
 public:
  HResult GetPath(std::u16string*) override { return platform::kSOk; }
  HResult Close() override { return platform::kSOk; }
};

class ForeignRecorder2 : public platform::Recorder2Object {
 public:
  HResult InitializeDiscRecorder(const std::u16string&) override { return platform::kSOk; }
  HResult EjectMedia() override { return platform::kSOk; }
};

/// All bytes of a stream, read through COM from its start.
std::vector<uint8_t> ReadAll(platform::DiscStream& stream) {
  IStream* com = platform::Win32StreamInterface(stream);
  EXPECT_NE(com, nullptr);
  if (com == nullptr) return {};
  LARGE_INTEGER start;
  start.QuadPart = 0;
  EXPECT_EQ(com->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
  std::vector<uint8_t> bytes;
  uint8_t block[700];
  for (;;) {
    ULONG got = 0;
    const HRESULT result = com->Read(block, sizeof block, &got);
    EXPECT_TRUE(SUCCEEDED(result)) << Hex(result);
    bytes.insert(bytes.end(), block, block + got);
    if (FAILED(result) || got == 0) break;
  }
  return bytes;
}

std::vector<uint8_t> Pattern(size_t count, uint8_t seed) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + seed + i / 256);
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

TEST(CreationTest, EachObjectIsAskedForByClassInterfaceAndContextAndFailsCleanly) {
  using Recording = platform::DiscRecording;
  struct Row {
    const char* name;
    std::function<bool(Recording&, HResult*)> create;
    const char* classId;
    const char* interfaceId;
    DWORD context;
  };
  const Row rows[] = {
      {"CDBurn", Creates(&Recording::CreateShellCdBurn), "{FBEB8A05-BEEE-4442-804E-409D6C4515E9}",
       "{3D73A659-E5D0-4D42-AFC0-5121BA425C8D}", kInprocOrLocal},
      {"MSDiscMasterObj", Creates(&Recording::CreateDiscMaster),
       "{520CCA63-51A5-11D3-9144-00104BA11C5E}", "{520CCA62-51A5-11D3-9144-00104BA11C5E}",
       kInprocOrLocal},
      {"MsftDiscMaster2", Creates(&Recording::CreateDiscMaster2),
       "{2735412E-7F64-5B0F-8F00-5D77AFBE261E}", "{27354130-7F64-5B0F-8F00-5D77AFBE261E}",
       kAllContexts},
      {"MsftDiscRecorder2", Creates(&Recording::CreateRecorder2),
       "{2735412D-7F64-5B0F-8F00-5D77AFBE261E}", "{27354133-7F64-5B0F-8F00-5D77AFBE261E}",
       kAllContexts},
      {"MsftDiscFormat2Data", Creates(&Recording::CreateDataWriter2),
       "{2735412A-7F64-5B0F-8F00-5D77AFBE261E}", "{27354153-9F64-5B0F-8F00-5D77AFBE261E}",
       kAllContexts},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeCom object;
    FakeCreation creation;
    creation.object = object.Unknown();
    const auto recording = platform::MakeWin32DiscRecording(creation.Function());
    HResult result = 0;
    EXPECT_TRUE(row.create(*recording, &result));
    EXPECT_EQ(result, S_OK);
    ASSERT_EQ(creation.requests.size(), 1u);
    EXPECT_EQ(GuidText(creation.requests[0].classId), row.classId);
    EXPECT_EQ(GuidText(creation.requests[0].interfaceId), row.interfaceId);
    EXPECT_EQ(creation.requests[0].context, row.context);
    EXPECT_EQ(object.references, 0);  // released with its wrapper

    creation.result = platform::kClassNotRegistered;
    EXPECT_FALSE(row.create(*recording, &result));
    EXPECT_EQ(result, platform::kClassNotRegistered);
    creation.result = S_OK;
    creation.object = nullptr;  // a success without an object
    EXPECT_FALSE(row.create(*recording, &result));
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
      recorder->Set(8, AsSlot(&GiveBstr<8>));
      recorder->Set(17, AsSlot(&NoArguments<17>));
    }
    joliet_.Set(6, AsSlot(&FakeAddData));
    joliet_.Set(8, AsSlot(&TakePointer<8>));
    shell_.Set(5, AsSlot(&FakeHasRecordableDrive));
    master2_.Set(8, AsSlot(&FakeGetItem));
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

  // The next recorder of a new enumeration.
  std::unique_ptr<platform::RecorderObject> FirstRecorder() {
    recorders_.recorders = {recorder_.Unknown()};
    std::unique_ptr<platform::RecorderEnumeration> list;
    EXPECT_EQ(master->EnumDiscRecorders(&list), S_OK);
    std::unique_ptr<platform::RecorderObject> recorder;
    uint32_t fetched = 0;
    EXPECT_EQ(list->Next(&recorder, &fetched), S_OK);
    return recorder;
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
  const std::unique_ptr<platform::RecorderObject> recorder = FirstRecorder();
  ASSERT_NE(recorder, nullptr);
  shell_.flag = TRUE;  // a failed call must not pass it on
  bool has = true;
  std::u16string text;
  struct Row {
    const char* name;
    FakeCom* object;
    std::function<HResult()> call;
    std::vector<size_t> slots;
    std::vector<int64_t> numbers = {};
    std::vector<std::wstring> texts = {};
    std::vector<void*> pointers = {};
  };
  const Row rows[] = {
      {"Open", &master_, [&] { return master->Open(); }, {3}},
      {"RecordDisc", &master_, [&] { return master->RecordDisc(false, true); }, {13}, {0, 1}},
      {"RecordDisc simulated",
       &master_,
       [&] { return master->RecordDisc(true, false); },
       {13},
       {1, 0}},
      {"Close", &master_, [&] { return master->Close(); }, {14}},
      {"SetActiveDiscRecorder",
       &master_,
       [&] { return master->SetActiveDiscRecorder(recorder.get()); },
       {9},
       {},
       {},
       {&recorder_}},
      {"SetActiveDiscRecorder none",
       &master_,
       [&] { return master->SetActiveDiscRecorder(nullptr); },
       {9},
       {},
       {},
       {nullptr}},
      {"GetPath", &recorder_, [&] { return recorder->GetPath(&text); }, {8}},
      {"Recorder Close", &recorder_, [&] { return recorder->Close(); }, {17}},
      {"HasRecordableDrive", &shell_, [&] { return shell->HasRecordableDrive(&has); }, {5}},
      {"GetItem", &master2_, [&] { return master2->GetItem(2, &text); }, {8}, {2}},
      {"InitializeDiscRecorder",
       &recorder2_,
       [&] { return recorder2->InitializeDiscRecorder(u"{a1b2}\\?\\ide#cdrom"); },
       {13},
       {},
       {L"{a1b2}\\?\\ide#cdrom"}},
      {"EjectMedia", &recorder2_, [&] { return recorder2->EjectMedia(); }, {7}},
      {"PutRecorder",
       &writer2_,
       [&] { return writer2->PutRecorder(*recorder2); },
       {12},
       {},
       {},
       {&recorder2_}},
      {"PutClientName",
       &writer2_,
       [&] { return writer2->PutClientName(u"Talvo"); },
       {30},
       {},
       {L"Talvo"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    row.object->calls.clear();
    row.object->numbers.clear();
    row.object->texts.clear();
    row.object->pointers.clear();
    row.object->result = kMediaNotPresent;
    EXPECT_EQ(row.call(), kMediaNotPresent);
    row.object->result = S_OK;
    EXPECT_EQ(row.object->calls, row.slots);
    EXPECT_EQ(row.object->numbers, row.numbers);
    EXPECT_EQ(row.object->texts, row.texts);
    EXPECT_EQ(row.object->pointers, row.pointers);
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
}

TEST_F(StandInTest, ObjectsOfAnotherKindAreRefusedWithoutACall) {
  ForeignRecorder recorder;
  ForeignRecorder2 recorder2Object;
  ForeignStream stream;
  ForeignStorage storage;
  ForeignPropertySet properties;
  std::unique_ptr<platform::JolietFormat> joliet;
  ASSERT_EQ(master->QueryJoliet(&joliet), S_OK);
  EXPECT_EQ(master->SetActiveDiscRecorder(&recorder), platform::kEPointer);
  EXPECT_EQ(writer2->PutRecorder(recorder2Object), platform::kEPointer);
  EXPECT_EQ(writer2->Write(stream), platform::kEPointer);
  EXPECT_EQ(joliet->AddData(storage, 1), platform::kEPointer);
  EXPECT_EQ(joliet->SetJolietProperties(properties), platform::kEPointer);
  for (const FakeCom* fake : {&master_, &writer2_, &joliet_}) EXPECT_TRUE(fake->calls.empty());
}

TEST_F(StandInTest, RecordersComeOneByOneWithTheirPaths) {
  recorder_.answer = L"\\Device\\CdRom0";
  second_.answer = L"\\Device\\CdRom1";
  recorders_.recorders = {recorder_.Unknown(), second_.Unknown()};
  std::unique_ptr<platform::RecorderEnumeration> list;
  ASSERT_EQ(master->EnumDiscRecorders(&list), S_OK);
  std::vector<std::u16string> paths;
  for (;;) {
    std::unique_ptr<platform::RecorderObject> recorder;
    uint32_t fetched = 99;
    const HResult result = list->Next(&recorder, &fetched);
    if (fetched == 0) {
      EXPECT_EQ(result, S_FALSE);
      EXPECT_EQ(recorder, nullptr);
      break;
    }
    ASSERT_NE(recorder, nullptr);
    std::u16string path;
    EXPECT_EQ(recorder->GetPath(&path), S_OK);
    paths.push_back(path);
  }
  EXPECT_EQ(paths, (std::vector<std::u16string>{u"\\Device\\CdRom0", u"\\Device\\CdRom1"}));
  EXPECT_EQ(recorders_.numbers, (std::vector<int64_t>{1, 1, 1}));
  EXPECT_EQ(master_.calls, (std::vector<size_t>{7}));
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

TEST_F(StandInTest, JolietIsAskedForByItsInterfaceOrHandsOutNothing) {
  std::unique_ptr<platform::JolietFormat> joliet;
  ASSERT_EQ(master->QueryJoliet(&joliet), S_OK);
  ASSERT_NE(joliet, nullptr);
  EXPECT_EQ(GuidText(master_.askedInterfaces.back()), "{E3BC42CE-4E5C-11D3-9144-00104BA11C5E}");
  joliet.reset();
  master_.queryInterfaceId = imapi::kIidRedbookDiscMaster;
  EXPECT_EQ(master->QueryJoliet(&joliet), kNoInterface);
  EXPECT_EQ(joliet, nullptr);
}

// Staged data and the image reach IMAPI as the compound file's own interfaces.
TEST_F(StandInTest, CompoundFilesReachTheRecordersAsTheirOwnInterfaces) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  {
    std::unique_ptr<platform::JolietFormat> joliet;
    ASSERT_EQ(master->QueryJoliet(&joliet), S_OK);
    std::unique_ptr<platform::DiscStorage> storage;
    ASSERT_EQ(recording_->CreateTemporaryStorage(platform::kStgmCreateReadWriteExclusive, &storage),
              S_OK);
    joliet_.result = kPropertiesIgnored;
    EXPECT_EQ(joliet->AddData(*storage, 1), kPropertiesIgnored);
    ASSERT_EQ(joliet_.pointers.size(), 1u);
    EXPECT_NE(joliet_.pointers[0], nullptr);
    EXPECT_EQ(joliet_.numbers, (std::vector<int64_t>{1}));

    std::unique_ptr<platform::DiscStream> image;
    ASSERT_EQ(storage->CreateStream(u"iso", platform::kStgmCreateWriteExclusive, &image), S_OK);
    writer2_.result = kMediaNotPresent;
    EXPECT_EQ(writer2->Write(*image), kMediaNotPresent);
    EXPECT_EQ(writer2_.pointers, (std::vector<void*>{platform::Win32StreamInterface(*image)}));
    EXPECT_EQ(writer2_.calls, (std::vector<size_t>{41}));
  }
  CoUninitialize();
}

// ---- Compound files and property sets of the system ----------------------------------

class HostRecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recording_ = platform::MakeHostDiscRecording();
    started_ = SUCCEEDED(recording_->CoInitialize());
    ASSERT_TRUE(started_);
  }
  void TearDown() override {
    if (started_) recording_->CoUninitialize();
  }

  std::unique_ptr<platform::DiscRecording> recording_;
  bool started_ = false;
};

TEST_F(HostRecordingTest, StagedBytesCopyFromOneCompoundFileToAnother) {
  const std::vector<uint8_t> bytes = Pattern(5000, 3);
  std::unique_ptr<platform::DiscStorage> source;
  ASSERT_EQ(recording_->CreateTemporaryStorage(platform::kStgmCreateReadWriteExclusive, &source),
            S_OK);
  ASSERT_NE(source, nullptr);
  {
    std::unique_ptr<platform::DiscStream> writing;
    ASSERT_EQ(source->CreateStream(u"iso", platform::kStgmCreateWriteExclusive, &writing), S_OK);
    ASSERT_NE(writing, nullptr);
    uint32_t written = 0;
    EXPECT_EQ(writing->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &written), S_OK);
    EXPECT_EQ(written, bytes.size());
  }  // released: an exclusive stream opens again only once it is closed

  std::unique_ptr<platform::DiscStream> reading;
  ASSERT_EQ(source->OpenStream(u"iso", platform::kStgmReadExclusive, &reading), S_OK);
  ASSERT_NE(reading, nullptr);
  std::unique_ptr<platform::DiscStorage> target;
  ASSERT_EQ(recording_->CreateTemporaryStorage(platform::kStgmCreateReadWriteExclusive, &target),
            S_OK);
  {
    std::unique_ptr<platform::DiscStream> copy;
    ASSERT_EQ(target->CreateStream(u"copy", platform::kStgmCreateWriteExclusive, &copy), S_OK);
    ForeignStream foreign;
    EXPECT_EQ(reading->CopyTo(foreign, 16), platform::kEPointer);
    EXPECT_EQ(platform::Win32StreamInterface(foreign), nullptr);
    EXPECT_EQ(reading->CopyTo(*copy, bytes.size()), S_OK);
  }
  std::unique_ptr<platform::DiscStream> copied;
  ASSERT_EQ(target->OpenStream(u"copy", platform::kStgmReadExclusive, &copied), S_OK);
  EXPECT_EQ(ReadAll(*copied), bytes);

  // A missing stream is not found, and a stream the caller held is dropped.
  std::unique_ptr<platform::DiscStream> held = std::make_unique<ForeignStream>();
  EXPECT_EQ(target->OpenStream(u"bootimg", platform::kStgmReadExclusive, &held), kFileNotFound);
  EXPECT_EQ(held, nullptr);
}

// ---- Property sets, on the system's own property storage ----------------------------

class PropertySetTest : public HostRecordingTest {
 protected:
  void SetUp() override {
    HostRecordingTest::SetUp();
    ASSERT_EQ(StgCreateDocfile(nullptr, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                               &storage_),
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

    // Reached the way the CD job reaches it: IDiscMaster, IJolietDiscMaster, properties.
    joliet_.Set(7, AsSlot(&HandOut<7>));
    joliet_.children[7] = reinterpret_cast<IUnknown*>(system_);
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
    EXPECT_EQ(master_.references, 0);
    EXPECT_EQ(joliet_.references, 0);
    HostRecordingTest::TearDown();
  }

  static platform::PropertyValue Number(uint16_t type, int64_t number) {
    platform::PropertyValue value;
    value.type = type;
    value.number = number;
    return value;
  }

  static platform::PropertyValue Text(uint16_t type, const std::u16string& text) {
    platform::PropertyValue value;
    value.type = type;
    value.text = text;
    return value;
  }

  IStorage* storage_ = nullptr;
  IPropertyStorage* system_ = nullptr;
  FakeCom master_;
  FakeCom joliet_;
  FakeCreation creation_;
  std::unique_ptr<platform::PropertySet> properties_;
};

TEST_F(PropertySetTest, ValuesComeBackAsTheyWereWritten) {
  ASSERT_EQ(properties_->Write(3, Number(platform::kVtI2, -2), 2), S_OK);
  ASSERT_EQ(properties_->Write(4, Number(platform::kVtBool, -1), 2), S_OK);
  ASSERT_EQ(properties_->Write(5, Text(platform::kVtBstr, u"Talvo boot"), 2), S_OK);
  ASSERT_EQ(properties_->Write(6, Number(platform::kVtUi1, 200), 2), S_OK);
  ASSERT_EQ(properties_->Write(7, Number(platform::kVtUi2, 65535), 2), S_OK);
  ASSERT_EQ(properties_->Write(9, Number(platform::kVtI4, -100000), 2), S_OK);
  ASSERT_EQ(properties_->Write(10, Text(platform::kVtLpwstr, u"VOLUME"), 2), S_OK);

  const std::map<uint32_t, std::pair<uint16_t, int64_t>> numbers = {
      {3, {platform::kVtI2, -2}},
      {4, {platform::kVtBool, -1}},
      {6, {platform::kVtUi1, 200}},
      {7, {platform::kVtUi2, 65535}},
      {9, {platform::kVtI4, -100000}}};
  for (const auto& [id, expected] : numbers) {
    platform::PropertyValue value;
    EXPECT_EQ(properties_->Read(id, &value), S_OK) << id;
    EXPECT_EQ(value.type, expected.first) << id;
    EXPECT_EQ(value.number, expected.second) << id;
    EXPECT_EQ(value.stream, nullptr) << id;
  }
  platform::PropertyValue text;
  EXPECT_EQ(properties_->Read(5, &text), S_OK);
  EXPECT_EQ(text.type, platform::kVtBstr);
  EXPECT_EQ(text.text, u"Talvo boot");
  EXPECT_EQ(properties_->Read(10, &text), S_OK);
  EXPECT_EQ(text.type, platform::kVtLpwstr);
  EXPECT_EQ(text.text, u"VOLUME");
}

TEST_F(PropertySetTest, EnumerationListsEveryPropertyWithItsType) {
  ASSERT_EQ(properties_->Write(4, Number(platform::kVtBool, 1), 2), S_OK);
  ASSERT_EQ(properties_->Write(5, Text(platform::kVtBstr, u"x"), 2), S_OK);
  ASSERT_EQ(properties_->Write(6, Number(platform::kVtUi1, 0), 2), S_OK);

  std::unique_ptr<platform::PropertyEnumerator> enumerator;
  ASSERT_EQ(properties_->Enum(&enumerator), S_OK);
  ASSERT_NE(enumerator, nullptr);
  std::set<std::pair<uint32_t, uint16_t>> listed;
  uint32_t id = 0;
  uint16_t type = 0;
  HResult result;
  while ((result = enumerator->Next(&id, &type)) == S_OK) listed.insert({id, type});
  EXPECT_EQ(result, S_FALSE);
  const std::set<std::pair<uint32_t, uint16_t>> expected = {
      {4, platform::kVtBool}, {5, platform::kVtBstr}, {6, platform::kVtUi1}};
  EXPECT_EQ(listed, expected);
}

TEST_F(PropertySetTest, AbsentPropertiesReadEmptyAndUnusableValuesAreRefused) {
  platform::PropertyValue value = Text(platform::kVtBstr, u"left over");
  value.number = 9;
  EXPECT_EQ(properties_->Read(77, &value), S_FALSE);
  EXPECT_EQ(value.type, platform::kVtEmpty);
  EXPECT_EQ(value.number, 0);
  EXPECT_TRUE(value.text.empty());

  platform::PropertyValue stream;
  stream.type = platform::kVtStream;
  EXPECT_EQ(properties_->Write(8, stream, 2), platform::kEPointer);
  stream.stream = std::make_unique<ForeignStream>();
  EXPECT_EQ(properties_->Write(8, stream, 2), platform::kEPointer);
  EXPECT_EQ(properties_->Write(8, Number(VT_R8, 1), 2), kBadVarType);
  // Nothing reached the property set.
  EXPECT_EQ(properties_->Read(8, &value), S_FALSE);
}

// ---- Stream-valued properties, on a stand-in property storage ------------------------

class StreamPropertyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    properties_.Set(3, AsSlot(&FakeReadMultiple));
    properties_.Set(4, AsSlot(&FakeWriteMultiple));
    properties_.children[3] = stream_.Unknown();
    stream_.queryInterfaceId = IID_IStream;
    joliet_.Set(7, AsSlot(&HandOut<7>));
    joliet_.children[7] = properties_.Unknown();
    master_.queryInterfaceId = imapi::kIidJolietDiscMaster;
    master_.children[0] = joliet_.Unknown();
    creation_.object = master_.Unknown();
    recording_ = platform::MakeWin32DiscRecording(creation_.Function());
    std::unique_ptr<platform::DiscMasterObject> master;
    ASSERT_EQ(recording_->CreateDiscMaster(&master), S_OK);
    std::unique_ptr<platform::JolietFormat> joliet;
    ASSERT_EQ(master->QueryJoliet(&joliet), S_OK);
    ASSERT_EQ(joliet->GetJolietProperties(&set_), S_OK);
  }

  void TearDown() override {
    set_.reset();
    for (const FakeCom* fake : {&master_, &joliet_, &properties_, &stream_}) {
      EXPECT_EQ(fake->references, 0);
    }
  }

  FakeCom master_;
  FakeCom joliet_;
  FakeCom properties_;
  FakeCom stream_;
  FakeCreation creation_;
  std::unique_ptr<platform::DiscRecording> recording_;
  std::unique_ptr<platform::PropertySet> set_;
};

TEST_F(StreamPropertyTest, AStreamReadKeepsItsOwnReferenceAndWritesBackAsTheSameStream) {
  properties_.flag = TRUE;  // VT_STREAM
  platform::PropertyValue value;
  ASSERT_EQ(set_->Read(8, &value), S_OK);
  EXPECT_EQ(properties_.numbers, (std::vector<int64_t>{1, PRSPEC_PROPID, 8}));
  EXPECT_EQ(value.type, platform::kVtStream);
  ASSERT_NE(value.stream, nullptr);
  // The PROPVARIANT's reference went with PropVariantClear; the value holds one.
  EXPECT_EQ(stream_.references, 1);
  EXPECT_EQ(platform::Win32StreamInterface(*value.stream), reinterpret_cast<IStream*>(&stream_));

  ASSERT_EQ(set_->Write(8, value, 2), S_OK);
  EXPECT_EQ(properties_.written.vt, VT_STREAM);
  EXPECT_EQ(properties_.written.pStream, reinterpret_cast<IStream*>(&stream_));
  EXPECT_EQ(properties_.firstNewId, 2u);
  EXPECT_EQ(stream_.references, 1);
  value.stream.reset();
  EXPECT_EQ(stream_.references, 0);
}

TEST_F(StreamPropertyTest, AnUnknownIsAskedForItsStream) {
  properties_.flag = FALSE;  // VT_UNKNOWN
  platform::PropertyValue value;
  ASSERT_EQ(set_->Read(8, &value), S_OK);
  EXPECT_EQ(value.type, platform::kVtUnknown);
  ASSERT_NE(value.stream, nullptr);
  ASSERT_EQ(stream_.askedInterfaces.size(), 1u);
  EXPECT_TRUE(IsEqualGUID(stream_.askedInterfaces[0], IID_IStream));
  EXPECT_EQ(stream_.references, 1);
  ASSERT_EQ(set_->Write(8, value, 5), S_OK);
  EXPECT_EQ(properties_.written.vt, VT_UNKNOWN);
  EXPECT_EQ(properties_.written.punkVal, stream_.Unknown());
  EXPECT_EQ(properties_.firstNewId, 5u);
  value.stream.reset();
  EXPECT_EQ(stream_.references, 0);
}

TEST_F(StreamPropertyTest, AnUnknownThatIsNoStreamFailsTheRead) {
  properties_.flag = FALSE;
  stream_.queryInterfaceId = IID_IStorage;  // answers only for another interface
  platform::PropertyValue value;
  EXPECT_EQ(set_->Read(8, &value), kNoInterface);
  EXPECT_EQ(value.stream, nullptr);
  EXPECT_EQ(stream_.references, 0);
}

TEST_F(StreamPropertyTest, ValuesGoOutAsTheCallerTypedThem) {
  platform::PropertyValue flag;
  flag.type = platform::kVtBool;
  flag.number = 1;  // written as given, not turned into VARIANT_TRUE
  ASSERT_EQ(set_->Write(4, flag, 2), S_OK);
  EXPECT_EQ(properties_.numbers, (std::vector<int64_t>{1, PRSPEC_PROPID, 4}));
  EXPECT_EQ(properties_.written.vt, VT_BOOL);
  EXPECT_EQ(properties_.written.boolVal, 1);

  platform::PropertyValue maker;
  maker.type = platform::kVtBstr;
  maker.text = std::u16string(u"Tal\0vo", 6);
  ASSERT_EQ(set_->Write(5, maker, 2), S_OK);
  EXPECT_EQ(properties_.written.vt, VT_BSTR);
  ASSERT_EQ(properties_.texts.size(), 1u);
  EXPECT_EQ(properties_.texts[0], std::wstring(L"Tal\0vo", 6));
}

}  // namespace
