// Files as the installer sees them: opened by path with explicit access flags, read
// from an absolute position, closed when the object goes away; and the image files that
// the exporter writes, which appear under their name only when they are complete.
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

/// What a path names, with symbolic links followed to what they point to.
enum class PathKind {
  Missing,  ///< nothing by that name (or a link that leads nowhere)
  RegularFile,
  Directory,
  Device,  ///< a block or character device, or one of Windows' device names
  Pipe,    ///< a FIFO or named pipe
  Socket,
  Other,  ///< something else that is not a regular file
};

/// An image file being written. Until Commit, its bytes go to a file of its own beside the
/// target; an output destroyed without Commit removes that file again.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  /// Appends `size` bytes. On failure `*error` says why, in the system's words.
  [[nodiscard]] virtual bool Write(const uint8_t* data, size_t size, std::string* error) = 0;
  /// Makes the bytes durable and puts them under the target's name, unless the target
  /// has meanwhile become something other than a regular file; then, as on any failure,
  /// `*error` says why and nothing is left behind.
  [[nodiscard]] virtual bool Commit(std::string* error) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  /// Opens `path`; null when it cannot be opened.
  virtual std::unique_ptr<File> Open(const std::string& path, const FileOpenFlags& flags) = 0;
  /// What `path` names now.
  virtual PathKind Kind(const std::string& path) = 0;
  /// Starts writing the file `path` through a new file named `path` + ".partial". That name
  /// must be free: an existing file or symbolic link of that name is neither opened nor
  /// followed, and the output is refused. Null, with `*error` saying why, on failure.
  virtual std::unique_ptr<OutputFile> CreateOutput(const std::string& path, std::string* error) = 0;
  /// The process's standard output as a binary output (for pipelines); Commit only
  /// finishes the writing. Refused when standard output is a terminal.
  virtual std::unique_ptr<OutputFile> StandardOutput(std::string* error) = 0;
};

}  // namespace platform
