#include "tests/fakes/FakeFileSystem.h"

#include <algorithm>
#include <cstring>

namespace fakes {

namespace {

class FakeFile : public platform::File {
 public:
  FakeFile(FakeFileSystem& owner, const std::vector<uint8_t>& bytes)
      : owner_(owner), bytes_(bytes) {
    ++owner_.openHandles;
  }
  ~FakeFile() override { --owner_.openHandles; }

  bool Seek(uint32_t offset) override {
    if (owner_.faults.failSeek) return false;
    position_ = offset;
    return true;
  }

  bool Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) override {
    *bytesRead = 0;
    if (++owner_.readCalls == owner_.faults.failReadNumber) return false;
    const uint64_t end = std::min<uint64_t>(bytes_.size(), owner_.faults.shortReadsBeyond);
    if (position_ < end) {
      const uint64_t available = std::min<uint64_t>(bytes, end - position_);
      std::memcpy(buffer, bytes_.data() + position_, available);
      *bytesRead = static_cast<uint32_t>(available);
      position_ += available;
    }
    return true;
  }

  bool Size(uint64_t* bytes) override {
    if (owner_.faults.failSize) return false;
    *bytes = bytes_.size();
    return true;
  }

 private:
  FakeFileSystem& owner_;
  const std::vector<uint8_t>& bytes_;
  uint64_t position_ = 0;
};

// Gathers the bytes and hands them over on Commit.
class FakeOutput : public platform::OutputFile {
 public:
  FakeOutput(std::map<std::string, std::vector<uint8_t>>& files, std::string path)
      : files_(files), path_(std::move(path)) {}
  bool Write(const uint8_t* data, size_t size, std::string*) override {
    bytes_.insert(bytes_.end(), data, data + size);
    return true;
  }
  bool Commit(std::string*) override {
    files_[path_] = std::move(bytes_);
    return true;
  }

 private:
  std::map<std::string, std::vector<uint8_t>>& files_;
  std::string path_;
  std::vector<uint8_t> bytes_;
};

}  // namespace

std::unique_ptr<platform::File> FakeFileSystem::Open(const std::string& path,
                                                     const platform::FileOpenFlags& flags) {
  opens.push_back({path, flags});
  auto it = files_.find(path);
  if (it == files_.end()) return nullptr;
  return std::make_unique<FakeFile>(*this, it->second);
}

platform::PathKind FakeFileSystem::Kind(const std::string& path) {
  return files_.count(path) != 0 ? platform::PathKind::RegularFile : platform::PathKind::Missing;
}

std::unique_ptr<platform::OutputFile> FakeFileSystem::CreateOutput(const std::string& path,
                                                                   std::string*) {
  return std::make_unique<FakeOutput>(files_, path);
}

std::unique_ptr<platform::OutputFile> FakeFileSystem::StandardOutput(std::string* error) {
  *error = "no standard output here";
  return nullptr;
}

}  // namespace fakes
