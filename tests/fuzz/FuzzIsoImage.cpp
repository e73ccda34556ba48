// The CD image planned and built from an arbitrary data file, into a buffer of exactly the
// planned size, so that any write past the plan is caught.
#include "image/IsoImageBuilder.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::FuzzDataFile file(data, size);
  image::IsoPlan plan;
  if (image::PlanIsoImage(file.handle.get(), file.system, &plan) != image::kIsoBuilt) return 0;
  if (plan.ImageBytes() > (64u << 20)) return 0;  // beyond the fuzzer's memory
  std::vector<uint8_t> iso(static_cast<size_t>(plan.ImageBytes()));
  uint32_t length = 0;
  (void)image::WriteIsoImage(plan, iso.data(), iso.size(), &length, file.handle.get(), file.system);
  if (length > iso.size()) __builtin_trap();
  return 0;
}
