// A small ISO 9660 reader for tests, written from the volume format alone: it decodes
// descriptors, directory records and path tables so that the builder's output is checked
// field by field by code that does not share the builder's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct IsoRecord {
  uint8_t length = 0;
  uint32_t extent = 0;
  uint32_t dataLength = 0;
  bool bothOrdersAgree = true;  // every both-order field has equal halves
  std::vector<uint8_t> date;    // the 7 bytes of the recording date
  uint8_t flags = 0;
  std::string identifier;
};

class IsoReader {
 public:
  explicit IsoReader(const uint8_t* image) : image_(image) {}
  const uint8_t* Sector(uint32_t n) const { return image_ + size_t{n} * 2048; }
  /// Unsigned numbers of `n` bytes, little- and big-endian.
  static uint32_t Le(const uint8_t* p, int n) { return n == 0 ? 0 : Le(p + 1, n - 1) << 8 | p[0]; }
  static uint32_t Be(const uint8_t* p, int n) { return n == 0 ? 0 : Be(p, n - 1) << 8 | p[n - 1]; }
  uint32_t Le32(uint32_t sector, uint32_t offset) const { return Le(Sector(sector) + offset, 4); }
  uint32_t Be32(uint32_t sector, uint32_t offset) const { return Be(Sector(sector) + offset, 4); }
  /// A both-order field of `bytes` bytes each way; 0xFFFFFFFF when its halves differ.
  uint32_t Both(uint32_t sector, uint32_t offset, int bytes) const {
    const uint8_t* p = Sector(sector) + offset;
    return Le(p, bytes) == Be(p + bytes, bytes) ? Le(p, bytes) : 0xFFFFFFFFu;
  }
  std::string Text(uint32_t sector, uint32_t offset, uint32_t bytes) const {
    return std::string(reinterpret_cast<const char*>(Sector(sector) + offset), bytes);
  }
  static IsoRecord RecordAt(const uint8_t* at) {
    IsoRecord record;
    record.length = at[0];
    record.extent = Le(at + 2, 4);
    record.dataLength = Le(at + 10, 4);
    record.bothOrdersAgree = record.extent == Be(at + 6, 4) &&
                             record.dataLength == Be(at + 14, 4) &&
                             Le(at + 28, 2) == Be(at + 30, 2);
    record.date.assign(at + 18, at + 25);
    record.flags = at[25];
    record.identifier.assign(reinterpret_cast<const char*>(at + 33), at[32]);
    return record;
  }
  /// The records of a one-sector directory, up to the first zero length byte.
  std::vector<IsoRecord> Directory(uint32_t sector) const {
    std::vector<IsoRecord> records;
    for (uint32_t offset = 0; offset < 2048 && Sector(sector)[offset] != 0;) {
      const IsoRecord record = RecordAt(Sector(sector) + offset);
      if (offset + record.length > 2048 || record.length < 34) break;
      records.push_back(record);
      offset += record.length;
    }
    return records;
  }

 private:
  const uint8_t* image_;
};

}  // namespace testsupport
