// A small FAT12 reader for tests, written from the FAT layout alone: it lists the root
// directory and follows cluster chains, so the assembler's output is checked by a
// reader that does not share its code.
#pragma once

#include <algorithm>
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
  std::vector<FatFile> RootFiles() const {
    std::vector<FatFile> files;
    for (size_t slot = 0; slot < 224; ++slot) {
      const uint8_t* entry = image_.data() + 19 * 512 + slot * 32;
      const auto le16 = [entry](int at) { return uint16_t(entry[at] | entry[at + 1] << 8); };
      if (entry[0] == 0x00) break;
      if (entry[0] == 0xE5) continue;
      files.push_back({std::string(reinterpret_cast<const char*>(entry), 11), entry[11], le16(26),
                       static_cast<uint32_t>(le16(28) | le16(30) << 16), le16(24), le16(22),
                       le16(16), le16(14), le16(18), slot});
    }
    return files;
  }
  std::optional<FatFile> Find(const std::string& name11) const {
    for (const FatFile& file : RootFiles())
      if (file.name == name11) return file;
    return std::nullopt;
  }
  /// Entry `cluster` of FAT copy 0 or 1, decoded independently of the assembler.
  uint16_t Entry(int copy, uint32_t cluster) const {
    const uint8_t* pair = image_.data() + 512 + copy * 9 * 512 + cluster + cluster / 2;
    return cluster % 2 == 0 ? (pair[0] | (pair[1] & 0x0F) << 8) : (pair[0] >> 4 | pair[1] << 4);
  }
  /// The chain from `first`, or empty when it loops or leaves the volume.
  std::vector<uint16_t> Chain(uint16_t first) const {
    std::vector<uint16_t> chain;
    for (uint16_t cluster = first; cluster >= 2 && cluster < 0xFF0; cluster = Entry(0, cluster)) {
      if (chain.size() > 2880 || cluster > 2848) return {};
      chain.push_back(cluster);
      if (Entry(0, cluster) == 0) return {};  // a chain ends with an end marker, not a free entry
    }
    return chain;
  }
  /// The file's bytes gathered through its chain.
  std::vector<uint8_t> Contents(const FatFile& file) const {
    std::vector<uint8_t> bytes;
    for (uint16_t cluster : Chain(file.firstCluster)) {
      const auto at = image_.begin() + (31 + cluster) * 512;
      bytes.insert(bytes.end(), at, at + 512);
    }
    bytes.resize(std::min<size_t>(bytes.size(), file.size));
    return bytes;
  }

 private:
  const std::vector<uint8_t>& image_;
};

}  // namespace testsupport
