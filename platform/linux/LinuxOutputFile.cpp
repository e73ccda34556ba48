#include "platform/linux/LinuxOutputFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

constexpr int kStandardOutput = 1;
// Written data is handed to the disk in steps of this size while the image is still being
// made, so that the final fsync waits only for the last step.
constexpr off_t kWritebackStepBytes = 8 * 1024 * 1024;

// Writes all of `size` bytes to `fd`; false with `*error` when the descriptor refuses.
bool WriteAll(int fd, const uint8_t* data, size_t size, std::string* error) {
  size_t done = 0;
  while (done < size) {
    const ssize_t put = write(fd, data + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      // A write that moves nothing without an error means the medium is full.
      *error = std::strerror(put < 0 ? errno : ENOSPC);
      return false;
    }
    done += static_cast<size_t>(put);
  }
  return true;
}

// The image under construction, beside its target.
class PartialFile : public OutputFile {
 public:
  PartialFile(std::string target, std::string partial, int fd)
      : target_(std::move(target)), partial_(std::move(partial)), fd_(fd) {}
  ~PartialFile() override {
    if (fd_ >= 0) close(fd_);
    if (!committed_) unlink(partial_.c_str());
  }

  bool Write(const uint8_t* data, size_t size, std::string* error) override {
    if (fd_ < 0 || !WriteAll(fd_, data, size, error)) return false;
    written_ += static_cast<off_t>(size);
    if (written_ - handedOver_ >= kWritebackStepBytes) {
      // Only starts the writing; a failure shows again, and is reported, at the fsync.
      sync_file_range(fd_, handedOver_, written_ - handedOver_, SYNC_FILE_RANGE_WRITE);
      handedOver_ = written_;
    }
    return true;
  }

  bool Commit(std::string* error) override {
    const int fd = fd_;
    fd_ = -1;
    if (fd < 0 || fsync(fd) != 0 || close(fd) != 0) {
      *error = std::strerror(errno);
      return false;
    }
    // The target was checked before the build; it may have changed since. A device, pipe
    // or directory that appeared under its name is left alone.
    const PathKind now = LinuxPathKind(target_);
    if (now != PathKind::Missing && now != PathKind::RegularFile) {
      *error = "it is no longer a regular file, so it was not replaced";
      return false;
    }
    if (rename(partial_.c_str(), target_.c_str()) != 0) {
      *error = std::strerror(errno);
      return false;
    }
    committed_ = true;
    return true;
  }

 private:
  std::string target_;
  std::string partial_;
  int fd_;
  off_t written_ = 0;
  off_t handedOver_ = 0;
  bool committed_ = false;
};

class StandardOutputFile : public OutputFile {
 public:
  bool Write(const uint8_t* data, size_t size, std::string* error) override {
    return WriteAll(kStandardOutput, data, size, error);
  }
  bool Commit(std::string*) override { return true; }
};

}  // namespace

PathKind LinuxPathKind(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return PathKind::Missing;
  if (S_ISREG(info.st_mode)) return PathKind::RegularFile;
  if (S_ISDIR(info.st_mode)) return PathKind::Directory;
  if (S_ISBLK(info.st_mode) || S_ISCHR(info.st_mode)) return PathKind::Device;
  if (S_ISFIFO(info.st_mode)) return PathKind::Pipe;
  if (S_ISSOCK(info.st_mode)) return PathKind::Socket;
  return PathKind::Other;
}

std::unique_ptr<OutputFile> CreateLinuxOutput(const std::string& path, std::string* error) {
  const std::string partial = path + ".partial";
  // O_EXCL: a file or symbolic link already under that name is not followed or truncated.
  const int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = errno == EEXIST ? "'" + partial +
                                   "' already exists (another export may be writing it, or "
                                   "one was interrupted); remove it and try again"
                             : std::string(std::strerror(errno));
    return nullptr;
  }
  return std::make_unique<PartialFile>(path, partial, fd);
}

std::unique_ptr<OutputFile> LinuxStandardOutput(std::string* error) {
  if (isatty(kStandardOutput)) {
    *error = "standard output is a terminal; send the image to a file or a pipe";
    return nullptr;
  }
  // A reader that goes away must give a failed write that is reported, not a signal that
  // ends the program without a word.
  signal(SIGPIPE, SIG_IGN);
  return std::make_unique<StandardOutputFile>();
}

}  // namespace platform
