#ifndef O1PC98MAP_BITMAP_BITMAP_H_
#define O1PC98MAP_BITMAP_BITMAP_H_

// Windows BMP files with the 40-byte information header and no compression,
// at 1, 4, 8, 16, 24 and 32 bits per pixel: header, writer, reader and
// conversion between bit counts. Pictures in memory use the unpacked pixel
// layout of common/pixel_layout.h. Every message goes to standard output.

#include <cstdint>
#include <cstdio>
#include <memory>

#include "common/palette_entry.h"

// The fields of the 54-byte header in file order, without the signature.
struct bitmap_header {
  uint32_t file_size;
  uint16_t reserved1;
  uint16_t reserved2;
  uint32_t data_offset;
  uint32_t info_header_size;
  uint32_t width;  // used as an unsigned count
  int32_t height;
  uint16_t planes;
  uint16_t bit_count;
  uint32_t compression;
  uint32_t image_size;
  int32_t x_pixels_per_meter;
  int32_t y_pixels_per_meter;
  uint32_t colors_used;
  uint32_t colors_important;
};

// Header.
int make_bitmap_header(bitmap_header* header, uint32_t width, int32_t height, uint16_t bit_count);
int write_bitmap_header(FILE* file, const bitmap_header* header);
int read_bitmap_header(FILE* file, bitmap_header* header);
int check_bitmap_header(bitmap_header* header);
int32_t bitmap_row_size(int32_t width, int32_t bit_count);
uint8_t* put_le32(uint8_t* position, uint32_t value);
uint8_t* put_le16(uint8_t* position, uint16_t value);
uint32_t get_le32(const uint8_t* position, const uint8_t** cursor);
uint16_t get_le16(const uint8_t* position, const uint8_t** cursor);

// Writer.
int write_bitmap(FILE* file, const bitmap_header* header, const palette_entry* palette,
                 const uint8_t* pixels);
int write_palette(FILE* file, const palette_entry* entries, int32_t count);

// Reader. A slot holds a buffer or none; an empty slot receives a new buffer
// that belongs to the caller from then on, on failure as well as on success.
int read_bitmap(FILE* file, bitmap_header* header, std::unique_ptr<palette_entry[]>* palette_slot,
                std::unique_ptr<uint8_t[]>* pixel_slot, int header_already_read);
int read_palette(FILE* file, palette_entry* entries, int32_t count);

// Conversion between bit counts, by nearest-colour matching for indexed targets.
inline constexpr palette_entry default_mono_palette[2] = {{0x00, 0x00, 0x00, 0x00},
                                                          {0xFF, 0xFF, 0xFF, 0x00}};
int convert_bit_count(int32_t width, int32_t height, int32_t source_bit_count,
                      const palette_entry* source_palette, const uint8_t* source_pixels,
                      int32_t target_bit_count, const palette_entry* target_palette,
                      std::unique_ptr<uint8_t[]>* output);
int32_t nearest_palette_index(int32_t red, int32_t green, int32_t blue,
                              const palette_entry* palette, int32_t count);

#endif  // O1PC98MAP_BITMAP_BITMAP_H_
