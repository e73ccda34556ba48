// A small FAT12 reader for tests, written from the FAT layout alone, so that images are
// checked by code that does not share the assembler's.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

struct FatFile {
  std::string entry;  // the whole 32-byte root directory entry
  size_t slot = 0;
};

class FatReader {
 public:
  explicit FatReader(const std::vector<uint8_t>& image) : image_(image) {}
  /// The root directory entry named `name11` (directory form) before the first unused slot.
  std::optional<FatFile> Find(const std::string& name11) const {
    for (size_t slot = 0; slot < 224 && image_[19 * 512 + slot * 32] != 0; ++slot) {
      const uint8_t* e = &image_[19 * 512 + slot * 32];
      if (std::string(e, e + 11) != name11) continue;
      return FatFile{std::string(e, e + 32), slot};
    }
    return std::nullopt;
  }
  /// Entry `cluster` of the first FAT.
  uint16_t Entry(uint32_t cluster) const {
    const uint8_t* pair = &image_[512 + cluster + cluster / 2];
    return cluster % 2 == 0 ? (pair[0] | (pair[1] & 0x0F) << 8) : (pair[0] >> 4 | pair[1] << 4);
  }
  /// The file's bytes gathered through its chain; none when the chain loops, leaves the
  /// volume or ends in a free entry instead of an end marker.
  std::vector<uint8_t> Contents(const FatFile& file) const {
    const auto e = reinterpret_cast<const uint8_t*>(file.entry.data());
    std::vector<uint8_t> bytes;
    for (uint32_t cluster = e[26] | e[27] << 8; cluster >= 2 && cluster < 0xFF0;
         cluster = Entry(cluster)) {
      if (bytes.size() > 2880 * 512 || cluster > 2848 || Entry(cluster) == 0) return {};
      bytes.insert(bytes.end(), &image_[(31 + cluster) * 512],
                   &image_[(32 + cluster) * 512 - 1] + 1);
    }
    bytes.resize(std::min<size_t>(bytes.size(), e[28] | e[29] << 8 | e[30] << 16));
    return bytes;
  }

 private:
  const std::vector<uint8_t>& image_;
};

}  // namespace testsupport
