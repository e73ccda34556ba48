#include "tools/mkinstalldat/DatWriter.h"

#include "datafile/DataFileFormat.h"

namespace mkinstalldat {

std::vector<uint8_t> BuildDataFile(const std::vector<DatEntry>& entries, const DatLayout& layout) {
  using namespace datafile;
  const uint32_t directoryBytes = static_cast<uint32_t>(entries.size()) * kDirectoryRecordBytes;
  std::vector<uint8_t> file(kHeaderBytes + directoryBytes);

  DataFileHeader header;
  header.magic = layout.magic;
  header.entryCount = layout.entryCount.value_or(static_cast<uint16_t>(entries.size()));
  header.version = layout.version;
  header.directoryOffset = layout.directoryOffset.value_or(kHeaderBytes);
  uint8_t headerBytes[kHeaderBytes];
  EncodeHeader(header, headerBytes);
  std::copy(headerBytes, headerBytes + kHeaderBytes, file.begin());

  uint32_t next = kHeaderBytes + directoryBytes;
  for (size_t i = 0; i < entries.size(); ++i) {
    DirectoryEntry record;
    record.id = entries[i].id;
    record.dataOffset = next;
    record.dataSize = static_cast<uint32_t>(entries[i].data.size());
    if (auto it = layout.dataOffset.find(record.id); it != layout.dataOffset.end()) {
      record.dataOffset = it->second;
    }
    if (auto it = layout.dataSize.find(record.id); it != layout.dataSize.end()) {
      record.dataSize = it->second;
    }
    uint8_t recordBytes[kDirectoryRecordBytes];
    EncodeDirectoryRecord(record, recordBytes);
    std::copy(recordBytes, recordBytes + kDirectoryRecordBytes,
              file.begin() + kHeaderBytes + i * kDirectoryRecordBytes);
    next += static_cast<uint32_t>(entries[i].data.size());
  }
  for (const DatEntry& entry : entries)
    file.insert(file.end(), entry.data.begin(), entry.data.end());
  if (layout.truncateTo && *layout.truncateTo < file.size()) file.resize(*layout.truncateTo);
  return file;
}

}  // namespace mkinstalldat
