// End-to-end tests: the real o1pc98map binary, run as a user runs it, in a
// fresh directory per case. The expected pictures are worked out here from
// the planar tile bytes, the shape pixels and the map bytes, independently
// of the product's decoder, renderer and writer.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "testing/disk_builder.h"
#include "testing/scratch_directory_test.h"
#include "testing/test_support.h"
#include "testing/tool_expectations.h"

namespace {

const std::string tool = O1PC98MAP_PATH;

constexpr int32_t disk_map_file_size = 3354742;

std::string usage_text() {
  const std::string at_32(32, ' ');
  return "usage: o1pc98map [options]\n"
         "option:\n" +
         std::string(8, ' ') + "-d|--disk|--orvane-disk DISK-IMG\n" + at_32 +
         "specify orvane disk\n" + at_32 + "read 'O1_Orvane.fdi' if not specified\n" +
         std::string(8, ' ') + "-s|--shape SHAPES-BMP" + std::string(3, ' ') +
         "read shape data from specified file\n" + std::string(11, ' ') + "--overwrite" +
         std::string(10, ' ') + "overwrite output files\n" + std::string(8, ' ') + "-?|--help" +
         std::string(15, ' ') + "print usage\n\n";
}

std::string image_missing(std::string_view path) {
  return text_of({"open error '", path, "'\nerror: read disk image '", path, "'\n"});
}

// ---------------------------------------------------------------------------
// Input bytes.

std::span<const uint8_t> as_bytes(const std::string& text) {
  return std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

const std::vector<uint8_t>& game_tiles() {
  static const std::vector<uint8_t> bytes = pseudo_random_bytes(30720, 0x1234567);
  return bytes;
}

const std::vector<uint8_t>& game_map() {
  static const std::vector<uint8_t> bytes = pseudo_random_bytes(13104, 0x89abcde);
  return bytes;
}

std::vector<uint8_t> make_disk(disk_geometry geometry, const std::vector<uint8_t>* tiles,
                               const std::vector<uint8_t>& map) {
  return game_disk(geometry, tiles, &map);
}

// ---------------------------------------------------------------------------
// Expected pictures.

constexpr int32_t cell_tiles[16] = {0, 1, 2, 3, 4, 6, 7, 9, 52, 11, 12, 13, 14, 16, 17, 18};

// The cell code of cell (x, y) of map m (from 0) in MAP.BIN, whose two
// halves each hold two maps side by side; bytes past the file's end are 0.
int cell_code(const std::vector<uint8_t>& map_file, int m, int x, int y) {
  size_t offset = static_cast<size_t>(6552 * (m / 2) + 84 * y + 42 * (m % 2) + x / 2);
  int byte = offset < map_file.size() ? map_file[offset] : 0;
  return x % 2 == 0 ? byte >> 4 : byte & 15;
}

// The colour index of pixel (x, y) of tile t in EGCTILES.BIN: planes of
// weight 8, 1, 2, 4; bytes past the file's end are 0.
int planar_index(const std::vector<uint8_t>& tiles, int t, int x, int y) {
  constexpr int weights[4] = {8, 1, 2, 4};
  int index = 0;
  for (int p = 0; p < 4; ++p) {
    size_t offset = static_cast<size_t>(512 * t + 128 * p + 4 * y + x / 8);
    int byte = offset < tiles.size() ? tiles[offset] : 0;
    if ((byte >> (7 - x % 8)) & 1) index += weights[p];
  }
  return index;
}

void append_le(std::vector<uint8_t>* bytes, uint32_t value, int size) {
  for (int i = 0; i < size; ++i)
    bytes->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A whole BMP file of a picture held with one byte per pixel up to 8 bits
// and 2, 3 or 4 bytes per pixel above, top row first.
std::vector<uint8_t> encode_bmp(int32_t width, int32_t height, int32_t bit_count,
                                const std::vector<uint8_t>& palette,
                                const std::vector<uint8_t>& pixels) {
  const int32_t bpp = (bit_count + 7) / 8;
  int32_t row_bytes = bit_count == 1   ? (width + 7) / 8
                      : bit_count == 4 ? (width + 1) / 2
                                       : width * bpp;
  int32_t padded = (row_bytes + 3) / 4 * 4;
  uint32_t offset = 54 + static_cast<uint32_t>(palette.size());
  uint32_t image_size = static_cast<uint32_t>(padded) * static_cast<uint32_t>(height);
  std::vector<uint8_t> file = {'B', 'M'};
  append_le(&file, offset + image_size, 4);
  append_le(&file, 0, 4);
  append_le(&file, offset, 4);
  append_le(&file, 40, 4);
  append_le(&file, static_cast<uint32_t>(width), 4);
  append_le(&file, static_cast<uint32_t>(height), 4);
  append_le(&file, 1, 2);
  append_le(&file, static_cast<uint32_t>(bit_count), 2);
  append_le(&file, 0, 4);
  append_le(&file, image_size, 4);
  for (int i = 0; i < 4; ++i)
    append_le(&file, 0, 4);
  file.insert(file.end(), palette.begin(), palette.end());
  for (int32_t y = height - 1; y >= 0; --y) {
    const uint8_t* row = pixels.data() + static_cast<size_t>(y) * width * bpp;
    std::vector<uint8_t> stored(static_cast<size_t>(padded), 0);
    for (int32_t x = 0; x < width; ++x) {
      if (bit_count == 1) {
        if (row[x] != 0) stored[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      } else if (bit_count == 4) {
        stored[x / 2] |= static_cast<uint8_t>((row[x] & 15) << (x % 2 == 0 ? 4 : 0));
      }
    }
    if (bit_count >= 8) std::copy(row, row + static_cast<size_t>(width) * bpp, stored.begin());
    file.insert(file.end(), stored.begin(), stored.end());
  }
  return file;
}

// Blue, green, red, reserved of the eight digital colours (index bit 0 blue,
// bit 1 red, bit 2 green), then the same eight with reserved byte 0xFF.
std::vector<uint8_t> digital_palette() {
  std::vector<uint8_t> palette;
  for (int i = 0; i < 16; ++i) {
    palette.push_back(i & 1 ? 0xFF : 0x00);
    palette.push_back(i & 4 ? 0xFF : 0x00);
    palette.push_back(i & 2 ? 0xFF : 0x00);
    palette.push_back(i & 8 ? 0xFF : 0x00);
  }
  return palette;
}

// The four files a run on the disk's own tiles writes.
std::vector<std::vector<uint8_t>> expected_disk_maps(const std::vector<uint8_t>& tiles,
                                                     const std::vector<uint8_t>& map_file) {
  std::vector<uint8_t> tile_pixels(60 * 32 * 32);
  for (int t = 0; t < 60; ++t) {
    for (int y = 0; y < 32; ++y) {
      for (int x = 0; x < 32; ++x) {
        tile_pixels[(t * 32 + y) * 32 + x] = static_cast<uint8_t>(planar_index(tiles, t, x, y));
      }
    }
  }
  std::vector<std::vector<uint8_t>> files;
  std::vector<uint8_t> picture(2688 * 2496);
  for (int m = 0; m < 4; ++m) {
    for (int y = 0; y < 2496; ++y) {
      for (int x = 0; x < 2688; ++x) {
        int t = cell_tiles[cell_code(map_file, m, x / 32, y / 32)];
        picture[static_cast<size_t>(y) * 2688 + x] = tile_pixels[(t * 32 + y % 32) * 32 + x % 32];
      }
    }
    files.push_back(encode_bmp(2688, 2496, 4, digital_palette(), picture));
  }
  return files;
}

const std::vector<std::vector<uint8_t>>& game_maps() {
  static const std::vector<std::vector<uint8_t>> files =
      expected_disk_maps(game_tiles(), game_map());
  return files;
}

// A shape bitmap: a picture of 16 x 4 tiles (plus any remainder rows).
struct shape_picture {
  int32_t width;
  int32_t height;
  int32_t bit_count;
  std::vector<uint8_t> palette;  // 4 bytes an entry, 2^bit_count entries up to 8 bits
  std::vector<uint8_t> pixels;   // unpacked, top row first
};

shape_picture make_shape(int32_t width, int32_t height, int32_t bit_count, uint32_t seed) {
  shape_picture shape{width, height, bit_count, {}, {}};
  const int32_t bpp = (bit_count + 7) / 8;
  shape.pixels = pseudo_random_bytes(static_cast<size_t>(width) * height * bpp, seed);
  if (bit_count <= 8) {
    for (uint8_t& pixel : shape.pixels)
      pixel = static_cast<uint8_t>(pixel % (1 << bit_count));
    shape.palette = pseudo_random_bytes(4u << bit_count, seed + 1);
  }
  return shape;
}

std::vector<uint8_t> shape_file(const shape_picture& shape) {
  return encode_bmp(shape.width, shape.height, shape.bit_count, shape.palette, shape.pixels);
}

// The file of map m drawn from the shape's 16 x 4 tiles.
std::vector<uint8_t> expected_shape_map(const shape_picture& shape,
                                        const std::vector<uint8_t>& map_file, int m) {
  const int32_t tw = shape.width / 16;
  const int32_t th = shape.height / 4;
  const int32_t bpp = (shape.bit_count + 7) / 8;
  const int32_t width = tw * 84;
  const int32_t height = th * 78;
  std::vector<uint8_t> picture(static_cast<size_t>(width) * height * bpp);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      int t = cell_tiles[cell_code(map_file, m, x / tw, y / th)];
      int32_t sx = t % 16 * tw + x % tw;
      int32_t sy = t / 16 * th + y % th;
      const uint8_t* from = &shape.pixels[(static_cast<size_t>(sy) * shape.width + sx) * bpp];
      std::copy(from, from + bpp, &picture[(static_cast<size_t>(y) * width + x) * bpp]);
    }
  }
  return encode_bmp(width, height, shape.bit_count, shape.palette, picture);
}

// ---------------------------------------------------------------------------
// Running the tool.

std::set<std::string> names_in(const std::string& directory) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

std::vector<std::string> command(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {tool};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

class ToolTest : public scratch_directory_test {
 protected:
  process_result run(const std::vector<std::string>& arguments,
                     const std::string& input = "") const {
    process_result result = run_program(command(arguments), directory, input);
    EXPECT_EQ(result.errors, "");
    return result;
  }

  // Each map file is either written as expected or absent.
  void expect_maps(const std::vector<std::vector<uint8_t>>& expected, int written) const {
    for (int m = 0; m < 4; ++m) {
      SCOPED_TRACE(map_files[m]);
      if (m < written) {
        EXPECT_TRUE(read_file_bytes(path(map_files[m])) == expected[m]);
      } else {
        EXPECT_FALSE(file_exists(path(map_files[m])));
      }
    }
  }
};

// ---------------------------------------------------------------------------
// The command line.

struct command_case {
  std::vector<std::string> arguments;
  std::string output;
};

TEST_F(ToolTest, CommandLinesThatEndTheRunBeforeAnyMap) {
  const std::string no_disk =
      image_missing("O1_Orvane.fdi") + "error: read shapes from disk image\n";
  const command_case cases[] = {
      {{}, no_disk},
      {{"--help"}, usage_text()},
      {{"-?"}, usage_text()},
      {{"-d", "game.fdi", "--overwrite", "--help"}, usage_text()},
      {{"--help", "-x"}, usage_text()},
      {{"--help", "foo"}, usage_text()},
      {{"-x", "--help"}, "error: unknown option '-x'\n"},
      {{"foo", "--help"}, "error: illegal parameter 'foo'\n"},
      {{"foo"}, "error: illegal parameter 'foo'\n"},
      {{""}, "error: illegal parameter ''\n"},
      {{"-"}, "error: unknown option '-'\n"},
      {{"--"}, "error: unknown option '--'\n"},
      {{"--disk=a.fdi"}, "error: unknown option '--disk=a.fdi'\n"},
      {{"-da.fdi"}, "error: unknown option '-da.fdi'\n"},
      {{"--HELP"}, "error: unknown option '--HELP'\n"},
      {{"--over"}, "error: unknown option '--over'\n"},
      {{"-ds", "a.fdi"}, "error: unknown option '-ds'\n"},
      {{"-d"}, "error: no disk image filename\n"},
      {{"--disk"}, "error: no disk image filename\n"},
      {{"--orvane-disk"}, "error: no disk image filename\n"},
      {{"-s"}, "error: no shape bitmap filename\n"},
      {{"--shape"}, "error: no shape bitmap filename\n"},
      {{"-s", "tiles.bmp", "-d"}, "error: no disk image filename\n"},
      {{"-d", "a.fdi", "foo", "-x"}, "error: illegal parameter 'foo'\n"},
      // A disk or shape value is taken whatever it holds.
      {{"-d", "--help"}, image_missing("--help") + "error: read shapes from disk image\n"},
      {{"-d", ""}, image_missing("") + "error: read shapes from disk image\n"},
      {{"-s", "-x"}, "error: open '-x'\nerror: read shape bitmap '-x'\n"},
      {{"--shape", ""}, "error: open ''\nerror: read shape bitmap ''\n"},
      // A later value replaces an earlier one.
      {{"-d", "a.fdi", "--disk", "b.fdi"},
       image_missing("b.fdi") + "error: read shapes from disk image\n"},
      {{"-s", "x.bmp", "--shape", "y.bmp"},
       "error: open 'y.bmp'\nerror: read shape bitmap 'y.bmp'\n"},
      {{"--overwrite", "--overwrite", "--orvane-disk", "a.fdi"},
       image_missing("a.fdi") + "error: read shapes from disk image\n"},
  };
  const std::vector<uint8_t> old_map = {'o', 'l', 'd'};
  for (const command_case& c : cases) {
    std::string line;
    for (const std::string& argument : c.arguments)
      line += " '" + argument + "'";
    SCOPED_TRACE("o1pc98map" + line);
    std::string case_directory = make_temp_dir();
    ASSERT_TRUE(write_file_bytes(case_directory + "/" + map_files[0], old_map));
    process_result result = run_program(command(c.arguments), case_directory, "y\ny\n");
    EXPECT_EQ(result.output, c.output);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(names_in(case_directory), std::set<std::string>{map_files[0]});
    EXPECT_EQ(read_file_bytes(case_directory + "/" + map_files[0]), old_map);
    remove_tree(case_directory);
  }
}

// The shell expands a pattern before the tool starts: a second match is an
// argument of its own.
TEST_F(ToolTest, WildcardMatchingTwoFilesLeavesAnExtraArgument) {
  const std::vector<uint8_t> some = {1};
  put_file("a.bmp", some);
  put_file("b.bmp", some);
  put_file("a.fdi", some);
  put_file("b.fdi", some);
  const std::pair<std::string, std::string> cases[] = {
      {"-s *.bmp", "error: illegal parameter 'b.bmp'\n"},
      {"--disk *.fdi", "error: illegal parameter 'b.fdi'\n"},
  };
  for (const auto& [arguments, output] : cases) {
    SCOPED_TRACE(arguments);
    process_result result =
        run_program({"/bin/sh", "-c", "exec '" + tool + "' " + arguments}, directory, "");
    EXPECT_EQ(result.output, output);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(names_in(directory), (std::set<std::string>{"a.bmp", "b.bmp", "a.fdi", "b.fdi"}));
  }
}

// ---------------------------------------------------------------------------
// Runs on the disk's own tiles.

struct geometry_case {
  disk_geometry geometry;
  std::vector<std::string> arguments;
  std::string image_name;
};

TEST_F(ToolTest, WritesTheFourMapsFromImagesOfEveryGeometry) {
  const geometry_case cases[] = {
      {disk_geometry::sectors_1232, {}, "O1_Orvane.fdi"},
      {disk_geometry::sectors_1440, {"-d", "game.fdi"}, "game.fdi"},
      {disk_geometry::sectors_1280, {"--orvane-disk", "disks/My Game.fdi"}, "disks/My Game.fdi"},
  };
  for (const geometry_case& c : cases) {
    SCOPED_TRACE(c.image_name);
    std::string case_directory = make_temp_dir();
    std::filesystem::create_directory(case_directory + "/disks");
    ASSERT_TRUE(write_file_bytes(case_directory + "/" + c.image_name,
                                 make_disk(c.geometry, &game_tiles(), game_map())));
    process_result result = run_program(command(c.arguments), case_directory, "");
    EXPECT_EQ(result.output, all_titles);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.errors, "");
    for (int m = 0; m < 4; ++m) {
      SCOPED_TRACE(map_files[m]);
      std::vector<uint8_t> written = read_file_bytes(case_directory + "/" + map_files[m]);
      EXPECT_EQ(written.size(), static_cast<size_t>(disk_map_file_size));
      EXPECT_TRUE(written == game_maps()[m]);
    }
    remove_tree(case_directory);
  }
}

// Game files shorter than expected are read with a warning each; the
// missing bytes count as zero bytes.
TEST_F(ToolTest, ShortGameFilesAreFilledWithZeroBytes) {
  std::vector<uint8_t> tiles(game_tiles().begin(), game_tiles().begin() + 1000);
  std::vector<uint8_t> map(game_map().begin(), game_map().begin() + 13000);
  put_file("O1_Orvane.fdi", make_disk(disk_geometry::sectors_1232, &tiles, map));
  process_result result = run({});
  EXPECT_EQ(result.output,
            "file size mismatch 'EGCTILES.BIN' 1000 != 30720 ... ignored\n"
            "file size mismatch 'MAP.BIN' 13000 != 13104 ... ignored\n" +
                all_titles);
  EXPECT_EQ(result.exit_status, 0);
  expect_maps(expected_disk_maps(tiles, map), 4);
}

TEST_F(ToolTest, ImageWithoutTheTileFileEndsBeforeTheMaps) {
  put_file("O1_Orvane.fdi", make_disk(disk_geometry::sectors_1232, nullptr, game_map()));
  process_result result = run({});
  EXPECT_EQ(result.output,
            "can't find 'EGCTILES.BIN'\n"
            "error: read disk image 'O1_Orvane.fdi/EGCTILES.BIN'\n"
            "error: read shapes from disk image\n");
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(names_in(directory), std::set<std::string>{"O1_Orvane.fdi"});
}

// ---------------------------------------------------------------------------
// The overwrite question.

struct dialogue_case {
  const char* name;
  std::vector<int> existing;  // maps whose file exists before the run
  bool directory_in_place;    // the first existing name is a directory
  std::vector<std::string> arguments;
  std::string input;
  std::string output;
  int exit_status;
  std::vector<int> replaced;  // maps whose file the run writes
};

TEST_F(ToolTest, AsksBeforeReplacingAnExistingFile) {
  const dialogue_case cases[] = {
      {"yes",
       {0},
       false,
       {},
       "y",
       titles[0] + already_exists(map_files[0]) + titles[1] + titles[2] + titles[3],
       0,
       {0, 1, 2, 3}},
      {"no",
       {0},
       false,
       {},
       "n",
       titles[0] + already_exists(map_files[0]) + write_failed(map_files[0]),
       1,
       {}},
      {"other keys skipped",
       {0},
       false,
       {},
       "x\ny\n",
       titles[0] + already_exists(map_files[0]) + titles[1] + titles[2] + titles[3],
       0,
       {0, 1, 2, 3}},
      {"rest of 'yes' skipped by the next question",
       {0, 1},
       false,
       {},
       "yes\nN\n",
       titles[0] + already_exists(map_files[0]) + titles[1] + already_exists(map_files[1]) +
           write_failed(map_files[1]),
       1,
       {0}},
      {"rest of 'yes' then no more input",
       {0, 1},
       false,
       {},
       "yes\n",
       titles[0] + already_exists(map_files[0]) + titles[1] + already_exists(map_files[1]) + "\n" +
           write_failed(map_files[1]),
       1,
       {0}},
      {"'yn' answers two questions",
       {0, 1},
       false,
       {},
       "yn\n",
       titles[0] + already_exists(map_files[0]) + titles[1] + already_exists(map_files[1]) +
           write_failed(map_files[1]),
       1,
       {0}},
      {"end of input",
       {2},
       false,
       {},
       "",
       titles[0] + titles[1] + titles[2] + already_exists(map_files[2]) + "\n" +
           write_failed(map_files[2]),
       1,
       {0, 1}},
      {"directory in the file's place",
       {0},
       true,
       {},
       "Y",
       titles[0] + already_exists(map_files[0]) + "error: open '" + map_files[0] + "'\n" +
           write_failed(map_files[0]),
       1,
       {}},
      {"--overwrite asks nothing",
       {0, 1, 2, 3},
       false,
       {"--overwrite"},
       "n",
       all_titles,
       0,
       {0, 1, 2, 3}},
  };
  const std::vector<uint8_t> old_map = {'o', 'l', 'd'};
  const std::vector<uint8_t> image =
      make_disk(disk_geometry::sectors_1232, &game_tiles(), game_map());
  for (const dialogue_case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string case_directory = make_temp_dir();
    ASSERT_TRUE(write_file_bytes(case_directory + "/O1_Orvane.fdi", image));
    for (int m : c.existing) {
      std::string name = case_directory + "/" + map_files[m];
      if (c.directory_in_place) {
        std::filesystem::create_directory(name);
      } else {
        ASSERT_TRUE(write_file_bytes(name, old_map));
      }
    }
    process_result result = run_program(command(c.arguments), case_directory, c.input);
    EXPECT_EQ(result.output, c.output);
    EXPECT_EQ(result.exit_status, c.exit_status);
    EXPECT_EQ(result.errors, "");
    for (int m = 0; m < 4; ++m) {
      SCOPED_TRACE(map_files[m]);
      std::string name = case_directory + "/" + map_files[m];
      bool existed = std::find(c.existing.begin(), c.existing.end(), m) != c.existing.end();
      bool replaced = std::find(c.replaced.begin(), c.replaced.end(), m) != c.replaced.end();
      if (replaced) {
        EXPECT_TRUE(read_file_bytes(name) == game_maps()[m]);
      } else if (existed && c.directory_in_place) {
        EXPECT_TRUE(std::filesystem::is_directory(name));
      } else if (existed) {
        EXPECT_EQ(read_file_bytes(name), old_map);
      } else {
        EXPECT_FALSE(file_exists(name));
      }
    }
    remove_tree(case_directory);
  }
}

// ---------------------------------------------------------------------------
// Shape bitmaps.

struct shape_case {
  int32_t bit_count;
  int32_t width;
  int32_t height;
};

TEST_F(ToolTest, DrawsTheMapsFromAShapeBitmapAtItsOwnBitCountAndTileSize) {
  const shape_case cases[] = {
      {1, 16, 4},     // 1 x 1-pixel tiles: rows of 84 pixels end in a partial byte
      {1, 48, 9},     // 3 x 2 tiles and a remainder row
      {4, 512, 130},  // 32 x 32 tiles; the two bottom rows belong to no tile
      {4, 16, 8},     // rows of 42 bytes, padded to 44
      {8, 80, 12},    // 5 x 3 tiles
      {16, 48, 20},   // 3 x 5 tiles
      {24, 128, 32},  // 8 x 8 tiles: a 672 x 624 raster
      {32, 32, 14},   // 2 x 3 tiles and two remainder rows
  };
  // The maps come from the disk, the tiles from the shape: the image needs
  // no tile file.
  const std::vector<uint8_t> image = make_disk(disk_geometry::sectors_1440, nullptr, game_map());
  for (const shape_case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bit_count << " bits, " << c.width << " x " << c.height);
    std::string case_directory = make_temp_dir();
    shape_picture shape = make_shape(c.width, c.height, c.bit_count, 77 + c.bit_count + c.width);
    ASSERT_TRUE(write_file_bytes(case_directory + "/tiles.bmp", shape_file(shape)));
    ASSERT_TRUE(write_file_bytes(case_directory + "/O1_Orvane.fdi", image));
    process_result result = run_program(command({"--shape", "tiles.bmp"}), case_directory, "");
    EXPECT_EQ(result.output, all_titles);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.errors, "");
    for (int m = 0; m < 4; ++m) {
      SCOPED_TRACE(map_files[m]);
      EXPECT_TRUE(read_file_bytes(case_directory + "/" + map_files[m]) ==
                  expected_shape_map(shape, game_map(), m));
    }
    remove_tree(case_directory);
  }
}

TEST_F(ToolTest, EightByEightTilesAt24BitsGiveA672By624Raster) {
  shape_picture shape = make_shape(128, 32, 24, 5);
  put_file("tiles.bmp", shape_file(shape));
  put_file("O1_Orvane.fdi", make_disk(disk_geometry::sectors_1280, nullptr, game_map()));
  process_result result = run({"-s", "tiles.bmp"});
  EXPECT_EQ(result.exit_status, 0);
  std::vector<uint8_t> written = read_file_bytes(path(map_files[0]));
  ASSERT_EQ(written.size(), 54u + 672u * 3u * 624u);
  EXPECT_EQ(written[18] | written[19] << 8, 672);
  EXPECT_EQ(written[22] | written[23] << 8, 624);
  EXPECT_EQ(written[28], 24);
}

struct refusal_case {
  std::string name;
  std::vector<uint8_t> bytes;  // empty: no such file
  std::string output;
};

std::string shape_refused(const std::string& inner) {
  return inner + "error: read shape bitmap 'tiles.bmp'\n";
}

TEST_F(ToolTest, RefusesUnusableShapeBitmapsBeforeAnyMap) {
  std::vector<uint8_t> truncated = shape_file(make_shape(64, 8, 8, 3));
  truncated.pop_back();
  const refusal_case cases[] = {
      {"missing", {}, shape_refused("error: open 'tiles.bmp'\n")},
      {"not a bitmap",
       {'h', 'e', 'l', 'l', 'o', '\n'},
       shape_refused("error: read_bitmap() - can't read bitmap header\nerror: read 'tiles.bmp'\n")},
      {"rows cut short", truncated,
       shape_refused("error: read_bitmap() - can't read bitmap data\nerror: read 'tiles.bmp'\n")},
      {"narrower than 16", shape_file(make_shape(15, 4, 24, 1)),
       shape_refused("error: shape bitmap is too small\n")},
      {"lower than 4", shape_file(make_shape(16, 3, 8, 1)),
       shape_refused("error: shape bitmap is too small\n")},
      {"width not a multiple of 16", shape_file(make_shape(520, 128, 4, 1)),
       shape_refused("error: illegal shape bitmap size\n")},
  };
  for (const refusal_case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string case_directory = make_temp_dir();
    std::set<std::string> before;
    if (!c.bytes.empty()) {
      ASSERT_TRUE(write_file_bytes(case_directory + "/tiles.bmp", c.bytes));
      before.insert("tiles.bmp");
    }
    process_result result = run_program(command({"-s", "tiles.bmp"}), case_directory, "");
    EXPECT_EQ(result.output, c.output);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(names_in(case_directory), before);
    remove_tree(case_directory);
  }
}

// 8192 x 2600 pixels give tiles of 512 x 650 and a raster of 43,008 x 50,700
// bytes, beyond the 32-bit sizes of a picture: refused before allocating.
TEST_F(ToolTest, ShapeBitmapWhoseRasterWouldOverflowIsRefused) {
  shape_picture shape{
      8192, 2600, 1, {0, 0, 0, 0, 255, 255, 255, 0}, std::vector<uint8_t>(8192 * 2600, 0)};
  put_file("tiles.bmp", shape_file(shape));
  process_result result = run({"-s", "tiles.bmp"});
  EXPECT_EQ(result.output, "error: memory exhausted!\n");
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(names_in(directory), std::set<std::string>{"tiles.bmp"});
}

TEST_F(ToolTest, ShapeBitmapWithoutADiskImageFailsAtTheMaps) {
  put_file("tiles.bmp", shape_file(make_shape(256, 64, 8, 9)));
  process_result result = run({"-s", "tiles.bmp"});
  EXPECT_EQ(result.output,
            image_missing("O1_Orvane.fdi") + "error: read image file 'O1_Orvane.fdi'\n");
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(names_in(directory), std::set<std::string>{"tiles.bmp"});
}

// ---------------------------------------------------------------------------
// Writes that fail.

constexpr rlim_t part_of_a_map = 1000000;

std::vector<uint8_t> first_bytes(const std::vector<uint8_t>& bytes, size_t count) {
  return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(count));
}

TEST_F(ToolTest, FirstMapFailingPartWayEndsTheRun) {
  put_file("O1_Orvane.fdi", make_disk(disk_geometry::sectors_1232, &game_tiles(), game_map()));
  process_result result = run_program(command({}), directory, "", part_of_a_map);
  EXPECT_EQ(
      result.output,
      titles[0] +
          std::string("error: write_bitmap() - can't write bitmap data\nerror: write bitmap '") +
          map_files[0] + "'\n" + write_failed(map_files[0]));
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.errors, "");
  // The half-written file stays, as far as it was written.
  EXPECT_TRUE(read_file_bytes(path(map_files[0])) == first_bytes(game_maps()[0], part_of_a_map));
  for (int m = 1; m < 4; ++m)
    EXPECT_FALSE(file_exists(path(map_files[m])));
}

// Map 1 is written whole; the disk "fills up" while map 2 is written.
TEST_F(ToolTest, SecondMapFailingPartWayKeepsTheFirst) {
  put_file("O1_Orvane.fdi", make_disk(disk_geometry::sectors_1232, &game_tiles(), game_map()));
  put_file(map_files[1], as_bytes("old"));
  process_result result = run_program_limited_at_prompt(
      command({}), directory, "overwrite ? (Y or N): ", "y", part_of_a_map);
  EXPECT_EQ(result.output, titles[0] + std::string(titles[1]) + already_exists(map_files[1]) +
                               "error: write_bitmap() - can't write bitmap data\n"
                               "error: write bitmap '" +
                               map_files[1] + "'\n" + write_failed(map_files[1]));
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.errors, "");
  EXPECT_TRUE(read_file_bytes(path(map_files[0])) == game_maps()[0]);
  EXPECT_TRUE(read_file_bytes(path(map_files[1])) == first_bytes(game_maps()[1], part_of_a_map));
  EXPECT_FALSE(file_exists(path(map_files[2])));
  EXPECT_FALSE(file_exists(path(map_files[3])));
}

// ---------------------------------------------------------------------------
// Independent peers.

bool have_imagemagick() {
  return system("convert -version 2>/dev/null | grep -q 'Version: ImageMagick'") == 0;
}

bool have_mtools() {
  return system("command -v mformat >/dev/null && command -v mcopy >/dev/null") == 0;
}

// ImageMagick reads a written map and sees the colours of the expected
// picture.
TEST_F(ToolTest, ImageMagickReadsTheWrittenMap) {
  if (!have_imagemagick()) GTEST_SKIP() << "ImageMagick is not installed";
  put_file("O1_Orvane.fdi", make_disk(disk_geometry::sectors_1232, &game_tiles(), game_map()));
  ASSERT_EQ(run({}).exit_status, 0);
  std::string convert =
      "cd '" + directory + "' && convert '" + map_files[0] + "' -depth 8 rgb:map.rgb";
  ASSERT_EQ(system(convert.c_str()), 0);
  std::vector<uint8_t> rgb = read_file_bytes(path("map.rgb"));
  ASSERT_EQ(rgb.size(), 2688u * 2496u * 3u);
  // The palette lies after the 54-byte header; pixels start at byte 118,
  // bottom row first, two pixels a byte.
  const std::vector<uint8_t>& file = game_maps()[0];
  std::vector<uint8_t> expected;
  expected.reserve(rgb.size());
  for (int y = 0; y < 2496; ++y) {
    const uint8_t* row = &file[118 + static_cast<size_t>(2495 - y) * 1344];
    for (int x = 0; x < 2688; ++x) {
      int index = x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 15;
      const uint8_t* entry = &file[54 + 4 * index];
      expected.insert(expected.end(), {entry[2], entry[1], entry[0]});
    }
  }
  EXPECT_TRUE(rgb == expected);
}

// A 720 KB disk formatted and filled by mtools is the 1440-sector geometry.
TEST_F(ToolTest, RunsOnADiskMadeByMtools) {
  if (!have_mtools()) GTEST_SKIP() << "mtools is not installed";
  put_file("EGCTILES.BIN", game_tiles());
  put_file("MAP.BIN", game_map());
  std::string make = "cd '" + directory +
                     "' && MTOOLS_SKIP_CHECK=1 mformat -C -i raw.img -f 720 :: && "
                     "MTOOLS_SKIP_CHECK=1 mcopy -i raw.img EGCTILES.BIN MAP.BIN :: && "
                     "head -c 4096 /dev/zero > game.fdi && cat raw.img >> game.fdi && "
                     "rm raw.img EGCTILES.BIN MAP.BIN";
  ASSERT_EQ(system(make.c_str()), 0);
  process_result result = run({"-d", "game.fdi"});
  EXPECT_EQ(result.output, all_titles);
  EXPECT_EQ(result.exit_status, 0);
  expect_maps(game_maps(), 4);
}

}  // namespace
