#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bitmap/bitmap.h"
#include "bitmap/bitmap_test_support.h"
#include "testing/test_support.h"

namespace {

using palette_slot_t = std::unique_ptr<palette_entry[]>;
using pixel_slot_t = std::unique_ptr<uint8_t[]>;

struct read_outcome {
  int result;
  std::string output;
  bitmap_header header;
  long position;  // where the stream stands afterwards
};

read_outcome read_from(FILE* file, palette_slot_t* palette, pixel_slot_t* pixels,
                       bitmap_header header = {}, int header_already_read = 0) {
  begin_stdout_capture();
  const int result = read_bitmap(file, &header, palette, pixels, header_already_read);
  std::string output = end_stdout_capture();
  return {result, output, header, ftell(file)};
}

read_outcome read_bytes(const bytes_t& bytes, palette_slot_t* palette, pixel_slot_t* pixels) {
  FILE* file = open_bytes(bytes);
  read_outcome outcome = read_from(file, palette, pixels);
  fclose(file);
  return outcome;
}

bytes_t slot_bytes(const pixel_slot_t& slot, size_t size) {
  return bytes_t(slot.get(), slot.get() + size);
}

std::vector<palette_entry> slot_entries(const palette_slot_t& slot, size_t count) {
  return std::vector<palette_entry>(slot.get(), slot.get() + count);
}

TEST(ReadBitmap, WithoutPixelSlotReturnsMinusThreeAndTouchesNothing) {
  const bytes_t file = bmp_file(1, 1, 24, {}, {1, 2, 3, 0});
  FILE* stream = open_bytes(file);
  palette_slot_t palette;
  const read_outcome outcome = read_from(stream, &palette, nullptr);
  EXPECT_EQ(outcome.result, -3);
  EXPECT_EQ(outcome.output, "");
  EXPECT_EQ(outcome.position, 0);
  EXPECT_EQ(palette, nullptr);
  fclose(stream);
}

TEST(ReadBitmap, UnpacksOneStoredRowAtEveryBitCount) {
  struct row_case {
    const char* name;
    uint16_t bit_count;
    uint32_t width;
    bytes_t stored;
    bytes_t pixels;
  };
  const row_case cases[] = {
      {"1 bit, width 10", 1, 10, {0x81, 0x80, 0xFF, 0xFF}, {1, 0, 0, 0, 0, 0, 0, 1, 1, 0}},
      {"1 bit, width 33",
       1,
       33,
       {0xAA, 0x0F, 0xFF, 0x01, 0xFF, 0x00, 0x00, 0x00},
       {1, 0, 1, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1,
        1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1, 1}},
      {"4 bits, width 3", 4, 3, {0x12, 0x30, 0x00, 0x00}, {1, 2, 3}},
      {"4 bits, odd width ignores the last low nibble", 4, 3, {0x12, 0x3F, 0xEE, 0xEE}, {1, 2, 3}},
      {"8 bits, width 5", 8, 5, {9, 8, 7, 6, 5, 0xEE, 0xEE, 0xEE}, {9, 8, 7, 6, 5}},
      {"16 bits, width 3", 16, 3, {1, 2, 3, 4, 5, 6, 0xEE, 0xEE}, {1, 2, 3, 4, 5, 6}},
      {"24 bits, 12 bytes read and 9 kept",
       24,
       3,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE, 0xEE, 0xEE},
       {1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {"32 bits, width 2", 32, 2, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 4, 5, 6, 7, 8}},
  };
  for (const row_case& c : cases) {
    const int colors = c.bit_count <= 8 ? 1 << c.bit_count : 0;
    const std::vector<palette_entry> palette = test_palette(colors);
    const bytes_t file = bmp_file(c.width, 1, c.bit_count, palette_bytes(palette), c.stored);
    palette_slot_t palette_slot;
    pixel_slot_t pixel_slot;
    const read_outcome outcome = read_bytes(file, &palette_slot, &pixel_slot);
    EXPECT_EQ(outcome.result, 0) << c.name;
    EXPECT_EQ(outcome.output, "") << c.name;
    EXPECT_EQ(outcome.position, static_cast<long>(file.size())) << c.name;
    EXPECT_EQ(outcome.header.width, c.width) << c.name;
    EXPECT_EQ(outcome.header.height, 1) << c.name;
    EXPECT_EQ(outcome.header.bit_count, c.bit_count) << c.name;
    ASSERT_NE(pixel_slot, nullptr) << c.name;
    EXPECT_EQ(slot_bytes(pixel_slot, c.pixels.size()), c.pixels) << c.name;
    if (colors != 0) {
      ASSERT_NE(palette_slot, nullptr) << c.name;
      EXPECT_EQ(slot_entries(palette_slot, colors), palette) << c.name;
    } else {
      EXPECT_EQ(palette_slot, nullptr) << c.name;  // left untouched above 8 bits
    }
  }
}

TEST(ReadBitmap, PutsTheFirstStoredRowAtTheBottom) {
  const bytes_t file =
      bmp_file(2, 3, 8, palette_bytes(test_palette(256)), {5, 6, 0, 0, 3, 4, 0, 0, 1, 2, 0, 0});
  palette_slot_t palette;
  pixel_slot_t pixels;
  const read_outcome outcome = read_bytes(file, &palette, &pixels);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(slot_bytes(pixels, 6), (bytes_t{1, 2, 3, 4, 5, 6}));
}

// Pixel bytes that the writer reduces: at 1 bit every non-zero byte comes
// back as 1, at 4 bits only the low nibble comes back.
bytes_t round_trip_pixels(size_t bytes) {
  bytes_t pixels(bytes);
  for (size_t i = 0; i < bytes; ++i)
    pixels[i] = static_cast<uint8_t>(i * 37 + 11);
  return pixels;
}

bytes_t reduced(const bytes_t& pixels, int32_t bit_count) {
  bytes_t result = pixels;
  for (uint8_t& pixel : result) {
    if (bit_count == 1) pixel = pixel != 0;
    if (bit_count == 4) pixel &= 0x0F;
  }
  return result;
}

TEST(ReadBitmap, ReadsBackWhatWriteBitmapWroteAtEveryBitCount) {
  for (uint16_t bit_count : {1, 4, 8, 16, 24, 32}) {
    for (uint32_t width : {1u, 7u, 13u}) {
      const int32_t height = 5;
      const int colors = bit_count <= 8 ? 1 << bit_count : 0;
      const std::vector<palette_entry> palette = test_palette(colors);
      const bytes_t pixels = round_trip_pixels(width * height * ((bit_count + 7) / 8));
      bitmap_header written{};
      ASSERT_EQ(make_bitmap_header(&written, width, height, bit_count), 0);
      FILE* file = tmpfile();
      ASSERT_EQ(write_bitmap(file, &written, colors ? palette.data() : nullptr, pixels.data()), 0);
      rewind(file);
      palette_slot_t palette_slot;
      pixel_slot_t pixel_slot;
      const read_outcome outcome = read_from(file, &palette_slot, &pixel_slot);
      const std::string name = std::to_string(bit_count) + " bits, width " + std::to_string(width);
      EXPECT_EQ(outcome.result, 0) << name;
      EXPECT_EQ(outcome.output, "") << name;
      EXPECT_TRUE(same_header(outcome.header, written)) << name;
      EXPECT_EQ(slot_bytes(pixel_slot, pixels.size()), reduced(pixels, bit_count)) << name;
      if (colors != 0) {
        EXPECT_EQ(slot_entries(palette_slot, colors), palette) << name;
      }
      fclose(file);
    }
  }
}

TEST(ReadBitmap, PassesOverThePaletteWithoutAPaletteSlot) {
  const bytes_t file = bmp_file(3, 1, 8, palette_bytes(test_palette(256)), {7, 8, 9, 0});
  pixel_slot_t pixels;
  const read_outcome outcome = read_bytes(file, nullptr, &pixels);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.output, "");
  EXPECT_EQ(slot_bytes(pixels, 3), (bytes_t{7, 8, 9}));
  EXPECT_EQ(outcome.position, static_cast<long>(file.size()));
}

TEST(ReadBitmap, FillsBuffersAlreadyInTheSlotsWithoutAllocating) {
  const std::vector<palette_entry> palette = test_palette(16);
  const bytes_t file = bmp_file(3, 1, 4, palette_bytes(palette), {0x12, 0x30, 0, 0});
  palette_slot_t palette_slot(new palette_entry[16]);
  pixel_slot_t pixel_slot(new uint8_t[3]);
  const palette_entry* palette_buffer = palette_slot.get();
  const uint8_t* pixel_buffer = pixel_slot.get();
  const read_outcome outcome = read_bytes(file, &palette_slot, &pixel_slot);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(palette_slot.get(), palette_buffer);
  EXPECT_EQ(pixel_slot.get(), pixel_buffer);
  EXPECT_EQ(slot_bytes(pixel_slot, 3), (bytes_t{1, 2, 3}));
  EXPECT_EQ(slot_entries(palette_slot, 16), palette);
}

TEST(ReadBitmap, GoesOnAfterTheCheckWarnings) {
  // Image size 0 and file size 0, then bytes after the last row.
  bytes_t file = header_bytes(0, 54, 2, 2, 24, 0);
  append(&file, {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0});
  pixel_slot_t pixels;
  read_outcome outcome = read_bytes(file, nullptr, &pixels);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.output,
            "warning: check_bitmap_header() - data length is 0 ... corrected: 0x10\n"
            "warning: check_bitmap_header() - file length is 0\n");
  EXPECT_EQ(outcome.header.image_size, 0x10u);
  EXPECT_EQ(slot_bytes(pixels, 12), (bytes_t{7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6}));

  bytes_t longer = bmp_file(2, 1, 24, {}, {1, 2, 3, 4, 5, 6, 0, 0});
  longer[2] += 5;  // file size five bytes above what is needed
  append(&longer, {0xEE, 0xEE, 0xEE, 0xEE, 0xEE});
  pixels.reset();
  outcome = read_bytes(longer, nullptr, &pixels);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.output, "warning: check_bitmap_header() - file length 0x43 > 0x3E\n");
  EXPECT_EQ(outcome.position, 62);  // the extra bytes are never read
}

TEST(ReadBitmap, SkipsTheHeaderWhenTheCallerHasReadIt) {
  const std::vector<palette_entry> palette = test_palette(2);
  const bytes_t file = bmp_file(10, 1, 1, palette_bytes(palette), {0x81, 0x80, 0, 0});
  FILE* stream = open_bytes(file);
  bitmap_header header{};
  ASSERT_EQ(read_bitmap_header(stream, &header), 0);
  palette_slot_t palette_slot;
  pixel_slot_t pixel_slot;
  const read_outcome outcome = read_from(stream, &palette_slot, &pixel_slot, header, 1);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.output, "");
  EXPECT_EQ(slot_bytes(pixel_slot, 10), (bytes_t{1, 0, 0, 0, 0, 0, 0, 1, 1, 0}));
  EXPECT_EQ(slot_entries(palette_slot, 2), palette);
  EXPECT_EQ(outcome.position, static_cast<long>(file.size()));
  fclose(stream);
}

TEST(ReadBitmap, LeavesInTheSlotsWhatEachFailedReadAllocated) {
  const std::vector<palette_entry> palette = test_palette(16);
  // 4 bits, 3 x 3: 54 header bytes, 64 palette bytes, 3 rows of 4.
  const bytes_t good = bmp_file(3, 3, 4, palette_bytes(palette),
                                {0x77, 0x70, 0, 0, 0x45, 0x60, 0, 0, 0x12, 0x30, 0, 0});
  bytes_t wrong_signature = good;
  wrong_signature[0] = 'X';
  bytes_t compressed = good;
  compressed[30] = 2;
  struct failure_case {
    const char* name;
    bytes_t file;
    std::string output;
    bool pixels_left;
    bool palette_left;
  };
  const failure_case cases[] = {
      {"empty file", {}, "error: read_bitmap() - can't read bitmap header\n", false, false},
      {"short header", bytes_t(good.begin(), good.begin() + 53),
       "error: read_bitmap() - can't read bitmap header\n", false, false},
      {"wrong signature", wrong_signature, "error: read_bitmap() - can't read bitmap header\n",
       false, false},
      {"refused by the check", compressed,
       "error: check_bitmap_header() - not support compression\n"
       "error: read_bitmap() - can't read bitmap header\n",
       false, false},
      {"short palette", bytes_t(good.begin(), good.begin() + 54 + 63),
       "error: read_bitmap() - can't read palette\n", true, true},
      {"no rows", bytes_t(good.begin(), good.begin() + 118),
       "error: read_bitmap() - can't read bitmap data\n", true, true},
      {"last row short", bytes_t(good.begin(), good.end() - 1),
       "error: read_bitmap() - can't read bitmap data\n", true, true},
  };
  for (const failure_case& c : cases) {
    palette_slot_t palette_slot;
    pixel_slot_t pixel_slot;
    const read_outcome outcome = read_bytes(c.file, &palette_slot, &pixel_slot);
    EXPECT_EQ(outcome.result, -1) << c.name;
    EXPECT_EQ(outcome.output, c.output) << c.name;
    EXPECT_EQ(pixel_slot != nullptr, c.pixels_left) << c.name;
    EXPECT_EQ(palette_slot != nullptr, c.palette_left) << c.name;
  }
}

TEST(ReadBitmap, KeepsTheBottomRowsReadBeforeTheFileEnded) {
  const bytes_t good =
      bmp_file(3, 3, 8, palette_bytes(test_palette(256)), {7, 8, 9, 0, 4, 5, 6, 0, 1, 2, 3, 0});
  pixel_slot_t pixels(new uint8_t[9]{0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE});
  const read_outcome outcome = read_bytes(bytes_t(good.begin(), good.end() - 4), nullptr, &pixels);
  EXPECT_EQ(outcome.result, -1);
  EXPECT_EQ(outcome.output, "error: read_bitmap() - can't read bitmap data\n");
  EXPECT_EQ(slot_bytes(pixels, 9), (bytes_t{0xEE, 0xEE, 0xEE, 4, 5, 6, 7, 8, 9}));
}

TEST(ReadBitmap, RefusesPalettesItCannotPassOver) {
  // Without a palette slot the palette is passed over by seeking; a stream
  // that cannot seek must not hand the palette bytes over as pixels.
  pipe_source source{bmp_file(1, 1, 8, palette_bytes(test_palette(256)), {5, 0, 0, 0}), 0};
  FILE* stream = open_unseekable_stream(&source);
  pixel_slot_t pixels;
  const read_outcome outcome = read_from(stream, nullptr, &pixels);
  EXPECT_EQ(outcome.result, -1);
  EXPECT_EQ(outcome.output, "error: read_bitmap() - can't read palette\n");
  fclose(stream);
}

// Headers that pass the check but whose pictures the reader cannot hold are
// refused before any buffer is sized or any row read.
TEST(ReadBitmap, RefusesPicturesWhoseSizesDoNotFit) {
  struct refusal_case {
    const char* name;
    bytes_t file;
    std::string output;
  };
  const refusal_case cases[] = {
      {"negative height", header_bytes(54 - 16, 54, 2, -2, 24, 0),
       "warning: check_bitmap_header() - data length is 0 ... corrected: 0xFFFFFFF0\n"
       "error: read_bitmap() - negative height not supported\n"},
      {"width beyond a signed count", header_bytes(0x80000036, 54, 0x80000000, 1, 24, 0x80000000),
       "error: read_bitmap() - picture too large\n"},
      {"row of more than 2 GiB", header_bytes(0x80000036, 54, 0x20000000, 1, 32, 0x80000000),
       "error: read_bitmap() - picture too large\n"},
      {"image size wraps to 0", header_bytes(54, 54, 0x10000, 0x10000, 32, 0),
       "warning: check_bitmap_header() - data length is 0 ... corrected: 0x0\n"
       "error: read_bitmap() - picture too large\n"},
      {"rows beyond a signed count", header_bytes(0x80000036, 54, 0x4000, 0x8000, 32, 0x80000000),
       "error: read_bitmap() - picture too large\n"},
      // At 1 bit the stored rows are small but the unpacked picture is not.
      {"unpacked picture beyond a signed count",
       header_bytes(0x2000003E, 62, 0x10000, 0x10000, 1, 0x20000000),
       "error: read_bitmap() - picture too large\n"},
  };
  for (const refusal_case& c : cases) {
    palette_slot_t palette_slot;
    pixel_slot_t pixel_slot;
    const read_outcome outcome = read_bytes(c.file, &palette_slot, &pixel_slot);
    EXPECT_EQ(outcome.result, -1) << c.name;
    EXPECT_EQ(outcome.output, c.output) << c.name;
    EXPECT_EQ(pixel_slot, nullptr) << c.name;
    EXPECT_EQ(palette_slot, nullptr) << c.name;
    EXPECT_EQ(outcome.position, 54) << c.name;
  }
}

TEST(ReadBitmap, RefusesAHeaderGivenByTheCallerWithAnUnknownBitCount) {
  FILE* stream = open_bytes(bytes_t(16, 0));
  bitmap_header header{};
  make_bitmap_header(&header, 2, 2, 8);
  header.bit_count = 2;
  pixel_slot_t pixels;
  const read_outcome outcome = read_from(stream, nullptr, &pixels, header, 1);
  EXPECT_EQ(outcome.result, -1);
  EXPECT_EQ(outcome.output, "error: read_bitmap() - unknown bit count\n");
  EXPECT_EQ(pixels, nullptr);
  EXPECT_EQ(outcome.position, 0);
  fclose(stream);
}

TEST(ReadBitmap, ReportsMemoryExhaustionAndWhatStaysInTheSlots) {
  if (O1_UNDER_ADDRESS_SANITIZER) GTEST_SKIP() << "address-space limits break AddressSanitizer";
  const std::vector<palette_entry> palette = test_palette(256);
  // 40000 x 40000 pixels at 8 bits: a pixel buffer of 1.6 GB.
  const bytes_t big_picture =
      header_bytes(0x436 + 1600000000u, 0x436, 40000, 40000, 8, 1600000000u);
  // One row of 1.6 GB: the row buffer is what cannot be had.
  bytes_t long_row = header_bytes(0x436 + 1600000000u, 0x436, 1600000000u, 1, 8, 1600000000u);
  append(&long_row, palette_bytes(palette));
  begin_stdout_capture();
  const int status = run_in_child_with_memory_limit(1u << 30, [&] {
    palette_slot_t palette_slot;
    pixel_slot_t pixel_slot;
    FILE* file = open_bytes(big_picture);
    bitmap_header header{};
    int result = read_bitmap(file, &header, &palette_slot, &pixel_slot, 0);
    fclose(file);
    if (result != -2 || palette_slot != nullptr || pixel_slot != nullptr) return 1;
    // The caller's pixel buffer is never written when no row is read.
    pixel_slot.reset(new uint8_t[1]);
    file = open_bytes(long_row);
    result = read_bitmap(file, &header, &palette_slot, &pixel_slot, 0);
    fclose(file);
    if (result != -2 || palette_slot == nullptr || pixel_slot == nullptr) return 2;
    return 0;
  });
  EXPECT_EQ(end_stdout_capture(), "error: memory exhaust!\nerror: memory exhaust!\n");
  EXPECT_EQ(status, 0);
}

TEST(ReadPalette, ReadsCountEntriesWithTheirReservedBytes) {
  const std::vector<palette_entry> palette = test_palette(5);
  FILE* file = open_bytes(palette_bytes(palette));
  std::vector<palette_entry> entries(5);
  begin_stdout_capture();
  const int result = read_palette(file, entries.data(), 5);
  const std::string output = end_stdout_capture();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(output, "");
  EXPECT_EQ(entries, palette);
  EXPECT_EQ(ftell(file), 20);
  fclose(file);
}

TEST(ReadPalette, RefusesCountsOutsideZeroTo256AndShortReads) {
  FILE* file = open_bytes(palette_bytes(test_palette(256)));
  std::vector<palette_entry> entries(257);
  EXPECT_EQ(read_palette(file, entries.data(), -1), -1);
  EXPECT_EQ(read_palette(file, entries.data(), 257), -1);
  EXPECT_EQ(ftell(file), 0);
  EXPECT_EQ(read_palette(file, entries.data(), 255), 0);
  EXPECT_EQ(read_palette(file, entries.data(), 2), -1);
  fclose(file);
}

}  // namespace
