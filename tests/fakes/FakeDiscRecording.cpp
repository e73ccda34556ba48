#include "tests/fakes/FakeDiscRecording.h"

#include <algorithm>
#include <cstring>
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
  std::string narrow;
  for (char16_t unit : text) narrow.push_back(unit < 0x100 ? static_cast<char>(unit) : '?');
  return narrow;
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

struct FakeProperty {
  uint32_t id;
  uint16_t type;
  int64_t number;
  std::u16string text;
};

// The Joliet properties that IMAPI lists: volume name, boot record fields, and one more.
const std::vector<FakeProperty> kJolietProperties = {{1, platform::kVtBstr, 0, u"VolumeName"},
                                                     {4, platform::kVtBool, 0, {}},
                                                     {5, platform::kVtBstr, 0, u"old"},
                                                     {6, platform::kVtUi1, 9, {}},
                                                     {7, platform::kVtUi1, 9, {}},
                                                     {8, platform::kVtStream, 0, {}},
                                                     {9, platform::kVtI4, 77, {}}};

// Every fake object counts itself alive until it is released.
class Counted {
 public:
  explicit Counted(FakeDiscRecording& owner) : owner_(owner) { owner_.Count(+1); }
  virtual ~Counted() { owner_.Count(-1); }

 protected:
  FakeDiscRecording& owner_;
};

class FakeStream : public platform::DiscStream, public Counted {
 public:
  FakeStream(FakeDiscRecording& owner, std::shared_ptr<Bytes> data, std::string name)
      : Counted(owner), data_(std::move(data)), name_(std::move(name)) {}
  HResult Write(const void* bytes, uint32_t count, uint32_t* written) override {
    *written = 0;
    if (owner_.Call("Write " + name_ + " " + std::to_string(count), "Write", name_)) return kEFail;
    const auto* from = static_cast<const uint8_t*>(bytes);
    data_->resize(std::max<size_t>(data_->size(), position_ + count));
    std::copy(from, from + count, data_->begin() + static_cast<long>(position_));
    position_ += count;
    *written = count;
    return kSOk;
  }
  HResult CopyTo(platform::DiscStream& target, uint64_t bytes) override {
    owner_.Call("CopyTo " + name_ + " " + std::to_string(bytes), "CopyTo");
    auto* other = dynamic_cast<FakeStream*>(&target);
    if (other == nullptr) return kEPointer;
    const uint64_t available = std::min<uint64_t>(bytes, data_->size() - position_);
    uint32_t written = 0;
    const HResult result =
        other->Write(data_->data() + position_, static_cast<uint32_t>(available), &written);
    position_ += available;
    return result;
  }
  const Bytes& data() const { return *data_; }

 private:
  std::shared_ptr<Bytes> data_;
  std::string name_;
  uint64_t position_ = 0;
};

class FakeStorage : public platform::DiscStorage, public Counted {
 public:
  FakeStorage(FakeDiscRecording& owner, int number) : Counted(owner), number_(number) {}
  HResult CreateStream(const std::u16string& name, uint32_t mode,
                       std::unique_ptr<platform::DiscStream>* stream) override {
    // Compound files take stream names of up to 31 characters without ! / \ or :.
    const bool invalid = name.size() > 31 || name.find_first_of(u"!/\\:") != std::u16string::npos;
    const HResult kInvalidName = static_cast<HResult>(0x800300FCu);
    if (Open("CreateStream", name, mode, kInvalidName) || invalid) return kInvalidName;
    streams[name] = std::make_shared<Bytes>();  // STGM_CREATE replaces a stream of that name
    *stream = std::make_unique<FakeStream>(owner_, streams[name], Narrow(name));
    return kSOk;
  }
  HResult OpenStream(const std::u16string& name, uint32_t mode,
                     std::unique_ptr<platform::DiscStream>* stream) override {
    const HResult kFileNotFound = static_cast<HResult>(0x80030002u);
    if (Open("OpenStream", name, mode, kFileNotFound) || !streams.count(name)) return kFileNotFound;
    *stream = std::make_unique<FakeStream>(owner_, streams[name], Narrow(name));
    return kSOk;
  }
  std::map<std::u16string, std::shared_ptr<Bytes>> streams;

 private:
  HResult Open(const char* call, const std::u16string& name, uint32_t mode, HResult failure) {
    const std::string line = std::string(call) + " " + std::to_string(number_) + " ";
    return owner_.Call(line + Narrow(name) + " " + Hex(mode), call, Narrow(name), failure);
  }
  int number_;
};

class FakePropertySet : public platform::PropertySet, public Counted {
 public:
  using Counted::Counted;
  class Enumerator : public platform::PropertyEnumerator, public Counted {
   public:
    using Counted::Counted;
    HResult Next(uint32_t* id, uint16_t* type) override {
      if (next_ >= kJolietProperties.size()) return kSFalse;
      *id = kJolietProperties[next_].id;
      *type = kJolietProperties[next_++].type;
      return kSOk;
    }

   private:
    size_t next_ = 0;
  };
  HResult Enum(std::unique_ptr<platform::PropertyEnumerator>* enumerator) override {
    if (owner_.Call("Enum", "Enum")) return kEFail;
    *enumerator = std::make_unique<Enumerator>(owner_);
    return kSOk;
  }
  HResult Read(uint32_t id, platform::PropertyValue* value) override {
    owner_.Call("ReadMultiple " + std::to_string(id), "ReadMultiple");
    for (const FakeProperty& property : kJolietProperties) {
      if (property.id != id) continue;
      value->type = property.type;
      value->number = property.number;
      value->text = property.text;
      if (property.type == platform::kVtStream)
        value->stream = std::make_unique<FakeStream>(owner_, std::make_shared<Bytes>(), "property");
      return kSOk;
    }
    return kSFalse;
  }
  HResult Write(uint32_t id, const platform::PropertyValue& value, uint32_t firstNewId) override {
    owner_.Call("WriteMultiple " + std::to_string(id), "WriteMultiple");
    WrittenProperty& written = owner_.writtenProperties[id];
    written = {value.type, value.number, value.text, {}, false, firstNewId};
    if (auto* stream = dynamic_cast<FakeStream*>(value.stream.get())) {
      written.hadStream = true;
      written.streamBytes = stream->data();
    }
    return kSOk;
  }
};

class FakeJoliet : public platform::JolietFormat, public Counted {
 public:
  using Counted::Counted;
  HResult GetJolietProperties(std::unique_ptr<platform::PropertySet>* properties) override {
    if (owner_.Call("GetJolietProperties", "GetJolietProperties")) return kEFail;
    *properties = std::make_unique<FakePropertySet>(owner_);
    return kSOk;
  }
  HResult SetJolietProperties(platform::PropertySet&) override {
    return owner_.Call("SetJolietProperties", "SetJolietProperties");
  }
  HResult AddData(platform::DiscStorage& storage, int32_t overwrite) override {
    if (owner_.Call("AddData " + std::to_string(overwrite), "AddData")) return kEFail;
    auto* fake = dynamic_cast<FakeStorage*>(&storage);
    if (fake == nullptr) return kEPointer;
    owner_.addedFiles.clear();
    for (const auto& [name, data] : fake->streams) owner_.addedFiles[name] = *data;
    owner_.dataAdded = true;
    return kSOk;
  }
};

class FakeRecorder : public platform::RecorderObject, public Counted {
 public:
  FakeRecorder(FakeDiscRecording& owner, std::string path)
      : Counted(owner), path_(std::move(path)) {}
  HResult GetPath(std::u16string* path) override {
    if (owner_.Call("GetPath " + path_, "GetPath", path_)) return kEFail;
    path->assign(path_.begin(), path_.end());
    return kSOk;
  }
  HResult Close() override { return owner_.Call("CloseRecorder " + path_, "CloseRecorder"); }
  const std::string path_;
};

class FakeRecorderEnumeration : public platform::RecorderEnumeration, public Counted {
 public:
  using Counted::Counted;
  HResult Next(std::unique_ptr<platform::RecorderObject>* recorder, uint32_t* fetched) override {
    owner_.Call("NextRecorder", "NextRecorder");
    *fetched = next_ < owner_.recorderPaths.size() ? 1 : 0;
    if (*fetched == 0) return kSFalse;
    *recorder = std::make_unique<FakeRecorder>(owner_, owner_.recorderPaths[next_++]);
    return kSOk;
  }

 private:
  size_t next_ = 0;
};

class FakeDiscMaster : public platform::DiscMasterObject, public Counted {
 public:
  using Counted::Counted;
  HResult Open() override { return owner_.Call("Open", "Open"); }
  HResult EnumFormats(uint32_t room, uint32_t* fetched) override {
    *fetched = std::min<uint32_t>(room, 1);
    return owner_.Call("EnumFormats " + std::to_string(room), "EnumFormats");
  }
  HResult EnumDiscRecorders(std::unique_ptr<platform::RecorderEnumeration>* recorders) override {
    if (owner_.Call("EnumDiscRecorders", "EnumDiscRecorders")) return kEFail;
    *recorders = std::make_unique<FakeRecorderEnumeration>(owner_);
    return kSOk;
  }
  HResult SetActiveDiscRecorder(platform::RecorderObject* recorder) override {
    auto* fake = dynamic_cast<FakeRecorder*>(recorder);
    owner_.activeRecorder = fake ? fake->path_ : std::string();
    owner_.Call("SetActiveDiscRecorder " + owner_.activeRecorder, "SetActiveDiscRecorder");
    return fake ? kSOk : kInvalidArg;
  }
  HResult QueryJoliet(std::unique_ptr<platform::JolietFormat>* joliet) override {
    const HResult kNoInterface = static_cast<HResult>(0x80004002u);
    if (owner_.Call("QueryJoliet", "QueryJoliet", "", kNoInterface)) return kNoInterface;
    *joliet = std::make_unique<FakeJoliet>(owner_);
    return kSOk;
  }
  HResult RecordDisc(bool simulate, bool eject) override {
    owner_.Call(
        std::string("RecordDisc ") + (simulate ? "simulate" : "real") + (eject ? " eject" : ""),
        "RecordDisc");
    if (owner_.activeRecorder.empty() || !owner_.dataAdded)
      return static_cast<HResult>(0xC0040404u);
    return owner_.recordResult;
  }
  HResult Close() override { return owner_.Call("CloseMaster", "CloseMaster"); }
};

class FakeShell : public platform::ShellCdBurnObject, public Counted {
 public:
  using Counted::Counted;
  HResult HasRecordableDrive(bool* hasOne) override {
    if (owner_.Call("HasRecordableDrive", "HasRecordableDrive")) return kEFail;
    *hasOne = owner_.hasRecordableDrive;
    return kSOk;
  }
};

class FakeMaster2 : public platform::DiscMaster2Object, public Counted {
 public:
  using Counted::Counted;
  HResult GetItem(int32_t index, std::u16string* uniqueId) override {
    owner_.Call("GetItem " + std::to_string(index), "GetItem");
    if (index < 0 || static_cast<size_t>(index) >= owner_.imapi2Recorders.size())
      return kInvalidArg;
    *uniqueId = owner_.imapi2Recorders[static_cast<size_t>(index)];
    return kSOk;
  }
};

class FakeRecorder2 : public platform::Recorder2Object, public Counted {
 public:
  using Counted::Counted;
  HResult InitializeDiscRecorder(const std::u16string& uniqueId) override {
    return owner_.Call("InitializeDiscRecorder " + Narrow(uniqueId), "InitializeDiscRecorder");
  }
  HResult EjectMedia() override {
    owner_.ejected = true;
    return owner_.Call("EjectMedia", "EjectMedia");
  }
};

class FakeWriter2 : public platform::DataWriter2Object, public Counted {
 public:
  using Counted::Counted;
  HResult PutRecorder(platform::Recorder2Object& recorder) override {
    owner_.Call("PutRecorder", "PutRecorder");
    return dynamic_cast<FakeRecorder2*>(&recorder) ? kSOk : kEPointer;
  }
  HResult PutClientName(const std::u16string& name) override {
    return owner_.Call("PutClientName " + Narrow(name), "PutClientName");
  }
  HResult Write(platform::DiscStream& image) override {
    owner_.Call("WriteDisc", "WriteDisc");
    auto* stream = dynamic_cast<FakeStream*>(&image);
    if (stream == nullptr) return kEPointer;
    owner_.burnedImage = stream->data();
    return owner_.writeResult;
  }
};

template <typename Fake, typename Object>
HResult Create(FakeDiscRecording& owner, const char* call, std::unique_ptr<Object>* object) {
  if (owner.Call(call, call, "", platform::kClassNotRegistered))
    return platform::kClassNotRegistered;
  *object = std::make_unique<Fake>(owner);
  return kSOk;
}

}  // namespace

void FakeDiscRecording::Reset() {
  static_cast<FakeDiscScript&>(*this) = FakeDiscScript();
  std::lock_guard<platform::Lock> guard(lock_);
  log_.clear();
  occurrences_.clear();
  comDepth_ = 0;
}

HResult FakeDiscRecording::Call(const std::string& line, const std::string& call,
                                const std::string& argument, HResult failure) {
  std::lock_guard<platform::Lock> guard(lock_);
  log_.emplace_back(line, stageWatch != nullptr ? stageWatch->load() : 0);
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

void FakeDiscRecording::Count(int alive) {
  std::lock_guard<platform::Lock> guard(lock_);
  live_ += alive;
}

std::vector<std::string> FakeDiscRecording::Log() const {
  std::lock_guard<platform::Lock> guard(lock_);
  std::vector<std::string> lines;
  for (const auto& entry : log_) lines.push_back(entry.first);
  return lines;
}

int FakeDiscRecording::LiveObjects() const {
  std::lock_guard<platform::Lock> guard(lock_);
  return live_;
}

int FakeDiscRecording::ComDepth() const {
  std::lock_guard<platform::Lock> guard(lock_);
  return comDepth_;
}

HResult FakeDiscRecording::ComInit(const std::string& line) {
  Call(line, "CoInitialize");
  std::lock_guard<platform::Lock> guard(lock_);
  ++comDepth_;
  return kSOk;
}

void FakeDiscRecording::CoUninitialize() {
  Call("CoUninitialize", "CoUninitialize");
  std::lock_guard<platform::Lock> guard(lock_);
  --comDepth_;
}

HResult FakeDiscRecording::CreateShellCdBurn(std::unique_ptr<platform::ShellCdBurnObject>* o) {
  return Create<FakeShell>(*this, "CreateShellCdBurn", o);
}
HResult FakeDiscRecording::CreateDiscMaster(std::unique_ptr<platform::DiscMasterObject>* o) {
  return Create<FakeDiscMaster>(*this, "CreateDiscMaster", o);
}
HResult FakeDiscRecording::CreateDiscMaster2(std::unique_ptr<platform::DiscMaster2Object>* o) {
  return Create<FakeMaster2>(*this, "CreateDiscMaster2", o);
}
HResult FakeDiscRecording::CreateRecorder2(std::unique_ptr<platform::Recorder2Object>* o) {
  return Create<FakeRecorder2>(*this, "CreateRecorder2", o);
}
HResult FakeDiscRecording::CreateDataWriter2(std::unique_ptr<platform::DataWriter2Object>* o) {
  return Create<FakeWriter2>(*this, "CreateDataWriter2", o);
}

HResult FakeDiscRecording::CreateTemporaryStorage(uint32_t mode,
                                                  std::unique_ptr<platform::DiscStorage>* o) {
  if (Call("CreateTemporaryStorage " + Hex(mode), "CreateTemporaryStorage")) return kEFail;
  int number = 0;
  {
    std::lock_guard<platform::Lock> guard(lock_);
    number = occurrences_["CreateTemporaryStorage"];
  }
  *o = std::make_unique<FakeStorage>(*this, number);
  return kSOk;
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
