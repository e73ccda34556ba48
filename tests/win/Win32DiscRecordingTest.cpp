// Windows disc recording: the system's compound files and property sets; CD classes on stand-ins.
#include "platform/win32/Win32DiscRecording.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <tuple>
#include <vector>

#include "platform/win32/ImapiDeclarations.h"
#include "platform/win32/Win32DiscRecordingInternal.h"

namespace {

using namespace platform;
using Slot = void (*)();
constexpr HRESULT kFailed = static_cast<HRESULT>(0x8004020Fu);  // IMAPI_E_MEDIUM_NOTPRESENT

/// Any COM object: each method notes its slot and arguments and gives `result`; references counted.
struct FakeCom {
  using Self = FakeCom*;
  static void Trap() { std::fputs("an unfilled vtable slot\n", stderr), std::abort(); }
  FakeCom() {
    table.fill(Slot(&Trap));
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
  void Take(int64_t n) { args.push_back(n); }  // numbers
  void Take(void* pointer) { args.push_back(reinterpret_cast<intptr_t>(pointer)); }
  void Take(BSTR given) { args.insert(args.end(), given, given + SysStringLen(given)); }
  void Take(BSTR* out) { *out = SysAllocString(answer.c_str()); }  // even on failure
  void Take(BOOL* out) { *out = flag; }                            // even on failure
  void Take(const PROPSPEC* s) { args.insert(args.end(), {s->ulKind, s->propid}); }
  void Take(PROPVARIANT* out) { out->vt = readAs, (out->punkVal = children.at(3))->AddRef(); }
  void Take(const PROPVARIANT* v) { written = *v, v->vt == VT_BSTR ? Take(v->bstrVal) : void(); }
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
  // IEnumDiscMasterFormats::Next and IEnumDiscRecorders::Next: `count` items, taken off the list.
  template <typename T>
  static HRESULT STDMETHODCALLTYPE Next(Self self, ULONG count, T* out, ULONG* got) {
    self->args.push_back(count);
    auto& items = self->List(out);
    *got = std::min<ULONG>(count, static_cast<ULONG>(items.size()));
    std::copy_n(items.begin(), *got, out);
    if constexpr (std::is_pointer_v<T>) std::for_each(out, out + *got, [](T u) { u->AddRef(); });
    items.erase(items.begin(), items.begin() + *got);
    return *got == count ? S_OK : S_FALSE;
  }
  std::vector<IID>& List(IID*) { return formats; }
  std::vector<IUnknown*>& List(IUnknown**) { return recorders; }
  const Slot* vtable = table.data();  // first, as in a COM object
  std::array<Slot, 44> table;         // IDiscFormat2Data's slots, the most
  LONG references = 0;
  HRESULT result = S_OK;
  std::vector<size_t> calls;             // the slots reached, IUnknown's aside
  std::vector<int64_t> args;             // the numbers and pointers given
  std::wstring answer;                   // handed out as a BSTR
  std::map<size_t, IUnknown*> children;  // handed out by slot; 0: by QueryInterface
  IID interfaceId = {};                  // answered by QueryInterface besides IUnknown
  BOOL flag = FALSE;
  std::vector<IID> formats;
  std::vector<IUnknown*> recorders;
  VARTYPE readAs = VT_STREAM;  // every property reads as this, child 3 (pStream shares punkVal)
  PROPVARIANT written = {};
};

template <size_t S, typename... A>  // a method at slot S with arguments A
const std::pair<size_t, Slot> At{S, reinterpret_cast<Slot>(&FakeCom::Method<S, A...>)};
std::string GuidText(const GUID& guid) {
  wchar_t wide[40] = {};
  StringFromGUID2(guid, wide, 40);
  return std::string(wide, wide + std::wcslen(wide));
}

/// The GUID that the reference of the Windows CD interfaces gives `name`.
std::string ReferenceGuid(const std::string& name) {
  std::ifstream reference(INSTALLER_CD_INTERFACES);
  for (std::string line; std::getline(reference, line);)
    if (line.rfind("| " + name + " | {", 0) == 0) return line.substr(name.size() + 5, 38);
  return "";
}

class Win32DiscRecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    recording_ = MakeWin32DiscRecording(
        [this](REFCLSID classId, DWORD context, REFIID interfaceId, void** out) {
          requests_.push_back(GuidText(classId) + GuidText(interfaceId) + std::to_string(context));
          *out = SUCCEEDED(createResult_) && !created_.empty() ? created_.front() : nullptr;
          if (*out != nullptr) created_.front()->AddRef(), created_.erase(created_.begin());
          return createResult_;
        });
    master_.table[4] = At<4, IUnknown**>.second;
    master_.table[7] = joliet_.table[7] = At<7, IUnknown**>.second;
    master_.children = {{0, joliet_.Unknown()}, {4, formats_.Unknown()}, {7, recorders_.Unknown()}};
    master_.interfaceId = imapi::kIidJolietDiscMaster;
    formats_.table[3] = Slot(&FakeCom::Next<IID>);
    recorders_.table[3] = Slot(&FakeCom::Next<IUnknown*>);
    props_.table[3] = At<3, ULONG, const PROPSPEC*, PROPVARIANT*>.second;
    props_.table[4] = At<4, ULONG, const PROPSPEC*, const PROPVARIANT*, PROPID>.second;
    props_.children[3] = stream_.Unknown();
    stream_.interfaceId = IID_IStream;
    created_ = {master_.Unknown(), shell_.Unknown(), master2_.Unknown(), recorder2_.Unknown(),
                writer2_.Unknown()};
    ASSERT_EQ(recording_->CreateDiscMaster(&master), S_OK);
    ASSERT_EQ(recording_->CreateShellCdBurn(&shell), S_OK);
    ASSERT_EQ(recording_->CreateDiscMaster2(&master2), S_OK);
    ASSERT_EQ(recording_->CreateRecorder2(&recorder2), S_OK);
    ASSERT_EQ(recording_->CreateDataWriter2(&writer2), S_OK);
    ASSERT_EQ(recording_->CreateTemporaryStorage(kStgmCreateReadWriteExclusive, &storage), S_OK);
    ASSERT_EQ(storage->CreateStream(u"iso", kStgmCreateWriteExclusive, &image), S_OK);
  }
  void TearDown() override {
    master.reset(), shell.reset(), master2.reset(), recorder2.reset(), writer2.reset();
    image.reset(), storage.reset();
    for (const FakeCom* fake : {&master_, &formats_, &recorders_, &recorder_, &second_, &joliet_,
                                &props_, &stream_, &shell_, &master2_, &recorder2_, &writer2_})
      EXPECT_EQ(fake->references, 0) << "stand-in " << fake - &master_;
    CoUninitialize();
  }
  /// The property set that the disc master's Joliet format hands out from `source`.
  std::unique_ptr<PropertySet> Properties(IUnknown* source) {
    joliet_.children[7] = source;
    std::unique_ptr<JolietFormat> joliet;
    std::unique_ptr<PropertySet> properties;
    EXPECT_EQ(master->QueryJoliet(&joliet), S_OK);
    EXPECT_EQ(joliet ? joliet->GetJolietProperties(&properties) : kFailed, S_OK);
    return properties;
  }
  FakeCom master_, formats_, recorders_, recorder_, second_, joliet_, props_, stream_;
  FakeCom shell_, master2_, recorder2_, writer2_;
  std::vector<IUnknown*> created_;  // handed out in turn
  HRESULT createResult_ = S_OK;
  std::vector<std::string> requests_;
  std::unique_ptr<DiscRecording> recording_;
  std::unique_ptr<DiscMasterObject> master;
  std::unique_ptr<ShellCdBurnObject> shell;
  std::unique_ptr<DiscMaster2Object> master2;
  std::unique_ptr<Recorder2Object> recorder2;
  std::unique_ptr<DataWriter2Object> writer2;
  std::unique_ptr<DiscStorage> storage;  // the system's, a temporary compound file
  std::unique_ptr<DiscStream> image;     // "iso" in it, open for writing
};

// Each call reaches its slot with its arguments and gives its result; a failure hands out nothing.
TEST_F(Win32DiscRecordingTest, EachCallReachesItsSlotWithItsArgumentsAndResult) {
  // The recorders come one by one, with their paths, until the enumeration says S_FALSE.
  recorder_.answer = L"\\Device\\CdRom0", second_.answer = L"\\Device\\CdRom1";
  recorders_.recorders = {recorder_.Unknown(), second_.Unknown()};
  recorder_.table[8] = second_.table[8] = At<8, BSTR*>.second;
  std::unique_ptr<RecorderEnumeration> list;
  ASSERT_EQ(master->EnumDiscRecorders(&list), S_OK);
  std::vector<std::unique_ptr<RecorderObject>> found(3);
  std::u16string text;
  std::string seen;  // result, path and count of each
  for (auto& recorder : found) {
    uint32_t fetched = 99;
    seen += std::to_string(list->Next(&recorder, &fetched));
    if (recorder) recorder->GetPath(&text), seen.append(text.begin(), text.end()), text.clear();
    seen += ":" + std::to_string(fetched) + ";";
  }
  EXPECT_EQ(seen, "0\\Device\\CdRom0:1;0\\Device\\CdRom1:1;1:0;");
  EXPECT_EQ(recorders_.args, (std::vector<int64_t>{1, 1, 1}));
  ASSERT_NE(found[0], nullptr);
  RecorderObject* const r = found[0].get();
  IStorage* const storageI = static_cast<win32_disc::Win32DiscStorage&>(*storage).Interface();
  IStream* const streamI = Win32StreamInterface(*image);
  const std::unique_ptr<PropertySet> p = Properties(props_.Unknown());
  std::unique_ptr<JolietFormat> j;
  ASSERT_EQ(master->QueryJoliet(&j), S_OK);
  ASSERT_NE(p, nullptr);
  shell_.flag = TRUE;  // handed out by a failed call too, which must not pass it on
  master2_.answer = L"{a1b2}";
  bool has = true;
  DiscMasterObject& m = *master;
  Recorder2Object& r2 = *recorder2;
  DataWriter2Object& w2 = *writer2;
  const auto P = [](const void* pointer) { return reinterpret_cast<intptr_t>(pointer); };
  using Row = std::tuple<FakeCom*, std::pair<size_t, Slot>, std::vector<int64_t>,
                         std::function<HResult()>>;  // object, method, arguments, call
  const Row rows[] = {
      {&master_, At<3>, {}, [&] { return m.Open(); }},
      {&master_, At<13, boolean, boolean>, {0, 1}, [&] { return m.RecordDisc(0, 1); }},
      {&master_, At<13, boolean, boolean>, {1, 0}, [&] { return m.RecordDisc(1, 0); }},
      {&master_, At<14>, {}, [&] { return m.Close(); }},
      {&master_, At<9, void*>, {P(&recorder_)}, [&] { return m.SetActiveDiscRecorder(r); }},
      {&master_, At<9, void*>, {0}, [&] { return m.SetActiveDiscRecorder(nullptr); }},
      {&recorder_, At<8, BSTR*>, {}, [&] { return r->GetPath(&text); }},
      {&recorder_, At<17>, {}, [&] { return r->Close(); }},
      {&joliet_, At<6, void*, long>, {P(storageI), 1}, [&] { return j->AddData(*storage, 1); }},
      {&joliet_, At<8, void*>, {P(&props_)}, [&] { return j->SetJolietProperties(*p); }},
      {&shell_, At<5, BOOL*>, {}, [&] { return shell->HasRecordableDrive(&has); }},
      {&master2_, At<8, LONG, BSTR*>, {2}, [&] { return master2->GetItem(2, &text); }},
      {&recorder2_, At<13, BSTR>, {'{', '}'}, [&] { return r2.InitializeDiscRecorder(u"{}"); }},
      {&recorder2_, At<7>, {}, [&] { return r2.EjectMedia(); }},
      {&writer2_, At<12, void*>, {P(&recorder2_)}, [&] { return w2.PutRecorder(r2); }},
      {&writer2_, At<30, BSTR>, {'T', 'v'}, [&] { return w2.PutClientName(u"Tv"); }},
      {&writer2_, At<41, void*>, {P(streamI)}, [&] { return w2.Write(*image); }},
  };
  for (const auto& [object, method, args, call] : rows) {
    SCOPED_TRACE("slot " + std::to_string(method.first));
    object->table[method.first] = method.second;
    object->calls.clear(), object->args.clear();
    object->result = kFailed;
    EXPECT_EQ(call(), kFailed);
    object->result = S_OK;
    EXPECT_EQ(object->calls, std::vector<size_t>{method.first});
    EXPECT_EQ(object->args, args);
    EXPECT_TRUE(text.empty());
  }
  EXPECT_FALSE(has);
  shell_.flag = 7;  // any nonzero BOOL is true
  EXPECT_EQ(shell->HasRecordableDrive(&has), S_OK);
  EXPECT_TRUE(has);
  EXPECT_EQ(master2->GetItem(0, &text), S_OK);
  EXPECT_EQ(text, u"{a1b2}");
  // The system's property storage gives every type back as written; a stand-in's, as held.
  IPropertyStorage* system = nullptr;
  ASSERT_EQ(StgCreatePropStg(reinterpret_cast<IUnknown*>(Win32StreamInterface(*image)),
                             imapi::kIidJolietDiscMaster, nullptr, PROPSETFLAG_DEFAULT, 0, &system),
            S_OK);
  const win32_disc::ComReference<IPropertyStorage> held(system);
  const auto properties = Properties(reinterpret_cast<IUnknown*>(system));
  ASSERT_NE(properties, nullptr);
  const PropertyValue values[] = {{kVtI2, -2, {}, {}},          {kVtBool, 1, {}, {}},
                                  {kVtBstr, 0, u"Tal", {}},     {kVtUi1, 200, {}, {}},
                                  {kVtUi2, 65535, {}, {}},      {kVtI4, -100000, {}, {}},
                                  {kVtLpwstr, 0, u"VOLUME", {}}};
  std::vector<std::pair<uint32_t, uint16_t>> expected, listed;
  for (uint32_t id = 0; id < std::size(values); ++id) {
    PropertyValue value;
    ASSERT_EQ(properties->Write(id + 3, values[id], 2), S_OK) << id;
    expected.push_back({id + 3, values[id].type});
    EXPECT_EQ(properties->Read(id + 3, &value), S_OK) << id;
    EXPECT_EQ(std::tie(value.type, value.number, value.text),
              std::tie(values[id].type, values[id].number, values[id].text));
  }
  std::unique_ptr<PropertyEnumerator> enumerator;
  ASSERT_EQ(properties->Enum(&enumerator), S_OK);
  std::pair<uint32_t, uint16_t> entry;
  while (listed.size() < 20 && enumerator->Next(&entry.first, &entry.second) == S_OK)
    listed.push_back(entry);
  EXPECT_EQ(enumerator->Next(&entry.first, &entry.second), S_FALSE);
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, expected);
  PropertyValue value{kVtBstr, 9, u"left over", {}};
  EXPECT_EQ(properties->Read(77, &value), S_FALSE);
  EXPECT_EQ(std::tie(value.type, value.number, value.text),
            std::make_tuple(kVtEmpty, int64_t{0}, std::u16string()));
  EXPECT_EQ(properties->Write(20, PropertyValue{VT_R8, 1, {}, {}}, 2), DISP_E_BADVARTYPE);
  EXPECT_EQ(properties->Read(20, &value), S_FALSE);
  // A stand-in: selector and first new id pass through; a stream read holds its own reference.
  const auto stand = Properties(props_.Unknown());
  ASSERT_NE(stand, nullptr);
  for (const VARTYPE type : {VT_STREAM, VT_UNKNOWN}) {
    props_.readAs = type;
    props_.args.clear();
    PropertyValue read;
    ASSERT_EQ(stand->Read(8, &read), S_OK);
    EXPECT_EQ(read.type, type);
    ASSERT_NE(read.stream, nullptr);
    EXPECT_EQ(stream_.references, 1);  // PropVariantClear took the read's own
    EXPECT_EQ(Win32StreamInterface(*read.stream), reinterpret_cast<IStream*>(&stream_));
    ASSERT_EQ(stand->Write(8, read, type), S_OK);
    EXPECT_EQ(props_.args, (std::vector<int64_t>{1, 1, 8, 1, 1, 8, type}));
    EXPECT_EQ(props_.written.vt, type);
    EXPECT_EQ(props_.written.punkVal, stream_.Unknown());
    read.stream.reset();
    EXPECT_EQ(stream_.references, 0);
  }
  stream_.interfaceId = IID_IStorage;  // an unknown that is no stream fails the read
  EXPECT_EQ(stand->Read(8, &value), E_NOINTERFACE);
  EXPECT_EQ(value.stream, nullptr);
  props_.args.clear();
  ASSERT_EQ(stand->Write(5, PropertyValue{kVtBstr, 0, std::u16string(u"Tal\0vo", 6), {}}, 2), S_OK);
  EXPECT_EQ(props_.args, (std::vector<int64_t>{1, 1, 5, 'T', 'a', 'l', 0, 'v', 'o', 2}));
}

// Formats counted, enumerator released; Joliet if offered; streams copy; objects made by their ids.
TEST_F(Win32DiscRecordingTest, FormatsJolietStreamsAndObjectCreation) {
  formats_.formats = {imapi::kIidRedbookDiscMaster, imapi::kIidJolietDiscMaster, IID_IUnknown};
  uint32_t got[3] = {99, 99, 99};
  const HResult results[] = {master->EnumFormats(1, &got[0]), master->EnumFormats(10, &got[1]),
                             (master_.result = kFailed, master->EnumFormats(10, &got[2]))};
  EXPECT_EQ(std::vector<HResult>(results, results + 3),
            (std::vector<HResult>{S_OK, S_FALSE, kFailed}));
  EXPECT_EQ(std::vector<uint32_t>(got, got + 3), (std::vector<uint32_t>{1, 2, 0}));
  EXPECT_EQ(formats_.references, 0);
  master_.result = S_OK;
  std::unique_ptr<JolietFormat> joliet;
  ASSERT_EQ(master->QueryJoliet(&joliet), S_OK);
  std::unique_ptr<DiscStream> reading, copy;
  uint32_t written = 0;
  EXPECT_EQ(image->Write(std::string(5000, 'Z').data(), 5000, &written), S_OK);
  EXPECT_EQ(written, 5000u);
  image.reset();  // an exclusive stream opens again only once it is closed
  ASSERT_EQ(storage->OpenStream(u"iso", kStgmReadExclusive, &reading), S_OK);
  ASSERT_EQ(storage->CreateStream(u"copy", kStgmCreateWriteExclusive, &copy), S_OK);
  EXPECT_EQ(reading->CopyTo(*copy, 4999), S_OK);
  STATSTG copied = {};
  ASSERT_EQ(Win32StreamInterface(*copy)->Stat(&copied, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(copied.cbSize.QuadPart, 4999u);
  master_.interfaceId = imapi::kIidRedbookDiscMaster;
  EXPECT_EQ(master->QueryJoliet(&joliet), E_NOINTERFACE);
  EXPECT_EQ(joliet, nullptr);
  EXPECT_EQ(storage->OpenStream(u"bootimg", kStgmReadExclusive, &copy), STG_E_FILENOTFOUND);
  EXPECT_EQ(copy, nullptr);
  // Objects are asked for by the reference's class and interface ids and context (5 or 23).
  const bool reference = std::ifstream(INSTALLER_CD_INTERFACES).good();
  std::istringstream made(
      "CLSID_MSDiscMasterObj IID_IDiscMaster 5 CLSID_CDBurn IID_ICDBurn 5 CLSID_MsftDiscMaster2 "
      "IID_IDiscMaster2 23 CLSID_MsftDiscRecorder2 IID_IDiscRecorder2 23 "
      "CLSID_MsftDiscFormat2Data IID_IDiscFormat2Data 23 IID_IJolietDiscMaster "
      "IID_IJolietDiscMaster QI");
  const std::string jolietId = GuidText(imapi::kIidJolietDiscMaster);
  requests_.push_back(jolietId + jolietId + "QI");  // what QueryJoliet asks for
  std::vector<std::string> expected;
  for (std::string c, i, context; made >> c >> i >> context;)
    expected.push_back(reference ? ReferenceGuid(c) + ReferenceGuid(i) + context : context);
  for (std::string& request : requests_) request.erase(0, reference ? 0 : 76);
  EXPECT_EQ(requests_, expected);
  // The creation that every object shares: failures and a success without an object.
  master.reset();
  createResult_ = kClassNotRegistered;
  EXPECT_EQ(recording_->CreateDiscMaster(&master), kClassNotRegistered);
  EXPECT_EQ(master, nullptr);
  createResult_ = S_OK;  // and nothing left to hand out
  EXPECT_EQ(recording_->CreateDataWriter2(&writer2), kEPointer);
  EXPECT_EQ(writer2, nullptr);
}
}  // namespace
