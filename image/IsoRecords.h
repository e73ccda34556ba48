// The small records of an ISO 9660 volume: dates, directory records and path table
// records. Every multi-byte number goes through the byte-order helpers.
#pragma once

#include <cstdint>
#include <string>

#include "platform/System.h"

namespace image {

constexpr uint32_t kIsoSectorBytes = 2048;
constexpr uint8_t kIsoDirectoryFlag = 2;
constexpr uint32_t kDirectoryRecordFixedBytes = 33;
constexpr uint32_t kPathTableBytes = 10;

/// The 17-byte descriptor date: 16 ASCII digits (year, month, day, hour, minute, second,
/// hundredths) and a zero offset from UTC.
void PutDescriptorDate(uint8_t* at, const platform::UtcTime& time);
/// The 7-byte directory record date: year - 1900, month, day, hour, minute, second, 0.
void PutRecordDate(uint8_t* at, const platform::UtcTime& time);

struct IsoDirectoryRecord {
  uint32_t extent = 0;
  uint32_t dataLength = 0;
  const platform::UtcTime* date = nullptr;  ///< null: seven zero bytes
  uint8_t flags = 0;
  std::string identifier;  ///< the identifier's bytes exactly as recorded
};

/// 33 bytes plus the identifier; no padding byte follows, so the length may be odd.
uint32_t DirectoryRecordLength(const IsoDirectoryRecord& record);
/// Writes the record at `at` and returns its length.
uint32_t PutDirectoryRecord(uint8_t* at, const IsoDirectoryRecord& record);

/// The single root record of a path table, its numbers little-endian (type L) or
/// big-endian (type M).
void PutRootPathTableRecord(uint8_t* at, uint32_t rootExtent, bool bigEndian);

}  // namespace image
