// The burner of Windows Vista and later (and of Linux, whose recorder back end takes the
// same shape): the bootable ISO 9660 image is built here, put into a stream of a
// temporary compound file, and written by IMAPI2's data writer, which then ejects.
#include <memory>
#include <string>

#include "cd/CdBurner.h"
#include "datafile/TextIds.h"
#include "image/IsoImageBuilder.h"

namespace cd {

namespace {

namespace text = datafile::text;

using platform::HResult;
using platform::Succeeded;

constexpr char16_t kImageStreamName[] = u"iso";

}  // namespace

bool Imapi2Burner::Burn(int32_t recorderIndex, std::atomic<int32_t>* stage,
                        datafile::DataFile* dataFile) {
  platform::DiscRecording& recording = *services_.recording;
  // The message of a failure before the disc write: the recorder's steps say the disc
  // could not be written, the image's steps that the files could not be prepared.
  uint16_t failure = 0;
  HResult writeResult = platform::kEFail;
  recording.CoInitializeEx(platform::kCoinitApartmentThreaded);
  *stage = 0;
  {
    // Declared in the reverse of the order in which they are released.
    std::unique_ptr<platform::DiscMaster2Object> master;
    std::u16string uniqueId;
    std::unique_ptr<platform::Recorder2Object> recorder;
    std::unique_ptr<platform::DataWriter2Object> writer;
    std::unique_ptr<platform::DiscStorage> storage;
    std::unique_ptr<platform::DiscStream> reading;
    do {
      if (!Succeeded(recording.CreateDiscMaster2(&master)) || !master) {
        failure = text::kDiscNotWritten;
        break;
      }
      *stage = 1;
      if (!Succeeded(master->GetItem(recorderIndex, &uniqueId)) ||
          !Succeeded(recording.CreateRecorder2(&recorder)) || !recorder ||
          !Succeeded(recorder->InitializeDiscRecorder(uniqueId))) {
        failure = text::kDiscNotWritten;
        break;
      }
      *stage = 2;
      if (!Succeeded(recording.CreateDataWriter2(&writer)) || !writer ||
          !Succeeded(writer->PutRecorder(*recorder)) ||
          !Succeeded(writer->PutClientName(kImapi2ClientName))) {
        failure = text::kDiscNotWritten;
        break;
      }
      std::unique_ptr<platform::DiscStream> stream;
      if (!Succeeded(recording.CreateTemporaryStorage(platform::kStgmCreateReadWriteExclusive,
                                                      &storage)) ||
          !storage ||
          !Succeeded(storage->CreateStream(kImageStreamName, platform::kStgmCreateWriteExclusive,
                                           &stream)) ||
          !stream) {
        failure = text::kCannotStage;
        break;
      }
      *stage = 3;
      {
        // The buffer is sized from the image's plan, so a large installation builds
        // instead of overflowing the traditional 3 MB.
        image::IsoPlan plan;
        if (image::PlanIsoImage(dataFile, *services_.system, &plan) != image::kIsoBuilt) {
          failure = text::kCannotStage;
          break;
        }
        const uint64_t capacity = image::IsoBufferBytesFor(plan);
        auto buffer =
            platform::AllocateArray<uint8_t>(*services_.system, static_cast<size_t>(capacity));
        uint32_t length = 0;
        uint32_t written = 0;
        if (!buffer ||
            image::WriteIsoImage(plan, buffer.get(), capacity, &length, dataFile,
                                 *services_.system) != image::kIsoBuilt ||
            !Succeeded(stream->Write(buffer.get(), length, &written)) || written != length) {
          failure = text::kCannotStage;
          break;
        }
      }  // the image buffer goes as soon as the image is in the stream
      stream.reset();
      *stage = 4;
      if (!Succeeded(
              storage->OpenStream(kImageStreamName, platform::kStgmReadExclusive, &reading)) ||
          !reading) {
        failure = text::kCannotStage;
        break;
      }
      *stage = 5;
      writeResult = writer->Write(*reading);
      recorder->EjectMedia();  // whatever the write's result
      *stage = 6;
      if (writeResult != platform::kSOk) failure = text::kDiscNotWritten;
    } while (false);
    if (failure != 0) {
      services_.dialog->MessageBox(datafile::LoadText(dataFile, failure),
                                   datafile::LoadText(dataFile, text::kErrorCaption),
                                   platform::kMbIconError, false);
    }
  }  // the stream, storage, writer, recorder and master are released here
  recording.CoUninitialize();
  return failure == 0 && writeResult == platform::kSOk;
}

}  // namespace cd
