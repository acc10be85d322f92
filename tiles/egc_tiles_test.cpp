#include "tiles/egc_tiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "testing/disk_builder.h"
#include "testing/scratch_directory_test.h"
#include "testing/test_support.h"

namespace {

constexpr int32_t sheet_bytes = egc_sheet_width * egc_sheet_height;

// Deterministic bytes that exercise every bit of every plane.
std::vector<uint8_t> scrambled_tile_data(uint32_t seed) {
  std::vector<uint8_t> data(egc_tile_data_size);
  uint32_t state = seed;
  for (uint8_t& byte : data) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(state >> 16);
  }
  return data;
}

// Decodes pixel by pixel, pulling each pixel's four plane bits, as an
// independent check of the sheet that decode_egc_tiles builds.
std::vector<uint8_t> reference_sheet(const std::vector<uint8_t>& data) {
  static constexpr int plane_value[4] = {8, 1, 2, 4};
  std::vector<uint8_t> sheet(sheet_bytes, 0);
  for (int y = 0; y < egc_sheet_height; ++y) {
    for (int x = 0; x < egc_sheet_width; ++x) {
      const int tile = (y / 32) * 16 + x / 32;
      if (tile >= egc_tile_count) continue;
      const int px = x % 32;
      const int py = y % 32;
      int index = 0;
      for (int p = 0; p < 4; ++p) {
        const uint8_t byte = data[512 * tile + 128 * p + 4 * py + px / 8];
        if (byte & (0x80 >> (px % 8))) index += plane_value[p];
      }
      sheet[y * egc_sheet_width + x] = static_cast<uint8_t>(index);
    }
  }
  return sheet;
}

std::vector<uint8_t> decode(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> sheet(sheet_bytes, 0);
  decode_egc_tiles(sheet.data(), data.data());
  return sheet;
}

std::vector<uint8_t> sheet_pixels(const tile_sheet& sheet) {
  return std::vector<uint8_t>(sheet.pixels.get(), sheet.pixels.get() + sheet_bytes);
}

TEST(EgcPalette, DigitalColoursRepeatedWithReservedByteSet) {
  for (int i = 0; i < 16; ++i) {
    SCOPED_TRACE(i);
    const uint8_t blue = (i & 1) ? 0xFF : 0x00;
    const uint8_t red = (i & 2) ? 0xFF : 0x00;
    const uint8_t green = (i & 4) ? 0xFF : 0x00;
    const uint8_t reserved = i >= 8 ? 0xFF : 0x00;
    EXPECT_EQ(egc_palette[i], (palette_entry{blue, green, red, reserved}));
    const uint8_t mask_value = i >= 8 ? 0xFF : 0x00;
    EXPECT_EQ(mask_source_palette[i],
              (palette_entry{mask_value, mask_value, mask_value, mask_value}));
  }
  EXPECT_EQ(mask_palette[0], (palette_entry{0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(mask_palette[1], (palette_entry{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(DecodeEgcTiles, FirstPlaneIsHighBitAndLeftmostPixelIsBitSeven) {
  std::vector<uint8_t> data(egc_tile_data_size, 0);
  data[0] = 0x80;    // plane 0, row 0, pixel 0
  data[128] = 0xC0;  // plane 1, row 0, pixels 0 and 1
  std::vector<uint8_t> expected(sheet_bytes, 0);
  expected[0] = 9;
  expected[1] = 1;
  EXPECT_EQ(decode(data), expected);
}

TEST(DecodeEgcTiles, EachPlaneContributesItsValue) {
  struct plane_case {
    int planes;  // bit p set: plane p has its bit set
    uint8_t index;
  };
  const plane_case cases[] = {{0b0001, 8},  {0b0010, 1}, {0b0100, 2}, {0b1000, 4},
                              {0b1111, 15}, {0b0110, 3}, {0b1001, 12}};
  for (const plane_case& c : cases) {
    SCOPED_TRACE(c.planes);
    std::vector<uint8_t> data(egc_tile_data_size, 0);
    // Tile 17, row 5, pixel 13: byte 1 of the row, bit 0x04.
    for (int p = 0; p < 4; ++p) {
      if (c.planes & (1 << p)) data[512 * 17 + 128 * p + 4 * 5 + 1] = 0x04;
    }
    std::vector<uint8_t> expected(sheet_bytes, 0);
    expected[(32 + 5) * egc_sheet_width + 32 + 13] = c.index;
    EXPECT_EQ(decode(data), expected);
  }
}

TEST(DecodeEgcTiles, TilesLandInSixteenColumnsAndLeaveTheRestZero) {
  // Every tile wholly one index, tile t having (t % 15) + 1.
  std::vector<uint8_t> data(egc_tile_data_size, 0);
  static constexpr uint8_t plane_value[4] = {8, 1, 2, 4};
  for (int t = 0; t < egc_tile_count; ++t) {
    const int index = t % 15 + 1;
    for (int p = 0; p < 4; ++p) {
      if (index & plane_value[p]) {
        for (int i = 0; i < 128; ++i)
          data[512 * t + 128 * p + i] = 0xFF;
      }
    }
  }
  std::vector<uint8_t> sheet = decode(data);
  for (int y = 0; y < egc_sheet_height; ++y) {
    for (int x = 0; x < egc_sheet_width; ++x) {
      const int tile = (y / 32) * 16 + x / 32;
      const int expected = tile < egc_tile_count ? tile % 15 + 1 : 0;
      ASSERT_EQ(sheet[y * egc_sheet_width + x], expected) << "x=" << x << " y=" << y;
    }
  }
  // The spot checks named for tiles 16 and 59.
  EXPECT_EQ(sheet[32 * egc_sheet_width + 0], 16 % 15 + 1);
  EXPECT_EQ(sheet[96 * egc_sheet_width + 352], 59 % 15 + 1);
  EXPECT_EQ(sheet[96 * egc_sheet_width + 384], 0);
}

TEST(DecodeEgcTiles, MatchesPixelByPixelDecodingOfArbitraryData) {
  std::vector<uint8_t> data = scrambled_tile_data(7);
  EXPECT_EQ(decode(data), reference_sheet(data));
}

// Builds a 1232-sector image (or another geometry) holding the given files.
std::string write_image(const std::string& dir, disk_geometry geometry,
                        const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files) {
  disk_builder disk;
  format_disk(&disk, geometry);
  for (const auto& [name, bytes] : files)
    add_root_file(&disk, name, bytes);
  const std::string path = dir + "/disk.fdi";
  EXPECT_TRUE(write_disk(&disk, path));
  return path;
}

class ReadDiskShapes : public scratch_directory_test {};

TEST_F(ReadDiskShapes, DecodesTheTileFileOnEveryGeometry) {
  const std::vector<uint8_t> data = scrambled_tile_data(11);
  for (disk_geometry geometry :
       {disk_geometry::sectors_1232, disk_geometry::sectors_1440, disk_geometry::sectors_1280}) {
    SCOPED_TRACE(static_cast<int>(geometry));
    const std::string image = write_image(directory, geometry, {{"EGCTILES.BIN", data}});
    tile_sheet sheet{};
    sheet.columns = 7;  // left as the caller gave them
    sheet.rows = 9;
    begin_stdout_capture();
    const int result = read_disk_shapes(image.c_str(), 4096, &sheet, nullptr);
    EXPECT_EQ(end_stdout_capture(), "");
    ASSERT_EQ(result, 0);
    EXPECT_EQ(sheet.tile_width, 32);
    EXPECT_EQ(sheet.tile_height, 32);
    EXPECT_EQ(sheet.bit_count, 4);
    EXPECT_EQ(sheet.bytes_per_pixel, 1);
    EXPECT_EQ(sheet.columns, 7u);
    EXPECT_EQ(sheet.rows, 9u);
    EXPECT_EQ(sheet_pixels(sheet), reference_sheet(data));
    ASSERT_TRUE(sheet.palette);
    EXPECT_EQ(std::vector<palette_entry>(sheet.palette.get(), sheet.palette.get() + 16),
              std::vector<palette_entry>(egc_palette, egc_palette + 16));
  }
}

TEST_F(ReadDiskShapes, FindsTheFileWhateverTheCaseOfItsDirectoryName) {
  const std::vector<uint8_t> data = scrambled_tile_data(3);
  const std::string image =
      write_image(directory, disk_geometry::sectors_1232, {{"EgcTiles.bin", data}});
  tile_sheet sheet{};
  begin_stdout_capture();
  const int result = read_disk_shapes(image.c_str(), 4096, &sheet, nullptr);
  EXPECT_EQ(end_stdout_capture(), "");
  ASSERT_EQ(result, 0);
  EXPECT_EQ(sheet_pixels(sheet), reference_sheet(data));
}

// Leaves stale non-zero bytes on the stack, where the next call's locals lie.
[[gnu::noinline]] void dirty_stack() {
  volatile uint8_t junk[64 * 1024];
  for (auto& byte : junk)
    byte = 0xFF;
}

TEST_F(ReadDiskShapes, ShortFileDecodesItsMissingTailAsZero) {
  // One whole tile of index 15, then the file ends.
  const std::vector<uint8_t> data(512, 0xFF);
  const std::string image =
      write_image(directory, disk_geometry::sectors_1232, {{"EGCTILES.BIN", data}});
  tile_sheet sheet{};
  dirty_stack();
  begin_stdout_capture();
  const int result = read_disk_shapes(image.c_str(), 4096, &sheet, nullptr);
  EXPECT_EQ(end_stdout_capture(), "file size mismatch 'EGCTILES.BIN' 512 != 30720 ... ignored\n");
  ASSERT_EQ(result, 0);
  std::vector<uint8_t> full(egc_tile_data_size, 0);
  std::copy(data.begin(), data.end(), full.begin());
  EXPECT_EQ(sheet_pixels(sheet), reference_sheet(full));
}

TEST_F(ReadDiskShapes, MaskSheetHoldsThePlaneZeroBit) {
  std::vector<uint8_t> data(egc_tile_data_size, 0);
  data[0] = 0x80;
  data[128] = 0xC0;
  const std::string image =
      write_image(directory, disk_geometry::sectors_1232, {{"EGCTILES.BIN", data}});
  tile_sheet sheet{};
  tile_sheet mask{};
  begin_stdout_capture();
  const int result = read_disk_shapes(image.c_str(), 4096, &sheet, &mask);
  EXPECT_EQ(end_stdout_capture(), "");
  ASSERT_EQ(result, 0);
  EXPECT_EQ(mask.tile_width, 32);
  EXPECT_EQ(mask.tile_height, 32);
  EXPECT_EQ(mask.bit_count, 1);
  EXPECT_EQ(mask.bytes_per_pixel, 1);
  std::vector<uint8_t> expected(sheet_bytes, 0);
  expected[0] = 1;  // index 9; pixel 1 has index 1 and stays 0
  EXPECT_EQ(sheet_pixels(mask), expected);
  ASSERT_TRUE(mask.palette);
  EXPECT_EQ(mask.palette[0], mask_palette[0]);
  EXPECT_EQ(mask.palette[1], mask_palette[1]);

  // Over arbitrary tiles the mask is 1 exactly where the index is 8 or more.
  const std::vector<uint8_t> scrambled = scrambled_tile_data(5);
  const std::string image2 =
      write_image(directory, disk_geometry::sectors_1440, {{"EGCTILES.BIN", scrambled}});
  tile_sheet sheet2{};
  tile_sheet mask2{};
  ASSERT_EQ(read_disk_shapes(image2.c_str(), 4096, &sheet2, &mask2), 0);
  std::vector<uint8_t> expected2 = reference_sheet(scrambled);
  for (uint8_t& pixel : expected2)
    pixel = pixel >= 8 ? 1 : 0;
  EXPECT_EQ(sheet_pixels(mask2), expected2);
}

TEST_F(ReadDiskShapes, EveryFailureLeavesTheBuffersAndPrintsItsChain) {
  const std::string path = directory + "/disk.fdi";
  struct failure_case {
    const char* name;
    std::vector<uint8_t> image;  // empty: no image file at all
    std::string output;          // "%s" stands for the image path
  };
  auto image_with = [](const std::string& name, std::vector<uint8_t> bytes) {
    disk_builder disk;
    format_disk(&disk, disk_geometry::sectors_1232);
    add_root_file(&disk, name, bytes);
    return disk_bytes(&disk);
  };
  auto broken_chain = [] {
    // Recorded as a whole tile file, but the chain ends after two clusters.
    disk_builder disk;
    format_disk(&disk, disk_geometry::sectors_1232);
    const int32_t clusters[] = {2, 3};
    add_file_on_chain(&disk, root_directory, "EGCTILES.BIN", clusters,
                      std::vector<uint8_t>(2048, 1), egc_tile_data_size);
    return disk_bytes(&disk);
  };
  std::vector<uint8_t> odd_size = image_with("EGCTILES.BIN", std::vector<uint8_t>(100, 0));
  odd_size.push_back(0);
  const std::vector<failure_case> cases = {
      {"missing image", {}, "open error '%s'\nerror: read disk image '%s'\n"},
      {"unsupported size", odd_size, "unsupported image '%s'\nerror: read disk image '%s'\n"},
      {"no tile file", image_with("MAP.BIN", std::vector<uint8_t>(10, 0)),
       "can't find 'EGCTILES.BIN'\nerror: read disk image '%s/EGCTILES.BIN'\n"},
      {"tile file too long", image_with("EGCTILES.BIN", std::vector<uint8_t>(30721, 0)),
       "file size error 'EGCTILES.BIN' 30721 > 30720\n"
       "error: read disk image '%s/EGCTILES.BIN'\n"},
      {"chain ends early", broken_chain(),
       "illegal cluster 0xFFF\nerror: read disk image '%s/EGCTILES.BIN'\n"},
  };
  for (const failure_case& c : cases) {
    SCOPED_TRACE(c.name);
    remove_tree(path);
    if (!c.image.empty()) {
      ASSERT_TRUE(write_file_bytes(path, c.image));
    }
    std::string expected = c.output;
    for (size_t at; (at = expected.find("%s")) != std::string::npos;) {
      expected.replace(at, 2, path);
    }
    for (bool with_mask : {false, true}) {
      tile_sheet sheet{};
      tile_sheet mask{};
      begin_stdout_capture();
      const int result = read_disk_shapes(path.c_str(), 4096, &sheet, with_mask ? &mask : nullptr);
      EXPECT_EQ(end_stdout_capture(), expected);
      EXPECT_EQ(result, -1);
      EXPECT_TRUE(sheet.pixels);
      EXPECT_TRUE(sheet.palette);
      EXPECT_EQ(sheet.bit_count, 4);
      if (sheet.pixels) {
        EXPECT_EQ(sheet_pixels(sheet), std::vector<uint8_t>(sheet_bytes, 0));
      }
      EXPECT_EQ(static_cast<bool>(mask.pixels), with_mask);
      EXPECT_EQ(static_cast<bool>(mask.palette), with_mask);
    }
  }
}

}  // namespace
