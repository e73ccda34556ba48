// DataFile: the reader of install.dat, the "Image and Resource file".
//
// Errors follow the reader's own convention: one process-wide pending code
// (DataFileError) that is sticky. Every operation except LoadText, LocateEntry and
// LoadBitmap does nothing while a code is pending; otherwise it clears the code, works,
// and on a fault sets the code and returns its failure value. Callers learn of faults
// from the code, not from the result.
//
// A handle may be shared by several threads. Each operation holds one lock for its
// whole seek-and-read sequence, and ReadAt gives callers that read an entry themselves
// after LocateEntry the same protection.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "datafile/DataFileFormat.h"
#include "platform/File.h"
#include "platform/Graphics.h"
#include "platform/System.h"

namespace datafile {

enum class DataFileError : int {
  None = 0,
  Io = 1,          ///< a seek or read failed or moved fewer bytes than asked
  BadMagic = 2,    ///< the header's magic is not 0xFEAFBEBA
  BadVersion = 3,  ///< the header's version is greater than 1
  BadHandle = 4,   ///< the file could not be opened, or no handle was passed
  NoMemory = 5,    ///< a buffer could not be allocated
  NotFound = 6,    ///< no entry has that number, or the file has no directory
  NoRecord = 7,    ///< no place for the found record was given
};

/// Stores `code` and returns the code that was pending.
DataFileError SetDataFileError(DataFileError code);
/// The pending code, left in place.
DataFileError PeekDataFileError();
/// The pending code; the pending code becomes None.
DataFileError TakeDataFileError();

/// What the reader needs of the machine.
struct DataFileServices {
  platform::FileSystem* files = nullptr;
  platform::System* system = nullptr;
  /// Whether LocateEntry waits before it looks: the installer's threads rely on that
  /// wait to order their use of the file; a single-threaded exporter does not need it.
  bool lookupPause = true;
};

/// An open install.dat, used only through the operations below. Null plays the part of
/// the invalid handle value.
class DataFile {
 public:
  DataFile(const DataFileServices& services, std::unique_ptr<platform::File> file);
  ~DataFile();
  DataFile(const DataFile&) = delete;
  DataFile& operator=(const DataFile&) = delete;

  platform::File* file() const { return file_.get(); }
  platform::System& system() const { return *services_.system; }
  bool lookupPause() const { return services_.lookupPause; }
  void Close() { file_.reset(); }

 private:
  DataFileServices services_;
  std::unique_ptr<platform::File> file_;
};

/// The wait before every LocateEntry.
constexpr uint32_t kLookupPauseMs = 500;

/// Opens `path` read-only, shared for reading, existing files only, and checks its header.
std::unique_ptr<DataFile> OpenDataFile(const DataFileServices& services, const std::string& path);
/// Closes the file unless an error is pending; then it does nothing, and the handle is
/// released when its owner lets go of it.
void CloseDataFile(std::unique_ptr<DataFile>& handle);

/// Closes the file behind `handle` unless an error is pending, like the overload above,
/// but leaves the handle object to its owner: later operations on it fail cleanly.
void CloseDataFile(DataFile* handle);
/// Closes the file behind `handle` at once, whatever is pending, under the reader's lock;
/// the handle object stays with its owner, and every later read of it fails. For the
/// forced end of the process.
void CloseDataFileNow(DataFile* handle);

[[nodiscard]] bool ReadHeader(DataFile* handle, DataFileHeader* header);
/// The directory, `*count` records; null with no error when the file has no entries.
std::unique_ptr<DirectoryEntry[]> ReadDirectory(DataFile* handle, uint16_t* count);
/// Copies the first record numbered `id` into `*record`, searching as many records as the
/// header read now counts but never more than the `count` that `entries` holds; the
/// pending code tells whether one was found (the result is true for the NotFound cases).
bool FindEntry(DataFile* handle, uint16_t id, const DirectoryEntry* entries, uint16_t count,
               DirectoryEntry* record);
/// Entry `id`'s bytes, `*size` of them, found among the `count` records of `entries`; null
/// on a fault.
std::unique_ptr<uint8_t[]> ReadEntryData(DataFile* handle, uint16_t id,
                                         const DirectoryEntry* entries, uint16_t count,
                                         uint32_t* size);

/// Text `id`, up to its first zero byte; "" when it is missing or unreadable. Always
/// leaves the pending code at None.
std::string LoadText(DataFile* handle, uint16_t id);
/// LoadText that also gives the code it took, for callers that must tell a text that is
/// not there (NotFound) from one that could not be read (Io, NoMemory).
DataFileError LoadTextOrError(DataFile* handle, uint16_t id, std::string* text);
/// Waits, then gives entry `id`'s offset with its size in `*size`; offset 0 and size 0
/// with NotFound pending when there is no such entry.
uint32_t LocateEntry(DataFile* handle, uint16_t id, uint32_t* size);
/// The picture of bitmap entry `id`, or null when it is missing, unreadable or not a
/// bitmap whose parts lie inside the entry. Takes the pending code.
std::unique_ptr<platform::Bitmap> LoadBitmap(DataFile* handle, uint16_t id,
                                             platform::Graphics& graphics);

/// Where an entry's bytes lie in the file.
struct EntryLocation {
  uint32_t offset = 0;
  uint32_t size = 0;
};

/// LocateEntry followed by TakeDataFileError under the same lock (the pause comes before
/// it), for the image builders:
/// they handle a missing entry themselves, so its NotFound must not linger and empty an
/// unrelated text of another thread. False when the entry could not be located.
[[nodiscard]] bool LocateEntryAndTakeError(DataFile* handle, uint16_t id, EntryLocation* location);

/// Reads up to `bytes` at absolute `offset` under the handle's lock; `*bytesRead` is how
/// many arrived. Leaves the pending code alone. False when the seek or read failed.
[[nodiscard]] bool ReadAt(DataFile* handle, uint32_t offset, void* buffer, uint32_t bytes,
                          uint32_t* bytesRead);

/// Reads exactly `bytes` at `offset`; false on a failed or short read.
[[nodiscard]] bool ReadExactlyAt(DataFile* handle, uint32_t offset, void* buffer, uint32_t bytes);

}  // namespace datafile
