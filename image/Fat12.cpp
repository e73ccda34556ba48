#include "image/Fat12.h"

#include "image/FloppyLayout.h"

namespace image {

void SetFat12Entry(uint8_t* fat, uint32_t cluster, uint16_t value) {
  uint8_t* group = fat + (cluster / 2) * 3;
  if (cluster % 2 == 0) {
    group[0] = static_cast<uint8_t>(value);
    group[1] = static_cast<uint8_t>((group[1] & 0xF0) | ((value >> 8) & 0x0F));
  } else {
    group[1] = static_cast<uint8_t>((group[1] & 0x0F) | ((value & 0x0F) << 4));
    group[2] = static_cast<uint8_t>(value >> 4);
  }
}

void WriteConsecutiveChain(uint8_t* fat, uint32_t first, uint32_t last) {
  const uint32_t groupStart = first - first % 2;
  const uint32_t groupEnd = last - last % 2 + 1;
  for (uint32_t cluster = groupStart; cluster <= groupEnd; ++cluster) {
    uint16_t value = 0;
    if (cluster < first) {
      value = kEndOfChain;  // the partner before an odd first cluster
    } else if (cluster < last) {
      value = static_cast<uint16_t>(cluster + 1);
    } else if (cluster == last) {
      value = kEndOfChain;
    }  // else the partner after an even last cluster: free
    SetFat12Entry(fat, cluster, value);
  }
}

}  // namespace image
