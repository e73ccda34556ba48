#include "frontend/ExportOutput.h"

#include <cstring>

#include "image/IsoRecords.h"

namespace frontend {

namespace {

// Writes of this size keep the system calls few without holding much of the image.
constexpr size_t kGatherBytes = 1024 * 1024;

const char* KindName(platform::PathKind kind) {
  switch (kind) {
    case platform::PathKind::Directory:
      return "a directory";
    case platform::PathKind::Device:
      return "a device";
    case platform::PathKind::Pipe:
      return "a pipe (FIFO)";
    case platform::PathKind::Socket:
      return "a socket";
    default:
      return "not a regular file";
  }
}

}  // namespace

std::string RefuseOutput(platform::FileSystem& files, const std::string& path) {
  if (path == kStandardOutputName) return "";
  const platform::PathKind kind = files.Kind(path);
  if (kind == platform::PathKind::Missing || kind == platform::PathKind::RegularFile) return "";
  return "'" + path + "' is " + KindName(kind) +
         ". installer-export writes image files only; nothing was written. To put an "
         "image on a drive, use the installer, which checks the drive and locks it while "
         "it writes.";
}

ImageOutput::ImageOutput(platform::FileSystem& files, platform::System& system, std::string path)
    : files_(files), system_(system), path_(std::move(path)) {}

bool ImageOutput::Open() {
  gathered_ = platform::AllocateArray<uint8_t>(system_, kGatherBytes);
  if (!gathered_) return Fail("not enough memory");
  std::string reason;
  file_ = path_ == kStandardOutputName ? files_.StandardOutput(&reason)
                                       : files_.CreateOutput(path_, &reason);
  return file_ != nullptr || Fail(reason);
}

bool ImageOutput::Write(const uint8_t* data, size_t size) {
  if (!file_) return false;
  if (used_ + size > kGatherBytes && !Flush()) return false;
  if (size >= kGatherBytes) {
    std::string reason;
    return file_->Write(data, size, &reason) || Fail(reason);
  }
  std::memcpy(gathered_.get() + used_, data, size);
  used_ += size;
  return true;
}

bool ImageOutput::Put(const uint8_t* sectors, uint32_t count) {
  return Write(sectors, size_t{count} * image::kIsoSectorBytes);
}

bool ImageOutput::Finish() {
  if (!file_ || !Flush()) return false;
  std::string reason;
  if (!file_->Commit(&reason)) return Fail(reason);
  return true;
}

bool ImageOutput::Flush() {
  std::string reason;
  const size_t bytes = used_;
  used_ = 0;
  return bytes == 0 || file_->Write(gathered_.get(), bytes, &reason) || Fail(reason);
}

bool ImageOutput::Fail(const std::string& reason) {
  // The first failure is the one that explains; an output that failed writes no more.
  if (error_.empty()) {
    error_ =
        (path_ == kStandardOutputName ? std::string("cannot write the image to standard output")
                                      : "cannot write '" + path_ + "'") +
        ": " + reason;
  }
  file_.reset();
  return false;
}

}  // namespace frontend
