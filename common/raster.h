#ifndef O1PC98MAP_COMMON_RASTER_H_
#define O1PC98MAP_COMMON_RASTER_H_

#include <cstdint>
#include <memory>

#include "common/palette_entry.h"

// A picture to be written as a BMP file, in the unpacked pixel layout.
struct raster {
  int32_t width;
  int32_t height;
  int32_t bit_count;                  // the BMP bit count it is written with
  int32_t size;                       // byte size of pixels
  std::unique_ptr<uint8_t[]> pixels;  // owned
  const palette_entry* palette;       // borrowed from the tile sheet; null above 8 bits
};

#endif  // O1PC98MAP_COMMON_RASTER_H_
