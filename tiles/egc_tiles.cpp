#include "tiles/egc_tiles.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "bitmap/bitmap.h"
#include "diskimage/disk_image.h"

// Entries 0-7 are the eight digital colours: index bit 0 is blue, bit 1 red,
// bit 2 green. Entries 8-15 show the same colours; plane 0 only sets the
// reserved byte (and the mask).
const palette_entry egc_palette[16] = {
    {0x00, 0x00, 0x00, 0x00}, {0xFF, 0x00, 0x00, 0x00}, {0x00, 0x00, 0xFF, 0x00},
    {0xFF, 0x00, 0xFF, 0x00}, {0x00, 0xFF, 0x00, 0x00}, {0xFF, 0xFF, 0x00, 0x00},
    {0x00, 0xFF, 0xFF, 0x00}, {0xFF, 0xFF, 0xFF, 0x00}, {0x00, 0x00, 0x00, 0xFF},
    {0xFF, 0x00, 0x00, 0xFF}, {0x00, 0x00, 0xFF, 0xFF}, {0xFF, 0x00, 0xFF, 0xFF},
    {0x00, 0xFF, 0x00, 0xFF}, {0xFF, 0xFF, 0x00, 0xFF}, {0x00, 0xFF, 0xFF, 0xFF},
    {0xFF, 0xFF, 0xFF, 0xFF},
};

// Indices 0-7 match black and 8-15 match white exactly, so the mask holds the
// plane-0 bit of every pixel.
const palette_entry mask_source_palette[16] = {
    {0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x00, 0x00}, {0xFF, 0xFF, 0xFF, 0xFF},
    {0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF, 0xFF},
    {0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF, 0xFF},
    {0xFF, 0xFF, 0xFF, 0xFF},
};

const palette_entry mask_palette[2] = {{0x00, 0x00, 0x00, 0x00}, {0xFF, 0xFF, 0xFF, 0xFF}};

namespace {

constexpr int32_t tile_size = 32;  // pixels across and down
constexpr int32_t plane_row_bytes = tile_size / 8;
constexpr int32_t sheet_columns = egc_sheet_width / tile_size;
constexpr int32_t sheet_bytes = egc_sheet_width * egc_sheet_height;

// The colour-index value of each plane, in the order the planes are stored:
// the first plane is the high bit, the other three the low bits in order.
constexpr uint8_t plane_value[4] = {8, 1, 2, 4};

// ORs one plane row of 32 pixels into the sheet; the most significant bit of
// each byte is the leftmost pixel.
void decode_plane_row(uint8_t* target, const uint8_t* source, uint8_t value) {
  for (int32_t b = 0; b < plane_row_bytes; ++b) {
    const uint32_t bits = source[b];
    for (int32_t k = 0; k < 8; ++k) {
      *target++ |= static_cast<uint8_t>(((bits >> (7 - k)) & 1u) * value);
    }
  }
}

bool allocate_sheet(tile_sheet* sheet, int32_t bit_count, const palette_entry* palette,
                    int32_t palette_count) {
  sheet->tile_width = tile_size;
  sheet->tile_height = tile_size;
  sheet->bit_count = bit_count;
  sheet->bytes_per_pixel = 1;
  sheet->pixels.reset(new (std::nothrow) uint8_t[sheet_bytes]());
  if (!sheet->pixels) return false;
  sheet->palette.reset(new (std::nothrow) palette_entry[palette_count]);
  if (!sheet->palette) return false;
  std::memcpy(sheet->palette.get(), palette, sizeof(palette_entry) * palette_count);
  return true;
}

// Everything between the empty record and its closing; returns 0 or -1.
int build_sheets(disk_image* image, const char* image_path, int32_t header_size, tile_sheet* sheet,
                 tile_sheet* mask) {
  static constexpr char tile_file_name[] = "EGCTILES.BIN";
  // A file shorter than this buffer fills only its front; the rest stays
  // zero, so the missing tail decodes as index 0.
  uint8_t tile_data[egc_tile_data_size] = {};

  if (!allocate_sheet(sheet, 4, egc_palette, 16)) {
    std::puts("error: memory exhausted!");
    return -1;
  }
  if (mask != nullptr && !allocate_sheet(mask, 1, mask_palette, 2)) {
    std::puts("error: memory exhausted!");
    return -1;
  }
  if (open_disk_image(image, image_path, header_size) < 0) {
    std::printf("error: read disk image '%s'\n", image_path);
    return -1;
  }
  if (read_image_file(image, tile_file_name, tile_data, egc_tile_data_size, 1) < 0) {
    std::printf("error: read disk image '%s/%s'\n", image_path, tile_file_name);
    return -1;
  }
  decode_egc_tiles(sheet->pixels.get(), tile_data);
  if (mask != nullptr &&
      convert_bit_count(egc_sheet_width, egc_sheet_height, 4, mask_source_palette,
                        sheet->pixels.get(), 1, mask_palette, &mask->pixels) < 0) {
    std::puts("error: convert bit count");
    return -1;
  }
  return 0;
}

}  // namespace

int read_disk_shapes(const char* image_path, int32_t header_size, tile_sheet* sheet,
                     tile_sheet* mask) {
  disk_image image{};
  const int result = build_sheets(&image, image_path, header_size, sheet, mask);
  close_disk_image(&image, 0);
  return result;
}

// Tile t occupies 512 bytes: four planes of 32 rows of 4 bytes. It lands in
// the 32 x 32 square at tile column t % 16, tile row t / 16 of the sheet.
void decode_egc_tiles(uint8_t* pixels, const uint8_t* tile_data) {
  const uint8_t* source = tile_data;
  for (int32_t tile = 0; tile < egc_tile_count; ++tile) {
    uint8_t* corner = pixels + (tile / sheet_columns) * tile_size * egc_sheet_width +
                      (tile % sheet_columns) * tile_size;
    for (uint8_t value : plane_value) {
      for (int32_t y = 0; y < tile_size; ++y) {
        decode_plane_row(corner + y * egc_sheet_width, source, value);
        source += plane_row_bytes;
      }
    }
  }
}
