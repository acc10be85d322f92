// Fuzzes the BMP module: the input is a BMP file. It is read with every
// combination of slots, the picture is converted to every bit count, and
// what was read is written back.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "bitmap/bitmap.h"

namespace {

constexpr int32_t kBitCounts[6] = {1, 4, 8, 16, 24, 32};

// Pictures above this many bytes are read but not converted or written, so
// that one input costs milliseconds, not seconds.
constexpr int64_t kLargestWorkedPicture = 1 << 22;

FILE* open_input(const uint8_t* data, size_t size) {
  // fmemopen refuses an empty buffer; an empty file is a file all the same.
  if (size == 0) return tmpfile();
  return fmemopen(const_cast<uint8_t*>(data), size, "rb");
}

int32_t palette_size(int32_t bit_count) {
  return bit_count <= 8 ? 1 << bit_count : 0;
}

void convert_and_write(const bitmap_header* header, const palette_entry* palette,
                       const uint8_t* pixels) {
  const int64_t width = header->width;
  const int64_t height = header->height;
  const int32_t source_bits = header->bit_count;
  if (width <= 0 || height <= 0 || width * height * 4 > kLargestWorkedPicture) return;

  static palette_entry grey16[16];
  for (int i = 0; i < 16; ++i) {
    const auto v = static_cast<uint8_t>(17 * i);
    grey16[i] = {v, v, v, 0};
  }
  static palette_entry grey256[256];
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<uint8_t>(i);
    grey256[i] = {v, v, v, 0};
  }
  for (int32_t target : kBitCounts) {
    // A 1-bit target without a palette takes black and white.
    const palette_entry* target_palette = target == 4 ? grey16 : target == 8 ? grey256 : nullptr;
    std::unique_ptr<uint8_t[]> output;
    convert_bit_count(static_cast<int32_t>(width), static_cast<int32_t>(height), source_bits,
                      palette, pixels, target, target_palette, &output);
  }

  FILE* sink = fopen("/dev/null", "wb");
  if (sink == nullptr) return;
  write_bitmap(sink, header, palette, pixels);
  fclose(sink);
}

void read_with_slots(const uint8_t* data, size_t size, bool want_palette) {
  FILE* file = open_input(data, size);
  if (file == nullptr) return;
  bitmap_header header{};
  std::unique_ptr<palette_entry[]> palette;
  std::unique_ptr<uint8_t[]> pixels;
  int result = read_bitmap(file, &header, want_palette ? &palette : nullptr, &pixels, 0);
  fclose(file);
  if (result == 0 && (palette || palette_size(header.bit_count) == 0))
    convert_and_write(&header, palette.get(), pixels.get());
}

// The header is read by the caller and the pixels go into a buffer the
// caller sized itself.
void read_into_own_buffers(const uint8_t* data, size_t size) {
  FILE* file = open_input(data, size);
  if (file == nullptr) return;
  bitmap_header header{};
  if (read_bitmap_header(file, &header) >= 0 && header.height >= 0) {
    // Width and height below 2^32 and 2^31: their product fits 64 bits, and
    // once it is bounded so is the product with the bytes per pixel.
    const uint64_t pixel_count = uint64_t{header.width} * static_cast<uint64_t>(header.height);
    const uint64_t bytes = pixel_count * ((header.bit_count + 7u) / 8u);
    if (pixel_count <= kLargestWorkedPicture && bytes <= kLargestWorkedPicture) {
      std::unique_ptr<uint8_t[]> pixels(new uint8_t[bytes > 0 ? bytes : 1]);
      std::unique_ptr<palette_entry[]> palette(new palette_entry[256]);
      read_bitmap(file, &header, &palette, &pixels, 1);
    }
  }
  fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  read_with_slots(data, size, true);
  read_with_slots(data, size, false);
  read_into_own_buffers(data, size);
  FILE* file = open_input(data, size);
  if (file != nullptr) {
    bitmap_header header{};
    read_bitmap(file, &header, nullptr, nullptr, 0);  // no pixel slot
    fclose(file);
  }
  return 0;
}
