// In-memory files with scriptable read faults and a log of every open.
#pragma once

#include <cstdint>
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
                                       const platform::FileOpenFlags& flags) override;
  platform::PathKind Kind(const std::string& path) override {
    return files_.count(path) ? platform::PathKind::RegularFile : platform::PathKind::Missing;
  }
  std::unique_ptr<platform::OutputFile> CreateOutput(const std::string&, std::string* e) override {
    return StandardOutput(e);
  }
  std::unique_ptr<platform::OutputFile> StandardOutput(std::string* error) override {
    *error = "the fake writes no files";
    return nullptr;
  }

  FileFaults faults;
  std::vector<OpenCall> opens;
  int readCalls = 0;
  int openHandles = 0;
  std::map<std::string, std::vector<uint8_t>> files_;
};

}  // namespace fakes
