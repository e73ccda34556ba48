// The burner of Windows Vista and later (and of Linux, whose recorder back end takes the
// same shape): the bootable ISO 9660 image is built here, put into a stream of a
// temporary compound file, and written by IMAPI2's data writer, which then ejects.
#include <memory>
#include <string>

#include "cd/CdBurner.h"
#include "datafile/TextIds.h"
#include "image/IsoImageBuilder.h"
#include "image/IsoRecords.h"

namespace cd {

namespace {

namespace text = datafile::text;

using platform::HResult;
using platform::Succeeded;

constexpr char16_t kImageStreamName[] = u"iso";

// Sectors straight into the image stream as the builder makes them.
class StreamSink : public image::IsoSectorSink {
 public:
  explicit StreamSink(platform::DiscStream& stream) : stream_(stream) {}
  bool Put(const uint8_t* sectors, uint32_t count) override {
    const uint32_t bytes = count * image::kIsoSectorBytes;
    uint32_t written = 0;
    return Succeeded(stream_.Write(sectors, bytes, &written)) && written == bytes;
  }

 private:
  platform::DiscStream& stream_;
};

// Builds the planned image into `stream`: in one piece from a buffer sized from the plan,
// or, where the streams are files, sector by sector, so that memory does not grow with
// the image.
bool StageImage(const image::IsoPlan& plan, platform::DiscStream& stream, bool inPieces,
                datafile::DataFile* dataFile, platform::System& system) {
  if (inPieces) {
    StreamSink sink(stream);
    return image::WriteIsoImage(plan, sink, dataFile, system) == image::kIsoBuilt;
  }
  // The buffer goes on return, as soon as the image is in the stream.
  const uint64_t capacity = image::IsoBufferBytesFor(plan);
  auto buffer = platform::AllocateArray<uint8_t>(system, static_cast<size_t>(capacity));
  uint32_t length = 0;
  uint32_t written = 0;
  return buffer &&
         image::WriteIsoImage(plan, buffer.get(), capacity, &length, dataFile, system) ==
             image::kIsoBuilt &&
         Succeeded(stream.Write(buffer.get(), length, &written)) && written == length;
}

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
      // The plan sizes the image, so a large installation builds instead of overflowing
      // the traditional 3 MB.
      image::IsoPlan plan;
      if (image::PlanIsoImage(dataFile, *services_.system, &plan) != image::kIsoBuilt ||
          !StageImage(plan, *stream, recording.StreamsTakeImageInPieces(), dataFile,
                      *services_.system)) {
        failure = text::kCannotStage;
        break;
      }
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
