// The 54-byte header of a BMP file: building, serialising, parsing and the
// check that decides whether this module can read the file it describes.

#include <cstdio>

#include "bitmap/bit_count.h"
#include "bitmap/bitmap.h"
#include "bitmap/write_all.h"

namespace {

constexpr size_t kHeaderBytes = 54;
constexpr uint32_t kInfoHeaderBytes = 40;

// The palette, when there is one, follows the header at once and the pixel
// rows follow the palette, so the data offset follows from the bit count.
constexpr uint32_t data_offset_of(int32_t bit_count) {
  return static_cast<uint32_t>(kHeaderBytes) +
         4 * static_cast<uint32_t>(palette_size_of(bit_count));
}

// Header sizes are 32-bit fields: they wrap as the fields do.
constexpr uint32_t image_size_of(uint32_t width, int32_t height, int32_t bit_count) {
  return padded_row_bytes<uint32_t>(width, bit_count) * static_cast<uint32_t>(height);
}

}  // namespace

uint8_t* put_le32(uint8_t* position, uint32_t value) {
  position[0] = static_cast<uint8_t>(value);
  position[1] = static_cast<uint8_t>(value >> 8);
  position[2] = static_cast<uint8_t>(value >> 16);
  position[3] = static_cast<uint8_t>(value >> 24);
  return position + 4;
}

uint8_t* put_le16(uint8_t* position, uint16_t value) {
  position[0] = static_cast<uint8_t>(value);
  position[1] = static_cast<uint8_t>(value >> 8);
  return position + 2;
}

uint32_t get_le32(const uint8_t* position, const uint8_t** cursor) {
  if (cursor != nullptr) *cursor = position + 4;
  return static_cast<uint32_t>(position[0]) | static_cast<uint32_t>(position[1]) << 8 |
         static_cast<uint32_t>(position[2]) << 16 | static_cast<uint32_t>(position[3]) << 24;
}

uint16_t get_le16(const uint8_t* position, const uint8_t** cursor) {
  if (cursor != nullptr) *cursor = position + 2;
  return static_cast<uint16_t>(position[0] | position[1] << 8);
}

int32_t bitmap_row_size(int32_t width, int32_t bit_count) {
  if (!is_supported_bit_count(bit_count)) return -1;
  return static_cast<int32_t>(padded_row_bytes<uint32_t>(static_cast<uint32_t>(width), bit_count));
}

int make_bitmap_header(bitmap_header* header, uint32_t width, int32_t height, uint16_t bit_count) {
  header->reserved1 = 0;
  header->reserved2 = 0;
  header->info_header_size = kInfoHeaderBytes;
  header->width = width;
  header->height = height;
  header->planes = 1;
  header->bit_count = bit_count;
  header->compression = 0;
  header->x_pixels_per_meter = 0;
  header->y_pixels_per_meter = 0;
  header->colors_used = 0;
  header->colors_important = 0;
  if (!is_supported_bit_count(bit_count)) return -1;
  header->data_offset = data_offset_of(bit_count);
  header->image_size = image_size_of(width, height, bit_count);
  header->file_size = header->data_offset + header->image_size;
  return 0;
}

int write_bitmap_header(FILE* file, const bitmap_header* header) {
  uint8_t bytes[kHeaderBytes];
  uint8_t* p = bytes;
  *p++ = 'B';
  *p++ = 'M';
  p = put_le32(p, header->file_size);
  p = put_le16(p, header->reserved1);
  p = put_le16(p, header->reserved2);
  p = put_le32(p, header->data_offset);
  p = put_le32(p, header->info_header_size);
  p = put_le32(p, header->width);
  p = put_le32(p, static_cast<uint32_t>(header->height));
  p = put_le16(p, header->planes);
  p = put_le16(p, header->bit_count);
  p = put_le32(p, header->compression);
  p = put_le32(p, header->image_size);
  p = put_le32(p, static_cast<uint32_t>(header->x_pixels_per_meter));
  p = put_le32(p, static_cast<uint32_t>(header->y_pixels_per_meter));
  p = put_le32(p, header->colors_used);
  put_le32(p, header->colors_important);
  return write_all(file, bytes, kHeaderBytes) ? 0 : -1;
}

int read_bitmap_header(FILE* file, bitmap_header* header) {
  uint8_t bytes[kHeaderBytes];
  if (fread(bytes, 1, kHeaderBytes, file) != kHeaderBytes) return -1;
  if (bytes[0] != 'B' || bytes[1] != 'M') return -1;
  const uint8_t* p = bytes + 2;
  header->file_size = get_le32(p, &p);
  header->reserved1 = get_le16(p, &p);
  header->reserved2 = get_le16(p, &p);
  header->data_offset = get_le32(p, &p);
  header->info_header_size = get_le32(p, &p);
  header->width = get_le32(p, &p);
  header->height = static_cast<int32_t>(get_le32(p, &p));
  header->planes = get_le16(p, &p);
  header->bit_count = get_le16(p, &p);
  header->compression = get_le32(p, &p);
  header->image_size = get_le32(p, &p);
  header->x_pixels_per_meter = static_cast<int32_t>(get_le32(p, &p));
  header->y_pixels_per_meter = static_cast<int32_t>(get_le32(p, &p));
  header->colors_used = get_le32(p, &p);
  header->colors_important = get_le32(p, nullptr);
  return check_bitmap_header(header);
}

// The tests run in a fixed order and the first that fails ends the check, so
// a header shows the user one error line at most.
int check_bitmap_header(bitmap_header* header) {
  int warnings = 0;
  if (header->info_header_size != kInfoHeaderBytes) {
    puts("error: check_bitmap_header() - not supported header type - support only Windows V3");
    return -1;
  }
  if (header->planes != 1) return -1;
  if (header->compression != 0) {
    puts("error: check_bitmap_header() - not support compression");
    return -1;
  }
  if (!is_supported_bit_count(header->bit_count)) {
    puts("error: check_bitmap_header() - unknown bit count");
    return -1;
  }
  const uint32_t expected_offset = data_offset_of(header->bit_count);
  const uint32_t computed_size = image_size_of(header->width, header->height, header->bit_count);
  const uint32_t expected_length = expected_offset + computed_size;
  if (header->data_offset != expected_offset) {
    printf("error: check_bitmap_header() - offset size 0x%X != 0x%X\n", header->data_offset,
           expected_offset);
    return -1;
  }
  if (header->image_size == 0) {
    header->image_size = computed_size;
    printf("warning: check_bitmap_header() - data length is 0 ... corrected: 0x%X\n",
           computed_size);
    ++warnings;
  }
  if (header->image_size != computed_size) {
    printf("error: check_bitmap_header() - data length 0x%X != 0x%X\n", header->image_size,
           computed_size);
    return -1;
  }
  if (header->file_size == 0) {
    puts("warning: check_bitmap_header() - file length is 0");
    return warnings + 1;
  }
  if (header->file_size > expected_length) {
    printf("warning: check_bitmap_header() - file length 0x%X > 0x%X\n", header->file_size,
           expected_length);
    return warnings + 1;
  }
  if (header->file_size < expected_length) {
    printf("error: check_bitmap_header() - file length 0x%X < 0x%X\n", header->file_size,
           expected_length);
    return -1;
  }
  return warnings;
}
