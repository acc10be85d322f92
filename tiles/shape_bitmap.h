#ifndef O1PC98MAP_TILES_SHAPE_BITMAP_H_
#define O1PC98MAP_TILES_SHAPE_BITMAP_H_

// Tile sheets cut from BMP files: a shape sheet at the file's own bit count,
// and a 1-bit mask sheet reduced to black and white.

#include <cstdint>

#include "common/palette_entry.h"
#include "common/tile_sheet.h"

extern const palette_entry mask_bitmap_palette[2];

int read_shape_bitmap(const char* path, tile_sheet* sheet, uint32_t columns, uint32_t rows);
int read_mask_bitmap(const char* path, tile_sheet* sheet, int32_t tile_width, int32_t tile_height,
                     uint32_t columns, uint32_t rows);

#endif  // O1PC98MAP_TILES_SHAPE_BITMAP_H_
