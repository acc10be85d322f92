#ifndef O1PC98MAP_TILES_MAP_RENDER_H_
#define O1PC98MAP_TILES_MAP_RENDER_H_

// The four world maps of MAP.BIN: extraction, de-interleaving and rendering
// of one map into a raster, one tile picture per map cell.

#include <cstdint>

#include "common/raster.h"
#include "common/tile_sheet.h"

inline constexpr int32_t map_columns = 84;     // cells across
inline constexpr int32_t map_rows = 78;        // cells down
inline constexpr int32_t map_row_bytes = 42;   // two cells per byte
inline constexpr int32_t map_bytes = 3276;     // one map
inline constexpr int32_t map_data_size = 13104;  // four maps

extern const uint8_t cell_tile_table[16];

int read_map_data(const char* image_path, int32_t header_size, const char* file_name,
                  uint8_t* buffer, int32_t size);
int split_map_data(uint8_t* buffer, int32_t size);
void render_map(raster* output, const tile_sheet* sheet, const uint8_t* map);

#endif  // O1PC98MAP_TILES_MAP_RENDER_H_
