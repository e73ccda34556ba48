#include "image/IsoImageBuilder.h"

#include <algorithm>
#include <cstring>

#include "image/ElToritoCatalog.h"
#include "image/FloppyImageAssembler.h"
#include "image/FloppyLayout.h"
#include "image/IsoNames.h"
#include "image/IsoRecords.h"
#include "image/IsoVolumeDescriptors.h"

namespace image {

namespace {

constexpr uint32_t kSelfAndParentBytes = 68;
constexpr uint32_t kSystemAreaSectors = 16;
// File contents move in pieces this large (a whole number of sectors): few reads and
// writes for a large file, and memory that does not grow with it.
constexpr uint32_t kFileChunkBytes = 256 * 1024;

uint32_t SectorsFor(uint32_t bytes) {
  return (bytes + kIsoSectorBytes - 1) / kIsoSectorBytes;
}

// The record of a file in the ISO 9660 tree: the 8.3 identifier and one 0x00 byte, which
// the identifier length counts.
IsoDirectoryRecord IsoFileRecord(const IsoFileEntry& file, const platform::UtcTime& date) {
  IsoDirectoryRecord record;
  record.extent = file.firstSector;
  record.dataLength = file.size;
  record.date = &date;
  record.identifier = MakeIsoName(file.name);
  record.identifier.push_back('\0');
  return record;
}

// The record of a file in the Joliet tree: every stored byte becomes the UCS-2 big-endian
// code unit 0x00, byte.
IsoDirectoryRecord JolietFileRecord(const IsoFileEntry& file, const platform::UtcTime& date) {
  IsoDirectoryRecord record;
  record.extent = file.firstSector;
  record.dataLength = file.size;
  record.date = &date;
  for (char c : file.name) {
    record.identifier.push_back('\0');
    record.identifier.push_back(c);
  }
  return record;
}

// How many of `files` fit in one directory sector after the self and parent records. A
// record that would end at byte 2048 or beyond does not fit.
template <typename MakeRecord>
size_t FilesThatFit(const std::vector<IsoFileEntry>& files, MakeRecord makeRecord) {
  const platform::UtcTime anyDate;
  uint32_t fill = kSelfAndParentBytes;
  for (size_t i = 0; i < files.size(); ++i) {
    const uint32_t length = DirectoryRecordLength(makeRecord(files[i], anyDate));
    if (fill + length >= kIsoSectorBytes) return i;
    fill += length;
  }
  return files.size();
}

// Appends whole sectors to the caller's buffer, never past its capacity.
class BufferSink : public IsoSectorSink {
 public:
  BufferSink(uint8_t* buffer, uint64_t capacity, uint32_t* length)
      : buffer_(buffer), capacity_(capacity), length_(length) {
    *length_ = 0;
  }
  bool Put(const uint8_t* sectors, uint32_t count) override {
    const uint64_t bytes = uint64_t{count} * kIsoSectorBytes;
    if (*length_ + bytes > capacity_) return false;
    std::memcpy(buffer_ + *length_, sectors, static_cast<size_t>(bytes));
    *length_ += static_cast<uint32_t>(bytes);
    return true;
  }

 private:
  uint8_t* buffer_;
  uint64_t capacity_;
  uint32_t* length_;
};

class IsoWriter {
 public:
  IsoWriter(const IsoPlan& plan, IsoSectorSink& sink, datafile::DataFile* dataFile,
            platform::System& system, IsoBuildReport& report)
      : plan_(plan), sink_(sink), dataFile_(dataFile), system_(system), report_(report) {}

  int Write() {
    uint8_t sector[kIsoSectorBytes];
    for (uint32_t i = 0; i < kSystemAreaSectors; ++i) {
      if (!PutBlock(sector, [](uint8_t*) {})) return kIsoSinkFailed;
    }
    const uint32_t volume = plan_.volumeSectors;
    const platform::UtcTime& date = plan_.buildDate;
    system_.Trace("Primary Volume Descriptor\n");
    if (!PutBlock(sector, [&](uint8_t* s) { PutPrimaryDescriptor(s, volume, date); }))
      return kIsoSinkFailed;
    system_.Trace("El-Torito Volume Descriptor\n");
    if (!PutBlock(sector, [](uint8_t* s) { PutBootRecordDescriptor(s); })) return kIsoSinkFailed;
    system_.Trace("Joliet Volume Descriptor (Unicode)\n");
    if (!PutBlock(sector, [&](uint8_t* s) { PutJolietDescriptor(s, volume, date); }))
      return kIsoSinkFailed;
    system_.Trace("Volume Set Terminator\n");
    if (!PutBlock(sector, [](uint8_t* s) { PutTerminatorDescriptor(s); })) return kIsoSinkFailed;
    system_.Trace("Boot Catalog\n");
    if (!PutBlock(sector, [](uint8_t* s) { PutBootCatalog(s, kBootImageSector); }))
      return kIsoSinkFailed;

    system_.Trace("Index\n");
    if (!PutRoot(sector, kIsoRootSector, IsoFileRecord, !plan_.cutInJoliet)) return kIsoSinkFailed;
    system_.Trace("LPath\n");
    if (!PutBlock(sector, [](uint8_t* s) { PutRootPathTableRecord(s, kIsoRootSector, false); }))
      return kIsoSinkFailed;
    system_.Trace("MPath\n");
    if (!PutBlock(sector, [](uint8_t* s) { PutRootPathTableRecord(s, kIsoRootSector, true); }))
      return kIsoSinkFailed;
    system_.Trace("Index (Joliet)\n");
    if (!PutRoot(sector, kJolietRootSector, JolietFileRecord, plan_.cutInJoliet))
      return kIsoSinkFailed;
    system_.Trace("LPath (Joliet)\n");
    if (!PutBlock(sector, [](uint8_t* s) { PutRootPathTableRecord(s, kJolietRootSector, false); }))
      return kIsoSinkFailed;
    system_.Trace("MPath (Joliet)\n");
    if (!PutBlock(sector, [](uint8_t* s) { PutRootPathTableRecord(s, kJolietRootSector, true); }))
      return kIsoSinkFailed;

    const int boot = PutBootImage();
    if (boot != kIsoBuilt) return boot;
    auto chunk = platform::AllocateArray<uint8_t>(system_, kFileChunkBytes);
    if (!chunk) return kIsoNoMemory;
    for (size_t i = 0; i < plan_.files.size(); ++i) {
      const int file = PutFile(i, chunk.get());
      if (file != kIsoBuilt) return file;
    }
    return kIsoBuilt;
  }

 private:
  // Builds one sector in a block cleared to zero, then appends it.
  template <typename Fill>
  bool PutBlock(uint8_t* sector, Fill fill) {
    std::memset(sector, 0, kIsoSectorBytes);
    fill(sector);
    return sink_.Put(sector, 1);
  }

  template <typename MakeRecord>
  bool PutRoot(uint8_t* sector, uint32_t ownSector, MakeRecord makeRecord, bool reportCut) {
    std::memset(sector, 0, kIsoSectorBytes);
    IsoDirectoryRecord self;
    self.extent = ownSector;
    self.dataLength = kIsoSectorBytes;
    self.flags = kIsoDirectoryFlag;
    self.identifier = std::string(1, '\x00');
    uint32_t fill = PutDirectoryRecord(sector, self);
    IsoDirectoryRecord parent = self;
    parent.identifier = std::string(1, '\x01');
    fill += PutDirectoryRecord(sector + fill, parent);
    for (const IsoFileEntry& file : plan_.files) {
      system_.Trace("Entry: " + file.name + "\n");
      fill += PutDirectoryRecord(sector + fill, makeRecord(file, plan_.buildDate));
    }
    if (reportCut && plan_.Cut()) {
      system_.Trace("Habe z.Z. zu wenig Platz im Root-Verzeichnis. Werde daher hier abbrechen\n");
      system_.Trace("und nur die Dateien bis " +
                    (plan_.files.empty() ? std::string() : plan_.files.back().name) +
                    " speichern.\n");
    }
    return sink_.Put(sector, 1);
  }

  int PutBootImage() {
    auto floppy = platform::AllocateArray<uint8_t>(system_, kFloppyImageBytes);
    if (!floppy) return kIsoNoMemory;
    FloppyAssemblyReport floppyReport;
    const int status = AssembleFloppyImage(floppy.get(), dataFile_, system_, &floppyReport);
    if (!FloppyImageIsComplete(status, floppyReport)) {
      report_.floppyStatus = status;
      return kIsoBootImageFailed;
    }
    return sink_.Put(floppy.get(), kBootImageSectors) ? kIsoBuilt : kIsoSinkFailed;
  }

  // Copies a file's contents in chunks of many sectors, each read whole under the data
  // file's lock; the bytes of its last sector after the file's end are zero.
  int PutFile(size_t index, uint8_t* chunk) {
    const IsoFileEntry& file = plan_.files[index];
    system_.Trace("Writing File " + file.name + "\n");
    system_.Trace("Sizes: " + std::to_string(SectorsFor(file.size)) + "\n");
    datafile::EntryLocation location;
    if (!datafile::LocateEntryAndTakeError(dataFile_, file.dataId, &location) ||
        location.size != file.size) {
      return FileFailed(index);
    }
    for (uint32_t done = 0; done < file.size;) {
      const uint32_t piece = std::min(kFileChunkBytes, file.size - done);
      const uint32_t sectors = SectorsFor(piece);
      if (!datafile::ReadExactlyAt(dataFile_, location.offset + done, chunk, piece)) {
        return FileFailed(index);
      }
      std::memset(chunk + piece, 0, sectors * kIsoSectorBytes - piece);
      if (!sink_.Put(chunk, sectors)) return kIsoSinkFailed;
      done += piece;
    }
    return kIsoBuilt;
  }

  int FileFailed(size_t index) {
    report_.failedFile = static_cast<int>(index);
    report_.failedName = plan_.files[index].name;
    return kIsoFileUnreadable;
  }

  const IsoPlan& plan_;
  IsoSectorSink& sink_;
  datafile::DataFile* dataFile_;
  platform::System& system_;
  IsoBuildReport& report_;
};

}  // namespace

int PlanIsoImage(datafile::DataFile* dataFile, platform::System& system, IsoPlan* plan,
                 IsoBuildReport* report) {
  IsoBuildReport unused;
  IsoBuildReport& out = report != nullptr ? *report : unused;
  out = IsoBuildReport();
  *plan = IsoPlan();
  std::vector<IsoFileEntry> files;
  for (int i = 0; i < datafile::kMaxCdFiles; ++i) {
    IsoFileEntry file;
    // A name that is not there ends the list; one that cannot be read must not end it
    // quietly, or the CD would lack files and nothing would say so.
    const datafile::DataFileError nameError = datafile::LoadTextOrError(
        dataFile, static_cast<uint16_t>(datafile::kFirstCdFileNameId + i), &file.name);
    if (nameError != datafile::DataFileError::None &&
        nameError != datafile::DataFileError::NotFound) {
      out.failedFile = i;
      return kIsoFileUnreadable;
    }
    if (file.name.empty()) break;
    file.dataId = static_cast<uint16_t>(datafile::kFirstCdFileDataId + i);
    datafile::EntryLocation location;
    if (file.name.size() > kLongestJolietName ||
        !datafile::LocateEntryAndTakeError(dataFile, file.dataId, &location)) {
      out.failedFile = i;
      out.failedName = file.name;
      return file.name.size() > kLongestJolietName ? kIsoNameTooLong : kIsoFileUnreadable;
    }
    file.size = location.size;
    files.push_back(std::move(file));
  }

  // The cut is decided here, once for both directories, so that both list the same files
  // and the volume holds exactly their contents.
  plan->namedFiles = files.size();
  const size_t isoFit = FilesThatFit(files, IsoFileRecord);
  const size_t jolietFit = FilesThatFit(files, JolietFileRecord);
  plan->cutInJoliet = jolietFit < isoFit;
  files.resize(std::min(isoFit, jolietFit));

  uint64_t next = kFirstFileSector;
  for (IsoFileEntry& file : files) {
    file.firstSector = static_cast<uint32_t>(std::min<uint64_t>(next, UINT32_MAX));
    next += SectorsFor(file.size);
  }
  if (next * kIsoSectorBytes > UINT32_MAX) return kIsoTooLarge;
  plan->files = std::move(files);
  plan->volumeSectors = static_cast<uint32_t>(next);
  plan->buildDate = system.UtcNow();
  return kIsoBuilt;
}

uint64_t IsoBufferBytesFor(const IsoPlan& plan) {
  return std::max(kDefaultIsoBufferBytes, plan.ImageBytes());
}

int WriteIsoImage(const IsoPlan& plan, IsoSectorSink& sink, datafile::DataFile* dataFile,
                  platform::System& system, IsoBuildReport* report) {
  IsoBuildReport unused;
  IsoWriter writer(plan, sink, dataFile, system, report != nullptr ? *report : unused);
  return writer.Write();
}

int WriteIsoImage(const IsoPlan& plan, uint8_t* buffer, uint64_t capacity, uint32_t* length,
                  datafile::DataFile* dataFile, platform::System& system, IsoBuildReport* report) {
  BufferSink sink(buffer, capacity, length);
  if (buffer == nullptr || plan.ImageBytes() > capacity) return kIsoBufferTooSmall;
  // The capacity covers the plan, so the buffer never refuses a sector.
  return WriteIsoImage(plan, sink, dataFile, system, report);
}

int BuildIsoImage(uint8_t* buffer, uint64_t capacity, uint32_t* length,
                  datafile::DataFile* dataFile, platform::System& system, IsoBuildReport* report) {
  *length = 0;
  IsoPlan plan;
  const int planned = PlanIsoImage(dataFile, system, &plan, report);
  if (planned != kIsoBuilt) return planned;
  return WriteIsoImage(plan, buffer, capacity, length, dataFile, system, report);
}

}  // namespace image
