#include "tiles/shape_bitmap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bitmap/bitmap.h"
#include "testing/scratch_directory_test.h"
#include "testing/test_support.h"

namespace {

std::vector<uint8_t> scrambled_bytes(size_t count, uint32_t seed) {
  std::vector<uint8_t> bytes(count);
  uint32_t state = seed;
  for (uint8_t& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

// Writes a BMP file with the project's own writer.
void write_bmp(const std::string& path, uint32_t width, int32_t height, uint16_t bit_count,
               const std::vector<palette_entry>& palette, const std::vector<uint8_t>& pixels) {
  bitmap_header header{};
  ASSERT_EQ(make_bitmap_header(&header, width, height, bit_count), 0);
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(write_bitmap(file, &header, palette.empty() ? nullptr : palette.data(), pixels.data()),
            0);
  ASSERT_EQ(std::fclose(file), 0);
}

// Pixels that the reader gives back exactly as written: palette indices
// within range below 16 bits, any bytes above.
std::vector<uint8_t> picture_pixels(uint32_t width, int32_t height, uint16_t bit_count) {
  std::vector<uint8_t> pixels =
      scrambled_bytes(static_cast<size_t>(width) * height * ((bit_count + 7) / 8), width + height);
  if (bit_count == 1) {
    for (uint8_t& p : pixels)
      p &= 1;
  } else if (bit_count == 4) {
    for (uint8_t& p : pixels)
      p &= 0x0F;
  }
  return pixels;
}

std::vector<palette_entry> picture_palette(uint16_t bit_count) {
  if (bit_count > 8) return {};
  std::vector<palette_entry> palette(size_t{1} << bit_count);
  for (size_t i = 0; i < palette.size(); ++i) {
    palette[i] = {static_cast<uint8_t>(i * 3), static_cast<uint8_t>(i * 5),
                  static_cast<uint8_t>(i * 7), static_cast<uint8_t>(i)};
  }
  return palette;
}

class ShapeBitmapTest : public scratch_directory_test {
 protected:
  void SetUp() override {
    scratch_directory_test::SetUp();
    path_ = path("tiles.bmp");
  }
  std::string with_path(std::string text) const {
    for (size_t at; (at = text.find("%s")) != std::string::npos;)
      text.replace(at, 2, path_);
    return text;
  }
  std::string path_;
};

TEST_F(ShapeBitmapTest, ShapeSheetKeepsTheFilesDepthPixelsAndPalette) {
  struct shape_case {
    uint16_t bit_count;
    uint32_t width;
    int32_t height;
    int32_t tile_width, tile_height;
  };
  const shape_case cases[] = {
      {1, 512, 128, 32, 32}, {4, 256, 64, 16, 16}, {8, 512, 130, 32, 32},  // two spare rows
      {16, 48, 12, 3, 3},    {24, 128, 32, 8, 8},  {32, 16, 4, 1, 1},
  };
  for (const shape_case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bit_count << " bits " << c.width << "x" << c.height);
    const std::vector<uint8_t> pixels = picture_pixels(c.width, c.height, c.bit_count);
    const std::vector<palette_entry> palette = picture_palette(c.bit_count);
    write_bmp(path_, c.width, c.height, c.bit_count, palette, pixels);
    tile_sheet sheet{};
    begin_stdout_capture();
    const int result = read_shape_bitmap(path_.c_str(), &sheet, 16, 4);
    EXPECT_EQ(end_stdout_capture(), "");
    ASSERT_EQ(result, 0);
    EXPECT_EQ(sheet.tile_width, c.tile_width);
    EXPECT_EQ(sheet.tile_height, c.tile_height);
    EXPECT_EQ(sheet.columns, 16u);
    EXPECT_EQ(sheet.rows, 4u);
    EXPECT_EQ(sheet.bit_count, c.bit_count);
    EXPECT_EQ(sheet.bytes_per_pixel, (c.bit_count + 7) / 8);
    ASSERT_TRUE(sheet.pixels);
    EXPECT_EQ(std::vector<uint8_t>(sheet.pixels.get(), sheet.pixels.get() + pixels.size()), pixels);
    if (palette.empty()) {
      EXPECT_FALSE(sheet.palette);
    } else {
      ASSERT_TRUE(sheet.palette);
      EXPECT_EQ(
          std::vector<palette_entry>(sheet.palette.get(), sheet.palette.get() + palette.size()),
          palette);
    }
  }
}

TEST_F(ShapeBitmapTest, ShapeSheetRefusesSizesThatDoNotCutIntoTheGrid) {
  struct refusal_case {
    uint32_t width;
    int32_t height;
    const char* line;
    int32_t tile_width, tile_height;  // set before the test
  };
  const refusal_case cases[] = {
      {520, 128, "error: illegal shape bitmap size\n", 32, 32},
      {15, 64, "error: shape bitmap is too small\n", 0, 16},
      {64, 3, "error: shape bitmap is too small\n", 4, 0},
      {8, 2, "error: shape bitmap is too small\n", 0, 0},
  };
  for (const refusal_case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    write_bmp(path_, c.width, c.height, 8, picture_palette(8),
              picture_pixels(c.width, c.height, 8));
    tile_sheet sheet{};
    begin_stdout_capture();
    const int result = read_shape_bitmap(path_.c_str(), &sheet, 16, 4);
    EXPECT_EQ(end_stdout_capture(), c.line);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(sheet.tile_width, c.tile_width);
    EXPECT_EQ(sheet.tile_height, c.tile_height);
    EXPECT_EQ(sheet.bit_count, 8);
    EXPECT_EQ(sheet.bytes_per_pixel, 1);
    EXPECT_TRUE(sheet.pixels);  // left for the caller to free
    EXPECT_TRUE(sheet.palette);
  }
}

// Files that cannot be read: the reader's own line, then the file's.
struct unreadable_case {
  const char* name;
  std::vector<uint8_t> bytes;  // empty: no file at all
  std::string output;
};

std::vector<uint8_t> truncated_bmp(const std::string& path) {
  write_bmp(path, 16, 4, 24, {}, picture_pixels(16, 4, 24));
  std::vector<uint8_t> bytes = read_file_bytes(path);
  bytes.erase(bytes.end() - 10, bytes.end());
  return bytes;
}

std::vector<unreadable_case> unreadable_cases(const std::string& path) {
  std::vector<uint8_t> not_bmp(100, 0);
  not_bmp[0] = 0x42;
  not_bmp[1] = 0x41;
  return {
      {"missing", {}, "error: open '%s'\n"},
      {"not a BMP", not_bmp, "error: read_bitmap() - can't read bitmap header\nerror: read '%s'\n"},
      {"rows missing", truncated_bmp(path),
       "error: read_bitmap() - can't read bitmap data\nerror: read '%s'\n"},
  };
}

TEST_F(ShapeBitmapTest, ShapeSheetReportsUnreadableFiles) {
  for (const unreadable_case& c : unreadable_cases(path_)) {
    SCOPED_TRACE(c.name);
    remove_tree(path_);
    if (!c.bytes.empty()) {
      ASSERT_TRUE(write_file_bytes(path_, c.bytes));
    }
    tile_sheet sheet{};
    begin_stdout_capture();
    const int result = read_shape_bitmap(path_.c_str(), &sheet, 16, 4);
    EXPECT_EQ(end_stdout_capture(), with_path(c.output));
    EXPECT_EQ(result, -1);
    EXPECT_EQ(sheet.tile_width, 0);
    EXPECT_EQ(sheet.bit_count, 0);
  }
}

// Pixels that lie just either side of the black-white boundary, as
// blue, green, red triples.
struct colour {
  uint8_t blue, green, red;
  uint8_t mask;
};
constexpr colour boundary_colours[] = {
    {127, 128, 128, 1}, {127, 128, 127, 0}, {0, 0, 0, 0},     {255, 255, 255, 1},
    {255, 0, 128, 1},   {0, 255, 127, 0},   {200, 200, 0, 1}, {0, 0, 255, 0},
};
constexpr int colour_count = sizeof boundary_colours / sizeof boundary_colours[0];

std::vector<uint8_t> expected_mask() {
  std::vector<uint8_t> mask;
  for (const colour& c : boundary_colours)
    mask.push_back(c.mask);
  return mask;
}

TEST_F(ShapeBitmapTest, MaskSheetReducesEveryDepthToBlackAndWhite) {
  // An 8 x 1 picture cut as a 4 x 1 grid of 2 x 1 tiles.
  std::vector<uint8_t> bgr, bgrx, indexed;
  std::vector<palette_entry> palette(256, palette_entry{0, 0, 0, 0});
  for (int i = 0; i < colour_count; ++i) {
    const colour& c = boundary_colours[i];
    bgr.insert(bgr.end(), {c.blue, c.green, c.red});
    bgrx.insert(bgrx.end(), {c.blue, c.green, c.red, 0xEE});
    palette[15 - i] = {c.blue, c.green, c.red, static_cast<uint8_t>(i)};
    indexed.push_back(static_cast<uint8_t>(15 - i));
  }
  // 16 bits: 5-bit channels widen as (v << 3) | (v >> 2): 16 gives 132 and
  // 15 gives 123, so (16, 16, 15) sums to 387 and (15, 16, 15) to 378.
  auto word = [](int red, int green, int blue) {
    const int value = red << 10 | green << 5 | blue;
    return std::vector<uint8_t>{static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  };
  std::vector<uint8_t> words;
  const int channels[8][3] = {{16, 16, 15}, {15, 16, 15}, {0, 0, 0},   {31, 31, 31},
                              {31, 0, 0},   {0, 31, 0},   {0, 16, 16}, {31, 15, 1}};
  const uint8_t word_mask[8] = {1, 0, 0, 1, 0, 0, 0, 1};
  for (const auto& c : channels) {
    const std::vector<uint8_t> w = word(c[0], c[1], c[2]);
    words.insert(words.end(), w.begin(), w.end());
  }

  struct mask_case {
    uint16_t bit_count;
    std::vector<palette_entry> palette;
    std::vector<uint8_t> pixels;
    std::vector<uint8_t> mask;
  };
  const std::vector<mask_case> cases = {
      {24, {}, bgr, expected_mask()},
      {32, {}, bgrx, expected_mask()},
      {8, palette, indexed, expected_mask()},
      {4, std::vector<palette_entry>(palette.begin(), palette.begin() + 16), indexed,
       expected_mask()},
      {16, {}, words, std::vector<uint8_t>(word_mask, word_mask + 8)},
      {1, {{0, 0, 0, 0}, {255, 255, 255, 0}}, {0, 1, 1, 0, 0, 0, 1, 1}, {0, 1, 1, 0, 0, 0, 1, 1}},
  };
  for (const mask_case& c : cases) {
    SCOPED_TRACE(c.bit_count);
    write_bmp(path_, 8, 1, c.bit_count, c.palette, c.pixels);
    tile_sheet sheet{};
    begin_stdout_capture();
    const int result = read_mask_bitmap(path_.c_str(), &sheet, 2, 1, 4, 1);
    EXPECT_EQ(end_stdout_capture(), "");
    ASSERT_EQ(result, 0);
    EXPECT_EQ(sheet.tile_width, 2);
    EXPECT_EQ(sheet.tile_height, 1);
    EXPECT_EQ(sheet.columns, 4u);
    EXPECT_EQ(sheet.rows, 1u);
    EXPECT_EQ(sheet.bit_count, 1);
    EXPECT_EQ(sheet.bytes_per_pixel, 1);
    ASSERT_TRUE(sheet.pixels);
    EXPECT_EQ(std::vector<uint8_t>(sheet.pixels.get(), sheet.pixels.get() + 8), c.mask);
    ASSERT_TRUE(sheet.palette);
    EXPECT_EQ(sheet.palette[0], (palette_entry{0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(sheet.palette[1], (palette_entry{0xFF, 0xFF, 0xFF, 0x00}));
  }
}

TEST_F(ShapeBitmapTest, MaskSheetRefusesAPictureOfAnotherSize) {
  struct size_case {
    uint32_t width;
    int32_t height;
  };
  // Expected: 4 x 2 tiles of 3 x 2 pixels, a 12 x 4 picture.
  for (const size_case& c : {size_case{12, 5}, size_case{13, 4}, size_case{11, 4}}) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    write_bmp(path_, c.width, c.height, 24, {}, picture_pixels(c.width, c.height, 24));
    tile_sheet sheet{};
    begin_stdout_capture();
    const int result = read_mask_bitmap(path_.c_str(), &sheet, 3, 2, 4, 2);
    EXPECT_EQ(end_stdout_capture(), "error: illegal mask bitmap size\n");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(sheet.tile_width, static_cast<int32_t>(c.width / 4));
    EXPECT_EQ(sheet.tile_height, c.height / 2);
    EXPECT_EQ(sheet.bit_count, 1);
    EXPECT_TRUE(sheet.palette);
    EXPECT_FALSE(sheet.pixels);
  }
}

TEST_F(ShapeBitmapTest, MaskSheetReportsUnreadableFilesAndLeavesTheSheet) {
  for (const unreadable_case& c : unreadable_cases(path_)) {
    SCOPED_TRACE(c.name);
    remove_tree(path_);
    if (!c.bytes.empty()) {
      ASSERT_TRUE(write_file_bytes(path_, c.bytes));
    }
    tile_sheet sheet{};
    begin_stdout_capture();
    const int result = read_mask_bitmap(path_.c_str(), &sheet, 1, 1, 16, 4);
    EXPECT_EQ(end_stdout_capture(), with_path(c.output));
    EXPECT_EQ(result, -1);
    EXPECT_EQ(sheet.tile_width, 0);
    EXPECT_EQ(sheet.bit_count, 0);
    EXPECT_FALSE(sheet.pixels);
    EXPECT_FALSE(sheet.palette);
  }
}

}  // namespace
