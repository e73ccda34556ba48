// libFuzzer targets: the data file reader, the image builders, the CD name rules.
#include <cstdlib>
#include <regex>
#include <string>

#include "datafile/BitmapEntry.h"
#include "datafile/DataFile.h"
#include "image/FloppyImageAssembler.h"
#include "image/FloppyLayout.h"
#include "image/IsoImageBuilder.h"
#include "image/IsoNames.h"
#include "platform/DibPixels.h"
#include "tests/fakes/FakeFileSystem.h"
#include "tests/fakes/FakeSystem.h"

// An install.dat in memory, opened with no lookup pause.
struct InMemoryDataFile {
  InMemoryDataFile(const uint8_t* data, size_t size) {
    datafile::TakeDataFileError();
    files.Add("install.dat", std::vector<uint8_t>(data, data + size));
    system.largestAllocation = 64u << 20;
    handle = datafile::OpenDataFile({&files, &system, false}, "install.dat");
  }
  fakes::FakeFileSystem files;
  fakes::FakeSystem system;
  std::unique_ptr<datafile::DataFile> handle;
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
#if defined(FUZZ_FuzzDataFile)
  InMemoryDataFile file(data, size);
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
    datafile::TakeDataFileError();
    auto contents = datafile::ReadEntryData(handle, id, entries.get(), count, &bytes);
    platform::DibView dib;
    if (contents && datafile::ParseBitmapEntry(contents.get(), bytes, &dib))  // each corner
      for (int i = 0; i < 4; ++i)
        (void)platform::DibPixel(dib, i % 2 * (dib.width - 1), i / 2 * (std::abs(dib.height) - 1));
  }
#elif defined(FUZZ_FuzzFloppyImage)
  InMemoryDataFile file(data, size);
  std::vector<uint8_t> floppy(image::kFloppyImageBytes);
  (void)image::AssembleFloppyImage(floppy.data(), file.handle.get(), file.system);
#elif defined(FUZZ_FuzzIsoImage)
  // Into a buffer of exactly the planned size, so a write past the plan is caught.
  InMemoryDataFile file(data, size);
  image::IsoPlan plan;
  if (image::PlanIsoImage(file.handle.get(), file.system, &plan) != image::kIsoBuilt ||
      plan.ImageBytes() > (64u << 20))  // beyond the fuzzer's memory
    return 0;
  std::vector<uint8_t> iso(static_cast<size_t>(plan.ImageBytes()));
  uint32_t length = 0;
  (void)image::WriteIsoImage(plan, iso.data(), iso.size(), &length, file.handle.get(), file.system);
  if (length > iso.size()) __builtin_trap();
#elif defined(FUZZ_FuzzIsoName)
  // Any name's 8.3 identifier is BASE.EXT;1, at most 8 and 3 of A-Z, 0-9 and _.
  const std::string id = image::MakeIsoName(std::string(reinterpret_cast<const char*>(data), size));
  static const std::regex kIdentifier("[A-Z0-9_]{0,8}\\.[A-Z0-9_]{0,3};1");
  if (!std::regex_match(id, kIdentifier)) __builtin_trap();
#endif
  return 0;
}
