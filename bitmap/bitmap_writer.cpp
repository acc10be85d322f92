// Writing a picture in the unpacked pixel layout as a BMP file: the header,
// the palette, then the pixel rows bottom row first, packed to the bit count
// and padded to a multiple of 4 bytes.

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "bitmap/bit_count.h"
#include "bitmap/bitmap.h"
#include "bitmap/write_all.h"
#include "common/pixel_layout.h"

namespace {

constexpr uint8_t kZeros[4] = {0, 0, 0, 0};

// A 1- or 4-bit row is packed into this buffer and goes out in as few writes
// as its length needs; a wider row than the buffer is flushed on the way.
constexpr size_t kPackBufferBytes = 4096;

struct row_packer {
  FILE* file;
  uint8_t bytes[kPackBufferBytes];
  size_t used;
  bool failed;
};

void flush_packed(row_packer* packer) {
  if (packer->used != 0 && !write_all(packer->file, packer->bytes, packer->used))
    packer->failed = true;
  packer->used = 0;
}

void put_packed(row_packer* packer, uint8_t byte) {
  packer->bytes[packer->used++] = byte;
  if (packer->used == kPackBufferBytes) flush_packed(packer);
}

// Eight pixels per byte, the leftmost in the most significant bit; any pixel
// byte that is not 0 stands for a set bit.
uint8_t pack_mono(const uint8_t* pixels, size_t count) {
  uint8_t byte = 0;
  for (size_t k = 0; k < count; ++k)
    byte |= static_cast<uint8_t>((pixels[k] != 0) << (7 - k));
  return byte;
}

void pack_mono_row(row_packer* packer, const uint8_t* row, size_t width) {
  const size_t full = width / 8;
  for (size_t i = 0; i < full; ++i)
    put_packed(packer, pack_mono(row + 8 * i, 8));
  if (width % 8 != 0) put_packed(packer, pack_mono(row + 8 * full, width % 8));
}

// Two pixels per byte, the left one in the high nibble; only the low 4 bits of
// a pixel byte count.
void pack_nibble_row(row_packer* packer, const uint8_t* row, size_t width) {
  const size_t pairs = width / 2;
  for (size_t i = 0; i < pairs; ++i)
    put_packed(packer, static_cast<uint8_t>((row[2 * i] & 0x0F) << 4 | (row[2 * i + 1] & 0x0F)));
  if (width % 2 != 0) put_packed(packer, static_cast<uint8_t>((row[width - 1] & 0x0F) << 4));
}

int write_packed_row(row_packer* packer, const uint8_t* row, size_t width, int32_t bit_count,
                     size_t padding) {
  if (bit_count == 1)
    pack_mono_row(packer, row, width);
  else
    pack_nibble_row(packer, row, width);
  for (size_t i = 0; i < padding; ++i)
    put_packed(packer, 0);
  flush_packed(packer);
  return packer->failed ? -1 : 0;
}

// At 8 bits and above a row is the pixel bytes as they are.
int write_plain_row(FILE* file, const uint8_t* row, size_t row_bytes, size_t padding) {
  if (row_bytes != 0 && !write_all(file, row, row_bytes)) return -1;
  if (padding != 0 && !write_all(file, kZeros, padding)) return -1;
  return 0;
}

// A stream buffers what it is given, so a disk that fills up may only show
// when the buffer is flushed: the rows count as written once the flush has
// succeeded and the stream reports no error.
int write_rows(FILE* file, const bitmap_header* header, const uint8_t* pixels) {
  const int32_t bit_count = header->bit_count;
  const size_t width = header->width;
  const size_t packed = packed_row_bytes<uint64_t>(width, bit_count);
  const size_t padding = padded_row_bytes<uint64_t>(width, bit_count) - packed;
  const size_t stride = width * static_cast<size_t>(bytes_per_pixel(bit_count));
  if (bit_count == 1 || bit_count == 4) {
    row_packer packer;
    packer.file = file;
    packer.used = 0;
    packer.failed = false;
    for (int32_t r = header->height - 1; r >= 0; --r)
      if (write_packed_row(&packer, pixels + stride * static_cast<size_t>(r), width, bit_count,
                           padding) != 0)
        return -1;
  } else {
    for (int32_t r = header->height - 1; r >= 0; --r)
      if (write_plain_row(file, pixels + stride * static_cast<size_t>(r), stride, padding) != 0)
        return -1;
  }
  if (fflush(file) != 0 || ferror(file)) return -1;
  return 0;
}

// Without a palette an indexed file still gets its full colour table, as
// zero entries written one at a time.
int write_zero_palette(FILE* file, int32_t count) {
  for (int32_t i = 0; i < count; ++i)
    if (!write_all(file, kZeros, sizeof kZeros)) return -1;
  return 0;
}

}  // namespace

int write_palette(FILE* file, const palette_entry* entries, int32_t count) {
  palette_entry buffer[256];
  if (count < 0 || count > 256) return -1;
  if (count == 0) return 0;
  if (entries == nullptr) return -1;
  memcpy(buffer, entries, sizeof(palette_entry) * static_cast<size_t>(count));
  const size_t bytes = sizeof(palette_entry) * static_cast<size_t>(count);
  return write_all(file, buffer, bytes) ? 0 : -1;
}

int write_bitmap(FILE* file, const bitmap_header* header, const palette_entry* palette,
                 const uint8_t* pixels) {
  const int32_t bit_count = header->bit_count;
  if (!is_supported_bit_count(bit_count)) return -1;
  // A negative height is not a row count: refuse it before writing anything.
  if (header->height < 0) return -1;
  if (pixels == nullptr && header->width != 0 && header->height != 0) return -1;
  if (write_bitmap_header(file, header) != 0) {
    puts("error: write_bitmap() - can't write bitmap header");
    return -1;
  }
  const int32_t colors = palette_size_of(bit_count);
  if (colors != 0) {
    const int status = palette != nullptr ? write_palette(file, palette, colors)
                                          : write_zero_palette(file, colors);
    if (status != 0) {
      puts("error: write_bitmap() - can't write palette");
      return -1;
    }
  }
  if (write_rows(file, header, pixels) != 0) {
    puts("error: write_bitmap() - can't write bitmap data");
    return -1;
  }
  return 0;
}
