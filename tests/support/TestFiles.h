// Helpers for tests that work on real files and real install.dat contents.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/mkinstalldat/DatWriter.h"

namespace testsupport {

/// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir() { std::filesystem::create_directories(root_); }
  ~TempDir() { std::filesystem::remove_all(root_, ignored_); }
  std::string Path(const std::string& name) const { return (root_ / name).string(); }

 private:
  static inline std::atomic<int> counter_{0};
  std::filesystem::path root_ =
      std::filesystem::temp_directory_path() /
      ("installer-test-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
       std::to_string(counter_++));
  std::error_code ignored_;
};

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

/// `count` bytes, each derived from its position and `seed`, so misplaced bytes show.
inline std::vector<uint8_t> Pattern(size_t count, uint8_t seed) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>((i * 31 + i / 251 + seed) | 1);
  return bytes;
}

inline std::string Le(uint32_t value, int bytes) {
  return bytes == 0 ? "" : static_cast<char>(value) + Le(value >> 8, bytes - 1);
}

/// A freshly formatted 1.44 MB floppy's first 33 sectors, then `extraSectors` of 0xF6.
inline std::vector<uint8_t> FormattedBaseImage(uint32_t extraSectors = 0) {
  using namespace std::string_literals;
  std::string s = "\xEB\x3C\x90TESTBOOT\0\2\1\1\0\2\xE0\0\x40\x0B\xF0\t\0\x12\0\2\0"s;
  s += std::string(38 - s.size(), '\0') + "\x29" + std::string(471, '\0') + "\x55\xAA";
  const std::string fat = "\xF0\xFF\xFF"s + std::string(9 * 512 - 3, '\0');
  s += fat + fat + std::string(14 * 512, '\0') + std::string(extraSectors * 512, '\xF6');
  return {s.begin(), s.end()};
}

inline std::vector<mkinstalldat::DatEntry> FloppyEntries(const std::vector<uint8_t>& base,
                                                         const std::vector<uint8_t>& kernelMap,
                                                         const std::vector<uint8_t>& readme) {
  return {{10002, base}, {10003, kernelMap}, {5100, readme}};
}

/// The floppy's base and KERNEL.MAP, then CD files named `names`, of `sizes` bytes.
inline std::vector<mkinstalldat::DatEntry> CdEntries(const std::vector<std::string>& names,
                                                     const std::vector<uint32_t>& sizes) {
  std::vector<mkinstalldat::DatEntry> entries = {{10002, FormattedBaseImage()},
                                                 {10003, Pattern(1000, 9)}};
  for (size_t i = 0; i < names.size(); ++i) {
    entries.push_back({static_cast<uint16_t>(5000 + i), Bytes(names[i])});
    entries.push_back({static_cast<uint16_t>(5100 + i), Pattern(sizes[i], uint8_t(i))});
  }
  return entries;
}

}  // namespace testsupport
