#ifndef O1PC98MAP_TILES_EGC_TILES_H_
#define O1PC98MAP_TILES_EGC_TILES_H_

// The tile sheet drawn from the disk's EGCTILES.BIN: 60 planar tiles of
// 32 x 32 pixels decoded into a 512 x 320-pixel, 4-bit sheet with a fixed
// palette, and on request a 1-bit mask sheet of the same geometry.

#include <cstdint>

#include "common/palette_entry.h"
#include "common/tile_sheet.h"

inline constexpr int32_t egc_tile_count = 60;
inline constexpr int32_t egc_tile_data_size = 30720;  // 60 tiles of 4 planes of 128 bytes
inline constexpr int32_t egc_sheet_width = 512;
inline constexpr int32_t egc_sheet_height = 320;

extern const palette_entry egc_palette[16];
extern const palette_entry mask_source_palette[16];
extern const palette_entry mask_palette[2];

int read_disk_shapes(const char* image_path, int32_t header_size, tile_sheet* sheet,
                     tile_sheet* mask);
void decode_egc_tiles(uint8_t* pixels, const uint8_t* tile_data);

#endif  // O1PC98MAP_TILES_EGC_TILES_H_
