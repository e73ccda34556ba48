#include "image/FatDirectoryEntry.h"

#include <cstring>

#include "platform/ByteOrder.h"

namespace image {

using platform::PutLe16;
using platform::PutLe32;

namespace {
constexpr int kFirstFatYear = 1980;
constexpr int kLastFatYear = 2107;
}  // namespace

uint16_t FatDate(const platform::UtcTime& time) {
  if (time.year < kFirstFatYear) return static_cast<uint16_t>((1 << 5) | 1);
  if (time.year > kLastFatYear) return static_cast<uint16_t>((127 << 9) | (12 << 5) | 31);
  return static_cast<uint16_t>(((time.year - kFirstFatYear) << 9) | (time.month << 5) | time.day);
}

uint16_t FatTime(const platform::UtcTime& time) {
  return static_cast<uint16_t>((time.hour << 11) | (time.minute << 5) | (time.second / 2));
}

void EncodeFatDirectoryEntry(const FatDirectoryEntry& entry, uint8_t* out) {
  const uint16_t date = FatDate(entry.stamp);
  const uint16_t time = FatTime(entry.stamp);
  std::memcpy(out + 0, entry.name, 11);   // 0-10 name
  out[11] = entry.attributes;             // 11 attributes
  out[12] = 0;                            // 12 reserved
  out[13] = 0;                            // 13 creation time, tenths of a second
  PutLe16(out + 14, time);                // 14-15 creation time
  PutLe16(out + 16, date);                // 16-17 creation date
  PutLe16(out + 18, date);                // 18-19 last access date
  PutLe16(out + 20, 0);                   // 20-21 first cluster, high word
  PutLe16(out + 22, time);                // 22-23 write time
  PutLe16(out + 24, date);                // 24-25 write date
  PutLe16(out + 26, entry.firstCluster);  // 26-27 first cluster
  PutLe32(out + 28, entry.size);          // 28-31 size in bytes
}

}  // namespace image
