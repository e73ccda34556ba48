// A small FAT12 reader for tests, written from the FAT layout alone: it lists the root
// directory and follows cluster chains, so the assembler's output is checked by a
// reader that does not share its code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// A root directory entry; RootFiles fills the fields in this order.
struct FatFile {
  std::string name;  // 11-character directory form
  uint8_t attributes = 0;
  uint16_t firstCluster = 0;
  uint32_t size = 0;
  uint16_t writeDate = 0;
  uint16_t writeTime = 0;
  uint16_t creationDate = 0;
  uint16_t creationTime = 0;
  uint16_t accessDate = 0;
  size_t slot = 0;
};

class FatReader {
 public:
  explicit FatReader(const std::vector<uint8_t>& image) : image_(image) {}
  std::vector<FatFile> RootFiles() const;
  std::optional<FatFile> Find(const std::string& name11) const;
  /// Entry `cluster` of FAT copy 0 or 1, decoded independently of the assembler.
  uint16_t Entry(int copy, uint32_t cluster) const;
  /// The chain from `first`, or empty when it loops or leaves the volume.
  std::vector<uint16_t> Chain(uint16_t first) const;
  /// The file's bytes gathered through its chain.
  std::vector<uint8_t> Contents(const FatFile& file) const;

 private:
  const std::vector<uint8_t>& image_;
};

}  // namespace testsupport
