#include "tiles/shape_bitmap.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "bitmap/bitmap.h"

const palette_entry mask_bitmap_palette[2] = {{0x00, 0x00, 0x00, 0x00}, {0xFF, 0xFF, 0xFF, 0x00}};

namespace {

// Reads the whole BMP file at path into the header and the two slots, with
// the file closed again on every path. Returns 0 or -1.
int read_bitmap_file(const char* path, bitmap_header* header,
                     std::unique_ptr<palette_entry[]>* palette_slot,
                     std::unique_ptr<uint8_t[]>* pixel_slot) {
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    std::printf("error: open '%s'\n", path);
    return -1;
  }
  const int status = read_bitmap(file, header, palette_slot, pixel_slot, 0);
  std::fclose(file);
  if (status < 0) {
    std::printf("error: read '%s'\n", path);
    return -1;
  }
  return 0;
}

// Both tile sizes are the picture's size divided by the grid, remainders
// dropped, in unsigned arithmetic.
void set_tile_grid(tile_sheet* sheet, const bitmap_header* header, uint32_t columns,
                   uint32_t rows) {
  sheet->tile_width = static_cast<int32_t>(header->width / columns);
  sheet->tile_height = static_cast<int32_t>(static_cast<uint32_t>(header->height) / rows);
  sheet->columns = columns;
  sheet->rows = rows;
}

}  // namespace

int read_shape_bitmap(const char* path, tile_sheet* sheet, uint32_t columns, uint32_t rows) {
  bitmap_header header{};
  if (read_bitmap_file(path, &header, &sheet->palette, &sheet->pixels) < 0) return -1;
  set_tile_grid(sheet, &header, columns, rows);
  sheet->bit_count = header.bit_count;
  sheet->bytes_per_pixel = (header.bit_count + 7) >> 3;
  if (sheet->tile_width <= 0 || sheet->tile_height <= 0) {
    std::puts("error: shape bitmap is too small");
    return -1;
  }
  // Only the width must divide evenly: rows below the last full tile row
  // belong to no tile and are never copied.
  if (static_cast<uint64_t>(header.width) != static_cast<uint64_t>(sheet->tile_width) * columns) {
    std::puts("error: illegal shape bitmap size");
    return -1;
  }
  return 0;
}

int read_mask_bitmap(const char* path, tile_sheet* sheet, int32_t tile_width, int32_t tile_height,
                     uint32_t columns, uint32_t rows) {
  bitmap_header header{};
  std::unique_ptr<palette_entry[]> palette;
  std::unique_ptr<uint8_t[]> pixels;
  if (read_bitmap_file(path, &header, &palette, &pixels) < 0) return -1;
  set_tile_grid(sheet, &header, columns, rows);
  sheet->bit_count = 1;
  sheet->bytes_per_pixel = 1;
  sheet->palette.reset(new (std::nothrow) palette_entry[2]);
  if (!sheet->palette) {
    std::puts("error: memory exhausted!");
    return -1;
  }
  std::memcpy(sheet->palette.get(), mask_bitmap_palette, sizeof mask_bitmap_palette);
  if (static_cast<int64_t>(header.width) != static_cast<int64_t>(tile_width) * columns ||
      static_cast<int64_t>(header.height) != static_cast<int64_t>(tile_height) * rows) {
    std::puts("error: illegal mask bitmap size");
    return -1;
  }
  if (convert_bit_count(static_cast<int32_t>(header.width), header.height, header.bit_count,
                        palette.get(), pixels.get(), 1, mask_bitmap_palette, &sheet->pixels) < 0) {
    std::printf("error: convert bit count '%s'\n", path);
    return -1;
  }
  return 0;
}
