// The floppy image assembled from an arbitrary data file.
#include "image/FloppyImageAssembler.h"
#include "image/FloppyLayout.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::FuzzDataFile file(data, size);
  std::vector<uint8_t> floppy(image::kFloppyImageBytes);
  (void)image::AssembleFloppyImage(floppy.data(), file.handle.get(), file.system);
  return 0;
}
