// The Linux back ends for files, the clock, pauses and pictures.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/DibPixels.h"
#include "platform/Host.h"
#include "platform/SourceDateEpoch.h"
#include "platform/linux/LinuxOutputFile.h"

namespace platform {

namespace {

class LinuxFile : public File {
 public:
  explicit LinuxFile(int fd) : fd_(fd) {}
  ~LinuxFile() override { close(fd_); }

  bool Seek(uint32_t offset) override {
    return lseek(fd_, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
  }

  bool Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) override {
    // read() may deliver less than asked before the end of the file; keep going until the
    // request is met or the file ends.
    auto* at = static_cast<uint8_t*>(buffer);
    uint32_t total = 0;
    while (total < bytes) {
      const ssize_t got = read(fd_, at + total, bytes - total);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        *bytesRead = total;
        return false;
      }
      if (got == 0) break;
      total += static_cast<uint32_t>(got);
    }
    *bytesRead = total;
    return true;
  }

  bool Size(uint64_t* bytes) override {
    struct stat info;
    if (fstat(fd_, &info) != 0) return false;
    *bytes = static_cast<uint64_t>(info.st_size);
    return true;
  }

 private:
  int fd_;
};

class LinuxFileSystem : public FileSystem {
 public:
  std::unique_ptr<File> Open(const std::string& path, const FileOpenFlags& flags) override {
    int mode = O_RDONLY;
    if ((flags.access & kGenericWrite) != 0) {
      mode = (flags.access & kGenericRead) != 0 ? O_RDWR : O_WRONLY;
    }
    // Only existing files are opened, as with OPEN_EXISTING; directories are not files.
    const int fd = open(path.c_str(), mode | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info;
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
      close(fd);
      return nullptr;
    }
    return std::make_unique<LinuxFile>(fd);
  }

  PathKind Kind(const std::string& path) override { return LinuxPathKind(path); }
  std::unique_ptr<OutputFile> CreateOutput(const std::string& path, std::string* error) override {
    return CreateLinuxOutput(path, error);
  }
  std::unique_ptr<OutputFile> StandardOutput(std::string* error) override {
    return LinuxStandardOutput(error);
  }
};

class LinuxSystem : public System {
 public:
  // Linux answers as a Windows Vista of the NT family would, so the installer takes the
  // modern CD path, which the libburn recorder back end serves.
  bool GetVersion(VersionInfo* version) override {
    version->platformId = 2;
    version->major = 6;
    version->build = 6000;
    return true;
  }

  // Removable disks (USB sticks, card readers) from sysfs take the letters from C on, in
  // name order; floppy, optical and loop devices are not among them.
  uint32_t DriveType(const std::string& rootPath) override {
    if (rootPath.size() < 2 || rootPath[1] != ':' || rootPath[0] < 'C' || rootPath[0] > 'Z') {
      return kDriveNoRootDirectory;
    }
    std::vector<std::string> removable;
    DIR* blocks = opendir("/sys/block");
    if (blocks == nullptr) return kDriveNoRootDirectory;
    while (dirent* entry = readdir(blocks)) {
      const std::string name = entry->d_name;
      if (name.empty() || name[0] == '.' || name.rfind("fd", 0) == 0 || name.rfind("sr", 0) == 0 ||
          name.rfind("loop", 0) == 0 || name.rfind("ram", 0) == 0) {
        continue;
      }
      std::FILE* flag = std::fopen(("/sys/block/" + name + "/removable").c_str(), "r");
      if (flag == nullptr) continue;
      const int value = std::fgetc(flag);
      std::fclose(flag);
      if (value == '1') removable.push_back(name);
    }
    closedir(blocks);
    std::sort(removable.begin(), removable.end());
    const size_t index = static_cast<size_t>(rootPath[0] - 'C');
    return index < removable.size() ? kDriveRemovable : kDriveNoRootDirectory;
  }

  void Pause(uint32_t milliseconds) override {
    struct timespec wait;
    wait.tv_sec = milliseconds / 1000;
    wait.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
  }

  UtcTime UtcNow() override {
    const char* fixed = std::getenv("SOURCE_DATE_EPOCH");
    int64_t seconds = 0;
    if (fixed != nullptr && ParseSourceDateEpoch(fixed, &seconds)) {
      return UtcFromEpochSeconds(seconds);
    }
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    UtcTime time = UtcFromEpochSeconds(static_cast<int64_t>(now.tv_sec));
    time.millisecond = static_cast<int>(now.tv_nsec / 1000000);
    return time;
  }

  bool AllowAllocation(size_t) override { return true; }

  void Trace(const std::string& text) override {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }

  void* AllocatePages(size_t bytes) override {
    void* pages = mmap(nullptr, bytes + kSizePrefix, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) return nullptr;
    // munmap needs the length back: it is kept in the first page, and the caller gets the
    // page-aligned block after it.
    *static_cast<size_t*>(pages) = bytes + kSizePrefix;
    return static_cast<uint8_t*>(pages) + kSizePrefix;
  }

  void FreePages(void* pages) override {
    if (pages == nullptr) return;
    uint8_t* start = static_cast<uint8_t*>(pages) - kSizePrefix;
    munmap(start, *reinterpret_cast<size_t*>(start));
  }

  void SetCurrentThreadPriority(int priority) override {
    // Windows priorities map onto the thread's nice value: lowest is +2, above normal -1.
    // Raising priority needs privileges that a user lacks; the job runs correctly anyway.
    setpriority(PRIO_PROCESS, 0, -priority);
  }

  bool StartThread(std::function<void()> body) override {
    try {
      std::thread(std::move(body)).detach();
      return true;
    } catch (const std::system_error&) {
      return false;
    }
  }

  void ExitProcess(uint32_t code) override {
    std::fflush(nullptr);
    std::_Exit(static_cast<int>(code));
  }

 private:
  static constexpr size_t kSizePrefix = 4096;
};

// Linux has no screen device to hand the picture to: it is decoded into pixels that the
// terminal front end can show.
class PixelBitmap : public Bitmap {
 public:
  explicit PixelBitmap(const DibView& dib)
      : width_(dib.width), height_(dib.height < 0 ? -dib.height : dib.height) {
    pixels_.resize(static_cast<size_t>(width_) * static_cast<size_t>(height_));
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x)
        pixels_[static_cast<size_t>(y) * width_ + x] = DibPixel(dib, x, y);
    }
  }
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  uint32_t PixelAt(int x, int y) const override {
    return pixels_[static_cast<size_t>(y) * width_ + x];
  }

 private:
  int width_;
  int height_;
  std::vector<uint32_t> pixels_;
};

class LinuxGraphics : public Graphics {
 public:
  std::unique_ptr<Bitmap> CreateDeviceBitmap(const DibView& dib) override {
    return std::make_unique<PixelBitmap>(dib);
  }
};

}  // namespace

std::unique_ptr<FileSystem> MakeHostFileSystem() {
  return std::make_unique<LinuxFileSystem>();
}
std::unique_ptr<System> MakeHostSystem() {
  return std::make_unique<LinuxSystem>();
}
std::unique_ptr<Graphics> MakeHostGraphics() {
  return std::make_unique<LinuxGraphics>();
}

}  // namespace platform
