#include "tests/support/TestFiles.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testsupport {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  root_ = std::filesystem::temp_directory_path() /
          ("installer-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(root_);
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> Pattern(size_t count, uint8_t seed) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>((i * 31 + i / 251 + seed) | 1);
  return bytes;
}

std::vector<uint8_t> FormattedBaseImage(uint32_t extraSectors) {
  using namespace std::string_literals;
  // A jump, the OEM name, then the parameter block: 512 bytes per sector, 1 per cluster, 1
  // reserved, 2 FATs, 224 root entries, 2880 sectors, media F0, 9 sectors per FAT, 18 per
  // track, 2 heads; the extended boot signature; the boot sector's signature. Then two FATs
  // with only their media entries, and an empty root directory.
  std::string s = "\xEB\x3C\x90TESTBOOT\0\2\1\1\0\2\xE0\0\x40\x0B\xF0\t\0\x12\0\2\0"s;
  s += std::string(38 - s.size(), '\0') + "\x29" + std::string(471, '\0') + "\x55\xAA";
  const std::string fat = "\xF0\xFF\xFF"s + std::string(9 * 512 - 3, '\0');
  s += fat + fat + std::string(14 * 512, '\0') + std::string(extraSectors * 512, '\xF6');
  return {s.begin(), s.end()};
}

}  // namespace testsupport
