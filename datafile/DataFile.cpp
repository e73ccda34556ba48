#include "datafile/DataFile.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "datafile/BitmapEntry.h"
#include "platform/Threads.h"

namespace datafile {

namespace {

std::atomic<int> gPendingError{static_cast<int>(DataFileError::None)};

// One lock for every data file operation in the process. The pending code is one value
// for the whole process, so serialising all handles keeps each operation's "clear, work,
// set" sequence whole. Operations call one another, hence recursive.
platform::Lock& ReaderLock() {
  static platform::Lock lock;
  return lock;
}

bool Pending() {
  return PeekDataFileError() != DataFileError::None;
}

void Fail(DataFileError code) {
  SetDataFileError(code);
}

}  // namespace

DataFileError SetDataFileError(DataFileError code) {
  return static_cast<DataFileError>(gPendingError.exchange(static_cast<int>(code)));
}

DataFileError PeekDataFileError() {
  return static_cast<DataFileError>(gPendingError.load());
}

DataFileError TakeDataFileError() {
  return SetDataFileError(DataFileError::None);
}

std::unique_ptr<DataFile> OpenDataFile(const DataFileServices& services, const std::string& path) {
  std::lock_guard<platform::Lock> guard(ReaderLock());
  if (Pending()) return nullptr;
  platform::FileOpenFlags flags;
  flags.access = platform::kGenericRead;
  flags.share = platform::kFileShareRead;
  flags.disposition = platform::kOpenExisting;
  std::unique_ptr<platform::File> file = services.files->Open(path, flags);
  if (!file) {
    Fail(DataFileError::BadHandle);
    return nullptr;
  }
  auto handle = std::make_unique<DataFile>(services, std::move(file));
  DataFileHeader header;
  if (!ReadHeader(handle.get(), &header)) return nullptr;  // the code is pending
  if (header.magic != kDataFileMagic) {
    Fail(DataFileError::BadMagic);
    return nullptr;
  }
  if (header.version > kDataFileVersion) {
    Fail(DataFileError::BadVersion);
    return nullptr;
  }
  return handle;
}

DataFile::DataFile(const DataFileServices& services, std::unique_ptr<platform::File> file)
    : services_(services), file_(std::move(file)) {}

DataFile::~DataFile() = default;

void CloseDataFile(std::unique_ptr<DataFile>& handle) {
  std::lock_guard<platform::Lock> guard(ReaderLock());
  if (Pending()) return;
  if (handle) handle->Close();
  handle.reset();
}

void CloseDataFile(DataFile* handle) {
  std::lock_guard<platform::Lock> guard(ReaderLock());
  if (Pending()) return;
  if (handle) handle->Close();
}

void CloseDataFileNow(DataFile* handle) {
  std::lock_guard<platform::Lock> guard(ReaderLock());
  if (handle) handle->Close();
}

bool ReadHeader(DataFile* handle, DataFileHeader* header) {
  std::lock_guard<platform::Lock> guard(ReaderLock());
  if (Pending()) return false;
  if (handle == nullptr || handle->file() == nullptr) {
    Fail(DataFileError::BadHandle);
    return false;
  }
  uint8_t bytes[kHeaderBytes];
  if (!ReadExactlyAt(handle, 0, bytes, kHeaderBytes)) {
    Fail(DataFileError::Io);
    return false;
  }
  *header = DecodeHeader(bytes);
  return true;
}

std::unique_ptr<DirectoryEntry[]> ReadDirectory(DataFile* handle, uint16_t* count) {
  std::lock_guard<platform::Lock> guard(ReaderLock());
  if (Pending()) return nullptr;
  DataFileHeader header;
  if (!ReadHeader(handle, &header)) return nullptr;
  *count = header.entryCount;
  if (header.entryCount == 0) return nullptr;
  auto entries = platform::AllocateArray<DirectoryEntry>(handle->system(), header.entryCount);
  if (!entries) {
    Fail(DataFileError::NoMemory);
    return nullptr;
  }
  // The records are read in one piece: a directory of a few hundred entries is read on
  // every lookup, and one read per record would make lookups cost thousands of calls.
  const uint32_t directoryBytes = uint32_t{header.entryCount} * kDirectoryRecordBytes;
  auto raw = platform::AllocateArray<uint8_t>(handle->system(), directoryBytes);
  if (!raw) {
    Fail(DataFileError::NoMemory);
    return nullptr;
  }
  if (uint64_t{header.directoryOffset} + directoryBytes > UINT32_MAX ||
      !ReadExactlyAt(handle, header.directoryOffset, raw.get(), directoryBytes)) {
    Fail(DataFileError::Io);
    return nullptr;
  }
  for (uint16_t i = 0; i < header.entryCount; ++i) {
    uint8_t bytes[kDirectoryRecordBytes];
    std::memcpy(bytes, raw.get() + size_t{i} * kDirectoryRecordBytes, kDirectoryRecordBytes);
    entries[i] = DecodeDirectoryRecord(bytes);
  }
  return entries;
}

bool FindEntry(DataFile* handle, uint16_t id, const DirectoryEntry* entries, uint16_t count,
               DirectoryEntry* record) {
  std::lock_guard<platform::Lock> guard(ReaderLock());
  if (Pending()) return false;
  if (entries == nullptr) {
    Fail(DataFileError::NotFound);
    return true;
  }
  if (record == nullptr) {
    Fail(DataFileError::NoRecord);
    return false;
  }
  DataFileHeader header;
  if (!ReadHeader(handle, &header)) return false;
  // The header is read again for its count, but the file may have changed since the
  // directory was read: the walk never goes past the records that were read.
  const uint16_t walked = header.entryCount < count ? header.entryCount : count;
  for (uint16_t i = 0; i < walked; ++i) {
    if (entries[i].id == id) {
      *record = entries[i];
      return true;
    }
  }
  Fail(DataFileError::NotFound);
  return true;
}

std::unique_ptr<uint8_t[]> ReadEntryData(DataFile* handle, uint16_t id,
                                         const DirectoryEntry* entries, uint16_t count,
                                         uint32_t* size) {
  std::lock_guard<platform::Lock> guard(ReaderLock());
  if (Pending()) return nullptr;
  *size = 0;
  DirectoryEntry record;
  FindEntry(handle, id, entries, count, &record);
  if (Pending()) return nullptr;
  // An entry that would run past the end of the file can only come up short; it is
  // refused before a buffer of its claimed size is allocated.
  uint64_t fileBytes = 0;
  if (!handle->file()->Size(&fileBytes) ||
      uint64_t{record.dataOffset} + record.dataSize > fileBytes ||
      !handle->file()->Seek(record.dataOffset)) {
    Fail(DataFileError::Io);
    return nullptr;
  }
  auto data = platform::AllocateArray<uint8_t>(handle->system(), record.dataSize);
  if (!data) {
    Fail(DataFileError::NoMemory);
    return nullptr;
  }
  uint32_t bytesRead = 0;
  if (!handle->file()->Read(data.get(), record.dataSize, &bytesRead) ||
      bytesRead != record.dataSize) {
    Fail(DataFileError::Io);
    return nullptr;
  }
  *size = record.dataSize;
  return data;
}

std::string LoadText(DataFile* handle, uint16_t id) {
  std::string text;
  LoadTextOrError(handle, id, &text);
  return text;
}

DataFileError LoadTextOrError(DataFile* handle, uint16_t id, std::string* text) {
  std::lock_guard<platform::Lock> guard(ReaderLock());
  text->clear();
  uint16_t count = 0;
  std::unique_ptr<DirectoryEntry[]> entries = ReadDirectory(handle, &count);
  uint32_t size = 0;
  std::unique_ptr<uint8_t[]> data = ReadEntryData(handle, id, entries.get(), count, &size);
  const DataFileError taken = TakeDataFileError();
  if (taken != DataFileError::None) return taken;
  // The text is its bytes up to the first zero, like the C string the stored bytes make.
  const char* bytes = reinterpret_cast<const char*>(data.get());
  text->assign(bytes, strnlen(bytes, size));
  return DataFileError::None;
}

namespace {

// The pause before a lookup lets other threads reach the file first, so it is taken
// before the reader's lock, never while holding it.
void LookupPause(DataFile* handle) {
  if (handle != nullptr && handle->lookupPause()) handle->system().Pause(kLookupPauseMs);
}

uint32_t LocateEntryWithoutPause(DataFile* handle, uint16_t id, uint32_t* size) {
  std::lock_guard<platform::Lock> guard(ReaderLock());
  *size = 0;
  uint16_t count = 0;
  std::unique_ptr<DirectoryEntry[]> entries = ReadDirectory(handle, &count);
  DirectoryEntry record;
  FindEntry(handle, id, entries.get(), count, &record);
  if (Pending()) return 0;
  *size = record.dataSize;
  return record.dataOffset;
}

}  // namespace

uint32_t LocateEntry(DataFile* handle, uint16_t id, uint32_t* size) {
  LookupPause(handle);
  return LocateEntryWithoutPause(handle, id, size);
}

bool LocateEntryAndTakeError(DataFile* handle, uint16_t id, EntryLocation* location) {
  LookupPause(handle);
  std::lock_guard<platform::Lock> guard(ReaderLock());
  location->offset = LocateEntryWithoutPause(handle, id, &location->size);
  return TakeDataFileError() == DataFileError::None;
}

std::unique_ptr<platform::Bitmap> LoadBitmap(DataFile* handle, uint16_t id,
                                             platform::Graphics& graphics) {
  std::lock_guard<platform::Lock> guard(ReaderLock());
  uint16_t count = 0;
  std::unique_ptr<DirectoryEntry[]> entries = ReadDirectory(handle, &count);
  uint32_t size = 0;
  std::unique_ptr<uint8_t[]> data = ReadEntryData(handle, id, entries.get(), count, &size);
  if (TakeDataFileError() != DataFileError::None) return nullptr;
  entries.reset();
  // The system's bitmap call trusts the stored header; a bitmap whose colour table or
  // pixel rows would lie past the entry's end is refused here instead.
  platform::DibView dib;
  if (!ParseBitmapEntry(data.get(), size, &dib)) return nullptr;
  return graphics.CreateDeviceBitmap(dib);
}

bool ReadAt(DataFile* handle, uint32_t offset, void* buffer, uint32_t bytes, uint32_t* bytesRead) {
  std::lock_guard<platform::Lock> guard(ReaderLock());
  *bytesRead = 0;
  if (handle == nullptr || handle->file() == nullptr) return false;
  if (!handle->file()->Seek(offset)) return false;
  return handle->file()->Read(buffer, bytes, bytesRead);
}

bool ReadExactlyAt(DataFile* handle, uint32_t offset, void* buffer, uint32_t bytes) {
  uint32_t bytesRead = 0;
  return ReadAt(handle, offset, buffer, bytes, &bytesRead) && bytesRead == bytes;
}

}  // namespace datafile
