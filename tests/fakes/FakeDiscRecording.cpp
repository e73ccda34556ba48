#include "tests/fakes/FakeDiscRecording.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>

namespace fakes {
namespace {

using platform::HResult;
using platform::kEFail;
using platform::kEPointer;
using platform::kSFalse;
using platform::kSOk;
using Bytes = std::vector<uint8_t>;
const HResult kInvalidArg = static_cast<HResult>(0x80070057u);

std::string Narrow(const std::u16string& text) {
  return std::string(text.begin(), text.end());
}

// The Joliet properties that IMAPI lists: boot record fields and one other.
struct FakeProperty {
  uint32_t id;
  uint16_t type;
  int64_t number;
  const char16_t* text;
};
const FakeProperty kJolietProperties[] = {
    {4, platform::kVtBool, 0, u""},   {5, platform::kVtBstr, 0, u"old"},
    {6, platform::kVtUi1, 9, u""},    {7, platform::kVtUi1, 9, u""},
    {8, platform::kVtStream, 0, u""}, {9, platform::kVtI4, 77, u""}};

// A new fake object as `out`, unless the script fails the call logged as `line`.
template <typename Object>
HResult Make(FakeDiscRecording& owner, const std::string& line, std::unique_ptr<Object>* out,
             HResult failure = kEFail, int number = 0);

// One fake object that answers as whichever of the recording's interfaces it was made
// for; it counts itself alive until it is released.
class FakeObject : public platform::ShellCdBurnObject,
                   public platform::DiscMasterObject,
                   public platform::RecorderEnumeration,
                   public platform::RecorderObject,
                   public platform::JolietFormat,
                   public platform::PropertySet,
                   public platform::PropertyEnumerator,
                   public platform::DiscStorage,
                   public platform::DiscStream,
                   public platform::DiscMaster2Object,
                   public platform::Recorder2Object,
                   public platform::DataWriter2Object {
 public:
  // `name`: a recorder's path, a stream's name; `number`: a storage's.
  explicit FakeObject(FakeDiscRecording& owner, std::string name = "", int number = 0,
                      std::shared_ptr<Bytes> data = nullptr)
      : owner_(owner), name_(std::move(name)), number_(number), data_(std::move(data)) {
    owner_.Count(+1);
  }
  ~FakeObject() override { owner_.Count(-1); }

  // The shell object and IMAPI's disc master.
  HResult HasRecordableDrive(bool* hasOne) override {
    *hasOne = owner_.hasRecordableDrive;
    return owner_.Call("HasRecordableDrive");
  }
  HResult Open() override { return owner_.Call("Open"); }
  HResult EnumFormats(uint32_t room, uint32_t* fetched) override {
    *fetched = std::min<uint32_t>(room, 1);
    return owner_.Call("EnumFormats " + std::to_string(room));
  }
  HResult EnumDiscRecorders(std::unique_ptr<platform::RecorderEnumeration>* recorders) override {
    return Make(owner_, "EnumDiscRecorders", recorders);
  }
  HResult SetActiveDiscRecorder(platform::RecorderObject* recorder) override {
    auto* fake = dynamic_cast<FakeObject*>(recorder);
    owner_.activeRecorder = fake ? fake->name_ : std::string();
    owner_.Call("SetActiveDiscRecorder " + owner_.activeRecorder);
    return fake ? kSOk : kInvalidArg;
  }
  HResult QueryJoliet(std::unique_ptr<platform::JolietFormat>* joliet) override {
    return Make(owner_, "QueryJoliet", joliet, static_cast<HResult>(0x80004002u));
  }
  // Without an active recorder the disc write fails by IMAPI's own rule.
  HResult RecordDisc(bool simulate, bool eject) override {
    owner_.Call(std::string("RecordDisc ") + (simulate ? "simulate" : "real") +
                (eject ? " eject" : ""));
    return owner_.activeRecorder.empty() ? static_cast<HResult>(0xC0040404u) : owner_.recordResult;
  }
  // The disc master's and a recorder's (which has a path).
  HResult Close() override {
    return owner_.Call(name_.empty() ? "CloseMaster" : "CloseRecorder " + name_);
  }

  // The recorder list and its recorders.
  HResult Next(std::unique_ptr<platform::RecorderObject>* recorder, uint32_t* fetched) override {
    owner_.Call("NextRecorder");
    *fetched = next_ < owner_.recorderPaths.size() ? 1 : 0;
    if (*fetched == 0) return kSFalse;
    *recorder = std::make_unique<FakeObject>(owner_, owner_.recorderPaths[next_++]);
    return kSOk;
  }
  HResult GetPath(std::u16string* path) override {
    if (owner_.Call("GetPath " + name_)) return kEFail;
    path->assign(name_.begin(), name_.end());
    return kSOk;
  }

  // Joliet, its property set and the set's enumerator.
  HResult GetJolietProperties(std::unique_ptr<platform::PropertySet>* properties) override {
    return Make(owner_, "GetJolietProperties", properties);
  }
  HResult SetJolietProperties(platform::PropertySet&) override {
    return owner_.Call("SetJolietProperties");
  }
  HResult AddData(platform::DiscStorage& storage, int32_t overwrite) override {
    if (owner_.Call("AddData " + std::to_string(overwrite))) return kEFail;
    auto* fake = dynamic_cast<FakeObject*>(&storage);
    if (fake == nullptr) return kEPointer;
    owner_.addedFiles.clear();
    for (const auto& [name, data] : fake->streams_) owner_.addedFiles[name] = *data;
    return kSOk;
  }
  HResult Enum(std::unique_ptr<platform::PropertyEnumerator>* enumerator) override {
    return Make(owner_, "Enum", enumerator);
  }
  HResult Next(uint32_t* id, uint16_t* type) override {
    if (next_ >= std::size(kJolietProperties)) return kSFalse;
    *id = kJolietProperties[next_].id;
    *type = kJolietProperties[next_++].type;
    return kSOk;
  }
  HResult Read(uint32_t id, platform::PropertyValue* value) override {
    owner_.Call("ReadMultiple " + std::to_string(id));
    for (const auto& property : kJolietProperties) {
      if (property.id != id) continue;
      value->type = property.type;
      value->number = property.number;
      value->text = property.text;
      if (property.type == platform::kVtStream)
        value->stream =
            std::make_unique<FakeObject>(owner_, "property", 0, std::make_shared<Bytes>());
      return kSOk;
    }
    return kSFalse;
  }
  // Logged as "WriteMultiple <id> <type> <number> <text> [stream] <first new id>".
  HResult Write(uint32_t id, const platform::PropertyValue& value, uint32_t firstNewId) override {
    auto* stream = dynamic_cast<FakeObject*>(value.stream.get());
    if (stream != nullptr) owner_.bootImage = *stream->data_;
    return owner_.Call("WriteMultiple " + std::to_string(id) + " " + std::to_string(value.type) +
                       " " + std::to_string(value.number) + " " + Narrow(value.text) +
                       (stream != nullptr ? " stream " : " ") + std::to_string(firstNewId));
  }

  // Storages: "CreateStream <name> <storage number> <mode>"; creating replaces a stream.
  HResult CreateStream(const std::u16string& name, uint32_t mode,
                       std::unique_ptr<platform::DiscStream>* stream) override {
    return Stream("CreateStream ", name, mode, stream);
  }
  HResult OpenStream(const std::u16string& name, uint32_t mode,
                     std::unique_ptr<platform::DiscStream>* stream) override {
    return Stream("OpenStream ", name, mode, stream);
  }
  // Streams: each opening has its own position.
  HResult Write(const void* bytes, uint32_t count, uint32_t* written) override {
    *written = 0;
    if (owner_.Call("Write " + name_ + " " + std::to_string(count))) return kEFail;
    const auto* from = static_cast<const uint8_t*>(bytes);
    data_->resize(std::max<size_t>(data_->size(), position_ + count));
    std::copy(from, from + count, data_->begin() + static_cast<long>(position_));
    position_ += * written = count;
    return kSOk;
  }
  HResult CopyTo(platform::DiscStream& target, uint64_t bytes) override {
    owner_.Call("CopyTo " + name_ + " " + std::to_string(bytes));
    auto* other = dynamic_cast<FakeObject*>(&target);
    if (other == nullptr) return kEPointer;
    const uint64_t available = std::min<uint64_t>(bytes, data_->size() - position_);
    uint32_t written = 0;
    position_ += available;
    return other->Write(data_->data() + position_ - available, static_cast<uint32_t>(available),
                        &written);
  }

  // IMAPI2's disc master, recorder and data writer.
  HResult GetItem(int32_t index, std::u16string* uniqueId) override {
    owner_.Call("GetItem " + std::to_string(index));
    if (index < 0 || static_cast<size_t>(index) >= owner_.imapi2Recorders.size())
      return kInvalidArg;
    *uniqueId = owner_.imapi2Recorders[static_cast<size_t>(index)];
    return kSOk;
  }
  HResult InitializeDiscRecorder(const std::u16string& uniqueId) override {
    return owner_.Call("InitializeDiscRecorder " + Narrow(uniqueId));
  }
  HResult EjectMedia() override {
    owner_.ejected = true;
    return owner_.Call("EjectMedia");
  }
  HResult PutRecorder(platform::Recorder2Object& recorder) override {
    owner_.Call("PutRecorder");
    return dynamic_cast<FakeObject*>(&recorder) ? kSOk : kEPointer;
  }
  HResult PutClientName(const std::u16string& name) override {
    return owner_.Call("PutClientName " + Narrow(name));
  }
  HResult Write(platform::DiscStream& image) override {
    owner_.Call("WriteDisc");
    auto* stream = dynamic_cast<FakeObject*>(&image);
    if (stream == nullptr) return kEPointer;
    owner_.burnedImage = *stream->data_;
    return owner_.writeResult;
  }

 private:
  HResult Stream(const std::string& call, const std::u16string& wide, uint32_t mode,
                 std::unique_ptr<platform::DiscStream>* stream) {
    const std::string name = Narrow(wide);
    char line[32];
    std::snprintf(line, sizeof line, " %d 0x%X", number_, mode);
    if (owner_.Call(call + name + line)) return kEFail;
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
  uint64_t position_ = 0;
  size_t next_ = 0;
};

template <typename Object>
HResult Make(FakeDiscRecording& owner, const std::string& line, std::unique_ptr<Object>* out,
             HResult failure, int number) {
  if (owner.Call(line, failure)) return failure;
  *out = std::make_unique<FakeObject>(owner, "", number);
  return kSOk;
}

}  // namespace

void FakeDiscRecording::Reset() {
  std::lock_guard<platform::Lock> guard(lock_);
  static_cast<FakeDiscScript&>(*this) = FakeDiscScript();
}

HResult FakeDiscRecording::Call(const std::string& line, HResult failure) {
  const std::string call = line.substr(0, line.find(' '));
  const size_t start = std::min(line.size(), call.size() + 1);
  const std::string argument = line.substr(start, line.find(' ', start) - start);
  std::lock_guard<platform::Lock> guard(lock_);
  log_.emplace_back(line, stageWatch != nullptr ? stageWatch->load() : 0);
  comDepth_ += call == "CoUninitialize" ? -1 : call.rfind("CoInitialize", 0) == 0 ? 1 : 0;
  const int occurrence = ++occurrences_[call];
  const bool fails = failing.count(call) > 0 ||
                     failing.count(call + "#" + std::to_string(occurrence)) > 0 ||
                     (!argument.empty() && failing.count(call + ":" + argument) > 0);
  return fails ? failure : kSOk;
}

int32_t FakeDiscRecording::StageOf(const std::string& line) const {
  std::lock_guard<platform::Lock> guard(lock_);
  for (const auto& [logged, stage] : log_) {
    if (logged == line) return stage;
  }
  return kNotCalled;
}

std::vector<std::string> FakeDiscRecording::Log() const {
  std::lock_guard<platform::Lock> guard(lock_);
  std::vector<std::string> lines;
  for (const auto& entry : log_) lines.push_back(entry.first);
  return lines;
}

HResult FakeDiscRecording::CreateShellCdBurn(std::unique_ptr<platform::ShellCdBurnObject>* o) {
  return Make(*this, "CreateShellCdBurn", o, platform::kClassNotRegistered);
}
HResult FakeDiscRecording::CreateDiscMaster(std::unique_ptr<platform::DiscMasterObject>* o) {
  return Make(*this, "CreateDiscMaster", o, platform::kClassNotRegistered);
}
HResult FakeDiscRecording::CreateDiscMaster2(std::unique_ptr<platform::DiscMaster2Object>* o) {
  return Make(*this, "CreateDiscMaster2", o, platform::kClassNotRegistered);
}
HResult FakeDiscRecording::CreateRecorder2(std::unique_ptr<platform::Recorder2Object>* o) {
  return Make(*this, "CreateRecorder2", o, platform::kClassNotRegistered);
}
HResult FakeDiscRecording::CreateDataWriter2(std::unique_ptr<platform::DataWriter2Object>* o) {
  return Make(*this, "CreateDataWriter2", o, platform::kClassNotRegistered);
}

HResult FakeDiscRecording::CreateTemporaryStorage(uint32_t mode,
                                                  std::unique_ptr<platform::DiscStorage>* o) {
  char line[48];
  std::snprintf(line, sizeof line, "CreateTemporaryStorage 0x%X", mode);
  return Make(*this, line, o, kEFail, ++storages_);
}

uint32_t FakeDiscRecording::QueryDosDevice(const std::string& name, char* buffer, uint32_t size) {
  auto it = dosDevices.find(name);
  // Too small a buffer fails the call; the targets end with two zeros.
  if (it == dosDevices.end() || it->second.size() + 2 > size) return 0;
  std::memcpy(buffer, it->second.data(), it->second.size());
  buffer[it->second.size()] = buffer[it->second.size() + 1] = '\0';
  return static_cast<uint32_t>(it->second.size() + 2);
}

}  // namespace fakes
