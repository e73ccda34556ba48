#include "tests/support/IsoReader.h"

namespace testsupport {

namespace {
uint32_t Le32At(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint32_t Be32At(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
}  // namespace

uint32_t IsoReader::Both32(uint32_t sector, uint32_t offset) const {
  const uint8_t* p = Sector(sector) + offset;
  return Le32At(p) == Be32At(p + 4) ? Le32At(p) : 0xFFFFFFFFu;
}

uint16_t IsoReader::Both16(uint32_t sector, uint32_t offset) const {
  const uint8_t* p = Sector(sector) + offset;
  const uint16_t little = static_cast<uint16_t>(p[0] | (p[1] << 8));
  const uint16_t big = static_cast<uint16_t>((p[2] << 8) | p[3]);
  return little == big ? little : 0xFFFF;
}

uint32_t IsoReader::Le32(uint32_t sector, uint32_t offset) const {
  return Le32At(Sector(sector) + offset);
}
uint32_t IsoReader::Be32(uint32_t sector, uint32_t offset) const {
  return Be32At(Sector(sector) + offset);
}

std::string IsoReader::Text(uint32_t sector, uint32_t offset, uint32_t bytes) const {
  return std::string(reinterpret_cast<const char*>(Sector(sector) + offset), bytes);
}

IsoRecord IsoReader::RecordAt(const uint8_t* at) const {
  IsoRecord record;
  record.length = at[0];
  record.extent = Le32At(at + 2);
  record.dataLength = Le32At(at + 10);
  record.bothOrdersAgree = Le32At(at + 2) == Be32At(at + 6) && Le32At(at + 10) == Be32At(at + 14) &&
                           at[28] == at[31] && at[29] == at[30];
  for (int i = 0; i < 7; ++i) record.date[i] = at[18 + i];
  record.flags = at[25];
  record.identifier.assign(reinterpret_cast<const char*>(at + 33), at[32]);
  return record;
}

std::vector<IsoRecord> IsoReader::Directory(uint32_t sector) const {
  std::vector<IsoRecord> records;
  const uint8_t* base = Sector(sector);
  for (uint32_t offset = 0; offset < 2048 && base[offset] != 0;) {
    IsoRecord record = RecordAt(base + offset);
    record.offset = offset;
    if (offset + record.length > 2048 || record.length < 34) break;
    records.push_back(record);
    offset += record.length;
  }
  return records;
}

std::string IsoReader::Narrow(const std::string& wide) {
  std::string narrow;
  for (size_t i = 0; i + 1 < wide.size(); i += 2) {
    narrow.push_back(wide[i] == 0 ? wide[i + 1] : '?');
  }
  return narrow;
}

}  // namespace testsupport
