#ifndef O1PC98MAP_COMMON_PALETTE_ENTRY_H_
#define O1PC98MAP_COMMON_PALETTE_ENTRY_H_

#include <cstdint>

// One colour of a palette, in the byte order of a BMP colour table. The
// reserved byte is carried through reading, writing and copying unchanged;
// colour matching ignores it.
struct palette_entry {
  uint8_t blue;
  uint8_t green;
  uint8_t red;
  uint8_t reserved;
};
static_assert(sizeof(palette_entry) == 4);

constexpr bool operator==(const palette_entry& a, const palette_entry& b) {
  return a.blue == b.blue && a.green == b.green && a.red == b.red && a.reserved == b.reserved;
}

#endif  // O1PC98MAP_COMMON_PALETTE_ENTRY_H_
