#include "image/IsoRecords.h"

#include <cstring>

#include "platform/ByteOrder.h"

namespace image {

using platform::PutBe16;
using platform::PutBe32;
using platform::PutBoth16;
using platform::PutBoth32;
using platform::PutLe16;
using platform::PutLe32;

namespace {

// Writes `value` as `width` decimal digits, leading zeros included (printf's "%0*d").
void PutDigits(uint8_t* at, int value, int width) {
  unsigned remaining = value < 0 ? 0u : static_cast<unsigned>(value);
  for (int i = width - 1; i >= 0; --i) {
    at[i] = static_cast<uint8_t>('0' + remaining % 10);
    remaining /= 10;
  }
}

}  // namespace

void PutDescriptorDate(uint8_t* at, const platform::UtcTime& time) {
  PutDigits(at + 0, time.year, 4);
  PutDigits(at + 4, time.month, 2);
  PutDigits(at + 6, time.day, 2);
  PutDigits(at + 8, time.hour, 2);
  PutDigits(at + 10, time.minute, 2);
  PutDigits(at + 12, time.second, 2);
  PutDigits(at + 14, time.millisecond / 10, 2);  // hundredths
  at[16] = 0;                                    // offset from UTC
}

void PutRecordDate(uint8_t* at, const platform::UtcTime& time) {
  at[0] = static_cast<uint8_t>(time.year - 1900);
  at[1] = static_cast<uint8_t>(time.month);
  at[2] = static_cast<uint8_t>(time.day);
  at[3] = static_cast<uint8_t>(time.hour);
  at[4] = static_cast<uint8_t>(time.minute);
  at[5] = static_cast<uint8_t>(time.second);
  at[6] = 0;  // offset from UTC
}

uint32_t DirectoryRecordLength(const IsoDirectoryRecord& record) {
  return kDirectoryRecordFixedBytes + static_cast<uint32_t>(record.identifier.size());
}

uint32_t PutDirectoryRecord(uint8_t* at, const IsoDirectoryRecord& record) {
  const uint32_t length = DirectoryRecordLength(record);
  at[0] = static_cast<uint8_t>(length);   // 0 record length
  at[1] = 0;                              // 1 extended attribute record length
  PutBoth32(at + 2, record.extent);       // 2-9 extent
  PutBoth32(at + 10, record.dataLength);  // 10-17 data length
  if (record.date != nullptr) {
    PutRecordDate(at + 18, *record.date);  // 18-24 recording date
  } else {
    std::memset(at + 18, 0, 7);
  }
  at[25] = record.flags;                                    // 25 file flags
  at[26] = 0;                                               // 26 file unit size
  at[27] = 0;                                               // 27 interleave gap
  PutBoth16(at + 28, 1);                                    // 28-31 volume sequence number
  at[32] = static_cast<uint8_t>(record.identifier.size());  // 32 identifier length
  std::memcpy(at + 33, record.identifier.data(), record.identifier.size());
  return length;
}

void PutRootPathTableRecord(uint8_t* at, uint32_t rootExtent, bool bigEndian) {
  at[0] = 1;  // 0 length of the directory identifier
  at[1] = 0;  // 1 extended attribute record length
  if (bigEndian) {
    PutBe32(at + 2, rootExtent);  // 2-5 extent
    PutBe16(at + 6, 1);           // 6-7 parent directory number
  } else {
    PutLe32(at + 2, rootExtent);
    PutLe16(at + 6, 1);
  }
  at[8] = 0;  // 8 identifier: the root
  at[9] = 0;  // 9 padding to an even length
}

}  // namespace image
