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
    position_ = offset;
    return true;
  }
  bool Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) override {
    *bytesRead = 0;
    if (++owner_.readCalls == owner_.faults.failReadNumber) return false;
    const uint64_t end = std::min<uint64_t>(bytes_.size(), owner_.faults.shortReadsBeyond);
    if (position_ >= end) return true;
    *bytesRead = static_cast<uint32_t>(std::min<uint64_t>(bytes, end - position_));
    std::memcpy(buffer, bytes_.data() + position_, *bytesRead);
    position_ += *bytesRead;
    return true;
  }
  bool Size(uint64_t* bytes) override {
    *bytes = bytes_.size();
    return true;
  }

 private:
  FakeFileSystem& owner_;
  const std::vector<uint8_t>& bytes_;
  uint64_t position_ = 0;
};

}  // namespace

std::unique_ptr<platform::File> FakeFileSystem::Open(const std::string& path,
                                                     const platform::FileOpenFlags& flags) {
  opens.push_back({path, flags});
  auto it = files_.find(path);
  return it == files_.end() ? nullptr : std::make_unique<FakeFile>(*this, it->second);
}

}  // namespace fakes
