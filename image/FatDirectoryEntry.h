// A 32-byte FAT directory entry and the FAT forms of date and time.
#pragma once

#include <cstdint>

#include "platform/System.h"

namespace image {

constexpr uint8_t kAttributeReadOnly = 0x01;
constexpr uint8_t kAttributeHidden = 0x02;
constexpr uint8_t kAttributeSystem = 0x04;
constexpr uint8_t kFreeEntry = 0x00;     // first byte of a never-used entry
constexpr uint8_t kDeletedEntry = 0xE5;  // first byte of a deleted entry

/// Day in bits 0-4, month in bits 5-8, year - 1980 in bits 9-15. Years outside 1980-2107,
/// which a FAT date cannot hold, are clamped to its first or last day.
uint16_t FatDate(const platform::UtcTime& time);
/// Seconds / 2 in bits 0-4, minutes in bits 5-10, hours in bits 11-15.
uint16_t FatTime(const platform::UtcTime& time);

struct FatDirectoryEntry {
  char name[11] = {};  // 8.3 directory form, space padded
  uint8_t attributes = 0;
  uint16_t firstCluster = 0;
  uint32_t size = 0;
  platform::UtcTime stamp;  // creation, last access and write all take it
};

void EncodeFatDirectoryEntry(const FatDirectoryEntry& entry, uint8_t* out32);

}  // namespace image
