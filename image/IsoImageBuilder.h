// IsoImageBuilder: the bootable installation CD as one ISO 9660 image. The
// volume has an El Torito boot record whose catalog boots the floppy image by diskette
// emulation, a Joliet tree carrying each file's stored name, and up to 100 files in its
// root directory (file i: name from text 5000 + i, contents from entry 5100 + i).
//
// Every sector's place is fixed in a plan before any is written. The sectors then go, in
// ascending order, to a sink: the caller's buffer (sized from the plan; the builder never
// writes past the capacity it is given), or a sink of the caller's own, such as a file, so
// that an image of any size is made in a few megabytes of memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "datafile/DataFile.h"
#include "platform/System.h"

namespace image {

enum IsoBuildStatus : int {
  kIsoBuilt = 0,
  /// The buffer is smaller than the plan's image; nothing was written.
  kIsoBufferTooSmall = 1,
  /// A file's data entry (5100 + i) is missing, or could not be read whole.
  kIsoFileUnreadable = 2,
  /// The floppy image for the boot record could not be assembled completely.
  kIsoBootImageFailed = 3,
  /// A file name is longer than a Joliet record can carry (111 characters).
  kIsoNameTooLong = 4,
  /// Memory for the boot image could not be had.
  kIsoNoMemory = 5,
  /// The files would make an image of 4 GB or more, which no length can count.
  kIsoTooLarge = 6,
  /// The caller's sink refused sectors; it knows why.
  kIsoSinkFailed = 7,
};

/// The longest name a Joliet record can carry: 33 + 2 x 111 bytes fits its length byte.
constexpr size_t kLongestJolietName = 111;
/// The buffer that the CD burner has always provided; plans larger than this get more.
constexpr uint64_t kDefaultIsoBufferBytes = 3145728;

struct IsoFileEntry {
  std::string name;  ///< as the data file stores it
  uint32_t size = 0;
  uint32_t firstSector = 0;
  uint16_t dataId = 0;  ///< the entry that holds the contents
};

struct IsoPlan {
  std::vector<IsoFileEntry> files;  ///< the files the image holds, after any cut
  size_t namedFiles = 0;            ///< the files the data file names, before the cut
  bool cutInJoliet = false;         ///< the Joliet directory, not the ISO one, forced the cut
  uint32_t volumeSectors = 0;       ///< T
  platform::UtcTime buildDate;
  uint64_t ImageBytes() const { return uint64_t{volumeSectors} * 2048; }
  bool Cut() const { return files.size() < namedFiles; }
};

/// Where the planned image's sectors go, in ascending order, none twice.
class IsoSectorSink {
 public:
  virtual ~IsoSectorSink() = default;
  /// Appends `count` whole sectors of 2048 bytes. False stops the build.
  [[nodiscard]] virtual bool Put(const uint8_t* sectors, uint32_t count) = 0;
};

/// What went wrong, for callers that explain a status to a person.
struct IsoBuildReport {
  int failedFile = -1;  ///< the file behind kIsoFileUnreadable or kIsoNameTooLong
  std::string failedName;
  int floppyStatus = 0;  ///< the assembler's status behind kIsoBootImageFailed
};

/// Lists the files, places them, decides any root directory cut and reads the clock.
[[nodiscard]] int PlanIsoImage(datafile::DataFile* dataFile, platform::System& system,
                               IsoPlan* plan, IsoBuildReport* report = nullptr);

/// The buffer a caller allocates for `plan`: never less than the burner's traditional
/// 3,145,728 bytes, more when the image needs it.
uint64_t IsoBufferBytesFor(const IsoPlan& plan);

/// Writes the planned image into `buffer` (room for `capacity` bytes). `*length` is set to
/// 0 first and grows by 2048 with every sector written, so it always tells how much of
/// the buffer holds image.
[[nodiscard]] int WriteIsoImage(const IsoPlan& plan, uint8_t* buffer, uint64_t capacity,
                                uint32_t* length, datafile::DataFile* dataFile,
                                platform::System& system, IsoBuildReport* report = nullptr);

/// Writes the planned image into `sink`; kIsoSinkFailed when the sink refused sectors.
[[nodiscard]] int WriteIsoImage(const IsoPlan& plan, IsoSectorSink& sink,
                                datafile::DataFile* dataFile, platform::System& system,
                                IsoBuildReport* report = nullptr);

/// PlanIsoImage then WriteIsoImage.
[[nodiscard]] int BuildIsoImage(uint8_t* buffer, uint64_t capacity, uint32_t* length,
                                datafile::DataFile* dataFile, platform::System& system,
                                IsoBuildReport* report = nullptr);

}  // namespace image
