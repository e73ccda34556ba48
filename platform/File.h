// Files as the installer sees them: opened by path with explicit access flags, read
// from an absolute position, closed when the object goes away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

/// How a file is opened. The values are those of the Windows file API, so the Windows
/// back end passes them through unchanged and the other back ends map them.
struct FileOpenFlags {
  uint32_t access = 0;       ///< GENERIC_READ / GENERIC_WRITE
  uint32_t share = 0;        ///< FILE_SHARE_READ / FILE_SHARE_WRITE
  uint32_t disposition = 0;  ///< OPEN_EXISTING and friends
};

constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kFileShareRead = 0x1u;
constexpr uint32_t kFileShareWrite = 0x2u;
constexpr uint32_t kOpenExisting = 3u;

/// An open file. Destroying it closes it.
class File {
 public:
  virtual ~File() = default;
  /// Moves the position to `offset` bytes from the start.
  [[nodiscard]] virtual bool Seek(uint32_t offset) = 0;
  /// Reads up to `bytes` at the position; `*bytesRead` tells how many arrived (fewer at the
  /// end of the file). False when the read itself failed.
  [[nodiscard]] virtual bool Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) = 0;
  /// The file's length in bytes.
  [[nodiscard]] virtual bool Size(uint64_t* bytes) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  /// Opens `path`; null when it cannot be opened.
  virtual std::unique_ptr<File> Open(const std::string& path, const FileOpenFlags& flags) = 0;
  /// Creates or replaces `path` with exactly `size` bytes. On failure `*error` says why, in
  /// the system's words, and no partial file is left under that name.
  [[nodiscard]] virtual bool WriteWholeFile(const std::string& path, const uint8_t* data,
                                            size_t size, std::string* error) = 0;
};

}  // namespace platform
