// The burner of Windows 2000 and XP: the install files go into one temporary compound file
// (one stream per file, named as the data file names it), the floppy image into another,
// the Joliet properties make IMAPI put that image on the disc as its El Torito boot image,
// and IMAPI writes the disc and ejects it.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cd/CdBurner.h"
#include "cd/ImapiHolders.h"
#include "datafile/TextIds.h"
#include "image/FloppyImageAssembler.h"
#include "image/FloppyLayout.h"

namespace cd {

namespace {

namespace text = datafile::text;

using platform::HResult;
using platform::Succeeded;

constexpr uint32_t kStartPauseMs = 1000;
constexpr uint32_t kStagePauseMs = 200;
constexpr uint32_t kFormatRoom = 2;
constexpr uint32_t kCopyPieceBytes = 65536;
constexpr uint32_t kFirstNewPropertyId = 2;
constexpr char16_t kBootStreamName[] = u"bootimg";

// Joliet property ids of the boot record.
constexpr uint32_t kPlaceBootImage = 4;
constexpr uint32_t kBootManufacturerId = 5;
constexpr uint32_t kBootPlatform = 6;
constexpr uint32_t kBootEmulation = 7;
constexpr uint32_t kBootImage = 8;
constexpr int64_t kPlatformX86 = 0;
constexpr int64_t kEmulation144Floppy = 2;

// A staging step that failed, with the text that names it and the call's result. It is
// raised and caught inside this burner only.
struct StagingError {
  const char* text;
  HResult result;
};

void Check(HResult result, const char* text) {
  if (!Succeeded(result)) throw StagingError{text, result};
}

void ShowError(const CdJobServices& services, datafile::DataFile* dataFile, uint16_t text) {
  services.dialog->MessageBox(datafile::LoadText(dataFile, text),
                              datafile::LoadText(dataFile, text::kErrorCaption),
                              platform::kMbIconError, false);
}

// Copies data file entry `id` into `stream`, in pieces.
void CopyEntry(datafile::DataFile* dataFile, uint16_t id, platform::DiscStream& stream) {
  datafile::EntryLocation entry;
  if (!datafile::LocateEntryAndTakeError(dataFile, id, &entry)) {
    throw StagingError{"Failed locating file data", platform::kEFail};
  }
  std::vector<uint8_t> piece(kCopyPieceBytes);
  for (uint32_t done = 0; done < entry.size;) {
    const uint32_t bytes = std::min(kCopyPieceBytes, entry.size - done);
    if (!datafile::ReadExactlyAt(dataFile, entry.offset + done, piece.data(), bytes)) {
      throw StagingError{"Failed reading file data", platform::kEFail};
    }
    uint32_t written = 0;
    Check(stream.Write(piece.data(), bytes, &written), "Failed writing stream");
    done += bytes;
  }
}

// Steps 9 and 10: every named file as a stream of the data storage.
std::unique_ptr<platform::DiscStorage> StageFiles(const CdJobServices& services,
                                                  datafile::DataFile* dataFile) {
  std::unique_ptr<platform::DiscStorage> data;
  Check(services.recording->CreateTemporaryStorage(platform::kStgmCreateReadWriteExclusive, &data),
        "Failed Creating temp");
  for (int i = 0; i < datafile::kMaxCdFiles; ++i) {
    std::string name;
    const datafile::DataFileError nameError = datafile::LoadTextOrError(
        dataFile, static_cast<uint16_t>(datafile::kFirstCdFileNameId + i), &name);
    // A name that cannot be read would end the list early and the disc would lack files.
    if (nameError != datafile::DataFileError::None &&
        nameError != datafile::DataFileError::NotFound) {
      throw StagingError{"Failed reading a file name", platform::kEFail};
    }
    if (name.empty()) break;
    std::unique_ptr<platform::DiscStream> stream;
    Check(data->CreateStream(WidenText(name), platform::kStgmCreateWriteExclusive, &stream),
          "Failed creating stream");
    // A name without its data would stage garbage; the job fails instead.
    CopyEntry(dataFile, static_cast<uint16_t>(datafile::kFirstCdFileDataId + i), *stream);
  }
  return data;
}

// Steps 12 to 15: the floppy image in the "bootimg" stream, opened again for reading.
std::unique_ptr<platform::DiscStream> StageBootImage(const CdJobServices& services,
                                                     datafile::DataFile* dataFile,
                                                     std::unique_ptr<platform::DiscStorage>* boot) {
  Check(services.recording->CreateTemporaryStorage(platform::kStgmCreateReadWriteExclusive, boot),
        "Failed Creating tempboot");
  {
    std::unique_ptr<platform::DiscStream> stream;
    Check((*boot)->CreateStream(kBootStreamName, platform::kStgmCreateWriteExclusive, &stream),
          "Failed creating stream");
    auto floppy = platform::AllocateArray<uint8_t>(*services.system, image::kFloppyImageBytes);
    if (!floppy) throw StagingError{"Failed allocating the boot image", platform::kEFail};
    image::FloppyAssemblyReport report;
    const int status =
        image::AssembleFloppyImage(floppy.get(), dataFile, *services.system, &report);
    // An incomplete floppy image would make a disc that does not boot.
    if (!image::FloppyImageIsComplete(status, report)) {
      throw StagingError{"Failed assembling the boot image", platform::kEFail};
    }
    uint32_t written = 0;
    Check(stream->Write(floppy.get(), image::kFloppyImageBytes, &written), "Failed writing stream");
  }
  std::unique_ptr<platform::DiscStream> reading;
  Check((*boot)->OpenStream(kBootStreamName, platform::kStgmReadExclusive, &reading),
        "Failed Opening BootStream");
  return reading;
}

// Step 16: the boot record's properties, by the ids under which IMAPI enumerates them.
void SetBootProperties(platform::JolietFormat& joliet, platform::DiscStream& bootImage) {
  std::unique_ptr<platform::PropertySet> properties;
  Check(joliet.GetJolietProperties(&properties), "Failed GetJolietProperties");
  std::unique_ptr<platform::PropertyEnumerator> enumerator;
  Check(properties->Enum(&enumerator), "Failed enumerating Joliet properties");
  uint32_t id = 0;
  uint16_t type = platform::kVtEmpty;
  while (enumerator->Next(&id, &type) == platform::kSOk) {
    platform::PropertyValue value;
    // Not examined: a property that cannot be read keeps the type it was listed with.
    properties->Read(id, &value);
    if (value.type == platform::kVtEmpty) value.type = type;
    switch (id) {
      case kPlaceBootImage:
        value.number = 1;
        break;
      case kBootManufacturerId:
        value.text = kBootManufacturer;
        break;
      case kBootPlatform:
        value.number = kPlatformX86;
        break;
      case kBootEmulation:
        value.number = kEmulation144Floppy;
        break;
      case kBootImage:
        if (value.stream) bootImage.CopyTo(*value.stream, image::kFloppyImageBytes);
        break;
      default:
        continue;  // every other property keeps its value
    }
    properties->Write(id, value, kFirstNewPropertyId);
  }
  Check(joliet.SetJolietProperties(*properties), "Failed SetJolietProperties");
}

}  // namespace

bool BurnWithImapi(const CdJobServices& services, int32_t recorderIndex,
                   std::atomic<int32_t>* stage, datafile::DataFile* dataFile) {
  platform::DiscRecording& recording = *services.recording;
  recording.CoInitialize();
  *stage = 0;
  services.system->Pause(kStartPauseMs);
  bool written = false;
  {
    ShellBurner shell(recording);
    if (!shell.HasRecordableDrive()) {
      ShowError(services, dataFile, text::kNoRecorder);
    } else {
      DiscMaster master(recording);
      if (!master.Open()) {
        ShowError(services, dataFile, text::kNoDiscMaster);
      } else {
        master.EnumFormats(kFormatRoom);
        DiscRecorder recorder;
        RecorderEnumerator recorders(master);
        // Not examined: an index past the end, or none (-1), leaves no recorder held, and
        // the disc write then fails by its own rule.
        for (int32_t i = 0; i <= recorderIndex; ++i) recorders.Next(recorder);
        master.SetActiveRecorder(recorder);
        std::unique_ptr<platform::JolietFormat> joliet;
        const HResult query = master.object()->QueryJoliet(&joliet);
        *stage = 1;
        services.system->Pause(kStagePauseMs);
        bool staged = false;
        try {
          Check(query, "Failed QueryInterface Joliet");
          std::unique_ptr<platform::DiscStorage> data = StageFiles(services, dataFile);
          *stage = 3;
          services.system->Pause(kStagePauseMs);
          std::unique_ptr<platform::DiscStorage> boot;
          std::unique_ptr<platform::DiscStream> bootImage =
              StageBootImage(services, dataFile, &boot);
          SetBootProperties(*joliet, *bootImage);
          *stage = 4;
          Check(joliet->AddData(*data, 1), "Failed AddData");
          staged = true;
        } catch (const StagingError& error) {
          char line[100];
          std::snprintf(line, sizeof line, "Error: %s (%08x)\n", error.text,
                        static_cast<unsigned>(error.result));
          services.system->Trace(line);
          ShowError(services, dataFile, text::kCannotStage);
        }
        if (staged) {
          *stage = 5;
          const HResult result = master.RecordDisc(false, true);
          *stage = 6;
          written = result == platform::kSOk;
          if (!written) ShowError(services, dataFile, text::kDiscNotWritten);
        }
        master.Close();
      }
    }
  }  // the Joliet interface, enumerator, recorder, disc master and shell object go here
  recording.CoUninitialize();
  return written;
}

}  // namespace cd
