// The writer's outcomes on every path are in the fault matrix; here, how much it writes.
#include <gtest/gtest.h>
#include "floppy/FloppyWriter.h"
#include "image/FloppyLayout.h"

namespace {

TEST(UsedCylinders, CountUpToTheFirstCylinderOfFillerOnly) {
  constexpr uint32_t kCylinder = image::kCylinderBytes;
  std::vector<uint8_t> floppy(image::kFloppyImageBytes, 0xF6);
  floppy[0] = 1;
  EXPECT_EQ(floppy::UsedCylindersOf(floppy.data()), 1u) << "cylinder 1 all filler";
  for (uint32_t cylinder = 1; cylinder < 5; ++cylinder) floppy[cylinder * kCylinder + 100] = 1;
  floppy[6 * kCylinder] = 1;  // data after an unused cylinder 5 is never written
  EXPECT_EQ(floppy::UsedCylindersOf(floppy.data()), 5u);
  floppy[kCylinder * 80 - 1] = 1;
  for (uint32_t cylinder = 5; cylinder < 80; ++cylinder) floppy[cylinder * kCylinder + 7] = 0;
  EXPECT_EQ(floppy::UsedCylindersOf(floppy.data()), 80u) << "a full disk";
}
}  // namespace
