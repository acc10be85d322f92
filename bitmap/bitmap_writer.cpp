// Writing a picture in the unpacked pixel layout as a BMP file: the header,
// the palette, then the pixel rows bottom row first, packed to the bit count
// and padded to a multiple of 4 bytes.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "bitmap/bit_count.h"
#include "bitmap/bitmap.h"
#include "bitmap/write_all.h"
#include "common/pixel_layout.h"

namespace {

constexpr uint8_t kZeros[4] = {0, 0, 0, 0};

// The rows go out through one buffer, in writes of up to its size: 1- and
// 4-bit rows are packed straight into it and rows at 8 bits and above are
// gathered in it, so the stream sees a few large writes instead of one or more
// per row. Should the buffer not be had, a small one on the stack does the
// same in smaller writes.
constexpr size_t kRowBufferBytes = size_t{256} * 1024;
constexpr size_t kFallbackBufferBytes = 4096;

struct row_buffer {
  FILE* file;
  uint8_t* bytes;
  size_t capacity;
  size_t used;
};

bool flush_rows(row_buffer* buffer) {
  const bool written = buffer->used == 0 || write_all(buffer->file, buffer->bytes, buffer->used);
  buffer->used = 0;
  return written;
}

// Appends size bytes. A block at least as large as the buffer goes out
// straight from where it is, after what the buffer already holds.
bool put_bytes(row_buffer* buffer, const uint8_t* bytes, size_t size) {
  if (size >= buffer->capacity) {
    if (!flush_rows(buffer)) return false;
    return write_all(buffer->file, bytes, size);
  }
  while (size != 0) {
    if (buffer->used == buffer->capacity && !flush_rows(buffer)) return false;
    size_t count = buffer->capacity - buffer->used;
    if (count > size) count = size;
    memcpy(buffer->bytes + buffer->used, bytes, count);
    buffer->used += count;
    bytes += count;
    size -= count;
  }
  return true;
}

// Eight pixels per byte, the leftmost in the most significant bit; any pixel
// byte that is not 0 stands for a set bit. Returns the bytes stored: a last
// partial group fills the high bits of one more byte.
size_t pack_bits(uint8_t* out, const uint8_t* pixels, size_t count) {
  const size_t full = count / 8;
  for (size_t i = 0; i < full; ++i) {
    const uint8_t* group = pixels + 8 * i;
    if constexpr (std::endian::native == std::endian::little) {
      // Eight pixel bytes at once: the top bit of each lane is set when the
      // lane is not 0 (the sum cannot carry into the next lane), and the
      // multiplication moves lane k's bit to bit 63 - k without any two
      // partial products overlapping, so the top byte is the packed byte.
      uint64_t lanes;
      memcpy(&lanes, group, sizeof lanes);
      const uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
      const uint64_t set = (((lanes & low7) + low7) | lanes) & ~low7;
      out[i] = static_cast<uint8_t>(((set >> 7) * 0x8040201008040201ull) >> 56);
    } else {
      uint8_t byte = 0;
      for (size_t k = 0; k < 8; ++k)
        byte = static_cast<uint8_t>(byte | (group[k] != 0) << (7 - k));
      out[i] = byte;
    }
  }
  const size_t rest = count % 8;
  if (rest == 0) return full;
  uint8_t byte = 0;
  for (size_t k = 0; k < rest; ++k)
    byte = static_cast<uint8_t>(byte | (pixels[8 * full + k] != 0) << (7 - k));
  out[full] = byte;
  return full + 1;
}

// Two pixels per byte, the left one in the high nibble; only the low 4 bits of
// a pixel byte count. Returns the bytes stored: with an odd count the last
// pixel takes the high nibble of one more byte.
size_t pack_nibbles(uint8_t* out, const uint8_t* pixels, size_t count) {
  const size_t pairs = count / 2;
  for (size_t i = 0; i < pairs; ++i)
    out[i] = static_cast<uint8_t>(pixels[2 * i] << 4 | (pixels[2 * i + 1] & 0x0F));
  if (count % 2 == 0) return pairs;
  out[pairs] = static_cast<uint8_t>(pixels[count - 1] << 4);
  return pairs + 1;
}

// Packs one 1- or 4-bit row into the buffer, in pieces when it does not fit
// the room left, then its padding.
bool put_packed_row(row_buffer* buffer, const uint8_t* row, size_t width, int32_t bit_count,
                    size_t padding) {
  const size_t per_byte = bit_count == 1 ? 8 : 2;
  size_t done = 0;
  while (done < width) {
    if (buffer->used == buffer->capacity && !flush_rows(buffer)) return false;
    const size_t room = buffer->capacity - buffer->used;
    size_t count = width - done;
    if (count > room * per_byte) count = room * per_byte;
    uint8_t* out = buffer->bytes + buffer->used;
    buffer->used +=
        bit_count == 1 ? pack_bits(out, row + done, count) : pack_nibbles(out, row + done, count);
    done += count;
  }
  return put_bytes(buffer, kZeros, padding);
}

// At 8 bits and above a row is the pixel bytes as they are.
bool put_plain_row(row_buffer* buffer, const uint8_t* row, size_t row_bytes, size_t padding) {
  return put_bytes(buffer, row, row_bytes) && put_bytes(buffer, kZeros, padding);
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
  const bool packs = bit_count == 1 || bit_count == 4;

  uint8_t fallback[kFallbackBufferBytes];
  std::unique_ptr<uint8_t[]> large;
  if (header->height != 0) large.reset(new (std::nothrow) uint8_t[kRowBufferBytes]);
  row_buffer buffer = {file, large ? large.get() : fallback,
                       large ? kRowBufferBytes : kFallbackBufferBytes, 0};
  for (int32_t r = header->height - 1; r >= 0; --r) {
    const uint8_t* row = pixels + stride * static_cast<size_t>(r);
    const bool put = packs ? put_packed_row(&buffer, row, width, bit_count, padding)
                           : put_plain_row(&buffer, row, stride, padding);
    if (!put) return -1;
  }
  if (!flush_rows(&buffer)) return -1;
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
