// The on-disk layout of install.dat: a 14-byte header, a directory of 12-byte records,
// and the entries' raw bytes. All numbers are little-endian and nothing is padded.
#pragma once

#include <cstdint>

namespace datafile {

constexpr uint32_t kDataFileMagic = 0xFEAFBEBAu;
constexpr uint16_t kDataFileVersion = 1;
constexpr uint32_t kHeaderBytes = 14;
constexpr uint32_t kDirectoryRecordBytes = 12;

struct DataFileHeader {
  uint32_t magic = 0;            // bytes 0-3
  uint16_t entryCount = 0;       // bytes 4-5
  uint16_t version = 0;          // bytes 6-7; above 1 is refused
  uint16_t reserved = 0;         // bytes 8-9; not read
  uint32_t directoryOffset = 0;  // bytes 10-13; absolute
};

struct DirectoryEntry {
  uint16_t id = 0;          // bytes 1-2 (byte 0 is reserved)
  uint32_t dataOffset = 0;  // bytes 4-7 (byte 3 is reserved); absolute
  uint32_t dataSize = 0;    // bytes 8-11
};

DataFileHeader DecodeHeader(const uint8_t (&bytes)[kHeaderBytes]);
DirectoryEntry DecodeDirectoryRecord(const uint8_t (&bytes)[kDirectoryRecordBytes]);
void EncodeHeader(const DataFileHeader& header, uint8_t (&bytes)[kHeaderBytes]);
void EncodeDirectoryRecord(const DirectoryEntry& entry, uint8_t (&bytes)[kDirectoryRecordBytes]);

/// Entry numbers that the installer reads.
constexpr uint16_t kDialogBitmapId = 100;
constexpr uint16_t kFirstCdFileNameId = 5000;
constexpr uint16_t kFirstCdFileDataId = 5100;
constexpr uint16_t kReadmeDataId = 5100;
constexpr uint16_t kBaseFloppyImageId = 10002;
constexpr uint16_t kKernelMapId = 10003;
constexpr int kMaxCdFiles = 100;

}  // namespace datafile
