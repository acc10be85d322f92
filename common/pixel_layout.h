#ifndef O1PC98MAP_COMMON_PIXEL_LAYOUT_H_
#define O1PC98MAP_COMMON_PIXEL_LAYOUT_H_

#include <cstdint>

// Pictures in memory store their rows top row first, with no gap between
// rows. At 1, 4 and 8 bits each pixel is one byte holding its palette index;
// at 16, 24 and 32 bits a pixel is 2, 3 or 4 bytes in BMP byte order (a
// little-endian 5-5-5 word; blue, green, red; blue, green, red, reserved).
constexpr int32_t bytes_per_pixel(int32_t bit_count) { return (bit_count + 7) / 8; }

#endif  // O1PC98MAP_COMMON_PIXEL_LAYOUT_H_
