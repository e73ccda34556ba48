// Every reader operation on arbitrary bytes, for every number the directory names and a few
// it may not.
#include "datafile/BitmapEntry.h"
#include "platform/DibPixels.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::FuzzDataFile file(data, size);
  datafile::DataFile* handle = file.handle.get();
  uint16_t count = 0;
  std::unique_ptr<datafile::DirectoryEntry[]> entries = datafile::ReadDirectory(handle, &count);
  std::vector<uint16_t> ids = {100, 1000, 1037, 5000, 5100, 10002, 10003};
  for (uint16_t i = 0; entries && i < count && i < 64; ++i) ids.push_back(entries[i].id);
  for (uint16_t id : ids) {
    datafile::TakeDataFileError();
    (void)datafile::LoadText(handle, id);
    uint32_t bytes = 0;
    (void)datafile::LocateEntry(handle, id, &bytes);
    datafile::DirectoryEntry record;
    datafile::TakeDataFileError();
    datafile::FindEntry(handle, id, entries.get(), count, &record);
    datafile::TakeDataFileError();
    auto contents = datafile::ReadEntryData(handle, id, entries.get(), count, &bytes);
    platform::DibView dib;
    if (contents && datafile::ParseBitmapEntry(contents.get(), bytes, &dib)) {
      // Reading every corner pixel proves the checked layout really holds the rows.
      for (int y : {0, (dib.height < 0 ? -dib.height : dib.height) - 1}) {
        for (int x : {0, dib.width - 1}) (void)platform::DibPixel(dib, x, y);
      }
    }
  }
  return 0;
}
