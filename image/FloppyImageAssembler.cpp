#include "image/FloppyImageAssembler.h"

#include <algorithm>
#include <cstring>

#include "image/Fat12.h"
#include "image/FatDirectoryEntry.h"
#include "image/FloppyLayout.h"

namespace image {

namespace {

constexpr char kKernelMapName[12] = "KERNEL  MAP";
constexpr char kReadmeName[12] = "README  TXT";

uint64_t SectorsFor(uint64_t bytes) {
  return (bytes + kSectorBytes - 1) / kSectorBytes;
}

uint8_t* FindFreeRootEntry(uint8_t* image) {
  for (uint32_t slot = 0; slot < kRootDirectoryEntries; ++slot) {
    uint8_t* entry = image + kRootDirectoryOffset + slot * kDirectoryEntryBytes;
    if (entry[0] == kFreeEntry || entry[0] == kDeletedEntry) return entry;
  }
  return nullptr;
}

// Copies `bytes` of an entry to the image at `at`, in sector-sized reads. A partly filled
// last sector is read into a block cleared to zero, so the file's tail is followed by zeros.
bool CopyEntry(datafile::DataFile* dataFile, const datafile::EntryLocation& entry, uint8_t* at,
               uint32_t bytes) {
  for (uint32_t done = 0; done < bytes; done += kSectorBytes) {
    uint8_t block[kSectorBytes] = {};
    const uint32_t piece = std::min(kSectorBytes, bytes - done);
    if (!datafile::ReadExactlyAt(dataFile, entry.offset + done, block, piece)) return false;
    std::memcpy(at + done, block, kSectorBytes);
  }
  return true;
}

}  // namespace

bool FloppyImageIsComplete(int status, const FloppyAssemblyReport& report) {
  return status == kFloppyComplete ||
         (status == kFloppyTooLarge && report.sectorsUsed == kFloppySectors);
}

uint32_t CountFreeRootEntries(const uint8_t* image) {
  uint32_t free = 0;
  for (uint32_t slot = 0; slot < kRootDirectoryEntries; ++slot) {
    const uint8_t first = image[kRootDirectoryOffset + slot * kDirectoryEntryBytes];
    if (first == kFreeEntry || first == kDeletedEntry) ++free;
  }
  return free;
}

bool AddFatFile(uint8_t* image, uint32_t dataOffset, uint32_t fullSectors, uint32_t lastSectorBytes,
                const char (&name)[12], bool systemFile, const platform::UtcTime& stamp) {
  const uint64_t clusterCount = uint64_t{fullSectors} + (lastSectorBytes > 0 ? 1 : 0);
  const uint32_t first = dataOffset / kSectorBytes - kClusterToSector;
  if (dataOffset < kDataAreaOffset || SectorsFor(dataOffset) + clusterCount > kFloppySectors ||
      lastSectorBytes >= kSectorBytes) {
    return false;
  }
  uint8_t* slot = FindFreeRootEntry(image);
  if (slot == nullptr) return false;

  FatDirectoryEntry entry;
  std::memcpy(entry.name, name, sizeof entry.name);
  entry.attributes =
      systemFile ? static_cast<uint8_t>(kAttributeReadOnly | kAttributeHidden | kAttributeSystem)
                 : 0;
  entry.size = fullSectors * kSectorBytes + lastSectorBytes;
  entry.stamp = stamp;
  if (clusterCount > 0) {
    const uint32_t last = first + static_cast<uint32_t>(clusterCount) - 1;
    WriteConsecutiveChain(image + kFirstFatOffset, first, last);
    WriteConsecutiveChain(image + kSecondFatOffset, first, last);
    entry.firstCluster = static_cast<uint16_t>(first);
  }
  // An empty file owns no cluster and so records cluster 0: naming the cluster where its
  // data would have begun would cross-link it with the file that starts there.
  EncodeFatDirectoryEntry(entry, slot);
  return true;
}

int AssembleFloppyImage(uint8_t* image, datafile::DataFile* dataFile, platform::System& system,
                        FloppyAssemblyReport* report) {
  FloppyAssemblyReport unused;
  FloppyAssemblyReport& out = report != nullptr ? *report : unused;
  out = FloppyAssemblyReport();
  if (image == nullptr) return kFloppyNoBuffer;

  datafile::EntryLocation base;
  if (!datafile::LocateEntryAndTakeError(dataFile, datafile::kBaseFloppyImageId, &base)) {
    out.failedEntryId = datafile::kBaseFloppyImageId;
    return kFloppyEntryUnreadable;
  }
  out.baseImageBytes = base.size;
  const uint32_t baseCopied = std::min(base.size, kFloppyImageBytes);
  if (!CopyEntry(dataFile, base, image, baseCopied)) {
    out.failedEntryId = datafile::kBaseFloppyImageId;
    return kFloppyEntryUnreadable;
  }
  if (base.size % kSectorBytes != 0 || base.size < kDataAreaOffset) return kFloppyBadBaseImage;

  datafile::EntryLocation kernelMap;
  datafile::EntryLocation readme;
  if (!datafile::LocateEntryAndTakeError(dataFile, datafile::kKernelMapId, &kernelMap)) {
    out.failedEntryId = datafile::kKernelMapId;
    return kFloppyEntryUnreadable;
  }
  if (!datafile::LocateEntryAndTakeError(dataFile, datafile::kReadmeDataId, &readme)) {
    out.failedEntryId = datafile::kReadmeDataId;
    return kFloppyEntryUnreadable;
  }

  // Everything is sized before a file byte is copied, so nothing lands past the image.
  const uint64_t baseSectors = base.size / kSectorBytes;
  const uint64_t kernelSectors = SectorsFor(kernelMap.size);
  const uint64_t readmeSectors = SectorsFor(readme.size);
  const uint64_t sectorsUsed = baseSectors + kernelSectors + readmeSectors;
  out.sectorsUsed = static_cast<uint32_t>(std::min<uint64_t>(sectorsUsed, UINT32_MAX));
  if (sectorsUsed > kFloppySectors) return kFloppyTooLarge;
  if (CountFreeRootEntries(image) < 2) return kFloppyRootDirectoryFull;

  const platform::UtcTime stamp = system.UtcNow();
  const uint32_t kernelOffset = base.size;
  const uint32_t readmeOffset = kernelOffset + static_cast<uint32_t>(kernelSectors) * kSectorBytes;
  if (!CopyEntry(dataFile, kernelMap, image + kernelOffset, kernelMap.size)) {
    out.failedEntryId = datafile::kKernelMapId;
    return kFloppyEntryUnreadable;
  }
  // Sizes and the free slots were checked above, so both additions succeed.
  bool added = AddFatFile(image, kernelOffset, kernelMap.size / kSectorBytes,
                          kernelMap.size % kSectorBytes, kKernelMapName, true, stamp);
  if (!CopyEntry(dataFile, readme, image + readmeOffset, readme.size)) {
    out.failedEntryId = datafile::kReadmeDataId;
    return kFloppyEntryUnreadable;
  }
  added = AddFatFile(image, readmeOffset, readme.size / kSectorBytes, readme.size % kSectorBytes,
                     kReadmeName, false, stamp) &&
          added;
  if (!added) return kFloppyRootDirectoryFull;
  system.Trace("done\n");

  if (sectorsUsed == kFloppySectors) return kFloppyTooLarge;
  std::memset(image + sectorsUsed * kSectorBytes, kFormatFiller,
              (kFloppySectors - sectorsUsed) * kSectorBytes);
  return kFloppyComplete;
}

}  // namespace image
