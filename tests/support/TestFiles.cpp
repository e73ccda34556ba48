#include "tests/support/TestFiles.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "image/FloppyLayout.h"

namespace testsupport {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  root_ = std::filesystem::temp_directory_path() /
          ("installer-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(root_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
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
  using namespace image;
  using namespace std::string_literals;
  std::vector<uint8_t> base(kDataAreaOffset + extraSectors * kSectorBytes, kFormatFiller);
  // A jump, the OEM name, then the parameter block, little-endian: 512 bytes per sector, 1
  // per cluster, 1 reserved, 2 FATs, 224 root entries, 2880 sectors, media F0, 9 sectors per
  // FAT, 18 per track, 2 heads; the extended boot signature; the boot sector's signature.
  const std::string boot = "\xEB\x3C\x90TESTBOOT\0\2\1\1\0\2\xE0\0\x40\x0B\xF0\t\0\x12\0\2\0"s;
  std::fill(base.begin(), base.begin() + kDataAreaOffset, 0);
  std::copy(boot.begin(), boot.end(), base.begin());
  base[38] = 0x29;
  base[510] = 0x55;
  base[511] = 0xAA;
  for (uint32_t fat : {kFirstFatOffset, kSecondFatOffset}) {
    base[fat] = 0xF0;
    base[fat + 1] = base[fat + 2] = 0xFF;
  }
  return base;
}

}  // namespace testsupport
