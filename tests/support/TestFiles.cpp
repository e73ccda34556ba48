#include "tests/support/TestFiles.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "image/FloppyLayout.h"
#include "platform/ByteOrder.h"

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

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> Pattern(size_t count, uint8_t seed) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>((i * 31 + i / 251 + seed) | 1);
  return bytes;
}

std::vector<uint8_t> FormattedBaseImage(uint32_t extraSectors) {
  using namespace image;
  using platform::PutLe16;
  using platform::PutLe32;
  std::vector<uint8_t> base(kDataAreaOffset + extraSectors * kSectorBytes, 0);
  uint8_t* boot = base.data();
  boot[0] = 0xEB;
  boot[1] = 0x3C;
  boot[2] = 0x90;
  for (int i = 0; i < 8; ++i) boot[3 + i] = static_cast<uint8_t>("TESTBOOT"[i]);
  PutLe16(boot + 11, 512);   // bytes per sector
  boot[13] = 1;              // sectors per cluster
  PutLe16(boot + 14, 1);     // reserved sectors
  boot[16] = 2;              // FATs
  PutLe16(boot + 17, 224);   // root entries
  PutLe16(boot + 19, 2880);  // sectors
  boot[21] = 0xF0;           // media
  PutLe16(boot + 22, 9);     // sectors per FAT
  PutLe16(boot + 24, 18);    // sectors per track
  PutLe16(boot + 26, 2);     // heads
  boot[38] = 0x29;
  boot[510] = 0x55;
  boot[511] = 0xAA;
  for (uint32_t fat : {kFirstFatOffset, kSecondFatOffset}) {
    base[fat] = 0xF0;
    base[fat + 1] = 0xFF;
    base[fat + 2] = 0xFF;
  }
  for (size_t i = kDataAreaOffset; i < base.size(); ++i) base[i] = kFormatFiller;
  return base;
}

std::vector<mkinstalldat::DatEntry> FloppyEntries(const std::vector<uint8_t>& base,
                                                  const std::vector<uint8_t>& kernelMap,
                                                  const std::vector<uint8_t>& readme) {
  return {{10002, base}, {10003, kernelMap}, {5100, readme}};
}

}  // namespace testsupport
