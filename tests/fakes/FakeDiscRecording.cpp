#include "tests/fakes/FakeDiscRecording.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>

namespace fakes {

namespace {

namespace p = platform;
using p::HResult;
using p::kEFail;
using p::kSOk;
using Bytes = std::vector<uint8_t>;
template <typename Object>
using Out = std::unique_ptr<Object>*;
const HResult kInvalidArg = static_cast<HResult>(0x80070057u);
const auto Narrow = [](const std::u16string& t) { return std::string(t.begin(), t.end()); };
const auto Number = [](int64_t number) { return " " + std::to_string(number); };

// IMAPI's Joliet properties: id, type and value of the boot record fields and one other.
const struct {
  uint32_t id;
  uint16_t type;
  int64_t number;
  const char16_t* text;
} kJoliet[] = {{4, p::kVtBool, 0, u""}, {5, p::kVtBstr, 0, u"old"}, {6, p::kVtUi1, 9, u""},
               {7, p::kVtUi1, 9, u""},  {8, p::kVtStream, 0, u""},  {9, p::kVtI4, 77, u""}};
// One object for every interface: `name` a recorder's path or stream's, `number` a storage's.
template <typename... Interfaces>
struct AllOf : Interfaces... {};
class FakeObject : public AllOf<p::ShellCdBurnObject, p::DiscMasterObject, p::RecorderEnumeration,
                                p::RecorderObject, p::JolietFormat, p::PropertySet,
                                p::PropertyEnumerator, p::DiscStorage, p::DiscStream,
                                p::DiscMaster2Object, p::Recorder2Object, p::DataWriter2Object> {
 public:
  FakeObject(FakeDiscRecording& owner, std::string name, int number, std::shared_ptr<Bytes> data)
      : owner_(owner), name_(std::move(name)), number_(number), data_(std::move(data)) {
    owner_.Count(+1);
  }
  ~FakeObject() override { owner_.Count(-1); }
  // A new object as `out`, unless the script fails the call logged as `line`.
  template <typename Object>
  static HResult Make(FakeDiscRecording& owner, const std::string& line, Out<Object> out,
                      HResult failure = kEFail, int number = 0) {
    if (owner.Call(line, failure)) return failure;
    *out = std::make_unique<FakeObject>(owner, "", number, nullptr);
    return kSOk;
  }
  HResult Call(const std::string& line) { return owner_.Call(line); }
  HResult HasRecordableDrive(bool* hasOne) override {
    *hasOne = owner_.hasRecordableDrive;
    return Call("HasRecordableDrive");
  }
  HResult Open() override { return Call("Open"); }
  HResult EnumFormats(uint32_t room, uint32_t* fetched) override {
    *fetched = std::min<uint32_t>(room, 1);
    return Call("EnumFormats" + Number(room));
  }
  HResult EnumDiscRecorders(Out<p::RecorderEnumeration> o) override {
    return Make(owner_, "EnumDiscRecorders", o);
  }
  HResult SetActiveDiscRecorder(p::RecorderObject* recorder) override {
    auto* fake = dynamic_cast<FakeObject*>(recorder);
    active_ = fake ? fake->name_ : std::string();
    Call("SetActiveDiscRecorder " + active_);
    return fake ? kSOk : kInvalidArg;
  }
  HResult QueryJoliet(Out<p::JolietFormat> o) override {
    return Make(owner_, "QueryJoliet", o, static_cast<HResult>(0x80004002u));
  }
  // Without an active recorder the disc write fails by IMAPI's own rule.
  HResult RecordDisc(bool simulate, bool eject) override {
    Call(std::string("RecordDisc ") + (simulate ? "simulate" : "real") + (eject ? " eject" : ""));
    return active_.empty() ? static_cast<HResult>(0xC0040404u) : owner_.recordResult;
  }
  HResult Close() override {  // the disc master's, or a recorder's (which has a path)
    return Call(name_.empty() ? "CloseMaster" : "CloseRecorder " + name_);
  }
  HResult Next(Out<p::RecorderObject> recorder, uint32_t* fetched) override {
    Call("NextRecorder");
    if ((*fetched = next_ < owner_.recorderPaths.size() ? 1 : 0) == 0) return p::kSFalse;
    *recorder = std::make_unique<FakeObject>(owner_, owner_.recorderPaths[next_++], 0, nullptr);
    return kSOk;
  }
  HResult GetPath(std::u16string* path) override {
    if (Call("GetPath " + name_)) return kEFail;
    path->assign(name_.begin(), name_.end());
    return kSOk;
  }
  HResult GetJolietProperties(Out<p::PropertySet> o) override {
    return Make(owner_, "GetJolietProperties", o);
  }
  HResult SetJolietProperties(p::PropertySet&) override { return Call("SetJolietProperties"); }
  HResult AddData(p::DiscStorage& storage, int32_t overwrite) override {
    auto* fake = dynamic_cast<FakeObject*>(&storage);
    if (Call("AddData" + Number(overwrite)) || fake == nullptr) return kEFail;
    owner_.addedFiles.clear();
    for (const auto& [name, data] : fake->streams_) owner_.addedFiles[name] = *data;
    return kSOk;
  }
  HResult Enum(Out<p::PropertyEnumerator> o) override { return Make(owner_, "Enum", o); }
  HResult Next(uint32_t* id, uint16_t* type) override {
    if (next_ >= std::size(kJoliet)) return p::kSFalse;
    *id = kJoliet[next_].id;
    *type = kJoliet[next_++].type;
    return kSOk;
  }
  HResult Read(uint32_t id, p::PropertyValue* value) override {
    Call("ReadMultiple" + Number(id));
    const auto* property = std::find_if(std::begin(kJoliet), std::end(kJoliet),
                                        [id](const auto& known) { return known.id == id; });
    if (property == std::end(kJoliet)) return p::kSFalse;
    *value = {property->type, property->number, property->text, nullptr};
    if (property->type == p::kVtStream)
      value->stream =
          std::make_unique<FakeObject>(owner_, "property", 0, std::make_shared<Bytes>());
    return kSOk;
  }
  // Logged as "WriteMultiple <id> <type> <number> <text> [stream] <first new id>".
  HResult Write(uint32_t id, const p::PropertyValue& value, uint32_t firstNewId) override {
    auto* stream = dynamic_cast<FakeObject*>(value.stream.get());
    if (stream != nullptr) owner_.bootImage = *stream->data_;
    return Call("WriteMultiple" + Number(id) + Number(value.type) + Number(value.number) + " " +
                Narrow(value.text) + (stream != nullptr ? " stream" : "") + Number(firstNewId));
  }
  // Storages log "<call> <name> <storage number> <mode>"; creating replaces a stream.
  HResult CreateStream(const std::u16string& name, uint32_t mode, Out<p::DiscStream> o) override {
    return Stream("CreateStream ", Narrow(name), mode, o);
  }
  HResult OpenStream(const std::u16string& name, uint32_t mode, Out<p::DiscStream> o) override {
    return Stream("OpenStream ", Narrow(name), mode, o);
  }
  // Streams: each opening has its own position.
  HResult Write(const void* bytes, uint32_t count, uint32_t* written) override {
    *written = 0;
    if (Call("Write " + name_ + Number(count))) return kEFail;
    const auto* from = static_cast<const uint8_t*>(bytes);
    data_->resize(std::max<size_t>(data_->size(), position_ + count));
    std::copy(from, from + count, data_->begin() + static_cast<long>(position_));
    position_ += * written = count;
    return kSOk;
  }
  HResult CopyTo(p::DiscStream& target, uint64_t bytes) override {
    if (Call("CopyTo " + name_ + Number(static_cast<int64_t>(bytes)))) return kEFail;
    const uint64_t available = std::min<uint64_t>(bytes, data_->size() - position_);
    uint32_t written = 0;
    position_ += available;
    return target.Write(data_->data() + position_ - available, uint32_t(available), &written);
  }
  HResult GetItem(int32_t index, std::u16string* uniqueId) override {
    Call("GetItem" + Number(index));
    if (index < 0 || static_cast<size_t>(index) >= owner_.imapi2Recorders.size())
      return kInvalidArg;
    *uniqueId = owner_.imapi2Recorders[static_cast<size_t>(index)];
    return kSOk;
  }
  HResult InitializeDiscRecorder(const std::u16string& uniqueId) override {
    return Call("InitializeDiscRecorder " + Narrow(uniqueId));
  }
  HResult EjectMedia() override { return Call("EjectMedia"); }
  HResult PutRecorder(p::Recorder2Object& recorder) override {
    Call("PutRecorder");
    return dynamic_cast<FakeObject*>(&recorder) ? kSOk : p::kEPointer;
  }
  HResult PutClientName(const std::u16string& name) override {
    return Call("PutClientName " + Narrow(name));
  }
  HResult Write(p::DiscStream& image) override {
    auto* stream = dynamic_cast<FakeObject*>(&image);
    Call("WriteDisc");
    if (stream == nullptr) return p::kEPointer;
    owner_.burnedImage = *stream->data_;
    return owner_.writeResult;
  }

 private:
  HResult Stream(const std::string& call, const std::string& name, uint32_t mode,
                 Out<p::DiscStream> stream) {
    char line[32];
    std::snprintf(line, sizeof line, " %d 0x%X", number_, mode);
    if (Call(call + name + line)) return kEFail;
    if (call[0] == 'C') streams_[name] = std::make_shared<Bytes>();
    if (streams_.count(name) == 0) return kEFail;
    *stream = std::make_unique<FakeObject>(owner_, name, 0, streams_[name]);
    return kSOk;
  }
  FakeDiscRecording& owner_;
  const std::string name_;
  const int number_;
  std::shared_ptr<Bytes> data_;                            // a stream's bytes
  std::map<std::string, std::shared_ptr<Bytes>> streams_;  // a storage's streams
  std::string active_;                                     // a disc master's active recorder
  uint64_t position_ = 0;
  size_t next_ = 0;
};
}  // namespace

void FakeDiscRecording::Reset() {
  std::lock_guard<p::Lock> guard(lock_);
  static_cast<FakeDiscScript&>(*this) = FakeDiscScript();
}

std::vector<std::string> FakeDiscRecording::Lines(const std::string& call) const {
  std::vector<std::string> lines;
  for (const std::string& line : Log())
    if (line.find(call) != std::string::npos) lines.push_back(line);
  return lines;
}

HResult FakeDiscRecording::Call(const std::string& line, HResult failure) {
  const std::string call = line.substr(0, line.find(' '));
  const size_t start = std::min(line.size(), call.size() + 1);
  const std::string argument = line.substr(start, line.find(' ', start) - start);
  std::lock_guard<p::Lock> guard(lock_);
  log_.push_back(stageWatch != nullptr ? std::to_string(stageWatch->load()) + " " + line : line);
  comDepth_ += call == "CoUninitialize" ? -1 : call.rfind("CoInitialize", 0) == 0 ? 1 : 0;
  const bool fails = failing.count(call) > 0 ||
                     failing.count(call + "#" + std::to_string(++occurrences_[call])) > 0 ||
                     (!argument.empty() && failing.count(call + ":" + argument) > 0);
  return fails ? failure : kSOk;
}
#define FAKE_CREATE(Name, Object)                                     \
  HResult FakeDiscRecording::Name(Out<p::Object> o) {                 \
    return FakeObject::Make(*this, #Name, o, p::kClassNotRegistered); \
  }
FAKE_CREATE(CreateShellCdBurn, ShellCdBurnObject)
FAKE_CREATE(CreateDiscMaster, DiscMasterObject)
FAKE_CREATE(CreateDiscMaster2, DiscMaster2Object)
FAKE_CREATE(CreateRecorder2, Recorder2Object)
FAKE_CREATE(CreateDataWriter2, DataWriter2Object)
HResult FakeDiscRecording::CreateTemporaryStorage(uint32_t mode, Out<p::DiscStorage> o) {
  char line[48];
  std::snprintf(line, sizeof line, "CreateTemporaryStorage 0x%X", mode);
  return FakeObject::Make(*this, line, o, kEFail, ++storages_);
}

// Too small a buffer fails the call; the targets end with two zeros.
uint32_t FakeDiscRecording::QueryDosDevice(const std::string& name, char* buffer, uint32_t size) {
  const auto it = dosDevices.find(name);
  if (it == dosDevices.end() || it->second.size() + 2 > size) return 0;
  std::memcpy(buffer, (it->second + '\0').c_str(), it->second.size() + 2);
  return static_cast<uint32_t>(it->second.size() + 2);
}
}  // namespace fakes
