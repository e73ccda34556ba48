// The Windows disc recording. Compound files and property sets are the system's own; the CD
// classes are not registered under Wine, so their wrappers run on stand-ins laid out as a C
// program lays out a COM object: a call through a slot the test did not fill stops the run.
#include "platform/win32/Win32DiscRecording.h"

#include <objbase.h>
#include <oleauto.h>
#include <propidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/DiscRecording.h"
#include "platform/win32/ImapiDeclarations.h"
#include "platform/win32/Win32DiscRecordingInternal.h"
#include "tests/fakes/FakeDiscRecording.h"

namespace {

namespace imapi = platform::imapi;
using platform::HResult;
using Slot = void (*)();
constexpr HRESULT kFailed = static_cast<HRESULT>(0x8004020Fu);  // IMAPI_E_MEDIUM_NOTPRESENT
constexpr size_t kSlots = 44;                                   // IDiscFormat2Data's, the most

/// A COM object: the method table pointer, then the state. Each method notes its slot and
/// arguments and gives `result`; every reference taken is counted.
struct FakeCom {
  using Self = FakeCom*;
  template <size_t N>  // the real method's arguments are unknown: no return into its caller
  static void Trap() {
    std::fprintf(stderr, "vtable slot %u was not filled\n", unsigned{N}), std::abort();
  }
  template <size_t... N>
  static std::array<Slot, kSlots> Traps(std::index_sequence<N...>) {
    return {&Trap<N>...};
  }
  FakeCom() {
    vtable = table.data();
    table[0] = Slot(&QueryInterface), table[1] = Slot(&AddRef), table[2] = Slot(&Release);
  }
  IUnknown* Unknown() { return reinterpret_cast<IUnknown*>(this); }
  static HRESULT STDMETHODCALLTYPE QueryInterface(Self self, const IID* id, void** out) {
    const bool known = IsEqualGUID(*id, IID_IUnknown) || IsEqualGUID(*id, self->interfaceId);
    *out = known ? (self->children.count(0) ? self->children[0] : self->Unknown()) : nullptr;
    if (*out != nullptr) static_cast<IUnknown*>(*out)->AddRef();
    return known ? S_OK : E_NOINTERFACE;
  }
  static ULONG STDMETHODCALLTYPE AddRef(Self self) { return ++self->references; }
  static ULONG STDMETHODCALLTYPE Release(Self self) { return --self->references; }
  // What a method does with each argument, by its type.
  template <typename T, std::enable_if_t<std::is_integral_v<T>, int> = 0>
  void Take(T number) {
    args.push_back(number);
  }
  void Take(void* pointer) { args.push_back(reinterpret_cast<intptr_t>(pointer)); }
  void Take(BSTR given) { text.assign(given, SysStringLen(given)); }
  void Take(BSTR* out) { *out = SysAllocString(answer.c_str()); }  // even on failure
  void Take(BOOL* out) { *out = flag; }                            // even on failure
  void Take(const PROPSPEC* selector) {
    args.insert(args.end(), {selector->ulKind, selector->propid});
  }
  void Take(PROPVARIANT* out) {  // IPropertyStorage: every property reads as child 3
    out->vt = readAs;
    (out->punkVal = children.at(3))->AddRef();  // pStream shares the place
  }
  void Take(const PROPVARIANT* value) {
    written = *value;
    if (value->vt == VT_BSTR) Take(value->bstrVal);
  }
  void Take(IUnknown** out) {  // the slot's child, on success
    *out = SUCCEEDED(result) ? children.at(calls.back()) : nullptr;
    if (*out != nullptr) (*out)->AddRef();
  }
  template <size_t S, typename... A>
  static HRESULT STDMETHODCALLTYPE Method(Self self, A... given) {
    self->calls.push_back(S);
    (self->Take(given), ...);
    return self->result;
  }
  // IEnumDiscMasterFormats::Next and IEnumDiscRecorders::Next.
  static HRESULT STDMETHODCALLTYPE NextFormats(Self self, ULONG count, IID* ids, ULONG* got) {
    self->args.push_back(count);
    *got = std::min<ULONG>(count, static_cast<ULONG>(self->formats.size()));
    std::copy_n(self->formats.begin(), *got, ids);
    return *got == count ? S_OK : S_FALSE;
  }
  static HRESULT STDMETHODCALLTYPE NextRecorder(Self self, ULONG count, IUnknown** out,
                                                ULONG* got) {
    self->args.push_back(count);
    *got = self->recorders.empty() ? 0 : 1;
    *out = *got == 0 ? nullptr : self->recorders.front();
    if (*got == 0) return S_FALSE;
    (*out)->AddRef();
    self->recorders.erase(self->recorders.begin());
    return S_OK;
  }

  const Slot* vtable = nullptr;
  std::array<Slot, kSlots> table = Traps(std::make_index_sequence<kSlots>());
  LONG references = 0;
  HRESULT result = S_OK;
  std::vector<size_t> calls;             // the slots reached, IUnknown's aside
  std::vector<int64_t> args;             // the numbers and pointers given
  std::wstring text;                     // the BSTR given
  std::map<size_t, IUnknown*> children;  // handed out by slot; 0: by QueryInterface
  IID interfaceId = {};                  // answered by QueryInterface besides IUnknown
  std::wstring answer;                   // handed out as a BSTR
  BOOL flag = FALSE;                     // handed out as a BOOL
  std::vector<IID> formats;              // handed out by NextFormats
  std::vector<IUnknown*> recorders;      // handed out by NextRecorder
  VARTYPE readAs = VT_STREAM;            // the type of the property read
  PROPVARIANT written = {};              // the property written
};

template <size_t S, typename... A>
std::pair<size_t, Slot> At() {
  return {S, reinterpret_cast<Slot>(&FakeCom::Method<S, A...>)};
}

intptr_t P(const void* pointer) {
  return reinterpret_cast<intptr_t>(pointer);
}

std::string GuidText(const GUID& guid) {
  wchar_t wide[40] = {};
  StringFromGUID2(guid, wide, 40);
  return std::string(wide, wide + std::wcslen(wide));
}

/// The GUID that the reference of the Windows CD interfaces gives `name`.
std::string ReferenceGuid(const std::string& name) {
  std::ifstream reference(INSTALLER_CD_INTERFACES);
  for (std::string line; std::getline(reference, line);) {
    if (line.rfind("| " + name + " | {", 0) == 0) return line.substr(name.size() + 5, 38);
  }
  return "";
}

platform::PropertyValue Value(uint16_t type, int64_t number, std::u16string text = {}) {
  platform::PropertyValue value;
  value.type = type, value.number = number, value.text = std::move(text);
  return value;
}

class Win32DiscRecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    recording_ = platform::MakeWin32DiscRecording(
        [this](REFCLSID classId, DWORD context, REFIID interfaceId, void** out) {
          requests_.push_back(GuidText(classId) + GuidText(interfaceId) + std::to_string(context));
          *out = SUCCEEDED(createResult_) ? created_ : nullptr;
          if (*out != nullptr) created_->AddRef();
          return createResult_;
        });
    master_.table[4] = At<4, IUnknown**>().second;
    master_.table[7] = joliet_.table[7] = At<7, IUnknown**>().second;
    master_.children = {{0, joliet_.Unknown()}, {4, formats_.Unknown()}, {7, recorders_.Unknown()}};
    master_.interfaceId = imapi::kIidJolietDiscMaster;
    formats_.table[3] = Slot(&FakeCom::NextFormats);
    recorders_.table[3] = Slot(&FakeCom::NextRecorder);
    props_.table[3] = At<3, ULONG, const PROPSPEC*, PROPVARIANT*>().second;
    props_.table[4] = At<4, ULONG, const PROPSPEC*, const PROPVARIANT*, PROPID>().second;
    props_.children[3] = stream_.Unknown();
    stream_.interfaceId = IID_IStream;
    Make(&platform::DiscRecording::CreateDiscMaster, master_, &master);
    Make(&platform::DiscRecording::CreateShellCdBurn, shell_, &shell);
    Make(&platform::DiscRecording::CreateDiscMaster2, master2_, &master2);
    Make(&platform::DiscRecording::CreateRecorder2, recorder2_, &recorder2);
    Make(&platform::DiscRecording::CreateDataWriter2, writer2_, &writer2);
  }
  void TearDown() override {
    master.reset(), shell.reset(), master2.reset(), recorder2.reset(), writer2.reset();
    for (const FakeCom* fake : {&master_, &formats_, &recorders_, &recorder_, &second_, &joliet_,
                                &props_, &stream_, &shell_, &master2_, &recorder2_, &writer2_}) {
      EXPECT_EQ(fake->references, 0) << "stand-in " << fake - &master_;
    }
    CoUninitialize();
  }
  template <typename Object>
  void Make(HResult (platform::DiscRecording::*creator)(std::unique_ptr<Object>*), FakeCom& fake,
            std::unique_ptr<Object>* object) {
    created_ = fake.Unknown();
    ASSERT_EQ((recording_.get()->*creator)(object), S_OK);
  }
  /// The property set that the disc master's Joliet format hands out from `storage`.
  std::unique_ptr<platform::PropertySet> Properties(IUnknown* storage) {
    joliet_.children[7] = storage;
    std::unique_ptr<platform::JolietFormat> joliet;
    std::unique_ptr<platform::PropertySet> properties;
    EXPECT_EQ(master->QueryJoliet(&joliet), S_OK);
    EXPECT_EQ(joliet ? joliet->GetJolietProperties(&properties) : kFailed, S_OK);
    return properties;
  }

  FakeCom master_, formats_, recorders_, recorder_, second_, joliet_, props_, stream_;
  FakeCom shell_, master2_, recorder2_, writer2_;
  IUnknown* created_ = nullptr;
  HRESULT createResult_ = S_OK;
  std::vector<std::string> requests_;
  std::unique_ptr<platform::DiscRecording> recording_;
  std::unique_ptr<platform::DiscMasterObject> master;
  std::unique_ptr<platform::ShellCdBurnObject> shell;
  std::unique_ptr<platform::DiscMaster2Object> master2;
  std::unique_ptr<platform::Recorder2Object> recorder2;
  std::unique_ptr<platform::DataWriter2Object> writer2;
};

// Each object is asked for by class, interface and context (5: in-process or local server,
// 23: CLSCTX_ALL), with the ids that the reference gives where it is at hand; a failure or a
// success without an object hands out nothing.
TEST_F(Win32DiscRecordingTest, EachObjectIsCreatedByItsIdsAndFailsCleanly) {
  struct Row {
    const GUID &classId, &interfaceId;
    const char *className, *interfaceName;
    int context;
  };
  const Row rows[] = {
      // in the order SetUp makes them
      {imapi::kClsidMsDiscMasterObj, imapi::kIidDiscMaster, "CLSID_MSDiscMasterObj",
       "IID_IDiscMaster", 5},
      {CLSID_CDBurn, IID_ICDBurn, "CLSID_CDBurn", "IID_ICDBurn", 5},
      {imapi::kClsidMsftDiscMaster2, imapi::kIidDiscMaster2, "CLSID_MsftDiscMaster2",
       "IID_IDiscMaster2", 23},
      {imapi::kClsidMsftDiscRecorder2, imapi::kIidDiscRecorder2, "CLSID_MsftDiscRecorder2",
       "IID_IDiscRecorder2", 23},
      {imapi::kClsidMsftDiscFormat2Data, imapi::kIidDiscFormat2Data, "CLSID_MsftDiscFormat2Data",
       "IID_IDiscFormat2Data", 23},
      {imapi::kIidJolietDiscMaster, imapi::kIidJolietDiscMaster, "IID_IJolietDiscMaster",
       "IID_IJolietDiscMaster", -1},  // asked for by QueryJoliet
  };
  const bool haveReference = std::ifstream(INSTALLER_CD_INTERFACES).good();
  std::vector<std::string> expected;
  for (const Row& row : rows) {
    if (haveReference) {
      EXPECT_EQ(GuidText(row.classId) + GuidText(row.interfaceId),
                ReferenceGuid(row.className) + ReferenceGuid(row.interfaceName));
    }
    const std::string request = GuidText(row.classId) + GuidText(row.interfaceId);
    if (row.context >= 0) expected.push_back(request + std::to_string(row.context));
  }
  EXPECT_EQ(requests_, expected);
  // The creation that every object shares: failures and a success without an object.
  master.reset();
  createResult_ = platform::kClassNotRegistered;
  EXPECT_EQ(recording_->CreateDiscMaster(&master), platform::kClassNotRegistered);
  EXPECT_EQ(master, nullptr);
  createResult_ = S_OK, created_ = nullptr;
  EXPECT_EQ(recording_->CreateDataWriter2(&writer2), platform::kEPointer);
  EXPECT_EQ(writer2, nullptr);
}

// Each wrapper call reaches its method's slot with the caller's arguments and gives back the
// method's result; what a failed call hands out is dropped, what a successful one converted.
TEST_F(Win32DiscRecordingTest, EachCallReachesItsSlotWithItsArgumentsAndResult) {
  // The recorders come one by one, with their paths, until the enumeration says S_FALSE.
  recorder_.answer = L"\\Device\\CdRom0";
  second_.answer = L"\\Device\\CdRom1";
  recorders_.recorders = {recorder_.Unknown(), second_.Unknown()};
  recorder_.table[8] = second_.table[8] = At<8, BSTR*>().second;
  std::unique_ptr<platform::RecorderEnumeration> list;
  ASSERT_EQ(master->EnumDiscRecorders(&list), S_OK);
  std::vector<std::unique_ptr<platform::RecorderObject>> found(3);
  std::u16string paths, text;
  for (size_t i = 0; i < found.size(); ++i) {
    uint32_t fetched = 99;
    EXPECT_EQ(list->Next(&found[i], &fetched), i < 2 ? S_OK : S_FALSE);
    EXPECT_EQ(fetched, i < 2 ? 1u : 0u);
    text.clear();
    EXPECT_EQ(found[i] ? found[i]->GetPath(&text) : S_OK, S_OK);
    paths += text + u";";
  }
  EXPECT_EQ(paths, u"\\Device\\CdRom0;\\Device\\CdRom1;;");
  EXPECT_EQ(recorders_.args, (std::vector<int64_t>{1, 1, 1}));
  list.reset(), found[1].reset(), text.clear();
  EXPECT_EQ(recorder_.references, 1);  // the caller's only
  ASSERT_NE(found[0], nullptr);
  platform::RecorderObject* const r = found[0].get();

  std::unique_ptr<platform::DiscStorage> st;
  std::unique_ptr<platform::DiscStream> image;
  ASSERT_EQ(recording_->CreateTemporaryStorage(platform::kStgmCreateReadWriteExclusive, &st), S_OK);
  ASSERT_EQ(st->CreateStream(u"iso", platform::kStgmCreateWriteExclusive, &image), S_OK);
  IStorage* const storageI = static_cast<platform::win32_disc::Win32DiscStorage&>(*st).Interface();
  IStream* const streamI = platform::Win32StreamInterface(*image);
  const std::unique_ptr<platform::PropertySet> p = Properties(props_.Unknown());
  std::unique_ptr<platform::JolietFormat> j;
  ASSERT_EQ(master->QueryJoliet(&j), S_OK);
  ASSERT_NE(p, nullptr);
  shell_.flag = TRUE;  // handed out by a failed call too, which must not pass it on
  master2_.answer = L"{a1b2}";
  bool has = true;
  platform::DiscMasterObject& m = *master;
  platform::Recorder2Object& r2 = *recorder2;
  platform::DataWriter2Object& w2 = *writer2;
  struct Row {
    FakeCom* object;
    std::pair<size_t, Slot> method;
    std::vector<int64_t> args;
    std::wstring text;
    std::function<HResult()> call;
  };
  const Row rows[] = {
      {&master_, At<3>(), {}, L"", [&] { return m.Open(); }},
      {&master_, At<13, boolean, boolean>(), {0, 1}, L"", [&] { return m.RecordDisc(0, 1); }},
      {&master_, At<13, boolean, boolean>(), {1, 0}, L"", [&] { return m.RecordDisc(1, 0); }},
      {&master_, At<14>(), {}, L"", [&] { return m.Close(); }},
      {&master_, At<9, void*>(), {P(&recorder_)}, L"", [&] { return m.SetActiveDiscRecorder(r); }},
      {&master_, At<9, void*>(), {0}, L"", [&] { return m.SetActiveDiscRecorder(nullptr); }},
      {&recorder_, At<8, BSTR*>(), {}, L"", [&] { return r->GetPath(&text); }},
      {&recorder_, At<17>(), {}, L"", [&] { return r->Close(); }},
      {&joliet_, At<6, void*, long>(), {P(storageI), 1}, L"", [&] { return j->AddData(*st, 1); }},
      {&joliet_, At<8, void*>(), {P(&props_)}, L"", [&] { return j->SetJolietProperties(*p); }},
      {&shell_, At<5, BOOL*>(), {}, L"", [&] { return shell->HasRecordableDrive(&has); }},
      {&master2_, At<8, LONG, BSTR*>(), {2}, L"", [&] { return master2->GetItem(2, &text); }},
      {&recorder2_, At<13, BSTR>(), {}, L"{a}", [&] { return r2.InitializeDiscRecorder(u"{a}"); }},
      {&recorder2_, At<7>(), {}, L"", [&] { return r2.EjectMedia(); }},
      {&writer2_, At<12, void*>(), {P(&recorder2_)}, L"", [&] { return w2.PutRecorder(r2); }},
      {&writer2_, At<30, BSTR>(), {}, L"Talvo", [&] { return w2.PutClientName(u"Talvo"); }},
      {&writer2_, At<41, void*>(), {P(streamI)}, L"", [&] { return w2.Write(*image); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("row " + std::to_string(&row - rows));
    FakeCom& object = *row.object;
    object.table[row.method.first] = row.method.second;
    object.calls.clear(), object.args.clear(), object.text.clear();
    object.result = kFailed;
    EXPECT_EQ(row.call(), kFailed);
    object.result = S_OK;
    EXPECT_EQ(object.calls, std::vector<size_t>{row.method.first});
    EXPECT_EQ(object.args, row.args);
    EXPECT_EQ(object.text, row.text);
    EXPECT_TRUE(text.empty());
  }
  EXPECT_FALSE(has);
  shell_.flag = 7;  // any nonzero BOOL is true
  EXPECT_EQ(shell->HasRecordableDrive(&has), S_OK);
  EXPECT_TRUE(has);
  EXPECT_EQ(master2->GetItem(0, &text), S_OK);
  EXPECT_EQ(text, u"{a1b2}");
}

// Formats are counted and their enumerator released; a disc master without Joliet hands out
// none; the system's compound files take bytes written and copy them as far as asked; objects of
// another kind are refused without a call; a stream not found drops the one the caller held.
TEST_F(Win32DiscRecordingTest, FormatsStreamsAndObjectsOfAnotherKind) {
  formats_.formats = {imapi::kIidRedbookDiscMaster, imapi::kIidJolietDiscMaster};
  uint32_t fetched = 99;
  EXPECT_EQ(master->EnumFormats(10, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 2u);
  EXPECT_EQ(master->EnumFormats(1, &fetched), S_OK);
  EXPECT_EQ(fetched, 1u);
  master_.result = kFailed;
  EXPECT_EQ(master->EnumFormats(10, &fetched), kFailed);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(formats_.args, (std::vector<int64_t>{10, 1}));
  EXPECT_EQ(formats_.references, 0);
  master_.result = S_OK;
  std::unique_ptr<platform::JolietFormat> joliet;
  ASSERT_EQ(master->QueryJoliet(&joliet), S_OK);

  const std::vector<uint8_t> bytes(5000, 0x5A);
  std::unique_ptr<platform::DiscStorage> storage;
  std::unique_ptr<platform::DiscStream> writing, reading, copy;
  ASSERT_EQ(recording_->CreateTemporaryStorage(platform::kStgmCreateReadWriteExclusive, &storage),
            S_OK);
  ASSERT_EQ(storage->CreateStream(u"iso", platform::kStgmCreateWriteExclusive, &writing), S_OK);
  uint32_t written = 0;
  EXPECT_EQ(writing->Write(bytes.data(), 5000, &written), S_OK);
  EXPECT_EQ(written, 5000u);
  writing.reset();  // an exclusive stream opens again only once it is closed
  ASSERT_EQ(storage->OpenStream(u"iso", platform::kStgmReadExclusive, &reading), S_OK);
  ASSERT_EQ(storage->CreateStream(u"copy", platform::kStgmCreateWriteExclusive, &copy), S_OK);
  EXPECT_EQ(reading->CopyTo(*copy, 4999), S_OK);
  STATSTG copied = {};
  ASSERT_EQ(platform::Win32StreamInterface(*copy)->Stat(&copied, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(copied.cbSize.QuadPart, 4999u);

  fakes::FakeDiscRecording other;
  std::unique_ptr<platform::Recorder2Object> otherRecorder;
  std::unique_ptr<platform::DiscStorage> otherStorage;
  other.CreateRecorder2(&otherRecorder);
  other.CreateTemporaryStorage(0, &otherStorage);
  platform::PropertyValue stream = Value(platform::kVtStream, 0);
  const auto properties = Properties(props_.Unknown());
  EXPECT_EQ(properties->Write(8, stream, 2), platform::kEPointer);
  joliet_.calls.clear();
  otherStorage->CreateStream(u"iso", 0, &stream.stream);
  for (const HResult result :
       {writer2->PutRecorder(*otherRecorder), writer2->Write(*stream.stream),
        joliet->AddData(*otherStorage, 1), reading->CopyTo(*stream.stream, 16),
        properties->Write(8, stream, 2)}) {
    EXPECT_EQ(result, platform::kEPointer);
  }
  EXPECT_TRUE(writer2_.calls.empty() && joliet_.calls.empty() && props_.args.empty());
  master_.interfaceId = imapi::kIidRedbookDiscMaster;
  EXPECT_EQ(master->QueryJoliet(&joliet), E_NOINTERFACE);
  EXPECT_EQ(joliet, nullptr);
  EXPECT_EQ(storage->OpenStream(u"bootimg", platform::kStgmReadExclusive, &copy),
            STG_E_FILENOTFOUND);
  EXPECT_EQ(copy, nullptr);
}

// On the system's own property storage every type the CD job writes comes back as written
// and is listed with its type; an absent property reads empty; other types are refused.
TEST_F(Win32DiscRecordingTest, SystemPropertiesComeBackAsWritten) {
  IStorage* created = nullptr;
  ASSERT_EQ(StgCreateDocfile(nullptr, platform::kStgmCreateReadWriteExclusive, 0, &created), S_OK);
  const platform::win32_disc::ComReference<IStorage> storage(created);
  IPropertySetStorage* sets = nullptr;
  ASSERT_EQ(storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets)),
            S_OK);
  IPropertyStorage* system = nullptr;
  const HRESULT made = sets->Create(imapi::kIidJolietDiscMaster, nullptr, PROPSETFLAG_DEFAULT,
                                    platform::kStgmCreateReadWriteExclusive, &system);
  sets->Release();
  ASSERT_EQ(made, S_OK);
  const platform::win32_disc::ComReference<IPropertyStorage> held(system);
  const auto properties = Properties(reinterpret_cast<IUnknown*>(system));
  ASSERT_NE(properties, nullptr);

  const platform::PropertyValue rows[] = {Value(platform::kVtI2, -2),
                                          Value(platform::kVtBool, -1),
                                          Value(platform::kVtBstr, 0, u"Tal"),
                                          Value(platform::kVtUi1, 200),
                                          Value(platform::kVtUi2, 65535),
                                          Value(platform::kVtI4, -100000),
                                          Value(platform::kVtLpwstr, 0, u"VOLUME")};
  std::vector<std::pair<uint32_t, uint16_t>> expected, listed;
  for (uint32_t id = 0; id < std::size(rows); ++id) {
    ASSERT_EQ(properties->Write(id + 3, rows[id], 2), S_OK) << id;
    expected.push_back({id + 3, rows[id].type});
  }
  for (uint32_t id = 0; id < std::size(rows); ++id) {
    platform::PropertyValue value;
    EXPECT_EQ(properties->Read(id + 3, &value), S_OK) << id;
    EXPECT_EQ(std::tie(value.type, value.number, value.text),
              std::tie(rows[id].type, rows[id].number, rows[id].text));
  }
  std::unique_ptr<platform::PropertyEnumerator> enumerator;
  ASSERT_EQ(properties->Enum(&enumerator), S_OK);
  std::pair<uint32_t, uint16_t> entry;
  HResult result;
  while ((result = enumerator->Next(&entry.first, &entry.second)) == S_OK && listed.size() < 20) {
    listed.push_back(entry);
  }
  EXPECT_EQ(result, S_FALSE);
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, expected);

  platform::PropertyValue value = Value(platform::kVtBstr, 9, u"left over");
  EXPECT_EQ(properties->Read(77, &value), S_FALSE);
  EXPECT_EQ(std::tie(value.type, value.number, value.text),
            std::make_tuple(platform::kVtEmpty, int64_t{0}, std::u16string()));
  EXPECT_EQ(properties->Write(20, Value(VT_R8, 1), 2), DISP_E_BADVARTYPE);
  EXPECT_EQ(properties->Read(20, &value), S_FALSE);
}

// On a stand-in property storage: the selector and the first new id pass through, values go
// out as typed, and a stream read as VT_STREAM, or as an unknown asked for its stream, holds
// one reference of its own and writes back as the same object.
TEST_F(Win32DiscRecordingTest, StreamPropertiesKeepTheirOwnReference) {
  const std::unique_ptr<platform::PropertySet> properties = Properties(props_.Unknown());
  ASSERT_NE(properties, nullptr);
  for (const VARTYPE type : {VT_STREAM, VT_UNKNOWN}) {
    SCOPED_TRACE(type);
    props_.readAs = type;
    props_.args.clear();
    platform::PropertyValue value;
    ASSERT_EQ(properties->Read(8, &value), S_OK);
    EXPECT_EQ(value.type, type);
    ASSERT_NE(value.stream, nullptr);
    EXPECT_EQ(stream_.references, 1);  // PropVariantClear took the read's own
    EXPECT_EQ(platform::Win32StreamInterface(*value.stream), reinterpret_cast<IStream*>(&stream_));
    ASSERT_EQ(properties->Write(8, value, type), S_OK);
    EXPECT_EQ(props_.args, (std::vector<int64_t>{1, 1, 8, 1, 1, 8, type}));
    EXPECT_EQ(props_.written.vt, type);
    EXPECT_EQ(props_.written.punkVal, stream_.Unknown());
    value.stream.reset();
    EXPECT_EQ(stream_.references, 0);
  }
  stream_.interfaceId = IID_IStorage;  // an unknown that is no stream fails the read
  platform::PropertyValue value;
  EXPECT_EQ(properties->Read(8, &value), E_NOINTERFACE);
  EXPECT_EQ(value.stream, nullptr);
  ASSERT_EQ(properties->Write(4, Value(platform::kVtBool, 1), 2), S_OK);
  EXPECT_EQ(props_.written.vt, VT_BOOL);
  EXPECT_EQ(props_.written.boolVal, 1);  // as given, not made VARIANT_TRUE
  ASSERT_EQ(properties->Write(5, Value(platform::kVtBstr, 0, std::u16string(u"Tal\0vo", 6)), 2),
            S_OK);
  EXPECT_EQ(props_.text, std::wstring(L"Tal\0vo", 6));
}

}  // namespace
