// Reading a BMP file of the one shape this module writes into the unpacked
// pixel layout: header, palette, then the pixel rows, bottom row first.

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

#include "bitmap/bit_count.h"
#include "bitmap/bitmap.h"
#include "common/pixel_layout.h"

namespace {

constexpr uint64_t kLargestSize = INT32_MAX;

// A header can pass the check and still describe a picture whose sizes wrap
// in 32 bits, or rows stored top row first (a negative height). Such a
// picture is refused before any buffer is sized, so every size used below
// is exact: the width, the padded row, the stored rows and the pixel buffer
// all fit a signed 32-bit count.
int check_picture_fits(const bitmap_header* header) {
  if (!is_supported_bit_count(header->bit_count)) {
    puts("error: read_bitmap() - unknown bit count");
    return -1;
  }
  if (header->height < 0) {
    puts("error: read_bitmap() - negative height not supported");
    return -1;
  }
  const uint64_t width = header->width;
  const uint64_t height = static_cast<uint64_t>(header->height);
  const uint64_t row_bytes = padded_row_bytes<uint64_t>(width, header->bit_count);
  const uint64_t pixel_bytes = width * static_cast<uint64_t>(bytes_per_pixel(header->bit_count));
  // Each factor is below 2^32 here, so no product below overflows 64 bits.
  if (width > kLargestSize || row_bytes > kLargestSize || row_bytes * height > kLargestSize ||
      pixel_bytes * height > kLargestSize) {
    puts("error: read_bitmap() - picture too large");
    return -1;
  }
  return 0;
}

// 8 pixels per stored byte, the most significant bit first.
void unpack_mono_row(const uint8_t* stored, uint8_t* row, size_t width) {
  for (size_t x = 0; x < width; ++x)
    row[x] = (stored[x / 8] >> (7 - x % 8)) & 1;
}

// 2 pixels per stored byte, the high nibble first.
void unpack_nibble_row(const uint8_t* stored, uint8_t* row, size_t width) {
  for (size_t x = 0; x < width; ++x)
    row[x] = (stored[x / 2] >> (4 - 4 * (x % 2))) & 0x0F;
}

void unpack_row(const uint8_t* stored, uint8_t* row, size_t width, int32_t bit_count) {
  if (bit_count == 1)
    unpack_mono_row(stored, row, width);
  else if (bit_count == 4)
    unpack_nibble_row(stored, row, width);
  else
    memcpy(row, stored, width * static_cast<size_t>(bytes_per_pixel(bit_count)));
}

// The palette goes into the slot's buffer, or is passed over when the caller
// wants none.
int read_or_skip_palette(FILE* file, const bitmap_header* header,
                         std::unique_ptr<palette_entry[]>* palette_slot) {
  const int32_t colors = palette_size_of(header->bit_count);
  if (palette_slot == nullptr) {
    // A stream that cannot seek would otherwise hand the palette bytes over
    // as pixels.
    if (fseek(file, 4L * colors, SEEK_CUR) != 0) {
      puts("error: read_bitmap() - can't read palette");
      return -1;
    }
    return 0;
  }
  if (*palette_slot == nullptr) {
    palette_slot->reset(new (std::nothrow) palette_entry[static_cast<size_t>(colors)]);
    if (*palette_slot == nullptr) {
      puts("error: memory exhaust!");
      return -2;
    }
  }
  if (read_palette(file, palette_slot->get(), colors) != 0) {
    puts("error: read_bitmap() - can't read palette");
    return -1;
  }
  return 0;
}

int read_rows(FILE* file, const bitmap_header* header, uint8_t* pixels) {
  const int32_t bit_count = header->bit_count;
  const size_t width = header->width;
  const size_t row_bytes =
      static_cast<size_t>(bitmap_row_size(static_cast<int32_t>(width), bit_count));
  const size_t stride = width * static_cast<size_t>(bytes_per_pixel(bit_count));
  // Rows of no bytes need no reading, however many there are.
  if (row_bytes == 0) return 0;
  std::unique_ptr<uint8_t[]> stored(new (std::nothrow) uint8_t[row_bytes]);
  if (stored == nullptr) {
    puts("error: memory exhaust!");
    return -2;
  }
  for (int32_t r = header->height - 1; r >= 0; --r) {
    if (fread(stored.get(), 1, row_bytes, file) != row_bytes) {
      puts("error: read_bitmap() - can't read bitmap data");
      return -1;
    }
    unpack_row(stored.get(), pixels + stride * static_cast<size_t>(r), width, bit_count);
  }
  return 0;
}

}  // namespace

int read_palette(FILE* file, palette_entry* entries, int32_t count) {
  palette_entry buffer[256];
  if (count < 0 || count > 256) return -1;
  const size_t bytes = sizeof(palette_entry) * static_cast<size_t>(count);
  if (fread(buffer, 1, bytes, file) != bytes) return -1;
  if (count != 0) memcpy(entries, buffer, bytes);
  return 0;
}

int read_bitmap(FILE* file, bitmap_header* header, std::unique_ptr<palette_entry[]>* palette_slot,
                std::unique_ptr<uint8_t[]>* pixel_slot, int header_already_read) {
  if (pixel_slot == nullptr) return -3;
  if (header_already_read == 0 && read_bitmap_header(file, header) < 0) {
    puts("error: read_bitmap() - can't read bitmap header");
    return -1;
  }
  if (check_picture_fits(header) != 0) return -1;
  if (*pixel_slot == nullptr) {
    const size_t pixel_bytes = static_cast<size_t>(header->width) *
                               static_cast<size_t>(header->height) *
                               static_cast<size_t>(bytes_per_pixel(header->bit_count));
    pixel_slot->reset(new (std::nothrow) uint8_t[pixel_bytes]);
    if (*pixel_slot == nullptr) {
      puts("error: memory exhaust!");
      return -2;
    }
  }
  if (palette_size_of(header->bit_count) != 0) {
    const int status = read_or_skip_palette(file, header, palette_slot);
    if (status != 0) return status;
  }
  return read_rows(file, header, pixel_slot->get());
}
