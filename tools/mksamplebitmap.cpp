// Writes the sample dialog picture: an 8-bit bitmap with a 256-colour table, with a gap
// between the colour table and the pixel rows so that readers must follow bfOffBits.
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

void Put16(std::vector<uint8_t>& out, size_t at, uint16_t value) {
  out[at] = static_cast<uint8_t>(value);
  out[at + 1] = static_cast<uint8_t>(value >> 8);
}
void Put32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: mksamplebitmap OUT.bmp\n");
    return 2;
  }
  const int width = 240;
  const int height = 48;
  const uint32_t gap = 16;
  const uint32_t tableBytes = 256 * 4;
  const uint32_t pixelOffset = 14 + 40 + tableBytes + gap;
  const uint32_t rowBytes = (width + 3) / 4 * 4;
  std::vector<uint8_t> out(pixelOffset + rowBytes * height, 0);
  out[0] = 'B';
  out[1] = 'M';
  Put32(out, 2, static_cast<uint32_t>(out.size()));
  Put32(out, 10, pixelOffset);
  Put32(out, 14, 40);
  Put32(out, 18, width);
  Put32(out, 22, height);
  Put16(out, 26, 1);
  Put16(out, 28, 8);
  Put32(out, 34, rowBytes * height);
  // Colours 0-127: a blue ramp for the background; 128-255: a gold ramp for the band.
  for (int i = 0; i < 256; ++i) {
    const size_t at = 54 + static_cast<size_t>(i) * 4;
    if (i < 128) {
      out[at + 0] = static_cast<uint8_t>(96 + i);  // blue
      out[at + 1] = static_cast<uint8_t>(i / 2);   // green
      out[at + 2] = static_cast<uint8_t>(i / 4);   // red
    } else {
      out[at + 0] = static_cast<uint8_t>((i - 128) / 4);
      out[at + 1] = static_cast<uint8_t>(120 + (i - 128));
      out[at + 2] = static_cast<uint8_t>(127 + (i - 128));
    }
  }
  // The gap holds a marker that must never show up as a pixel.
  for (uint32_t i = 0; i < gap; ++i) out[14 + 40 + tableBytes + i] = 0xEE;
  // Rows are stored bottom-up: row 0 in the file is the bottom of the picture.
  for (int y = 0; y < height; ++y) {
    const int fromTop = height - 1 - y;
    for (int x = 0; x < width; ++x) {
      const bool band = fromTop >= 18 && fromTop < 30 && (x / 12) % 2 == 0;
      out[pixelOffset + y * rowBytes + x] =
          static_cast<uint8_t>(band ? 128 + x * 127 / width : x * 127 / width);
    }
  }
  std::FILE* file = std::fopen(argv[1], "wb");
  if (file == nullptr || std::fwrite(out.data(), 1, out.size(), file) != out.size() ||
      std::fclose(file) != 0) {
    std::fprintf(stderr, "mksamplebitmap: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
