// Helpers for tests that work on real files and real install.dat contents.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/mkinstalldat/DatWriter.h"

namespace testsupport {

/// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir() { std::filesystem::remove_all(root_, ignored_); }
  std::string Path(const std::string& name) const { return (root_ / name).string(); }

 private:
  std::filesystem::path root_;
  std::error_code ignored_;
};

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);
inline std::vector<uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

/// `count` bytes, each derived from its position and `seed`, so misplaced bytes show.
std::vector<uint8_t> Pattern(size_t count, uint8_t seed);
inline std::string Le(uint32_t value, int bytes) {
  return bytes == 0 ? "" : static_cast<char>(value) + Le(value >> 8, bytes - 1);
}

/// A freshly formatted 1.44 MB floppy's first 33 sectors, then `extraSectors` of 0xF6.
std::vector<uint8_t> FormattedBaseImage(uint32_t extraSectors = 0);

/// A data file with the three floppy entries.
inline std::vector<mkinstalldat::DatEntry> FloppyEntries(const std::vector<uint8_t>& base,
                                                         const std::vector<uint8_t>& kernelMap,
                                                         const std::vector<uint8_t>& readme) {
  return {{10002, base}, {10003, kernelMap}, {5100, readme}};
}

}  // namespace testsupport
