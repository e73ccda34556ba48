// In-memory files with scriptable read faults and a log of every open; outputs land in
// the same map when committed.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/File.h"

namespace fakes {

struct FileFaults {
  /// The n-th read call (from 1) on any handle fails outright; 0: none.
  int failReadNumber = 0;
  /// Reads that reach past this many bytes of the file deliver only up to it, as if the
  /// file ended there; the size still reports the full length.
  uint64_t shortReadsBeyond = UINT64_MAX;
  bool failSeek = false;
  bool failSize = false;
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
  platform::PathKind Kind(const std::string& path) override;
  std::unique_ptr<platform::OutputFile> CreateOutput(const std::string& path,
                                                     std::string* error) override;
  std::unique_ptr<platform::OutputFile> StandardOutput(std::string* error) override;

  FileFaults faults;
  std::vector<OpenCall> opens;
  int readCalls = 0;
  int openHandles = 0;
  std::map<std::string, std::vector<uint8_t>> files_;
};

}  // namespace fakes
