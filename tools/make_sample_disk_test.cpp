#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "diskimage/disk_image.h"
#include "testing/test_support.h"
#include "tiles/egc_tiles.h"
#include "tiles/map_render.h"

namespace {

const std::string tool = MAKE_SAMPLE_DISK_PATH;

class MakeSampleDisk : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = make_temp_dir(); }
  void TearDown() override { remove_tree(dir_); }
  std::string dir_;
};

uint64_t fnv1a(const std::vector<uint8_t>& bytes) {
  uint64_t hash = 0xCBF29CE484222325u;
  for (uint8_t byte : bytes)
    hash = (hash ^ byte) * 0x100000001B3u;
  return hash;
}

TEST_F(MakeSampleDisk, WithoutExactlyOneArgumentPrintsUsage) {
  for (const std::vector<std::string>& argv :
       {std::vector<std::string>{tool}, std::vector<std::string>{tool, "a.fdi", "b.fdi"}}) {
    SCOPED_TRACE(argv.size());
    const process_result result = run_program(argv, dir_, "");
    EXPECT_EQ(result.output, "usage: make_sample_disk OUTPUT.fdi\n");
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(result.exit_status, 1);
  }
  EXPECT_FALSE(file_exists(dir_ + "/a.fdi"));
}

TEST_F(MakeSampleDisk, ReportsAnImageItCannotWrite) {
  const process_result result = run_program({tool, "missing/disk.fdi"}, dir_, "");
  EXPECT_EQ(result.output, "error: write 'missing/disk.fdi'\n");
  EXPECT_EQ(result.exit_status, 1);
}

TEST_F(MakeSampleDisk, WritesTheSameImageOnEveryRun) {
  for (const char* name : {"one.fdi", "two.fdi"}) {
    const process_result result = run_program({tool, name}, dir_, "");
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(result.errors, "");
    ASSERT_EQ(result.exit_status, 0);
  }
  const std::vector<uint8_t> one = read_file_bytes(dir_ + "/one.fdi");
  EXPECT_EQ(one.size(), 1265664u);  // a 1232-sector disk behind a 4096-byte header
  EXPECT_EQ(one, read_file_bytes(dir_ + "/two.fdi"));
  // Pinned, so that a build whose compiler or library changes a single byte
  // is caught. Changing the tiles or the maps on purpose changes this value.
  EXPECT_EQ(fnv1a(one), 0x6E0003B37A1552ECu);
}

TEST_F(MakeSampleDisk, ImageHoldsTilesAndFourDistinctContinents) {
  const std::string image = dir_ + "/O1_Orvane.fdi";
  ASSERT_EQ(run_program({tool, image}, dir_, "").exit_status, 0);

  disk_image disk{};
  ASSERT_EQ(open_disk_image(&disk, image.c_str(), 4096), 0);
  EXPECT_EQ(disk.total_sectors, 1232);
  EXPECT_EQ(image_file_size(&disk, "EGCTILES.BIN", 0), egc_tile_data_size);
  EXPECT_EQ(image_file_size(&disk, "MAP.BIN", 0), map_data_size);
  close_disk_image(&disk, 0);

  // Both files load as the map tool loads them, without a warning.
  tile_sheet sheet{};
  std::vector<uint8_t> maps(map_data_size, 0);
  begin_stdout_capture();
  const int shapes = read_disk_shapes(image.c_str(), 4096, &sheet, nullptr);
  const int data = read_map_data(image.c_str(), 4096, "MAP.BIN", maps.data(), map_data_size);
  EXPECT_EQ(end_stdout_capture(), "");
  ASSERT_EQ(shapes, 0);
  ASSERT_EQ(data, 0);

  // Every tile a map draws is a picture of its own.
  std::vector<std::vector<uint8_t>> pictures;
  for (uint8_t tile : cell_tile_table) {
    std::vector<uint8_t> picture;
    const uint8_t* corner = sheet.pixels.get() + (tile / 16) * 32 * 512 + (tile % 16) * 32;
    for (int y = 0; y < 32; ++y) {
      picture.insert(picture.end(), corner + y * 512, corner + y * 512 + 32);
    }
    for (size_t other = 0; other < pictures.size(); ++other) {
      EXPECT_NE(picture, pictures[other])
          << "tiles " << int{tile} << " and " << int{cell_tile_table[other]};
    }
    pictures.push_back(picture);
  }

  // Each map is open sea along its edges, has one castle, some towns, and
  // differs from the others.
  auto code = [&](int m, int x, int y) {
    const uint8_t byte = maps[m * map_bytes + y * map_row_bytes + x / 2];
    return x % 2 == 0 ? byte >> 4 : byte & 0x0F;
  };
  for (int m = 0; m < 4; ++m) {
    SCOPED_TRACE(m);
    int castles = 0, towns = 0;
    std::set<int> codes;
    for (int y = 0; y < map_rows; ++y) {
      for (int x = 0; x < map_columns; ++x) {
        const int c = code(m, x, y);
        codes.insert(c);
        castles += c == 8;
        towns += c == 12;
        if (x == 0 || y == 0 || x == map_columns - 1 || y == map_rows - 1) {
          ASSERT_EQ(c, 0) << "x=" << x << " y=" << y;
        }
      }
    }
    EXPECT_EQ(castles, 1);
    EXPECT_GE(towns, 4);
    EXPECT_GE(codes.size(), 12u);
    for (int other = 0; other < m; ++other) {
      EXPECT_NE(
          std::vector<uint8_t>(maps.begin() + m * map_bytes, maps.begin() + (m + 1) * map_bytes),
          std::vector<uint8_t>(maps.begin() + other * map_bytes,
                               maps.begin() + (other + 1) * map_bytes));
    }
  }
}

}  // namespace
