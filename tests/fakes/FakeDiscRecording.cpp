#include "tests/fakes/FakeDiscRecording.h"

#include <algorithm>
#include <cstring>

namespace fakes {

using platform::HResult;
using platform::kEFail;
using platform::kSFalse;
using platform::kSOk;

std::string Narrow(const std::u16string& text) {
  std::string narrow;
  for (char16_t unit : text) narrow.push_back(unit < 0x100 ? static_cast<char>(unit) : '?');
  return narrow;
}

namespace {

using Bytes = std::vector<uint8_t>;

struct FakeProperty {
  uint32_t id = 0;
  uint16_t type = 0;
  int64_t number = 0;
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

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

// Every fake object counts itself alive until it is released.
class Counted {
 public:
  explicit Counted(FakeDiscRecording& owner) : owner_(owner) { owner_.Born(); }
  virtual ~Counted() { owner_.Died(); }

 protected:
  FakeDiscRecording& owner_;
};

class FakeStream : public platform::DiscStream, public Counted {
 public:
  FakeStream(FakeDiscRecording& owner, std::shared_ptr<Bytes> data, std::string name)
      : Counted(owner), data_(std::move(data)), name_(std::move(name)) {}
  HResult Write(const void* bytes, uint32_t count, uint32_t* written) override {
    owner_.Note("Write " + name_ + " " + std::to_string(count));
    *written = 0;
    if (owner_.Fails("Write", name_)) return kEFail;
    const auto* from = static_cast<const uint8_t*>(bytes);
    if (data_->size() < position_ + count) data_->resize(position_ + count);
    std::copy(from, from + count, data_->begin() + static_cast<long>(position_));
    position_ += count;
    *written = count;
    return kSOk;
  }
  HResult CopyTo(platform::DiscStream& target, uint64_t bytes) override {
    owner_.Note("CopyTo " + name_ + " " + std::to_string(bytes));
    auto* other = dynamic_cast<FakeStream*>(&target);
    if (other == nullptr) return platform::kEPointer;
    const uint64_t available =
        std::min<uint64_t>(bytes, data_->size() - std::min<uint64_t>(position_, data_->size()));
    uint32_t written = 0;
    HResult result =
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
    const std::string narrow = Narrow(name);
    owner_.Note("CreateStream " + std::to_string(number_) + " " + narrow + " " + Hex(mode));
    // Compound files take stream names of up to 31 characters without ! / \ or :.
    if (owner_.Fails("CreateStream", narrow) || name.size() > 31 ||
        name.find_first_of(u"!/\\:") != std::u16string::npos) {
      return static_cast<HResult>(0x800300FCu);  // STG_E_INVALIDNAME
    }
    streams[name] = std::make_shared<Bytes>();  // STGM_CREATE replaces a stream of that name
    *stream = std::make_unique<FakeStream>(owner_, streams[name], narrow);
    return kSOk;
  }
  HResult OpenStream(const std::u16string& name, uint32_t mode,
                     std::unique_ptr<platform::DiscStream>* stream) override {
    const std::string narrow = Narrow(name);
    owner_.Note("OpenStream " + std::to_string(number_) + " " + narrow + " " + Hex(mode));
    auto it = streams.find(name);
    if (owner_.Fails("OpenStream", narrow) || it == streams.end())
      return static_cast<HResult>(0x80030002u);
    *stream = std::make_unique<FakeStream>(owner_, it->second, narrow);
    return kSOk;
  }
  std::map<std::u16string, std::shared_ptr<Bytes>> streams;

 private:
  int number_;
};

class FakePropertyEnumerator : public platform::PropertyEnumerator, public Counted {
 public:
  FakePropertyEnumerator(FakeDiscRecording& owner, std::vector<FakeProperty> properties)
      : Counted(owner), properties_(std::move(properties)) {}
  HResult Next(uint32_t* id, uint16_t* type) override {
    if (next_ >= properties_.size()) return kSFalse;
    *id = properties_[next_].id;
    *type = properties_[next_].type;
    ++next_;
    return kSOk;
  }

 private:
  std::vector<FakeProperty> properties_;
  size_t next_ = 0;
};

class FakePropertySet : public platform::PropertySet, public Counted {
 public:
  FakePropertySet(FakeDiscRecording& owner, std::vector<FakeProperty> properties)
      : Counted(owner), properties_(std::move(properties)) {}
  HResult Enum(std::unique_ptr<platform::PropertyEnumerator>* enumerator) override {
    owner_.Note("Enum");
    if (owner_.Fails("Enum")) return kEFail;
    *enumerator = std::make_unique<FakePropertyEnumerator>(owner_, properties_);
    return kSOk;
  }
  HResult Read(uint32_t id, platform::PropertyValue* value) override {
    owner_.Note("ReadMultiple " + std::to_string(id));
    for (const FakeProperty& property : properties_) {
      if (property.id != id) continue;
      value->type = property.type;
      value->number = property.number;
      value->text = property.text;
      if (property.type == platform::kVtStream) {
        value->stream = std::make_unique<FakeStream>(owner_, std::make_shared<Bytes>(), "property");
      }
      return kSOk;
    }
    return kSFalse;
  }
  HResult Write(uint32_t id, const platform::PropertyValue& value, uint32_t firstNewId) override {
    owner_.Note("WriteMultiple " + std::to_string(id));
    WrittenProperty written;
    written.type = value.type;
    written.number = value.number;
    written.text = value.text;
    written.firstNewId = firstNewId;
    if (auto* stream = dynamic_cast<FakeStream*>(value.stream.get())) {
      written.hadStream = true;
      written.streamBytes = stream->data();
    }
    owner_.writtenProperties[id] = written;
    return kSOk;
  }

 private:
  std::vector<FakeProperty> properties_;
};

class FakeJoliet : public platform::JolietFormat, public Counted {
 public:
  using Counted::Counted;
  HResult GetJolietProperties(std::unique_ptr<platform::PropertySet>* properties) override {
    owner_.Note("GetJolietProperties");
    if (owner_.Fails("GetJolietProperties")) return kEFail;
    *properties = std::make_unique<FakePropertySet>(owner_, kJolietProperties);
    return kSOk;
  }
  HResult SetJolietProperties(platform::PropertySet&) override {
    owner_.Note("SetJolietProperties");
    return owner_.Fails("SetJolietProperties") ? kEFail : kSOk;
  }
  HResult AddData(platform::DiscStorage& storage, int32_t overwrite) override {
    owner_.Note("AddData " + std::to_string(overwrite));
    if (owner_.Fails("AddData")) return kEFail;
    auto* fake = dynamic_cast<FakeStorage*>(&storage);
    if (fake == nullptr) return platform::kEPointer;
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
    owner_.Note("GetPath " + path_);
    if (owner_.Fails("GetPath", path_)) return kEFail;
    path->assign(path_.begin(), path_.end());
    return kSOk;
  }
  HResult Close() override {
    owner_.Note("CloseRecorder " + path_);
    return kSOk;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class FakeRecorderEnumeration : public platform::RecorderEnumeration, public Counted {
 public:
  using Counted::Counted;
  HResult Next(std::unique_ptr<platform::RecorderObject>* recorder, uint32_t* fetched) override {
    owner_.Note("NextRecorder");
    *fetched = 0;
    if (next_ >= owner_.recorderPaths.size()) return kSFalse;
    *recorder = std::make_unique<FakeRecorder>(owner_, owner_.recorderPaths[next_++]);
    *fetched = 1;
    return kSOk;
  }

 private:
  size_t next_ = 0;
};

class FakeDiscMaster : public platform::DiscMasterObject, public Counted {
 public:
  using Counted::Counted;
  HResult Open() override {
    owner_.Note("Open");
    return owner_.Fails("Open") ? kEFail : kSOk;
  }
  HResult EnumFormats(uint32_t room, uint32_t* fetched) override {
    owner_.Note("EnumFormats " + std::to_string(room));
    *fetched = std::min<uint32_t>(room, 1);
    return kSOk;
  }
  HResult EnumDiscRecorders(std::unique_ptr<platform::RecorderEnumeration>* recorders) override {
    owner_.Note("EnumDiscRecorders");
    if (owner_.Fails("EnumDiscRecorders")) return kEFail;
    *recorders = std::make_unique<FakeRecorderEnumeration>(owner_);
    return kSOk;
  }
  HResult SetActiveDiscRecorder(platform::RecorderObject* recorder) override {
    auto* fake = dynamic_cast<FakeRecorder*>(recorder);
    owner_.activeRecorder = fake ? fake->path() : std::string();
    owner_.Note("SetActiveDiscRecorder " + owner_.activeRecorder);
    return fake ? kSOk : static_cast<HResult>(0x80070057u);
  }
  HResult QueryJoliet(std::unique_ptr<platform::JolietFormat>* joliet) override {
    owner_.Note("QueryJoliet");
    if (owner_.Fails("QueryJoliet")) return static_cast<HResult>(0x80004002u);  // E_NOINTERFACE
    *joliet = std::make_unique<FakeJoliet>(owner_);
    return kSOk;
  }
  HResult RecordDisc(bool simulate, bool eject) override {
    owner_.Note(std::string("RecordDisc ") + (simulate ? "simulate" : "real") +
                (eject ? " eject" : ""));
    if (owner_.activeRecorder.empty() || !owner_.dataAdded)
      return static_cast<HResult>(0xC0040404u);
    return owner_.recordResult;
  }
  HResult Close() override {
    owner_.Note("CloseMaster");
    return kSOk;
  }
};

class FakeShell : public platform::ShellCdBurnObject, public Counted {
 public:
  using Counted::Counted;
  HResult HasRecordableDrive(bool* hasOne) override {
    owner_.Note("HasRecordableDrive");
    if (owner_.Fails("HasRecordableDrive")) return kEFail;
    *hasOne = owner_.hasRecordableDrive;
    return kSOk;
  }
};

class FakeMaster2 : public platform::DiscMaster2Object, public Counted {
 public:
  using Counted::Counted;
  HResult GetItem(int32_t index, std::u16string* uniqueId) override {
    owner_.Note("GetItem " + std::to_string(index));
    if (index < 0 || static_cast<size_t>(index) >= owner_.imapi2Recorders.size()) {
      return static_cast<HResult>(0x80070057u);
    }
    *uniqueId = owner_.imapi2Recorders[static_cast<size_t>(index)];
    return kSOk;
  }
};

class FakeRecorder2 : public platform::Recorder2Object, public Counted {
 public:
  using Counted::Counted;
  HResult InitializeDiscRecorder(const std::u16string& uniqueId) override {
    owner_.Note("InitializeDiscRecorder " + Narrow(uniqueId));
    return owner_.Fails("InitializeDiscRecorder") ? kEFail : kSOk;
  }
  HResult EjectMedia() override {
    owner_.Note("EjectMedia");
    owner_.ejected = true;
    return kSOk;
  }
};

class FakeWriter2 : public platform::DataWriter2Object, public Counted {
 public:
  using Counted::Counted;
  HResult PutRecorder(platform::Recorder2Object& recorder) override {
    owner_.Note("PutRecorder");
    return dynamic_cast<FakeRecorder2*>(&recorder) ? kSOk : platform::kEPointer;
  }
  HResult PutClientName(const std::u16string& name) override {
    owner_.Note("PutClientName " + Narrow(name));
    return owner_.Fails("PutClientName") ? kEFail : kSOk;
  }
  HResult Write(platform::DiscStream& image) override {
    owner_.Note("WriteDisc");
    auto* stream = dynamic_cast<FakeStream*>(&image);
    if (stream == nullptr) return platform::kEPointer;
    owner_.burnedImage = stream->data();
    return owner_.writeResult;
  }
};

}  // namespace

void FakeDiscRecording::Reset() {
  static_cast<FakeDiscScript&>(*this) = FakeDiscScript();
  std::lock_guard<platform::Lock> guard(lock_);
  log_.clear();
  logStages_.clear();
  occurrences_.clear();
  comDepth_ = 0;
}

void FakeDiscRecording::Note(const std::string& line) {
  std::lock_guard<platform::Lock> guard(lock_);
  log_.push_back(line);
  logStages_.push_back(stageWatch != nullptr ? stageWatch->load() : 0);
}

int32_t FakeDiscRecording::StageOf(const std::string& line) const {
  std::lock_guard<platform::Lock> guard(lock_);
  const auto found = std::find(log_.begin(), log_.end(), line);
  return found == log_.end() ? kNotCalled : logStages_[static_cast<size_t>(found - log_.begin())];
}

bool FakeDiscRecording::Fails(const std::string& call, const std::string& argument) {
  std::lock_guard<platform::Lock> guard(lock_);
  const int occurrence = ++occurrences_[call];
  return failing.count(call) > 0 || failing.count(call + "#" + std::to_string(occurrence)) > 0 ||
         (!argument.empty() && failing.count(call + ":" + argument) > 0);
}

void FakeDiscRecording::Born() {
  std::lock_guard<platform::Lock> guard(lock_);
  ++live_;
}

void FakeDiscRecording::Died() {
  std::lock_guard<platform::Lock> guard(lock_);
  --live_;
}

std::vector<std::string> FakeDiscRecording::Log() const {
  std::lock_guard<platform::Lock> guard(lock_);
  return log_;
}

int FakeDiscRecording::LiveObjects() const {
  std::lock_guard<platform::Lock> guard(lock_);
  return live_;
}

int FakeDiscRecording::ComDepth() const {
  std::lock_guard<platform::Lock> guard(lock_);
  return comDepth_;
}

HResult FakeDiscRecording::CoInitialize() {
  Note("CoInitialize");
  std::lock_guard<platform::Lock> guard(lock_);
  ++comDepth_;
  return kSOk;
}

HResult FakeDiscRecording::CoInitializeEx(uint32_t apartment) {
  Note("CoInitializeEx " + std::to_string(apartment));
  std::lock_guard<platform::Lock> guard(lock_);
  ++comDepth_;
  return kSOk;
}

void FakeDiscRecording::CoUninitialize() {
  Note("CoUninitialize");
  std::lock_guard<platform::Lock> guard(lock_);
  --comDepth_;
}

template <typename Fake, typename Object>
HResult FakeDiscRecording::Create(const char* call, std::unique_ptr<Object>* object) {
  Note(call);
  if (Fails(call)) return platform::kClassNotRegistered;
  *object = std::make_unique<Fake>(*this);
  return kSOk;
}

HResult FakeDiscRecording::CreateShellCdBurn(std::unique_ptr<platform::ShellCdBurnObject>* object) {
  return Create<FakeShell>("CreateShellCdBurn", object);
}

HResult FakeDiscRecording::CreateDiscMaster(std::unique_ptr<platform::DiscMasterObject>* object) {
  return Create<FakeDiscMaster>("CreateDiscMaster", object);
}

HResult FakeDiscRecording::CreateTemporaryStorage(uint32_t mode,
                                                  std::unique_ptr<platform::DiscStorage>* storage) {
  Note("CreateTemporaryStorage " + Hex(mode));
  if (Fails("CreateTemporaryStorage")) return kEFail;
  int number = 0;
  {
    std::lock_guard<platform::Lock> guard(lock_);
    number = occurrences_["CreateTemporaryStorage"];
  }
  *storage = std::make_unique<FakeStorage>(*this, number);
  return kSOk;
}

HResult FakeDiscRecording::CreateDiscMaster2(std::unique_ptr<platform::DiscMaster2Object>* object) {
  return Create<FakeMaster2>("CreateDiscMaster2", object);
}

HResult FakeDiscRecording::CreateRecorder2(std::unique_ptr<platform::Recorder2Object>* object) {
  return Create<FakeRecorder2>("CreateRecorder2", object);
}

HResult FakeDiscRecording::CreateDataWriter2(std::unique_ptr<platform::DataWriter2Object>* object) {
  return Create<FakeWriter2>("CreateDataWriter2", object);
}

uint32_t FakeDiscRecording::QueryDosDevice(const std::string& name, char* buffer, uint32_t size) {
  auto it = dosDevices.find(name);
  if (it == dosDevices.end()) return 0;
  const std::string& targets = it->second;  // zero-separated strings
  if (targets.size() + 2 > size) return 0;  // too small: the call fails
  std::memcpy(buffer, targets.data(), targets.size());
  buffer[targets.size()] = '\0';
  buffer[targets.size() + 1] = '\0';
  return static_cast<uint32_t>(targets.size() + 2);
}

}  // namespace fakes
