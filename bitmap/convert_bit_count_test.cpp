#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bitmap/bitmap.h"
#include "bitmap/bitmap_test_support.h"
#include "testing/test_support.h"

namespace {

using pixel_slot_t = std::unique_ptr<uint8_t[]>;

palette_entry bgr(uint8_t blue, uint8_t green, uint8_t red, uint8_t reserved = 0) {
  return {blue, green, red, reserved};
}

TEST(NearestPaletteIndex, PicksTheNearestColourAndTheLowestIndexOnTies) {
  struct nearest_case {
    const char* name;
    int32_t red, green, blue;
    std::vector<palette_entry> palette;
    int32_t expected;
  };
  const nearest_case cases[] = {
      {"equal distances go to the lower index", 15, 15, 15, {bgr(10, 10, 10), bgr(20, 20, 20)}, 0},
      {"the nearer later entry wins", 18, 18, 18, {bgr(10, 10, 10), bgr(20, 20, 20)}, 1},
      {"the exact colour twice gives the first",
       1,
       2,
       3,
       {bgr(9, 9, 9), bgr(3, 2, 1), bgr(3, 2, 1)},
       1},
      {"channels are matched by name", 255, 0, 0, {bgr(255, 0, 0), bgr(0, 0, 255)}, 1},
      {"the reserved byte plays no part", 7, 7, 7, {bgr(8, 8, 8), bgr(7, 7, 7, 0xFF)}, 1},
      {"the farthest colour still finds the first entry", 255, 255, 255, {bgr(0, 0, 0)}, 0},
      {"count 0 gives 0", 1, 2, 3, {}, 0},
  };
  for (const nearest_case& c : cases)
    EXPECT_EQ(nearest_palette_index(c.red, c.green, c.blue, c.palette.data(),
                                    static_cast<int32_t>(c.palette.size())),
              c.expected)
        << c.name;
  EXPECT_EQ(nearest_palette_index(1, 2, 3, nullptr, -1), 0);
}

TEST(DefaultMonoPalette, IsBlackThenWhite) {
  EXPECT_EQ(default_mono_palette[0], bgr(0, 0, 0, 0));
  EXPECT_EQ(default_mono_palette[1], bgr(0xFF, 0xFF, 0xFF, 0));
}

// A 4-bit palette with a few colours the table below matches against.
std::vector<palette_entry> four_bit_palette() {
  std::vector<palette_entry> palette(16, bgr(0x80, 0x80, 0x80));
  palette[0] = bgr(0, 0, 0);
  palette[1] = bgr(0, 0xFF, 0xFF, 0x55);  // yellow
  palette[2] = bgr(0xFF, 0, 0);           // blue
  palette[3] = bgr(0xFF, 0xFF, 0xFF);     // white
  palette[15] = bgr(0, 0, 0xFF);          // red
  return palette;
}

std::vector<palette_entry> eight_bit_palette() {
  std::vector<palette_entry> palette(256, bgr(0x40, 0x40, 0x40));
  palette[7] = bgr(0xFF, 0xFF, 0xFF);
  palette[200] = bgr(0, 0, 0xFF);
  palette[255] = bgr(0, 0, 0);
  return palette;
}

struct conversion_case {
  const char* name;
  int32_t width;
  int32_t source_bit_count;
  const palette_entry* source_palette;
  bytes_t source;
  int32_t target_bit_count;
  const palette_entry* target_palette;
  bytes_t expected;
};

TEST(ConvertBitCount, ConvertsAlongEveryPath) {
  const std::vector<palette_entry> four = four_bit_palette();
  const std::vector<palette_entry> eight = eight_bit_palette();
  const std::vector<palette_entry> mono = {bgr(0, 0, 0xFF), bgr(0xFF, 0, 0)};  // red, blue
  const conversion_case cases[] = {
      // Indexed to indexed, through the index map.
      {"1 bit without palette to 4 bits", 2, 1, nullptr, {0, 1}, 4, four.data(), {0, 3}},
      {"4 to 8", 4, 4, four.data(), {0, 3, 15, 2}, 8, eight.data(), {255, 7, 200, 0}},
      {"8 to 1 with the default palette", 3, 8, eight.data(), {7, 255, 200}, 1, nullptr, {1, 0, 0}},
      {"1 bit with palette to 4 bits", 2, 1, mono.data(), {0, 1}, 4, four.data(), {15, 2}},
      // Indexed to direct, through the source palette.
      {"1 bit without palette to 24",
       2,
       1,
       nullptr,
       {0, 1},
       24,
       nullptr,
       {0, 0, 0, 0xFF, 0xFF, 0xFF}},
      {"1 bit without palette to 32",
       2,
       1,
       nullptr,
       {0, 1},
       32,
       nullptr,
       {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0}},
      {"4 bits to 16", 2, 4, four.data(), {1, 15}, 16, nullptr, {0xE0, 0x7F, 0x00, 0x7C}},
      {"4 bits to 24", 2, 4, four.data(), {1, 2}, 24, nullptr, {0, 0xFF, 0xFF, 0xFF, 0, 0}},
      {"4 bits to 32 writes 0 for the reserved byte",
       1,
       4,
       four.data(),
       {1},
       32,
       nullptr,
       {0, 0xFF, 0xFF, 0}},
      {"8 bits to 24", 2, 8, eight.data(), {200, 7}, 24, nullptr, {0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
      // Direct to indexed, by a search per pixel.
      {"16 to 4 matches the widened colour",
       3,
       16,
       nullptr,
       {0xFF, 0x7F, 0x1F, 0x00, 0x00, 0x7C},
       4,
       four.data(),
       {3, 2, 15}},
      {"24 to 1",
       3,
       24,
       nullptr,
       {0, 0, 0, 0xFF, 0xFF, 0xFF, 0x70, 0x70, 0x70},
       1,
       default_mono_palette,
       {0, 1, 0}},
      {"24 to 1 with the default palette",
       2,
       24,
       nullptr,
       {0x90, 0x90, 0x90, 1, 2, 3},
       1,
       nullptr,
       {1, 0}},
      {"32 to 8 ignores the fourth byte",
       2,
       32,
       nullptr,
       {0, 0, 0xFF, 0x12, 1, 1, 1, 0xFF},
       8,
       eight.data(),
       {200, 255}},
      // Direct to direct.
      {"16 to 24 widens",
       3,
       16,
       nullptr,
       {0xFF, 0x7F, 0x10, 0x02, 0x00, 0x80},
       24,
       nullptr,
       {255, 255, 255, 132, 132, 0, 0, 0, 0}},
      {"16 to 32 widens and writes 0", 1, 16, nullptr, {0x10, 0x02}, 32, nullptr, {132, 132, 0, 0}},
      {"24 to 16 narrows", 1, 24, nullptr, {255, 128, 7}, 16, nullptr, {0x1F, 0x02}},
      {"32 to 16 narrows whatever the fourth byte",
       2,
       32,
       nullptr,
       {255, 128, 7, 0xAB, 255, 128, 7, 0},
       16,
       nullptr,
       {0x1F, 0x02, 0x1F, 0x02}},
      {"24 to 32 writes 0 as every fourth byte",
       2,
       24,
       nullptr,
       {1, 2, 3, 4, 5, 6},
       32,
       nullptr,
       {1, 2, 3, 0, 4, 5, 6, 0}},
      {"32 to 24 drops the fourth byte",
       2,
       32,
       nullptr,
       {1, 2, 3, 0xFF, 4, 5, 6, 0x77},
       24,
       nullptr,
       {1, 2, 3, 4, 5, 6}},
      {"16 to 16 copies, bit 15 included",
       2,
       16,
       nullptr,
       {0xFF, 0xFF, 1, 2},
       16,
       nullptr,
       {0xFF, 0xFF, 1, 2}},
      {"24 to 24 copies", 1, 24, nullptr, {1, 2, 3}, 24, nullptr, {1, 2, 3}},
      {"32 to 32 copies the fourth byte too",
       1,
       32,
       nullptr,
       {1, 2, 3, 4},
       32,
       nullptr,
       {1, 2, 3, 4}},
      {"a palette for a direct side is ignored",
       1,
       24,
       four.data(),
       {1, 2, 3},
       32,
       four.data(),
       {1, 2, 3, 0}},
  };
  for (const conversion_case& c : cases) {
    pixel_slot_t output;
    begin_stdout_capture();
    const int result =
        convert_bit_count(c.width, 1, c.source_bit_count, c.source_palette, c.source.data(),
                          c.target_bit_count, c.target_palette, &output);
    EXPECT_EQ(end_stdout_capture(), "") << c.name;
    EXPECT_EQ(result, 0) << c.name;
    ASSERT_NE(output, nullptr) << c.name;
    EXPECT_EQ(bytes_t(output.get(), output.get() + c.expected.size()), c.expected) << c.name;
  }
}

TEST(ConvertBitCount, SameCountRemapsIndicesBetweenPalettes) {
  const std::vector<palette_entry> source = four_bit_palette();
  std::vector<palette_entry> target(16, bgr(0x80, 0x80, 0x80));
  target[4] = bgr(0xFF, 0xFF, 0xFF);
  target[9] = bgr(0, 0, 0);
  target[12] = bgr(0, 0xFF, 0xFF);
  const bytes_t pixels = {0, 1, 3, 5};
  pixel_slot_t output;
  ASSERT_EQ(convert_bit_count(2, 2, 4, source.data(), pixels.data(), 4, target.data(), &output), 0);
  EXPECT_EQ(bytes_t(output.get(), output.get() + 4), (bytes_t{9, 12, 4, 0}));
}

TEST(ConvertBitCount, WalksRowsTopFirstAsOneRun) {
  const bytes_t pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};  // 2 x 2 at 24 bits
  pixel_slot_t output;
  ASSERT_EQ(convert_bit_count(2, 2, 24, nullptr, pixels.data(), 32, nullptr, &output), 0);
  EXPECT_EQ(bytes_t(output.get(), output.get() + 16),
            (bytes_t{1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12, 0}));
}

// A 1- or 4-bit picture may hold bytes its palette does not cover; they are
// taken as the file writer stores them: at 1 bit any non-zero byte is 1, at
// 4 bits the low nibble counts. Every one of the 256 byte values is tried.
TEST(ConvertBitCount, TakesIndicesBeyondThePaletteAsTheWriterStoresThem) {
  bytes_t every_byte(256);
  for (int i = 0; i < 256; ++i)
    every_byte[i] = static_cast<uint8_t>(i);
  const std::vector<palette_entry> four = four_bit_palette();
  const std::vector<palette_entry> eight = eight_bit_palette();
  struct beyond_case {
    const char* name;
    int32_t source_bit_count;
    const palette_entry* source_palette;
    int32_t target_bit_count;
    const palette_entry* target_palette;
  };
  const beyond_case cases[] = {
      {"1 bit to 24", 1, nullptr, 24, nullptr},
      {"1 bit to 8", 1, default_mono_palette, 8, eight.data()},
      {"4 bits to 32", 4, four.data(), 32, nullptr},
      {"4 bits to 16", 4, four.data(), 16, nullptr},
      {"4 bits to 1", 4, four.data(), 1, nullptr},
      {"4 bits to 8", 4, four.data(), 8, eight.data()},
  };
  for (const beyond_case& c : cases) {
    bytes_t covered = every_byte;
    for (uint8_t& pixel : covered)
      pixel = c.source_bit_count == 1 ? pixel != 0 : pixel & 0x0F;
    pixel_slot_t from_every_byte;
    pixel_slot_t from_covered;
    ASSERT_EQ(convert_bit_count(16, 16, c.source_bit_count, c.source_palette, every_byte.data(),
                                c.target_bit_count, c.target_palette, &from_every_byte),
              0)
        << c.name;
    ASSERT_EQ(convert_bit_count(16, 16, c.source_bit_count, c.source_palette, covered.data(),
                                c.target_bit_count, c.target_palette, &from_covered),
              0)
        << c.name;
    const size_t size = 256u * static_cast<size_t>((c.target_bit_count + 7) / 8);
    EXPECT_EQ(bytes_t(from_every_byte.get(), from_every_byte.get() + size),
              bytes_t(from_covered.get(), from_covered.get() + size))
        << c.name;
  }
  // For instance: 1-bit bytes 2 and 255 are white.
  pixel_slot_t output;
  const bytes_t mono = {0, 2, 255};
  ASSERT_EQ(convert_bit_count(3, 1, 1, nullptr, mono.data(), 24, nullptr, &output), 0);
  EXPECT_EQ(bytes_t(output.get(), output.get() + 9),
            (bytes_t{0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(ConvertBitCount, FillsACallersBufferInPlace) {
  pixel_slot_t output(new uint8_t[8]{0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE});
  const uint8_t* buffer = output.get();
  const bytes_t pixels = {1, 2, 3, 4, 5, 6};
  ASSERT_EQ(convert_bit_count(2, 1, 24, nullptr, pixels.data(), 24, nullptr, &output), 0);
  EXPECT_EQ(output.get(), buffer);
  // Exactly the output size is written; the rest of the caller's buffer stays.
  EXPECT_EQ(bytes_t(output.get(), output.get() + 8), (bytes_t{1, 2, 3, 4, 5, 6, 0xEE, 0xEE}));
}

TEST(ConvertBitCount, RefusesBadArgumentsWithWhatTheSlotHolds) {
  const bytes_t pixels(64, 1);
  struct refusal_case {
    const char* name;
    int32_t width, height;
    int32_t source_bit_count;
    bool source_palette;
    int32_t target_bit_count;
    bool target_palette;
    int64_t buffer_left;  // bytes of the zero-filled buffer in the slot, or -1 for none
  };
  const refusal_case cases[] = {
      {"4-bit target without palette", 3, 2, 24, false, 4, false, 6},
      {"8-bit target without palette", 3, 2, 24, false, 8, false, 6},
      {"4-bit source without palette", 3, 2, 4, false, 24, false, 18},
      {"8-bit source without palette", 3, 2, 8, false, 1, false, 6},
      {"source bit count 2", 3, 2, 2, true, 24, false, 18},
      {"target bit count 2", 3, 2, 24, false, 2, true, 6},
      {"target bit count 0", 3, 2, 24, false, 0, true, 0},
      {"negative width", -3, 2, 24, false, 24, false, -1},
      {"negative height", 3, -2, 24, false, 24, false, -1},
      {"negative target bit count", 3, 2, 24, false, -64, false, -1},
      {"output beyond a signed count", 0x10000, 0x10000, 24, false, 24, false, -1},
  };
  const std::vector<palette_entry> palette = test_palette(256);
  for (const refusal_case& c : cases) {
    pixel_slot_t output;
    begin_stdout_capture();
    const int result = convert_bit_count(
        c.width, c.height, c.source_bit_count, c.source_palette ? palette.data() : nullptr,
        pixels.data(), c.target_bit_count, c.target_palette ? palette.data() : nullptr, &output);
    EXPECT_EQ(end_stdout_capture(), "") << c.name;
    EXPECT_EQ(result, -1) << c.name;
    if (c.buffer_left < 0) {
      EXPECT_EQ(output, nullptr) << c.name;
    } else {
      ASSERT_NE(output, nullptr) << c.name;
      EXPECT_EQ(bytes_t(output.get(), output.get() + c.buffer_left), bytes_t(c.buffer_left, 0))
          << c.name;
    }
  }
  pixel_slot_t output;
  EXPECT_EQ(convert_bit_count(1, 1, 24, nullptr, nullptr, 24, nullptr, &output), -1);
  EXPECT_EQ(output, nullptr);
  EXPECT_EQ(convert_bit_count(1, 1, 24, nullptr, pixels.data(), 24, nullptr, nullptr), -1);
}

TEST(ConvertBitCount, ReportsMemoryExhaustionWithTheSlotLeftEmpty) {
  if (O1_UNDER_ADDRESS_SANITIZER) GTEST_SKIP() << "address-space limits break AddressSanitizer";
  const bytes_t pixels(1, 0);
  begin_stdout_capture();
  const int status = run_in_child_with_memory_limit(1u << 30, [&] {
    pixel_slot_t output;
    // 40000 x 40000 at 8 bits: 1.6 GB of output; the source is never read.
    const int result = convert_bit_count(40000, 40000, 24, nullptr, pixels.data(), 8,
                                         test_palette(256).data(), &output);
    return result == -2 && output == nullptr ? 0 : 1;
  });
  EXPECT_EQ(end_stdout_capture(), "error: memory exhaust!\n");
  EXPECT_EQ(status, 0);
}

}  // namespace
