#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "bitmap/bitmap.h"
#include "bitmap/bitmap_test_support.h"
#include "testing/test_support.h"

namespace {

struct write_outcome {
  int result;
  std::string output;
  bytes_t file;
};

write_outcome write_to_bytes(const bitmap_header& header, const palette_entry* palette,
                             const uint8_t* pixels) {
  FILE* file = tmpfile();
  begin_stdout_capture();
  const int result = write_bitmap(file, &header, palette, pixels);
  std::string output = end_stdout_capture();
  write_outcome outcome{result, output, stream_bytes(file)};
  fclose(file);
  return outcome;
}

write_outcome write_picture(uint32_t width, int32_t height, uint16_t bit_count,
                            const palette_entry* palette, const bytes_t& pixels) {
  bitmap_header header{};
  EXPECT_EQ(make_bitmap_header(&header, width, height, bit_count), 0);
  return write_to_bytes(header, palette, pixels.data());
}

TEST(WriteBitmap, PacksAndPadsOneRowAtEveryBitCount) {
  struct row_case {
    const char* name;
    uint16_t bit_count;
    uint32_t width;
    bytes_t pixels;
    bytes_t stored;
  };
  const row_case cases[] = {
      {"1 bit, any non-zero byte is a set bit",
       1,
       10,
       {1, 0, 0, 0, 0, 0, 0, 1, 255, 0},
       {0x81, 0x80, 0x00, 0x00}},
      {"1 bit, one full byte", 1, 8, {1, 2, 3, 4, 5, 6, 7, 8}, {0xFF, 0x00, 0x00, 0x00}},
      {"1 bit, width 33",
       1,
       33,
       {1, 0, 1, 0, 1, 0, 1, 0, 0, 0, 0, 0, 9, 9, 9,   9, 1,
        2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0, 0, 0, 0, 128, 1},
       {0xAA, 0x0F, 0xFF, 0x01, 0x80, 0x00, 0x00, 0x00}},
      {"4 bits, odd width", 4, 3, {1, 2, 3}, {0x12, 0x30, 0x00, 0x00}},
      {"4 bits, only the low nibble counts", 4, 2, {0x1F, 0xA5}, {0xF5, 0x00, 0x00, 0x00}},
      {"4 bits, width 9",
       4,
       9,
       {1, 2, 3, 4, 5, 6, 7, 8, 9},
       {0x12, 0x34, 0x56, 0x78, 0x90, 0x00, 0x00, 0x00}},
      {"8 bits, width 5", 8, 5, {1, 2, 3, 4, 255}, {1, 2, 3, 4, 255, 0, 0, 0}},
      {"16 bits, width 3", 16, 3, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6, 0, 0}},
      {"24 bits, width 3",
       24,
       3,
       {1, 2, 3, 4, 5, 6, 7, 8, 9},
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0}},
      {"24 bits, width 4 needs no padding",
       24,
       4,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
      {"32 bits, no padding",
       32,
       3,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
  };
  for (const row_case& c : cases) {
    const int colors = c.bit_count <= 8 ? 1 << c.bit_count : 0;
    const std::vector<palette_entry> palette = test_palette(colors);
    const write_outcome outcome =
        write_picture(c.width, 1, c.bit_count, colors != 0 ? palette.data() : nullptr, c.pixels);
    EXPECT_EQ(outcome.result, 0) << c.name;
    EXPECT_EQ(outcome.output, "") << c.name;
    EXPECT_EQ(outcome.file, bmp_file(c.width, 1, c.bit_count, palette_bytes(palette), c.stored))
        << c.name;
  }
}

TEST(WriteBitmap, StoresTheBottomRowFirst) {
  const bytes_t pixels = {1, 2, 3, 4, 5, 6};  // 2 x 3, top row first
  const std::vector<palette_entry> palette = test_palette(256);
  const write_outcome outcome = write_picture(2, 3, 8, palette.data(), pixels);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.file,
            bmp_file(2, 3, 8, palette_bytes(palette), {5, 6, 0, 0, 3, 4, 0, 0, 1, 2, 0, 0}));
}

TEST(WriteBitmap, WritesTheOutputMapFile) {
  const uint32_t width = 2688;
  const int32_t height = 2496;
  bytes_t pixels(width * height);
  for (size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = static_cast<uint8_t>((i * 7 + i / width) % 16);
  const std::vector<palette_entry> palette = test_palette(16);
  bytes_t rows;
  for (int32_t r = height - 1; r >= 0; --r)
    for (uint32_t x = 0; x < width; x += 2)
      rows.push_back(static_cast<uint8_t>(pixels[r * width + x] << 4 | pixels[r * width + x + 1]));
  const write_outcome outcome = write_picture(width, height, 4, palette.data(), pixels);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.output, "");
  ASSERT_EQ(outcome.file.size(), 3354742u);
  EXPECT_EQ(outcome.file, bmp_file(width, height, 4, palette_bytes(palette), rows));
}

TEST(WriteBitmap, PaletteGoesOutUnchangedOrAsZerosOrNotAtAll) {
  const std::vector<palette_entry> palette = test_palette(256);
  struct palette_case {
    const char* name;
    uint16_t bit_count;
    const palette_entry* palette;
    bytes_t palette_part;
  };
  const palette_case cases[] = {
      {"1 bit", 1, palette.data(), palette_bytes(test_palette(2))},
      {"4 bits", 4, palette.data(), palette_bytes(test_palette(16))},
      {"8 bits", 8, palette.data(), palette_bytes(palette)},
      {"1 bit without palette", 1, nullptr, bytes_t(8, 0)},
      {"4 bits without palette", 4, nullptr, bytes_t(64, 0)},
      {"8 bits without palette", 8, nullptr, bytes_t(1024, 0)},
      {"16 bits ignore a palette", 16, palette.data(), {}},
      {"24 bits ignore a palette", 24, palette.data(), {}},
      {"32 bits ignore a palette", 32, palette.data(), {}},
      {"24 bits without palette", 24, nullptr, {}},
  };
  for (const palette_case& c : cases) {
    const bytes_t pixels(4, 0);  // one pixel at any bit count
    const write_outcome outcome = write_picture(1, 1, c.bit_count, c.palette, pixels);
    EXPECT_EQ(outcome.result, 0) << c.name;
    EXPECT_EQ(outcome.file, bmp_file(1, 1, c.bit_count, c.palette_part, bytes_t(4, 0))) << c.name;
  }
}

TEST(WriteBitmap, HeightZeroWritesHeaderAndPaletteOnly) {
  const std::vector<palette_entry> palette = test_palette(16);
  const write_outcome outcome = write_picture(5, 0, 4, palette.data(), {});
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.output, "");
  EXPECT_EQ(outcome.file, bmp_file(5, 0, 4, palette_bytes(palette), {}));
}

TEST(WriteBitmap, WritesTheHeaderAsGivenWithoutRecomputingIt) {
  bitmap_header header{};
  make_bitmap_header(&header, 1, 1, 24);
  header.file_size = 0;
  header.image_size = 0;
  header.colors_used = 5;
  const bytes_t pixels = {1, 2, 3};
  const write_outcome outcome = write_to_bytes(header, nullptr, pixels.data());
  EXPECT_EQ(outcome.result, 0);
  bytes_t expected = header_bytes(0, 54, 1, 1, 24, 0);
  expected[46] = 5;
  append(&expected, {1, 2, 3, 0});
  EXPECT_EQ(outcome.file, expected);
}

TEST(WriteBitmap, RefusesWhatItCannotWriteBeforeWritingAnything) {
  const bytes_t pixels(64, 1);
  bitmap_header bit_count_two{};
  make_bitmap_header(&bit_count_two, 2, 2, 8);
  bit_count_two.bit_count = 2;
  bitmap_header negative_height{};
  make_bitmap_header(&negative_height, 2, -2, 8);
  bitmap_header no_pixels{};
  make_bitmap_header(&no_pixels, 2, 2, 8);
  struct refusal_case {
    const char* name;
    bitmap_header header;
    const uint8_t* pixels;
  };
  const refusal_case cases[] = {{"bit count 2", bit_count_two, pixels.data()},
                                {"negative height", negative_height, pixels.data()},
                                {"no pixels", no_pixels, nullptr}};
  for (const refusal_case& c : cases) {
    const write_outcome outcome = write_to_bytes(c.header, nullptr, c.pixels);
    EXPECT_EQ(outcome.result, -1) << c.name;
    EXPECT_EQ(outcome.output, "") << c.name;
    EXPECT_EQ(outcome.file, bytes_t{}) << c.name;
  }
}

// A 4-bit picture of 5 x 3: 54 header bytes, 64 palette bytes, 3 rows of 4.
TEST(WriteBitmap, ReportsAStreamThatFailsPartWay) {
  const bytes_t pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  const std::vector<palette_entry> palette = test_palette(16);
  const bytes_t good = bmp_file(5, 3, 4, palette_bytes(palette),
                                {0xBC, 0xDE, 0xF0, 0, 0x67, 0x89, 0xA0, 0, 0x12, 0x34, 0x50, 0});
  ASSERT_EQ(good.size(), 130u);
  struct failure_case {
    size_t capacity;
    int result;
    std::string output;
  };
  const failure_case cases[] = {
      {0, -1, "error: write_bitmap() - can't write bitmap header\n"},
      {53, -1, "error: write_bitmap() - can't write bitmap header\n"},
      {54, -1, "error: write_bitmap() - can't write palette\n"},
      {117, -1, "error: write_bitmap() - can't write palette\n"},
      {118, -1, "error: write_bitmap() - can't write bitmap data\n"},
      {121, -1, "error: write_bitmap() - can't write bitmap data\n"},  // in a row's padding
      {129, -1, "error: write_bitmap() - can't write bitmap data\n"},
      {130, 0, ""},
  };
  for (const failure_case& c : cases) {
    failing_sink sink{c.capacity, {}};
    FILE* file = open_failing_stream(&sink, false);
    bitmap_header header{};
    make_bitmap_header(&header, 5, 3, 4);
    begin_stdout_capture();
    const int result = write_bitmap(file, &header, palette.data(), pixels.data());
    const std::string output = end_stdout_capture();
    EXPECT_EQ(result, c.result) << "capacity " << c.capacity;
    EXPECT_EQ(output, c.output) << "capacity " << c.capacity;
    // What went out before the failure stays, and is the start of the file.
    EXPECT_EQ(sink.received, bytes_t(good.begin(), good.begin() + c.capacity))
        << "capacity " << c.capacity;
    fclose(file);
  }
}

TEST(WriteBitmap, ReportsAFailingZeroPaletteAndFailingPlainRows) {
  const bytes_t pixels(3 * 2 * 4, 7);  // 3 x 2 pixels, enough for 32 bits
  struct failure_case {
    uint16_t bit_count;
    size_t capacity;
    std::string output;
  };
  const failure_case cases[] = {
      {8, 54 + 4 * 100 + 2, "error: write_bitmap() - can't write palette\n"},  // in a zero entry
      {8, 1078 + 2, "error: write_bitmap() - can't write bitmap data\n"},
      {24, 54, "error: write_bitmap() - can't write bitmap data\n"},
      {24, 54 + 9, "error: write_bitmap() - can't write bitmap data\n"},  // in a row's padding
      {32, 54 + 12 + 5, "error: write_bitmap() - can't write bitmap data\n"},
  };
  for (const failure_case& c : cases) {
    failing_sink sink{c.capacity, {}};
    FILE* file = open_failing_stream(&sink, false);
    bitmap_header header{};
    make_bitmap_header(&header, 3, 2, c.bit_count);
    begin_stdout_capture();
    const int result = write_bitmap(file, &header, nullptr, pixels.data());
    const std::string output = end_stdout_capture();
    EXPECT_EQ(result, -1) << c.capacity;
    EXPECT_EQ(output, c.output) << c.capacity;
    EXPECT_EQ(sink.received.size(), c.capacity);
    fclose(file);
  }
}

// A buffered stream takes the header, the palette and the rows into its
// buffer; the full disk shows only when the buffer is flushed.
TEST(WriteBitmap, ReportsAFailureThatTheStreamBufferHides) {
  const bytes_t pixels(15, 3);
  const std::vector<palette_entry> palette = test_palette(16);
  failing_sink sink{120, {}};
  FILE* file = open_failing_stream(&sink, true);
  bitmap_header header{};
  make_bitmap_header(&header, 5, 3, 4);
  begin_stdout_capture();
  const int result = write_bitmap(file, &header, palette.data(), pixels.data());
  const std::string output = end_stdout_capture();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(output, "error: write_bitmap() - can't write bitmap data\n");
  fclose(file);
}

TEST(WriteBitmap, ReportsADiskThatFillsUpDuringTheRows) {
  const std::string dir = make_temp_dir();
  const std::string path = dir + "/map.bmp";
  const uint32_t width = 2688;
  const int32_t height = 2496;
  const bytes_t pixels(width * height, 5);
  const std::vector<palette_entry> palette = test_palette(16);
  begin_stdout_capture();
  const int status = run_in_child_with_file_limit(1 << 20, [&] {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) return 2;
    bitmap_header header{};
    make_bitmap_header(&header, width, height, 4);
    const int result = write_bitmap(file, &header, palette.data(), pixels.data());
    fclose(file);
    return result == -1 ? 1 : 0;
  });
  EXPECT_EQ(end_stdout_capture(), "error: write_bitmap() - can't write bitmap data\n");
  EXPECT_EQ(status, 1);
  EXPECT_EQ(read_file_bytes(path).size(), 1u << 20);
  remove_tree(dir);
}

// Stored rows built bit by bit from the format's rules, bottom row first,
// to hold the writer's word-at-a-time packing and its buffering against.
bytes_t reference_rows(uint32_t width, int32_t height, uint16_t bit_count, const bytes_t& pixels) {
  const size_t bytes_per_pixel = (bit_count + 7u) / 8u;
  bytes_t rows;
  for (int32_t r = height - 1; r >= 0; --r) {
    const uint8_t* row = pixels.data() + size_t{width} * bytes_per_pixel * r;
    const size_t start = rows.size();
    if (bit_count == 1) {
      for (uint32_t x = 0; x < width; ++x) {
        if (x % 8 == 0) rows.push_back(0);
        if (row[x] != 0) rows.back() = static_cast<uint8_t>(rows.back() | 0x80 >> (x % 8));
      }
    } else if (bit_count == 4) {
      for (uint32_t x = 0; x < width; ++x) {
        const uint8_t nibble = row[x] & 0x0F;
        if (x % 2 == 0)
          rows.push_back(static_cast<uint8_t>(nibble << 4));
        else
          rows.back() = static_cast<uint8_t>(rows.back() | nibble);
      }
    } else {
      rows.insert(rows.end(), row, row + size_t{width} * bytes_per_pixel);
    }
    while ((rows.size() - start) % 4 != 0)
      rows.push_back(0);
  }
  return rows;
}

// Pixel bytes of every value, zero about half the time so that 1-bit groups
// mix set and clear bits.
bytes_t mixed_pixels(size_t size, uint32_t seed) {
  bytes_t pixels(size);
  for (uint8_t& pixel : pixels) {
    seed = seed * 1664525u + 1013904223u;
    pixel = (seed >> 31) != 0 ? static_cast<uint8_t>(seed >> 20) : 0;
  }
  return pixels;
}

struct picture_case {
  uint16_t bit_count;
  uint32_t width;
  int32_t height;
};

// Widths 1 to 24 take every tail of a 1-bit group and of a 4-bit pair; the
// large pictures have rows that straddle the writer's 256 KiB buffer, a row
// wider than the buffer (packed in pieces, or written straight from the
// pixels), and many rows per write.
const picture_case large_and_narrow_pictures[] = {
    {1, 1000, 2200}, {1, 2100001, 1}, {4, 1001, 600}, {4, 600001, 2},
    {8, 100003, 3},  {8, 262144, 2},  {16, 3, 50000}, {24, 87382, 3},
    {24, 87381, 2},  {32, 70000, 2},  {32, 65536, 3}, {32, 1500, 300},
};

TEST(WriteBitmap, WritesEveryWidthAndLargePicturesAsTheFormatSays) {
  std::vector<picture_case> cases;
  for (uint16_t bit_count : {1, 4})
    for (uint32_t width = 1; width <= 24; ++width)
      cases.push_back({bit_count, width, 3});
  cases.insert(cases.end(), std::begin(large_and_narrow_pictures),
               std::end(large_and_narrow_pictures));
  for (const picture_case& c : cases) {
    const size_t bytes_per_pixel = (c.bit_count + 7u) / 8u;
    const bytes_t pixels = mixed_pixels(size_t{c.width} * c.height * bytes_per_pixel, c.width);
    const int colors = c.bit_count <= 8 ? 1 << c.bit_count : 0;
    const std::vector<palette_entry> palette = test_palette(colors);
    const write_outcome outcome =
        write_picture(c.width, c.height, c.bit_count, palette.data(), pixels);
    const std::string name = std::to_string(c.bit_count) + " bits, " + std::to_string(c.width) +
                             " x " + std::to_string(c.height);
    EXPECT_EQ(outcome.result, 0) << name;
    EXPECT_EQ(outcome.output, "") << name;
    EXPECT_TRUE(outcome.file == bmp_file(c.width, c.height, c.bit_count, palette_bytes(palette),
                                         reference_rows(c.width, c.height, c.bit_count, pixels)))
        << name;
  }
}

// Failures in later writes of a large picture: whatever the stream took
// stays and is the start of the good file, and the rows are reported.
TEST(WriteBitmap, ReportsAFailureInAnyWriteOfALargePicture) {
  struct failure_case {
    picture_case picture;
    size_t capacity;
  };
  const size_t buffer = 256 * 1024;
  const failure_case cases[] = {
      {{4, 1001, 600}, 118 + buffer - 1},       // the end of the first buffer
      {{4, 1001, 600}, 118 + buffer},           // just after the first buffer
      {{4, 1001, 600}, 118 + 600 * 504 - 1},    // the last byte
      {{4, 600001, 2}, 118 + 300004 + 17},      // a piece of the second row
      {{32, 70000, 2}, 54 + 280000 + 279999},   // a row written straight
      {{8, 100003, 3}, 1078 + 3 * 100004 - 2},  // the last padding
  };
  for (const failure_case& c : cases) {
    const picture_case& p = c.picture;
    const bytes_t pixels = mixed_pixels(size_t{p.width} * p.height * ((p.bit_count + 7u) / 8u), 3);
    const std::vector<palette_entry> palette =
        test_palette(p.bit_count <= 8 ? 1 << p.bit_count : 0);
    const bytes_t good = bmp_file(p.width, p.height, p.bit_count, palette_bytes(palette),
                                  reference_rows(p.width, p.height, p.bit_count, pixels));
    ASSERT_LT(c.capacity, good.size());
    for (bool buffered : {false, true}) {
      failing_sink sink{c.capacity, {}};
      FILE* file = open_failing_stream(&sink, buffered);
      bitmap_header header{};
      make_bitmap_header(&header, p.width, p.height, p.bit_count);
      begin_stdout_capture();
      const int result = write_bitmap(file, &header, palette.data(), pixels.data());
      const std::string output = end_stdout_capture();
      EXPECT_EQ(result, -1) << c.capacity;
      EXPECT_EQ(output, "error: write_bitmap() - can't write bitmap data\n") << c.capacity;
      EXPECT_TRUE(sink.received == bytes_t(good.begin(), good.begin() + c.capacity))
          << c.capacity << (buffered ? " buffered" : " unbuffered");
      fclose(file);
    }
  }
}

// With the heap used up, the rows go out through a small buffer of the
// writer's own, with the same bytes.
TEST(WriteBitmap, WritesTheSameBytesWhenItsRowBufferCannotBeHad) {
  if (O1_UNDER_ADDRESS_SANITIZER) GTEST_SKIP() << "address-space limits break AddressSanitizer";
  const picture_case cases[] = {{4, 3001, 7}, {1, 40001, 2}, {32, 1500, 5}, {24, 5, 9}};
  for (const picture_case& c : cases) {
    const bytes_t pixels = mixed_pixels(size_t{c.width} * c.height * ((c.bit_count + 7u) / 8u), 5);
    const std::vector<palette_entry> palette =
        test_palette(c.bit_count <= 8 ? 1 << c.bit_count : 0);
    const bytes_t good = bmp_file(c.width, c.height, c.bit_count, palette_bytes(palette),
                                  reference_rows(c.width, c.height, c.bit_count, pixels));
    bitmap_header header{};
    make_bitmap_header(&header, c.width, c.height, c.bit_count);
    static char stream_buffer[8192];
    const int status = run_in_child_with_memory_limit(1u << 30, [&] {
      FILE* file = tmpfile();
      if (file == nullptr) return 3;
      setvbuf(file, stream_buffer, _IOFBF, sizeof stream_buffer);
      // Take every free byte of the heap and of the address space, each
      // block holding the one before it.
      void* ballast = nullptr;
      for (size_t block : {size_t{1} << 20, size_t{4096}, size_t{64}}) {
        while (void* more = malloc(block)) {
          *static_cast<void**>(more) = ballast;
          ballast = more;
        }
      }
      // Kept in a volatile slot, so that the compiler cannot assume the
      // allocation succeeded and drop it.
      static void* volatile probe;
      probe = malloc(256 * 1024);
      const int result = write_bitmap(file, &header, palette.data(), pixels.data());
      while (ballast != nullptr) {
        void* next = *static_cast<void**>(ballast);
        free(ballast);
        ballast = next;
      }
      if (probe != nullptr) return 4;
      const bool same = result == 0 && stream_bytes(file) == good;
      fclose(file);
      return same ? 0 : 1;
    });
    EXPECT_EQ(status, 0) << c.bit_count << " bits, " << c.width << " x " << c.height;
  }
}

TEST(WritePalette, WritesCountEntriesUnchanged) {
  const std::vector<palette_entry> palette = test_palette(3);
  FILE* file = tmpfile();
  begin_stdout_capture();
  const int result = write_palette(file, palette.data(), 3);
  const std::string output = end_stdout_capture();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(output, "");
  EXPECT_EQ(stream_bytes(file), palette_bytes(palette));
  fclose(file);
}

TEST(WritePalette, RefusesCountsOutsideZeroTo256AndFailedWrites) {
  const std::vector<palette_entry> palette = test_palette(257);
  for (int32_t count : {-1, 257}) {
    FILE* file = tmpfile();
    EXPECT_EQ(write_palette(file, palette.data(), count), -1) << count;
    EXPECT_EQ(stream_bytes(file), bytes_t{}) << count;
    fclose(file);
  }
  FILE* file = tmpfile();
  EXPECT_EQ(write_palette(file, palette.data(), 256), 0);
  EXPECT_EQ(stream_bytes(file).size(), 1024u);
  fclose(file);
  failing_sink sink{1023, {}};
  FILE* failing = open_failing_stream(&sink, false);
  EXPECT_EQ(write_palette(failing, palette.data(), 256), -1);
  fclose(failing);
}

}  // namespace
