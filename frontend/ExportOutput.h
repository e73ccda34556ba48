// Where installer-export puts an image: a regular file (never a device, a pipe or a
// directory that happens to carry the name), or standard output for pipelines.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "image/IsoImageBuilder.h"
#include "platform/File.h"
#include "platform/System.h"

namespace frontend {

/// The output name that means standard output.
constexpr char kStandardOutputName[] = "-";

/// Why the exporter must not write `path`, or "" when it may: it replaces only a regular
/// file or a free name. Drives are the installer's business, with its checks and lock.
std::string RefuseOutput(platform::FileSystem& files, const std::string& path);

/// An image on its way to its output, gathered into large writes. Sectors can be put as
/// they are made, so no image needs to be held whole in memory. Destroyed before Finish,
/// it leaves nothing behind.
class ImageOutput : public image::IsoSectorSink {
 public:
  ImageOutput(platform::FileSystem& files, platform::System& system, std::string path);
  /// Creates the output; false with error() on failure.
  [[nodiscard]] bool Open();
  [[nodiscard]] bool Write(const uint8_t* data, size_t size);
  bool Put(const uint8_t* sectors, uint32_t count) override;
  /// Writes what is gathered and gives the image its name; false with error().
  [[nodiscard]] bool Finish();
  /// "cannot write ...: reason", for the user.
  const std::string& error() const { return error_; }

 private:
  bool Flush();
  bool Fail(const std::string& reason);

  platform::FileSystem& files_;
  platform::System& system_;
  std::string path_;
  std::unique_ptr<platform::OutputFile> file_;
  std::unique_ptr<uint8_t[]> gathered_;
  size_t used_ = 0;
  std::string error_;
};

}  // namespace frontend
