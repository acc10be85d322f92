#ifndef O1PC98MAP_BITMAP_BIT_COUNT_H_
#define O1PC98MAP_BITMAP_BIT_COUNT_H_

// What follows from a BMP bit count alone, shared by the header, the writer,
// the reader and the converter of this module.

#include <cstdint>

// 1, 4, 8, 16, 24 and 32 bits per pixel; anything else is refused.
constexpr bool is_supported_bit_count(int32_t bit_count) {
  return bit_count == 1 || bit_count == 4 || bit_count == 8 || bit_count == 16 || bit_count == 24 ||
         bit_count == 32;
}

// Entries of the colour table that follows the header: 2, 16 or 256 for the
// indexed bit counts, none above.
constexpr int32_t palette_size_of(int32_t bit_count) {
  return bit_count == 1 ? 2 : bit_count == 4 ? 16 : bit_count == 8 ? 256 : 0;
}

// Bytes of one stored row before padding, and after padding it with zero
// bytes to a multiple of 4; 0 for an unsupported bit count. With uint32_t the
// sizes wrap as the 32-bit fields of a header do; with uint64_t no width of a
// header can overflow them.
template <typename Unsigned>
constexpr Unsigned packed_row_bytes(Unsigned width, int32_t bit_count) {
  switch (bit_count) {
    case 1:
      return static_cast<Unsigned>((width + 7) / 8);
    case 4:
      return static_cast<Unsigned>((width + 1) / 2);
    case 8:
    case 16:
    case 24:
    case 32:
      return static_cast<Unsigned>(width * static_cast<Unsigned>(bit_count / 8));
    default:
      return 0;
  }
}

template <typename Unsigned>
constexpr Unsigned padded_row_bytes(Unsigned width, int32_t bit_count) {
  return static_cast<Unsigned>((packed_row_bytes(width, bit_count) + 3) & ~Unsigned{3});
}

#endif  // O1PC98MAP_BITMAP_BIT_COUNT_H_
