// ImageMagick as an independent peer: what write_bitmap writes decodes there
// to the same pixels, and what it writes as a BMP3 file read_bitmap reads.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bitmap/bitmap.h"
#include "bitmap/bitmap_test_support.h"
#include "testing/test_support.h"

namespace {

// The path of ImageMagick's convert on PATH, or "" when there is none (or the
// convert found is some other program).
std::string find_convert() {
  const char* path = getenv("PATH");
  std::stringstream directories(path != nullptr ? path : "");
  std::string directory;
  while (std::getline(directories, directory, ':')) {
    const std::string candidate = directory + "/convert";
    if (!file_exists(candidate)) continue;
    const process_result version = run_program({candidate, "-version"}, "/", "");
    if (version.exit_status == 0 &&
        version.output.find("Version: ImageMagick") != std::string::npos)
      return candidate;
  }
  return "";
}

class ImageMagickTest : public testing::Test {
 protected:
  void SetUp() override {
    convert_ = find_convert();
    if (convert_.empty()) GTEST_SKIP() << "ImageMagick is not installed";
    dir_ = make_temp_dir();
  }
  void TearDown() override {
    if (!dir_.empty()) remove_tree(dir_);
  }

  // The file's pixels as ImageMagick decodes them: red, green, blue per
  // pixel, top row first.
  std::string decoded_rgb(const std::string& name) {
    const process_result result = run_program({convert_, name, "-depth", "8", "rgb:-"}, dir_, "");
    EXPECT_EQ(result.exit_status, 0) << result.errors;
    return result.output;
  }

  int run_convert(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {convert_};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const process_result result = run_program(argv, dir_, "");
    EXPECT_EQ(result.exit_status, 0) << result.errors;
    return result.exit_status;
  }

  std::string convert_;
  std::string dir_;
};

// Red, green, blue of every pixel of a picture in the unpacked layout.
std::string rgb_of(const uint8_t* pixels, size_t count, int32_t bit_count,
                   const palette_entry* palette) {
  std::string rgb;
  for (size_t i = 0; i < count; ++i) {
    palette_entry colour;
    if (bit_count <= 8) {
      colour = palette[pixels[i]];
    } else {
      const uint8_t* p = pixels + i * static_cast<size_t>(bit_count / 8);
      colour = {p[0], p[1], p[2], 0};
    }
    rgb += static_cast<char>(colour.red);
    rgb += static_cast<char>(colour.green);
    rgb += static_cast<char>(colour.blue);
  }
  return rgb;
}

TEST_F(ImageMagickTest, DecodesWhatWriteBitmapWrites) {
  for (uint16_t bit_count : {1, 4, 8, 24, 32}) {
    // An odd width, so that rows end in a partial byte and in padding.
    const uint32_t width = 13;
    const int32_t height = 7;
    const int colors = bit_count <= 8 ? 1 << bit_count : 0;
    std::vector<palette_entry> palette = test_palette(colors);
    for (palette_entry& entry : palette)
      entry.reserved = 0;
    const size_t count = width * height;
    bytes_t pixels(count * static_cast<size_t>((bit_count + 7) / 8));
    for (size_t i = 0; i < pixels.size(); ++i) {
      const size_t value = i * 29 + i / width;
      pixels[i] = static_cast<uint8_t>(colors != 0 ? value % static_cast<size_t>(colors) : value);
      if (bit_count == 32 && i % 4 == 3) pixels[i] = 0;
    }
    bitmap_header header{};
    ASSERT_EQ(make_bitmap_header(&header, width, height, bit_count), 0);
    const std::string name = "picture" + std::to_string(bit_count) + ".bmp";
    FILE* file = fopen((dir_ + "/" + name).c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(write_bitmap(file, &header, colors ? palette.data() : nullptr, pixels.data()), 0);
    fclose(file);
    EXPECT_EQ(decoded_rgb(name), rgb_of(pixels.data(), count, bit_count, palette.data()))
        << bit_count << " bits";
  }
}

TEST_F(ImageMagickTest, ReadsBmp3FilesWithFullPalettes) {
  struct written_case {
    const char* name;
    std::vector<std::string> arguments;
    uint16_t bit_count;
  };
  const written_case cases[] = {
      {"two.bmp",
       {"-size", "13x7", "xc:red", "-fill", "blue", "-draw", "point 1,1", "-draw", "point 12,6",
        "-type", "Palette", "BMP3:two.bmp"},
       1},
      {"few.bmp",
       {"-size", "13x7", "xc:red", "-fill", "blue", "-draw", "point 1,1", "-fill", "lime", "-draw",
        "point 2,2", "-fill", "white", "-draw", "point 12,0", "-type", "Palette", "BMP3:few.bmp"},
       4},
      {"many.bmp",
       {"-size", "33x20", "gradient:red-blue", "-type", "Palette", "-colors", "200", "-compress",
        "none", "BMP3:many.bmp"},
       8},
      {"true.bmp",
       {"-size", "7x3", "gradient:red-blue", "-type", "TrueColor", "BMP3:true.bmp"},
       24},
  };
  for (const written_case& c : cases) {
    ASSERT_EQ(run_convert(c.arguments), 0) << c.name;
    FILE* file = fopen((dir_ + "/" + c.name).c_str(), "rb");
    ASSERT_NE(file, nullptr) << c.name;
    bitmap_header header{};
    std::unique_ptr<palette_entry[]> palette;
    std::unique_ptr<uint8_t[]> pixels;
    begin_stdout_capture();
    const int result = read_bitmap(file, &header, &palette, &pixels, 0);
    const std::string output = end_stdout_capture();
    fclose(file);
    EXPECT_EQ(result, 0) << c.name;
    EXPECT_EQ(output, "") << c.name;
    ASSERT_EQ(header.bit_count, c.bit_count) << c.name;
    const size_t count = static_cast<size_t>(header.width) * static_cast<size_t>(header.height);
    EXPECT_EQ(rgb_of(pixels.get(), count, header.bit_count, palette.get()), decoded_rgb(c.name))
        << c.name;
  }
}

}  // namespace
