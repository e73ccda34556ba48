#include "tests/support/FatReader.h"

#include <algorithm>

namespace testsupport {

namespace {
uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
}  // namespace

std::vector<FatFile> FatReader::RootFiles() const {
  std::vector<FatFile> files;
  for (size_t slot = 0; slot < 224; ++slot) {
    const uint8_t* entry = image_.data() + 19 * 512 + slot * 32;
    if (entry[0] == 0x00) break;
    if (entry[0] == 0xE5) continue;
    FatFile file;
    file.name.assign(reinterpret_cast<const char*>(entry), 11);
    file.attributes = entry[11];
    file.creationTime = Le16(entry + 14);
    file.creationDate = Le16(entry + 16);
    file.accessDate = Le16(entry + 18);
    file.writeTime = Le16(entry + 22);
    file.writeDate = Le16(entry + 24);
    file.firstCluster = Le16(entry + 26);
    file.size = static_cast<uint32_t>(Le16(entry + 28) | (Le16(entry + 30) << 16));
    file.slot = slot;
    files.push_back(file);
  }
  return files;
}

std::optional<FatFile> FatReader::Find(const std::string& name11) const {
  for (const FatFile& file : RootFiles()) {
    if (file.name == name11) return file;
  }
  return std::nullopt;
}

uint16_t FatReader::Entry(int copy, uint32_t cluster) const {
  const uint8_t* fat = image_.data() + 512 + copy * 9 * 512;
  const uint32_t at = cluster + cluster / 2;
  const uint16_t pair = static_cast<uint16_t>(fat[at] | (fat[at + 1] << 8));
  return cluster % 2 == 0 ? (pair & 0x0FFF) : (pair >> 4);
}

std::vector<uint16_t> FatReader::Chain(uint16_t first) const {
  std::vector<uint16_t> chain;
  for (uint16_t cluster = first; cluster >= 2 && cluster < 0xFF0;) {
    if (chain.size() > 2880 || cluster > 2848) return {};
    chain.push_back(cluster);
    cluster = Entry(0, cluster);
    if (cluster == 0) return {};  // a chain must end with an end marker, not a free entry
  }
  return chain;
}

std::vector<uint8_t> FatReader::Contents(const FatFile& file) const {
  std::vector<uint8_t> bytes;
  for (uint16_t cluster : Chain(file.firstCluster)) {
    const size_t at = (31u + cluster) * 512u;
    bytes.insert(bytes.end(), image_.begin() + static_cast<long>(at),
                 image_.begin() + static_cast<long>(at + 512));
  }
  bytes.resize(std::min<size_t>(bytes.size(), file.size));
  return bytes;
}

}  // namespace testsupport
