// Writes a shape bitmap for the whole-run benchmark: 16 x 4 tiles of the
// given size at the given bit count, filled with a fixed pattern.
//   make_bench_shape OUTPUT.bmp TILE_SIZE BIT_COUNT

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bitmap/bitmap.h"
#include "common/pixel_layout.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    printf("usage: make_bench_shape OUTPUT.bmp TILE_SIZE BIT_COUNT\n");
    return 1;
  }
  const int32_t tile = atoi(argv[2]);
  const int32_t bits = atoi(argv[3]);
  const int32_t width = 16 * tile, height = 4 * tile;
  bitmap_header header{};
  if (tile <= 0 || tile > 1024 || make_bitmap_header(&header, width, height, bits) != 0) {
    printf("error: bad tile size or bit count\n");
    return 1;
  }
  std::vector<uint8_t> pixels(size_t{1} * width * height * bytes_per_pixel(bits));
  uint32_t seed = 1;
  for (uint8_t& pixel : pixels) {
    seed = seed * 1664525u + 1013904223u;
    pixel = static_cast<uint8_t>(seed >> 24);
    if (bits < 8) pixel &= static_cast<uint8_t>((1u << bits) - 1);
  }
  palette_entry palette[256];
  for (int i = 0; i < 256; ++i)
    palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i * 3), static_cast<uint8_t>(i * 7),
                  0};
  FILE* file = fopen(argv[1], "wb");
  const bool ok = file != nullptr && write_bitmap(file, &header, palette, pixels.data()) == 0;
  if (file == nullptr || fclose(file) != 0 || !ok) {
    printf("error: can't write '%s'\n", argv[1]);
    return 1;
  }
  return 0;
}
