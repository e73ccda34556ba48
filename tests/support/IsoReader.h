// A small ISO 9660 reader for tests, written from the volume format alone: it decodes
// descriptors, directory records and path tables so that the builder's output is checked
// field by field by code that does not share the builder's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct IsoRecord {
  uint32_t offset = 0;  // within its sector
  uint8_t length = 0;
  uint32_t extent = 0;
  uint32_t dataLength = 0;
  bool bothOrdersAgree = true;  // every both-order field has equal halves
  uint8_t date[7] = {};
  uint8_t flags = 0;
  std::string identifier;
};

class IsoReader {
 public:
  IsoReader(const uint8_t* image, size_t bytes) : image_(image), bytes_(bytes) {}
  const uint8_t* Sector(uint32_t n) const { return image_ + size_t{n} * 2048; }
  uint32_t Sectors() const { return static_cast<uint32_t>(bytes_ / 2048); }
  /// A both-order 32-bit field; 0xFFFFFFFF when its halves differ.
  uint32_t Both32(uint32_t sector, uint32_t offset) const;
  uint16_t Both16(uint32_t sector, uint32_t offset) const;
  uint32_t Le32(uint32_t sector, uint32_t offset) const;
  uint32_t Be32(uint32_t sector, uint32_t offset) const;
  std::string Text(uint32_t sector, uint32_t offset, uint32_t bytes) const;
  IsoRecord RecordAt(const uint8_t* at) const;
  /// The records of a one-sector directory, up to the first zero length byte.
  std::vector<IsoRecord> Directory(uint32_t sector) const;
  /// Wide (UCS-2 big-endian) identifier to 8-bit text; '?' for units above 0xFF.
  static std::string Narrow(const std::string& wide);

 private:
  const uint8_t* image_;
  size_t bytes_;
};

}  // namespace testsupport
