#include "tiles/map_render.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "testing/disk_builder.h"
#include "testing/scratch_directory_test.h"
#include "testing/test_support.h"
#include "tiles/egc_tiles.h"

namespace {

// The tile that each cell code draws.
constexpr int expected_tile_of_code[16] = {0, 1, 2, 3, 4, 6, 7, 9, 52, 11, 12, 13, 14, 16, 17, 18};

std::vector<uint8_t> scrambled_bytes(size_t count, uint32_t seed) {
  std::vector<uint8_t> bytes(count);
  uint32_t state = seed;
  for (uint8_t& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

// Where byte i of row j of map m (from 0) lies in MAP.BIN.
size_t file_offset(int m, int j, int i) {
  return (m / 2) * 6552 + j * 84 + (m % 2) * 42 + i;
}

std::vector<uint8_t> split_by_formula(const std::vector<uint8_t>& file) {
  std::vector<uint8_t> maps(map_data_size);
  for (int m = 0; m < 4; ++m) {
    for (int j = 0; j < map_rows; ++j) {
      for (int i = 0; i < map_row_bytes; ++i) {
        maps[m * map_bytes + j * map_row_bytes + i] = file[file_offset(m, j, i)];
      }
    }
  }
  return maps;
}

TEST(SplitMapData, DeinterleavesTheTwoHalves) {
  const std::vector<uint8_t> file = scrambled_bytes(map_data_size, 1);
  std::vector<uint8_t> buffer = file;
  begin_stdout_capture();
  const int result = split_map_data(buffer.data(), map_data_size);
  EXPECT_EQ(end_stdout_capture(), "");
  ASSERT_EQ(result, 0);
  EXPECT_EQ(buffer, split_by_formula(file));
  // The landmarks of the file layout.
  EXPECT_EQ(buffer[1 * map_bytes], file[42]);
  EXPECT_EQ(buffer[42], file[84]);
  EXPECT_EQ(buffer[2 * map_bytes], file[6552]);
  EXPECT_EQ(buffer[map_data_size - 1], file[map_data_size - 1]);
}

TEST(SplitMapData, RefusesAnyOtherSizeAndLeavesTheBuffer) {
  for (int32_t size : {0, 13103, 13105}) {
    SCOPED_TRACE(size);
    const std::vector<uint8_t> original = scrambled_bytes(13105, 2);
    std::vector<uint8_t> buffer = original;
    begin_stdout_capture();
    const int result = split_map_data(buffer.data(), size);
    EXPECT_EQ(end_stdout_capture(), "error: data size mismatch\n");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(buffer, original);
  }
}

// A sheet of 16 tile columns whose every byte tells tile, position and byte
// within the pixel apart, sized exactly so that a stray read is caught.
tile_sheet make_sheet(int32_t tw, int32_t th, int32_t bpp, int32_t tile_rows) {
  tile_sheet sheet{};
  sheet.tile_width = tw;
  sheet.tile_height = th;
  sheet.bytes_per_pixel = bpp;
  sheet.bit_count = bpp == 1 ? 8 : bpp * 8;
  const size_t width = 16 * static_cast<size_t>(tw);
  const size_t size = width * th * tile_rows * bpp;
  sheet.pixels.reset(new uint8_t[size]);
  for (size_t sy = 0; sy < static_cast<size_t>(th * tile_rows); ++sy) {
    for (size_t sx = 0; sx < width; ++sx) {
      const size_t tile = (sy / th) * 16 + sx / tw;
      for (size_t k = 0; k < static_cast<size_t>(bpp); ++k) {
        sheet.pixels[(sy * width + sx) * bpp + k] =
            static_cast<uint8_t>(tile * 13 + (sx % tw) * 5 + (sy % th) * 3 + k * 101);
      }
    }
  }
  return sheet;
}

std::vector<uint8_t> reference_render(const tile_sheet& sheet, const uint8_t* map) {
  const size_t tw = sheet.tile_width, th = sheet.tile_height, bpp = sheet.bytes_per_pixel;
  const size_t width = 84 * tw, height = 78 * th, sheet_width = 16 * tw;
  std::vector<uint8_t> out(width * height * bpp);
  for (size_t y = 0; y < height; ++y) {
    for (size_t x = 0; x < width; ++x) {
      const size_t cx = x / tw, cy = y / th;
      const uint8_t byte = map[cy * 42 + cx / 2];
      const int code = cx % 2 == 0 ? byte >> 4 : byte & 0x0F;
      const size_t tile = expected_tile_of_code[code];
      const size_t sx = (tile % 16) * tw + x % tw;
      const size_t sy = (tile / 16) * th + y % th;
      for (size_t k = 0; k < bpp; ++k) {
        out[(y * width + x) * bpp + k] = sheet.pixels[(sy * sheet_width + sx) * bpp + k];
      }
    }
  }
  return out;
}

raster make_raster(const tile_sheet& sheet) {
  raster picture{};
  picture.width = sheet.tile_width * map_columns;
  picture.height = sheet.tile_height * map_rows;
  picture.bit_count = sheet.bit_count;
  picture.size = picture.width * picture.height * sheet.bytes_per_pixel;
  picture.pixels.reset(new uint8_t[picture.size]);
  // Stale bytes, as a raster reused from the previous map holds.
  std::memset(picture.pixels.get(), 0xAA, picture.size);
  return picture;
}

std::vector<uint8_t> raster_bytes(const raster& picture) {
  return std::vector<uint8_t>(picture.pixels.get(), picture.pixels.get() + picture.size);
}

TEST(RenderMap, CopiesOneTilePerCellAtEveryTileSizeAndDepth) {
  struct render_case {
    int32_t tw, th, bpp, tile_rows;
  };
  const render_case cases[] = {
      {32, 32, 1, 10},  // the disk's sheet
      {8, 8, 3, 4},     // 24-bit 8 x 8 tiles: a 672 x 624 raster
      {3, 2, 2, 4},     // narrow and flat 16-bit tiles
      {5, 7, 4, 4},     // 32-bit, odd sizes
      {1, 1, 1, 4},
      // Tile rows of 8, 16, 32, 64, 128 and 256 bytes have copies of their
      // own size; 192 bytes take the copy of any size.
      {8, 3, 1, 4},
      {16, 2, 1, 4},
      {8, 2, 4, 4},
      {16, 3, 4, 4},
      {32, 2, 4, 4},
      {64, 2, 4, 4},
      {64, 1, 3, 4},
  };
  std::vector<uint8_t> map = scrambled_bytes(map_bytes, 3);
  map[0] = 0x8F;  // cells 0 and 1: tiles 52 and 18
  for (int code = 0; code < 16; ++code)
    map[42 + code] = static_cast<uint8_t>(code * 0x11);
  for (const render_case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.tw << "x" << c.th << " bpp " << c.bpp);
    const tile_sheet sheet = make_sheet(c.tw, c.th, c.bpp, c.tile_rows);
    raster picture = make_raster(sheet);
    render_map(&picture, &sheet, map.data());
    EXPECT_EQ(raster_bytes(picture), reference_render(sheet, map.data()));
  }
  const tile_sheet small = make_sheet(8, 8, 3, 4);
  const raster small_picture = make_raster(small);
  EXPECT_EQ(small_picture.width, 672);
  EXPECT_EQ(small_picture.height, 624);
}

TEST(RenderMap, CellCodesDrawTheirTiles) {
  // Tiles of 1 x 1 pixel: the raster is the map's tile numbers themselves.
  tile_sheet sheet{};
  sheet.tile_width = 1;
  sheet.tile_height = 1;
  sheet.bytes_per_pixel = 1;
  sheet.bit_count = 8;
  sheet.pixels.reset(new uint8_t[64]);
  for (int t = 0; t < 64; ++t)
    sheet.pixels[t] = static_cast<uint8_t>(t);
  std::vector<uint8_t> map(map_bytes, 0);
  map[0] = 0x8F;
  for (int code = 0; code < 16; ++code)
    map[42 + code / 2] |= code % 2 ? code : code << 4;
  raster picture = make_raster(sheet);
  render_map(&picture, &sheet, map.data());
  EXPECT_EQ(picture.pixels[0], 52);
  EXPECT_EQ(picture.pixels[1], 18);
  for (int code = 0; code < 16; ++code) {
    EXPECT_EQ(picture.pixels[84 + code], expected_tile_of_code[code]) << "code " << code;
  }
  EXPECT_EQ(picture.pixels[84 * 78 - 1], 0);
}

std::string write_image(const std::string& path, disk_geometry geometry, const std::string& name,
                        const std::vector<uint8_t>& bytes) {
  disk_builder disk;
  format_disk(&disk, geometry);
  add_root_file(&disk, name, bytes);
  EXPECT_TRUE(write_disk(&disk, path));
  return path;
}

class ReadMapData : public scratch_directory_test {
 protected:
  void SetUp() override {
    scratch_directory_test::SetUp();
    path_ = path("disk.fdi");
  }
  std::string path_;
};

TEST_F(ReadMapData, ExtractsAndSplitsTheMapsOnEveryGeometry) {
  const std::vector<uint8_t> file = scrambled_bytes(map_data_size, 4);
  for (disk_geometry geometry :
       {disk_geometry::sectors_1232, disk_geometry::sectors_1440, disk_geometry::sectors_1280}) {
    SCOPED_TRACE(static_cast<int>(geometry));
    write_image(path_, geometry, "MAP.BIN", file);
    std::vector<uint8_t> buffer(map_data_size, 0);
    begin_stdout_capture();
    const int result = read_map_data(path_.c_str(), 4096, "MAP.BIN", buffer.data(), map_data_size);
    EXPECT_EQ(end_stdout_capture(), "");
    ASSERT_EQ(result, 0);
    EXPECT_EQ(buffer, split_by_formula(file));
  }
}

TEST_F(ReadMapData, FindsALowerCaseDirectoryName) {
  const std::vector<uint8_t> file = scrambled_bytes(map_data_size, 5);
  write_image(path_, disk_geometry::sectors_1232, "map.bin", file);
  std::vector<uint8_t> buffer(map_data_size, 0);
  begin_stdout_capture();
  const int result = read_map_data(path_.c_str(), 4096, "MAP.BIN", buffer.data(), map_data_size);
  EXPECT_EQ(end_stdout_capture(), "");
  ASSERT_EQ(result, 0);
  EXPECT_EQ(buffer, split_by_formula(file));
}

TEST_F(ReadMapData, ShortFileLeavesTheMissingTailAsTheBufferHeldIt) {
  const std::vector<uint8_t> file = scrambled_bytes(13000, 6);
  write_image(path_, disk_geometry::sectors_1232, "MAP.BIN", file);
  std::vector<uint8_t> buffer(map_data_size, 0);
  begin_stdout_capture();
  const int result = read_map_data(path_.c_str(), 4096, "MAP.BIN", buffer.data(), map_data_size);
  EXPECT_EQ(end_stdout_capture(), "file size mismatch 'MAP.BIN' 13000 != 13104 ... ignored\n");
  ASSERT_EQ(result, 0);
  std::vector<uint8_t> padded = file;
  padded.resize(map_data_size, 0);
  EXPECT_EQ(buffer, split_by_formula(padded));
  // Row 76 of map 4 from cell 44 on, and row 77 of maps 3 and 4, are zero.
  for (int i = 22; i < 42; ++i)
    EXPECT_EQ(buffer[3 * map_bytes + 76 * 42 + i], 0);
  for (int i = 0; i < 42; ++i) {
    EXPECT_EQ(buffer[2 * map_bytes + 77 * 42 + i], 0);
    EXPECT_EQ(buffer[3 * map_bytes + 77 * 42 + i], 0);
  }
}

TEST_F(ReadMapData, EveryFailurePrintsItsChain) {
  struct failure_case {
    const char* name;
    std::string file_name;  // empty: no image file
    std::vector<uint8_t> bytes;
    int32_t buffer_size;
    std::string output;  // "%s" stands for the image path
  };
  const std::vector<failure_case> cases = {
      {"missing image", "", {}, map_data_size, "open error '%s'\nerror: read disk image '%s'\n"},
      {"no map file", "MAPS.BIN", std::vector<uint8_t>(10), map_data_size,
       "can't find 'MAP.BIN'\nerror: read disk image '%s/MAP.BIN'\n"},
      {"map file too long", "MAP.BIN", std::vector<uint8_t>(13105), map_data_size,
       "file size error 'MAP.BIN' 13105 > 13104\nerror: read disk image '%s/MAP.BIN'\n"},
      {"buffer of another size", "MAP.BIN", std::vector<uint8_t>(13000), 13000,
       "error: data size mismatch\nerror: convert map data\n"},
  };
  for (const failure_case& c : cases) {
    SCOPED_TRACE(c.name);
    remove_tree(path_);
    if (!c.file_name.empty()) write_image(path_, disk_geometry::sectors_1232, c.file_name, c.bytes);
    std::string expected = c.output;
    for (size_t at; (at = expected.find("%s")) != std::string::npos;)
      expected.replace(at, 2, path_);
    std::vector<uint8_t> buffer(map_data_size, 0);
    begin_stdout_capture();
    const int result = read_map_data(path_.c_str(), 4096, "MAP.BIN", buffer.data(), c.buffer_size);
    EXPECT_EQ(end_stdout_capture(), expected);
    EXPECT_EQ(result, -1);
  }
}

TEST_F(ReadMapData, DiskTilesAndMapsRenderTogether) {
  // The whole tile path of a run: tiles and maps from one image, each map
  // rendered into the same raster.
  const std::vector<uint8_t> tiles = scrambled_bytes(egc_tile_data_size, 7);
  const std::vector<uint8_t> file = scrambled_bytes(map_data_size, 8);
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1232);
  add_root_file(&disk, "EGCTILES.BIN", tiles);
  add_root_file(&disk, "MAP.BIN", file);
  ASSERT_TRUE(write_disk(&disk, path_));
  tile_sheet sheet{};
  ASSERT_EQ(read_disk_shapes(path_.c_str(), 4096, &sheet, nullptr), 0);
  std::vector<uint8_t> maps(map_data_size, 0);
  ASSERT_EQ(read_map_data(path_.c_str(), 4096, "MAP.BIN", maps.data(), map_data_size), 0);
  raster picture = make_raster(sheet);
  EXPECT_EQ(picture.size, 6709248);
  for (int m = 0; m < 4; ++m) {
    SCOPED_TRACE(m);
    const uint8_t* map = maps.data() + m * map_bytes;
    render_map(&picture, &sheet, map);
    EXPECT_EQ(raster_bytes(picture), reference_render(sheet, map));
  }
}

}  // namespace
