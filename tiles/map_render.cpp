#include "tiles/map_render.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "diskimage/disk_image.h"

// Cell code 8 draws tile 52, not tile 10.
const uint8_t cell_tile_table[16] = {0, 1, 2, 3, 4, 6, 7, 9, 52, 11, 12, 13, 14, 16, 17, 18};

namespace {

constexpr int32_t sheet_columns = 16;
constexpr int32_t half_bytes = 2 * map_bytes;

}  // namespace

int read_map_data(const char* image_path, int32_t header_size, const char* file_name,
                  uint8_t* buffer, int32_t size) {
  disk_image image{};
  int result = -1;
  if (open_disk_image(&image, image_path, header_size) < 0) {
    std::printf("error: read disk image '%s'\n", image_path);
  } else if (read_image_file(&image, file_name, buffer, size, 1) < 0) {
    std::printf("error: read disk image '%s/%s'\n", image_path, file_name);
  } else if (split_map_data(buffer, size) < 0) {
    std::puts("error: convert map data");
  } else {
    result = 0;
  }
  close_disk_image(&image, 0);
  return result;
}

// MAP.BIN holds two halves, each 78 records of 84 bytes: a row of the
// odd-numbered map followed by the same row of the even-numbered one.
int split_map_data(uint8_t* buffer, int32_t size) {
  if (size != map_data_size) {
    std::puts("error: data size mismatch");
    return -1;
  }
  std::unique_ptr<uint8_t[]> interleaved(new (std::nothrow) uint8_t[map_data_size]);
  if (!interleaved) {
    std::puts("error: memory exhausted!");
    return -1;
  }
  std::memcpy(interleaved.get(), buffer, map_data_size);
  std::memset(buffer, 0, map_data_size);
  const uint8_t* source = interleaved.get();
  for (int32_t half = 0; half < 2; ++half) {
    uint8_t* left = buffer + half * half_bytes;
    uint8_t* right = left + map_bytes;
    for (int32_t row = 0; row < map_rows; ++row) {
      std::memcpy(left + row * map_row_bytes, source, map_row_bytes);
      std::memcpy(right + row * map_row_bytes, source + map_row_bytes, map_row_bytes);
      source += 2 * map_row_bytes;
    }
  }
  return 0;
}

namespace {

// Draws the whole map, tile_row_bytes at a time. When the size is a template
// argument (not 0) each copy becomes a few inlined moves instead of a call.
template <size_t KnownRowBytes>
void draw_map(uint8_t* target, const tile_sheet* sheet, const uint8_t* map, size_t tile_row_bytes) {
  const size_t row_bytes = KnownRowBytes != 0 ? KnownRowBytes : tile_row_bytes;
  const size_t sheet_row_bytes = sheet_columns * row_bytes;
  const size_t th = static_cast<size_t>(sheet->tile_height);
  // Top-left byte of tile t in the sheet.
  auto origin = [&](uint8_t t) {
    return sheet->pixels.get() + (t / sheet_columns) * th * sheet_row_bytes +
           (t % sheet_columns) * row_bytes;
  };
  const uint8_t* tile_origin[map_columns];

  for (int32_t y = 0; y < map_rows; ++y) {
    for (int32_t i = 0; i < map_row_bytes; ++i) {
      const uint8_t cells = map[y * map_row_bytes + i];
      tile_origin[2 * i] = origin(cell_tile_table[cells >> 4]);
      tile_origin[2 * i + 1] = origin(cell_tile_table[cells & 0x0F]);
    }
    for (size_t r = 0; r < th; ++r) {
      const size_t source_offset = r * sheet_row_bytes;
      for (int32_t x = 0; x < map_columns; ++x) {
        std::memcpy(target, tile_origin[x] + source_offset, row_bytes);
        target += row_bytes;
      }
    }
  }
}

}  // namespace

// The raster is 84 tiles across and 78 down at the sheet's tile size and
// bytes per pixel. Each map row is drawn one raster row at a time, so every
// destination byte is written once and in order. The common tile row sizes
// (tiles of 8 to 64 pixels at 1 or 4 bytes a pixel) get copies of a fixed
// size; any other size takes the same loop with a size known only at run time.
void render_map(raster* output, const tile_sheet* sheet, const uint8_t* map) {
  const size_t tile_row_bytes =
      static_cast<size_t>(sheet->tile_width) * static_cast<size_t>(sheet->bytes_per_pixel);
  uint8_t* target = output->pixels.get();
  switch (tile_row_bytes) {
    case 8:
      return draw_map<8>(target, sheet, map, tile_row_bytes);
    case 16:
      return draw_map<16>(target, sheet, map, tile_row_bytes);
    case 32:
      return draw_map<32>(target, sheet, map, tile_row_bytes);
    case 64:
      return draw_map<64>(target, sheet, map, tile_row_bytes);
    case 128:
      return draw_map<128>(target, sheet, map, tile_row_bytes);
    case 256:
      return draw_map<256>(target, sheet, map, tile_row_bytes);
    default:
      return draw_map<0>(target, sheet, map, tile_row_bytes);
  }
}
