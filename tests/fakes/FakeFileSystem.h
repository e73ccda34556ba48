// In-memory files with scriptable read faults and a log of every open.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>
#include "platform/File.h"

namespace fakes {

struct FileFaults {
  int failReadNumber = 0;  ///< the n-th read call (from 1) on any handle fails; 0: none
  /// Reads stop at this many bytes, as if the file ended there; its size stays the same.
  uint64_t shortReadsBeyond = UINT64_MAX;
};

class FakeFileSystem : public platform::FileSystem {
 public:
  struct OpenCall {
    std::string path;
    platform::FileOpenFlags flags;
  };
  void Add(const std::string& path, std::vector<uint8_t> bytes) { files_[path] = std::move(bytes); }
  std::unique_ptr<platform::File> Open(const std::string& path,
                                       const platform::FileOpenFlags& flags) override {
    opens.push_back({path, flags});
    return files_.count(path) ? std::make_unique<FakeFile>(*this, files_[path]) : nullptr;
  }
  platform::PathKind Kind(const std::string& path) override {
    return files_.count(path) ? platform::PathKind::RegularFile : platform::PathKind::Missing;
  }
  std::unique_ptr<platform::OutputFile> CreateOutput(const std::string&, std::string* e) override {
    return StandardOutput(e);
  }
  std::unique_ptr<platform::OutputFile> StandardOutput(std::string* e) override {
    return *e = "the fake writes no files", nullptr;
  }
  FileFaults faults;
  std::vector<OpenCall> opens;
  int readCalls = 0, openHandles = 0;
  std::map<std::string, std::vector<uint8_t>> files_;

 private:
  class FakeFile : public platform::File {
   public:
    FakeFile(FakeFileSystem& owner, const std::vector<uint8_t>& bytes)
        : owner_(owner), bytes_(bytes) {
      ++owner_.openHandles;
    }
    ~FakeFile() override { --owner_.openHandles; }
    bool Seek(uint32_t offset) override { return position_ = offset, true; }
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
    bool Size(uint64_t* bytes) override { return *bytes = bytes_.size(), true; }

   private:
    FakeFileSystem& owner_;
    const std::vector<uint8_t>& bytes_;
    uint64_t position_ = 0;
  };
};
}  // namespace fakes
