#include "datafile/DataFileFormat.h"

#include "platform/ByteOrder.h"

namespace datafile {

using platform::GetLe16;
using platform::GetLe32;
using platform::PutLe16;
using platform::PutLe32;

DataFileHeader DecodeHeader(const uint8_t (&bytes)[kHeaderBytes]) {
  DataFileHeader header;
  header.magic = GetLe32(bytes + 0);
  header.entryCount = GetLe16(bytes + 4);
  header.version = GetLe16(bytes + 6);
  header.reserved = GetLe16(bytes + 8);
  header.directoryOffset = GetLe32(bytes + 10);
  return header;
}

DirectoryEntry DecodeDirectoryRecord(const uint8_t (&bytes)[kDirectoryRecordBytes]) {
  DirectoryEntry entry;
  entry.id = GetLe16(bytes + 1);
  entry.dataOffset = GetLe32(bytes + 4);
  entry.dataSize = GetLe32(bytes + 8);
  return entry;
}

void EncodeHeader(const DataFileHeader& header, uint8_t (&bytes)[kHeaderBytes]) {
  PutLe32(bytes + 0, header.magic);
  PutLe16(bytes + 4, header.entryCount);
  PutLe16(bytes + 6, header.version);
  PutLe16(bytes + 8, header.reserved);
  PutLe32(bytes + 10, header.directoryOffset);
}

void EncodeDirectoryRecord(const DirectoryEntry& entry, uint8_t (&bytes)[kDirectoryRecordBytes]) {
  bytes[0] = 0;
  PutLe16(bytes + 1, entry.id);
  bytes[3] = 0;
  PutLe32(bytes + 4, entry.dataOffset);
  PutLe32(bytes + 8, entry.dataSize);
}

}  // namespace datafile
