// Disc streams and storages on Linux: every stream lives in an unnamed temporary file, so a
// large image is held on disk rather than in memory, and the burn takes the image from such
// a file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>

#include "platform/linux/LinuxDiscRecording.h"
#include "platform/linux/LinuxDiscRecordingInternal.h"

namespace platform {

using namespace linux_disc;

namespace {

// STGM bits: the access field (read 0, write 1, read-write 2) and "replace what exists".
constexpr uint32_t kStgmAccessMask = 0x3u;
constexpr uint32_t kStgmReadWrite = 0x2u;
constexpr uint32_t kStgmCreate = 0x1000u;

// Compound files take stream names of up to 31 characters, without ! / \ or :.
constexpr size_t kMaxStreamNameLength = 31;
constexpr char16_t kForbiddenNameCharacters[] = u"!/\\:";

// Copies between streams go in pieces of this size.
constexpr size_t kCopyChunkBytes = size_t{1} << 20;

// A file with no name in $TMPDIR (or /tmp): it goes away with its last descriptor, so
// nothing is left behind even when the process dies.
int OpenUnnamedFile() {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  if (error) folder = "/tmp";
  int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  // File systems without O_TMPFILE: a named file, unlinked at once.
  std::string pattern = (folder / "disc-stream-XXXXXX").string();
  fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  unlink(pattern.c_str());
  return fd;
}

}  // namespace

namespace linux_disc {

std::shared_ptr<StreamFile> StreamFile::Create() {
  const int fd = OpenUnnamedFile();
  if (fd < 0) return nullptr;
  return std::shared_ptr<StreamFile>(new StreamFile(fd));
}

StreamFile::~StreamFile() {
  close(fd_);
}

bool StreamFile::Size(uint64_t* bytes) const {
  struct stat info;
  if (fstat(fd_, &info) != 0) return false;
  *bytes = static_cast<uint64_t>(info.st_size);
  return true;
}

bool StreamFile::WriteAt(uint64_t offset, const uint8_t* data, size_t bytes, size_t* done,
                         int* error) const {
  *done = 0;
  while (*done < bytes) {
    const ssize_t put =
        pwrite(fd_, data + *done, bytes - *done, static_cast<off_t>(offset + *done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      *error = put < 0 ? errno : ENOSPC;
      return false;
    }
    *done += static_cast<size_t>(put);
  }
  return true;
}

bool StreamFile::ReadAt(uint64_t offset, uint8_t* data, size_t bytes, size_t* got) const {
  *got = 0;
  while (*got < bytes) {
    const ssize_t read = pread(fd_, data + *got, bytes - *got, static_cast<off_t>(offset + *got));
    if (read < 0 && errno == EINTR) continue;
    if (read < 0) return false;
    if (read == 0) break;
    *got += static_cast<size_t>(read);
  }
  return true;
}

}  // namespace linux_disc

namespace {

class LinuxDiscStream : public DiscStream {
 public:
  LinuxDiscStream(std::shared_ptr<StreamFile> file, bool writable)
      : file_(std::move(file)), writable_(writable) {}

  HResult Write(const void* data, uint32_t bytes, uint32_t* written) override {
    if (written != nullptr) *written = 0;
    if (data == nullptr && bytes > 0) return kStgInvalidPointer;
    if (!writable_) return kStgAccessDenied;
    size_t done = 0;
    int error = 0;
    const bool ok =
        file_->WriteAt(position_, static_cast<const uint8_t*>(data), bytes, &done, &error);
    position_ += done;
    if (written != nullptr) *written = static_cast<uint32_t>(done);
    if (ok) return kSOk;
    return error == ENOSPC || error == EDQUOT || error == EFBIG ? kStgMediumFull : kStgWriteFault;
  }

  HResult CopyTo(DiscStream& target, uint64_t bytes) override {
    std::vector<uint8_t> chunk(static_cast<size_t>(std::min<uint64_t>(bytes, kCopyChunkBytes)));
    uint64_t left = bytes;
    while (left > 0) {
      size_t got = 0;
      const size_t want = static_cast<size_t>(std::min<uint64_t>(left, chunk.size()));
      if (!file_->ReadAt(position_, chunk.data(), want, &got)) return kStgReadFault;
      if (got == 0) break;  // the end of the stream: copying stops there, as on Windows
      position_ += got;
      left -= got;
      uint32_t written = 0;
      const HResult result = target.Write(chunk.data(), static_cast<uint32_t>(got), &written);
      if (!Succeeded(result)) return result;
      if (written != got) return kStgMediumFull;
    }
    return kSOk;
  }

  const std::shared_ptr<StreamFile>& file() const { return file_; }

 private:
  std::shared_ptr<StreamFile> file_;
  bool writable_;
  uint64_t position_ = 0;
};

bool ValidStreamName(const std::u16string& name) {
  return !name.empty() && name.size() <= kMaxStreamNameLength &&
         name.find(char16_t{0}) == std::u16string::npos &&
         name.find_first_of(kForbiddenNameCharacters) == std::u16string::npos;
}

class LinuxDiscStorage : public DiscStorage {
 public:
  HResult CreateStream(const std::u16string& name, uint32_t mode,
                       std::unique_ptr<DiscStream>* stream) override {
    if (stream == nullptr) return kStgInvalidPointer;
    stream->reset();
    if ((mode & kStgmAccessMask) > kStgmReadWrite) return kStgInvalidFlag;
    if (!ValidStreamName(name)) return kStgInvalidName;
    if (streams_.count(name) != 0 && (mode & kStgmCreate) == 0) return kStgFileAlreadyExists;
    std::shared_ptr<StreamFile> file = StreamFile::Create();
    if (!file) return kEFail;
    // Stream objects still open on a replaced stream keep reading its old bytes.
    streams_[name] = file;
    *stream = std::make_unique<LinuxDiscStream>(std::move(file), (mode & kStgmAccessMask) != 0);
    return kSOk;
  }

  HResult OpenStream(const std::u16string& name, uint32_t mode,
                     std::unique_ptr<DiscStream>* stream) override {
    if (stream == nullptr) return kStgInvalidPointer;
    stream->reset();
    if ((mode & kStgmAccessMask) > kStgmReadWrite) return kStgInvalidFlag;
    if (!ValidStreamName(name)) return kStgInvalidName;
    const auto found = streams_.find(name);
    if (found == streams_.end()) return kStgFileNotFound;
    *stream = std::make_unique<LinuxDiscStream>(found->second, (mode & kStgmAccessMask) != 0);
    return kSOk;
  }

 private:
  std::map<std::u16string, std::shared_ptr<StreamFile>> streams_;
};

}  // namespace

namespace linux_disc {

std::shared_ptr<StreamFile> ImageFile(DiscStream& image, HResult* result) {
  *result = kSOk;
  if (const auto* ours = dynamic_cast<const LinuxDiscStream*>(&image)) return ours->file();
  std::shared_ptr<StreamFile> file = StreamFile::Create();
  if (!file) {
    *result = kEFail;
    return nullptr;
  }
  LinuxDiscStream copy(file, true);
  *result = image.CopyTo(copy, std::numeric_limits<uint64_t>::max());
  return Succeeded(*result) ? file : nullptr;
}

}  // namespace linux_disc

HResult LinuxDiscRecording::CreateTemporaryStorage(uint32_t /*mode*/,
                                                   std::unique_ptr<DiscStorage>* storage) {
  if (storage == nullptr) return kStgInvalidPointer;
  *storage = std::make_unique<LinuxDiscStorage>();
  return kSOk;
}

bool ReadAll(const DiscStream& stream, std::vector<uint8_t>* bytes) {
  bytes->clear();
  const auto* ours = dynamic_cast<const LinuxDiscStream*>(&stream);
  if (ours == nullptr) return false;
  uint64_t size = 0;
  if (!ours->file()->Size(&size)) return false;
  bytes->resize(static_cast<size_t>(size));
  size_t got = 0;
  if (!ours->file()->ReadAt(0, bytes->data(), bytes->size(), &got) || got != bytes->size()) {
    bytes->clear();
    return false;
  }
  return true;
}

}  // namespace platform
