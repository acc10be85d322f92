#ifndef O1PC98MAP_BITMAP_BITMAP_TEST_SUPPORT_H_
#define O1PC98MAP_BITMAP_BITMAP_TEST_SUPPORT_H_

// Helpers of the bitmap tests: BMP bytes built by hand, streams over bytes,
// streams that fail part way, and children with too little memory.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bitmap/bitmap.h"
#include "testing/test_support.h"  // run_in_child_with_memory_limit

using bytes_t = std::vector<uint8_t>;

inline void append_le16(bytes_t* bytes, uint32_t value) {
  bytes->push_back(static_cast<uint8_t>(value));
  bytes->push_back(static_cast<uint8_t>(value >> 8));
}

inline void append_le32(bytes_t* bytes, uint32_t value) {
  append_le16(bytes, value & 0xFFFF);
  append_le16(bytes, value >> 16);
}

inline void append(bytes_t* bytes, const bytes_t& more) {
  bytes->insert(bytes->end(), more.begin(), more.end());
}

inline bool same_header(const bitmap_header& a, const bitmap_header& b) {
  return a.file_size == b.file_size && a.reserved1 == b.reserved1 && a.reserved2 == b.reserved2 &&
         a.data_offset == b.data_offset && a.info_header_size == b.info_header_size &&
         a.width == b.width && a.height == b.height && a.planes == b.planes &&
         a.bit_count == b.bit_count && a.compression == b.compression &&
         a.image_size == b.image_size && a.x_pixels_per_meter == b.x_pixels_per_meter &&
         a.y_pixels_per_meter == b.y_pixels_per_meter && a.colors_used == b.colors_used &&
         a.colors_important == b.colors_important;
}

// The 54 header bytes of a file of the one shape the module writes, laid out
// field by field from the format's table rather than by the code under test.
inline bytes_t header_bytes(uint32_t file_size, uint32_t data_offset, uint32_t width,
                            int32_t height, uint16_t bit_count, uint32_t image_size) {
  bytes_t bytes = {'B', 'M'};
  append_le32(&bytes, file_size);
  append_le32(&bytes, 0);  // two reserved words
  append_le32(&bytes, data_offset);
  append_le32(&bytes, 40);
  append_le32(&bytes, width);
  append_le32(&bytes, static_cast<uint32_t>(height));
  append_le16(&bytes, 1);
  append_le16(&bytes, bit_count);
  append_le32(&bytes, 0);  // no compression
  append_le32(&bytes, image_size);
  for (int i = 0; i < 4; ++i)
    append_le32(&bytes, 0);
  return bytes;
}

inline bytes_t palette_bytes(const std::vector<palette_entry>& palette) {
  bytes_t bytes;
  for (const palette_entry& entry : palette) {
    bytes.push_back(entry.blue);
    bytes.push_back(entry.green);
    bytes.push_back(entry.red);
    bytes.push_back(entry.reserved);
  }
  return bytes;
}

// A whole file: header, the palette part as given, then the stored rows.
inline bytes_t bmp_file(uint32_t width, int32_t height, uint16_t bit_count,
                        const bytes_t& palette_part, const bytes_t& rows) {
  const uint32_t offset = static_cast<uint32_t>(54 + palette_part.size());
  const uint32_t image_size = static_cast<uint32_t>(rows.size());
  bytes_t file = header_bytes(offset + image_size, offset, width, height, bit_count, image_size);
  append(&file, palette_part);
  append(&file, rows);
  return file;
}

// A palette of count distinct colours whose reserved bytes are not 0, so that
// a reader or writer that drops or reorders a byte shows.
inline std::vector<palette_entry> test_palette(int count) {
  std::vector<palette_entry> palette;
  for (int i = 0; i < count; ++i)
    palette.push_back({static_cast<uint8_t>(i * 7 + 1), static_cast<uint8_t>(255 - i),
                       static_cast<uint8_t>(i * 3), static_cast<uint8_t>(0x80 | i)});
  return palette;
}

// A seekable scratch stream holding bytes, positioned at its start.
inline FILE* open_bytes(const bytes_t& bytes) {
  FILE* file = tmpfile();
  if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), file);
  rewind(file);
  return file;
}

// Everything in a stream from its start; the stream stays open.
inline bytes_t stream_bytes(FILE* file) {
  fflush(file);
  long end = ftell(file);
  bytes_t bytes(static_cast<size_t>(end));
  rewind(file);
  if (end > 0 && fread(bytes.data(), 1, bytes.size(), file) != bytes.size()) bytes.clear();
  return bytes;
}

// The whole BMP file write_bitmap makes of header, palette and pixels.
inline bytes_t written_bitmap(const bitmap_header& header, const palette_entry* palette,
                              const uint8_t* pixels) {
  FILE* file = tmpfile();
  write_bitmap(file, &header, palette, pixels);
  bytes_t bytes = stream_bytes(file);
  fclose(file);
  return bytes;
}

// A write-only stream that takes capacity bytes and then fails as a full disk
// does; what it took is kept in received.
struct failing_sink {
  size_t capacity;
  bytes_t received;
};

inline ssize_t failing_sink_write(void* cookie, const char* data, size_t size) {
  auto* sink = static_cast<failing_sink*>(cookie);
  size_t room = sink->capacity - sink->received.size();
  if (room == 0) {
    errno = ENOSPC;
    return -1;
  }
  size_t taken = size < room ? size : room;
  sink->received.insert(sink->received.end(), data, data + taken);
  return static_cast<ssize_t>(taken);
}

// Unbuffered, every write of the code under test reaches the sink at once, so
// the failure lands on the exact byte; buffered, it shows only when the
// stream's buffer is flushed.
inline FILE* open_failing_stream(failing_sink* sink, bool buffered) {
  cookie_io_functions_t functions = {nullptr, failing_sink_write, nullptr, nullptr};
  FILE* file = fopencookie(sink, "w", functions);
  if (!buffered) setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

// A read-only stream over bytes that cannot seek, as a pipe.
struct pipe_source {
  bytes_t bytes;
  size_t position;
};

inline ssize_t pipe_source_read(void* cookie, char* data, size_t size) {
  auto* source = static_cast<pipe_source*>(cookie);
  size_t left = source->bytes.size() - source->position;
  size_t taken = size < left ? size : left;
  for (size_t i = 0; i < taken; ++i)
    data[i] = static_cast<char>(source->bytes[source->position + i]);
  source->position += taken;
  return static_cast<ssize_t>(taken);
}

inline FILE* open_unseekable_stream(pipe_source* source) {
  cookie_io_functions_t functions = {pipe_source_read, nullptr, nullptr, nullptr};
  return fopencookie(source, "r", functions);
}

// AddressSanitizer reserves far more address space than any limit below, so
// the memory tests cannot run under it.
#if defined(__SANITIZE_ADDRESS__)
#define O1_UNDER_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define O1_UNDER_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef O1_UNDER_ADDRESS_SANITIZER
#define O1_UNDER_ADDRESS_SANITIZER 0
#endif

#endif  // O1PC98MAP_BITMAP_BITMAP_TEST_SUPPORT_H_
