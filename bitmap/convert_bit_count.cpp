// Converting a picture in the unpacked pixel layout from one BMP bit count to
// another; indexed targets are reached by nearest-colour matching.

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

#include "bitmap/bit_count.h"
#include "bitmap/bitmap.h"
#include "common/pixel_layout.h"

namespace {

// Every index a pixel byte can hold gets an entry, so that no pixel of any
// value reads outside a table.
constexpr int kIndexCount = 256;

constexpr bool is_indexed(int32_t bit_count) {
  return palette_size_of(bit_count) != 0;
}

// A 1- or 4-bit picture may hold pixel bytes its palette does not cover. They
// are taken as the file writer stores them: at 1 bit any byte that is not 0 is
// index 1, at 4 bits only the low 4 bits count. So converting a picture and
// writing it agree with writing it, reading it back and converting that.
constexpr int covered_index(int32_t bit_count, int index) {
  return bit_count == 1 ? (index != 0) : bit_count == 4 ? (index & 0x0F) : index;
}

// A 16-bit pixel is a little-endian word of three 5-bit channels, blue in the
// low bits and bit 15 unused; a channel widens to 8 bits by repeating its
// high bits below it, so 31 becomes 255.
constexpr uint8_t widen5(uint32_t value) {
  return static_cast<uint8_t>(value << 3 | value >> 2);
}

template <int32_t Bits>
palette_entry load_direct(const uint8_t* p) {
  if constexpr (Bits == 16) {
    const uint32_t word = static_cast<uint32_t>(p[0] | p[1] << 8);
    return {widen5(word & 0x1F), widen5(word >> 5 & 0x1F), widen5(word >> 10 & 0x1F), 0};
  } else {
    return {p[0], p[1], p[2], 0};  // the fourth byte of a 32-bit pixel is never read
  }
}

template <int32_t Bits>
void store_direct(uint8_t* p, palette_entry colour) {
  if constexpr (Bits == 16) {
    const uint32_t word = static_cast<uint32_t>((colour.red >> 3) << 10 | (colour.green >> 3) << 5 |
                                                colour.blue >> 3);
    p[0] = static_cast<uint8_t>(word);
    p[1] = static_cast<uint8_t>(word >> 8);
  } else {
    p[0] = colour.blue;
    p[1] = colour.green;
    p[2] = colour.red;
    if constexpr (Bits == 32) p[3] = 0;
  }
}

int32_t nearest_index_of(palette_entry colour, const palette_entry* palette, int32_t count) {
  return nearest_palette_index(colour.red, colour.green, colour.blue, palette, count);
}

// One side of a conversion: its bit count and, when indexed, its palette.
struct picture_side {
  int32_t bit_count;
  const palette_entry* palette;
  int32_t colors;
};

// A 1-bit side without a palette is black and white; a 4- or 8-bit side must
// bring its own.
int resolve_side(int32_t bit_count, const palette_entry* palette, picture_side* side) {
  if (!is_supported_bit_count(bit_count)) return -1;
  side->bit_count = bit_count;
  side->colors = palette_size_of(bit_count);
  side->palette = side->colors == 0 ? nullptr : palette;
  if (bit_count == 1 && palette == nullptr) side->palette = default_mono_palette;
  if (side->colors != 0 && side->palette == nullptr) return -1;
  return 0;
}

void convert_indexed(const picture_side& source, const picture_side& target, const uint8_t* from,
                     uint8_t* to, size_t count) {
  palette_entry colours[kIndexCount];
  for (int i = 0; i < kIndexCount; ++i)
    colours[i] = source.palette[covered_index(source.bit_count, i)];
  if (is_indexed(target.bit_count)) {
    // One search per palette entry; the other indices share the entry they
    // stand for.
    uint8_t index_map[kIndexCount];
    for (int i = 0; i < source.colors; ++i)
      index_map[i] =
          static_cast<uint8_t>(nearest_index_of(colours[i], target.palette, target.colors));
    for (int i = source.colors; i < kIndexCount; ++i)
      index_map[i] = index_map[covered_index(source.bit_count, i)];
    for (size_t i = 0; i < count; ++i)
      to[i] = index_map[from[i]];
    return;
  }
  switch (target.bit_count) {
    case 16:
      for (size_t i = 0; i < count; ++i)
        store_direct<16>(to + 2 * i, colours[from[i]]);
      break;
    case 24:
      for (size_t i = 0; i < count; ++i)
        store_direct<24>(to + 3 * i, colours[from[i]]);
      break;
    default:
      for (size_t i = 0; i < count; ++i)
        store_direct<32>(to + 4 * i, colours[from[i]]);
      break;
  }
}

template <int32_t Source>
void convert_direct(const picture_side& target, const uint8_t* from, uint8_t* to, size_t count) {
  constexpr size_t step = Source / 8;
  if (target.bit_count == Source) {
    memcpy(to, from, count * step);
    return;
  }
  switch (target.bit_count) {
    case 16:
      for (size_t i = 0; i < count; ++i)
        store_direct<16>(to + 2 * i, load_direct<Source>(from + step * i));
      break;
    case 24:
      for (size_t i = 0; i < count; ++i)
        store_direct<24>(to + 3 * i, load_direct<Source>(from + step * i));
      break;
    case 32:
      for (size_t i = 0; i < count; ++i)
        store_direct<32>(to + 4 * i, load_direct<Source>(from + step * i));
      break;
    default:
      // Every pixel is matched on its own: a direct picture has no palette to
      // match once.
      for (size_t i = 0; i < count; ++i)
        to[i] = static_cast<uint8_t>(
            nearest_index_of(load_direct<Source>(from + step * i), target.palette, target.colors));
      break;
  }
}

}  // namespace

int32_t nearest_palette_index(int32_t red, int32_t green, int32_t blue,
                              const palette_entry* palette, int32_t count) {
  if (palette == nullptr) return 0;
  // Above the largest distance, 3 * 255 * 255, so the first entry always wins
  // over it; later entries must be strictly nearer, so ties keep the lowest.
  int32_t best_distance = 0x30000;
  int32_t best_index = 0;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t db = palette[i].blue - blue;
    const int32_t dg = palette[i].green - green;
    const int32_t dr = palette[i].red - red;
    const int32_t distance = db * db + dg * dg + dr * dr;
    if (distance == 0) return i;
    if (distance < best_distance) {
      best_distance = distance;
      best_index = i;
    }
  }
  return best_index;
}

int convert_bit_count(int32_t width, int32_t height, int32_t source_bit_count,
                      const palette_entry* source_palette, const uint8_t* source_pixels,
                      int32_t target_bit_count, const palette_entry* target_palette,
                      std::unique_ptr<uint8_t[]>* output) {
  if (source_pixels == nullptr || output == nullptr) return -1;
  // A size that is negative or does not fit a signed 32-bit count cannot be
  // a buffer: refuse it before anything is allocated.
  if (width < 0 || height < 0) return -1;
  const int64_t per_pixel = (int64_t{target_bit_count} + 7) / 8;
  const int64_t pixel_count = int64_t{width} * height;
  if (per_pixel < 0 || (pixel_count != 0 && per_pixel > INT32_MAX / pixel_count)) return -1;
  const size_t size = static_cast<size_t>(pixel_count * per_pixel);
  if (*output == nullptr) {
    output->reset(new (std::nothrow) uint8_t[size]);
    if (*output == nullptr) {
      puts("error: memory exhaust!");
      return -2;
    }
  }
  memset(output->get(), 0, size);
  picture_side source;
  picture_side target;
  if (resolve_side(source_bit_count, source_palette, &source) != 0) return -1;
  if (resolve_side(target_bit_count, target_palette, &target) != 0) return -1;
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  uint8_t* to = output->get();
  switch (source.bit_count) {
    case 16:
      convert_direct<16>(target, source_pixels, to, count);
      break;
    case 24:
      convert_direct<24>(target, source_pixels, to, count);
      break;
    case 32:
      convert_direct<32>(target, source_pixels, to, count);
      break;
    default:
      convert_indexed(source, target, source_pixels, to, count);
      break;
  }
  return 0;
}
