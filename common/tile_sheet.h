#ifndef O1PC98MAP_COMMON_TILE_SHEET_H_
#define O1PC98MAP_COMMON_TILE_SHEET_H_

#include <cstdint>
#include <memory>

#include "common/palette_entry.h"

// Equally sized tiles in one picture that is always 16 tiles wide: tile n
// lies at tile column n % 16 and tile row n / 16. A mask sheet is a sheet of
// bit count 1 whose pixels are 0 or 1.
struct tile_sheet {
  int32_t tile_width;   // pixels
  int32_t tile_height;  // pixels
  uint32_t columns;     // tile grid of a sheet cut from a bitmap; the renderer ignores it
  uint32_t rows;
  int32_t bit_count;
  int32_t bytes_per_pixel;
  std::unique_ptr<uint8_t[]> pixels;          // owned, unpacked layout
  std::unique_ptr<palette_entry[]> palette;   // owned; null above 8 bits
};

#endif  // O1PC98MAP_COMMON_TILE_SHEET_H_
