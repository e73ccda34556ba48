// FloppyImageAssembler: builds the 1.44 MB floppy image from install.dat. The base image
// (entry 10002: boot sector, both FATs, root directory and its own files) goes first;
// KERNEL.MAP (entry 10003) and README.TXT (entry 5100) are added to the FAT12 file
// system in the clusters that follow it; every sector after them holds the format filler.
#pragma once

#include <cstdint>

#include "datafile/DataFile.h"
#include "platform/System.h"

namespace image {

enum FloppyAssemblyStatus : int {
  kFloppyComplete = 0,
  /// No buffer was given; nothing happened.
  kFloppyNoBuffer = 1,
  /// The base image is not a whole number of sectors, or ends before the data area (33
  /// sectors), so no file can be placed after it. The base image is copied (as far as the
  /// buffer reaches), nothing else.
  kFloppyBadBaseImage = 2,
  /// The base image and the two files need 2880 sectors or more. Exactly 2880: everything
  /// is copied and the image is complete without filler. More: only the base image is
  /// copied (as far as the buffer reaches) and neither file is added.
  kFloppyTooLarge = 3,
  /// An entry is missing from the data file or could not be read whole; the buffer holds
  /// what was copied before it.
  kFloppyEntryUnreadable = 4,
  /// The base image's root directory has no free entry for the two files; only the base
  /// image is copied.
  kFloppyRootDirectoryFull = 5,
};

/// Details for callers that explain a status to a person.
struct FloppyAssemblyReport {
  uint32_t sectorsUsed = 0;     ///< base image plus both files, in sectors
  uint16_t failedEntryId = 0;   ///< the entry behind kFloppyEntryUnreadable
  uint32_t baseImageBytes = 0;  ///< size of entry 10002
};

/// Whether an assembly left a whole image: status 0, or status 3 with the pieces filling
/// exactly the 2880 sectors.
bool FloppyImageIsComplete(int status, const FloppyAssemblyReport& report);

/// Assembles the image into `image`, which must hold kFloppyImageBytes; its contents on
/// entry do not matter. Prints "done" to the trace when both files are in place.
[[nodiscard]] int AssembleFloppyImage(uint8_t* image, datafile::DataFile* dataFile,
                                      platform::System& system,
                                      FloppyAssemblyReport* report = nullptr);

/// Adds a file whose data already lies in the image at `dataOffset` (in the data area):
/// chains its clusters in both FATs and writes its entry into the first free root
/// directory slot (never used, or deleted). An empty file gets first cluster 0 and no FAT
/// entry. False, with nothing changed, when the root directory has no free slot or the
/// clusters would lie outside the data area.
[[nodiscard]] bool AddFatFile(uint8_t* image, uint32_t dataOffset, uint32_t fullSectors,
                              uint32_t lastSectorBytes, const char (&name)[12], bool systemFile,
                              const platform::UtcTime& stamp);

/// The number of free root directory slots (first byte 0x00 or 0xE5) in the image.
uint32_t CountFreeRootEntries(const uint8_t* image);

}  // namespace image
