// Disks formatted and filled by mtools, an independent FAT implementation,
// are read by the module, and files the module writes back are read by
// mtools unchanged. Skipped where mtools is not installed.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "diskimage/disk_image.h"
#include "diskimage/disk_test_fixture.h"

namespace {

bool have_mtools() {
  return std::system("mformat --version >/dev/null 2>&1") == 0;
}

int run(const std::string& command) {
  return std::system(("MTOOLS_SKIP_CHECK=1 " + command + " >/dev/null 2>&1").c_str());
}

// mformat options that give each geometry's layout: reserved sectors, FAT
// size, root directory size and cluster size as the module's table has them.
struct mformat_case {
  disk_geometry geometry;
  const char* options;
};

constexpr mformat_case mformat_cases[] = {
    {disk_geometry::sectors_1232, "-T 1232 -h 2 -s 8 -M 1024 -S 3 -r 6 -c 1 -m 0xfe"},
    {disk_geometry::sectors_1440, "-t 80 -h 2 -s 9 -r 7 -c 2"},
    {disk_geometry::sectors_1280, "-t 80 -h 2 -s 8 -r 7 -c 2"},
};

class Mtools : public DiskTest, public testing::WithParamInterface<mformat_case> {
 protected:
  void SetUp() override {
    DiskTest::SetUp();
    if (!have_mtools()) GTEST_SKIP() << "mtools not installed";
  }

  // A zero-filled image file formatted by mformat behind a 4096-byte header.
  std::string format_with_mtools() {
    const disk_layout& l = layout_of(GetParam().geometry);
    const std::string image = path("mtools.fdi");
    EXPECT_TRUE(write_file_bytes(image, std::vector<uint8_t>(4096 + l.data_size)));
    EXPECT_EQ(run("mformat -i '" + image + "@@4096' " + GetParam().options + " ::"), 0);
    return image;
  }

  std::string copy_in(const std::string& image, const std::vector<uint8_t>& bytes,
                      const std::string& host_name, const std::string& disk_name) {
    const std::string host = path(host_name);
    EXPECT_TRUE(write_file_bytes(host, bytes));
    EXPECT_EQ(run("mcopy -i '" + image + "@@4096' '" + host + "' ::" + disk_name), 0);
    return host;
  }

  std::vector<uint8_t> copy_out(const std::string& image, const std::string& disk_name) {
    const std::string host = path("out.bin");
    std::remove(host.c_str());
    EXPECT_EQ(run("mcopy -n -i '" + image + "@@4096' ::" + disk_name + " '" + host + "'"), 0);
    return read_file_bytes(host);
  }
};

INSTANTIATE_TEST_SUITE_P(AllGeometries, Mtools, testing::ValuesIn(mformat_cases),
                         [](const auto& info) { return geometry_name(info.param.geometry); });

uint32_t le16_at(const uint8_t* bytes) {
  return bytes[0] | (bytes[1] << 8);
}

TEST_P(Mtools, FormattedDiskHasTheTableLayout) {
  const std::string image = format_with_mtools();
  disk_image loaded{};
  ASSERT_EQ(open_disk_image(&loaded, image.c_str(), 4096), 0);
  const uint8_t* boot = loaded.file_data.get() + 4096;
  EXPECT_EQ(le16_at(boot + 11), static_cast<uint32_t>(loaded.bytes_per_sector));
  EXPECT_EQ(boot[13], loaded.sectors_per_cluster);
  EXPECT_EQ(le16_at(boot + 14), static_cast<uint32_t>(loaded.fat_start_sector));
  EXPECT_EQ(boot[16], 2);
  EXPECT_EQ(le16_at(boot + 17), static_cast<uint32_t>(loaded.root_dir_entries));
  EXPECT_EQ(le16_at(boot + 19), static_cast<uint32_t>(loaded.total_sectors));
  EXPECT_EQ(le16_at(boot + 22), static_cast<uint32_t>(loaded.fat_sectors));
  EXPECT_EQ(le16_at(boot + 24), static_cast<uint32_t>(loaded.sectors_per_track));
  EXPECT_EQ(le16_at(boot + 26), static_cast<uint32_t>(loaded.heads));
  EXPECT_EQ(next_cluster(&loaded, 0) & 0xFF, boot[21]);  // media byte in entry 0
  close_disk_image(&loaded, 0);
}

TEST_P(Mtools, ModuleReadsFilesMtoolsWrote) {
  const std::string image = format_with_mtools();
  const std::vector<uint8_t> map = pattern(13104, 3);
  const std::vector<uint8_t> tiles = pattern(30720, 8);
  const std::vector<uint8_t> nested = pattern(5000, 13);
  copy_in(image, pattern(2000, 1), "first.bin", "FIRST.BIN");
  copy_in(image, map, "MAP.BIN", "MAP.BIN");
  ASSERT_EQ(run("mmd -i '" + image + "@@4096' ::SUB"), 0);
  copy_in(image, nested, "NESTED.TXT", "SUB/NESTED.TXT");
  // Deleting the first file frees its clusters and leaves a deleted entry;
  // the next file takes the freed clusters first and continues elsewhere.
  ASSERT_EQ(run("mdel -i '" + image + "@@4096' ::FIRST.BIN"), 0);
  copy_in(image, tiles, "egctiles.bin", "egctiles.bin");
  ASSERT_TRUE(load_image(image));

  std::vector<uint8_t> buffer(13104);
  begin_stdout_capture();
  EXPECT_EQ(read_image_file(&image_, "map.bin", buffer.data(), 13104, 1), 0);
  std::vector<uint8_t> tile_buffer(30720);
  EXPECT_EQ(read_image_file(&image_, "EGCTILES.BIN", tile_buffer.data(), 30720, 1), 0);
  int32_t cluster = -1, limit = -1;
  EXPECT_EQ(walk_image_path(&image_, "SUB", &cluster, &limit, 0), 0);
  const std::string output = end_stdout_capture();
  EXPECT_EQ(buffer, map);
  EXPECT_EQ(tile_buffer, tiles);
  ASSERT_EQ(output.rfind("DEBUG: SUB         ", 0), 0u) << output;
  const uint8_t* entry = find_dir_entry(&image_, cluster, limit, "NESTED  TXT", 0);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(dir_entry_size(entry), 5000);
}

TEST_P(Mtools, MtoolsReadsWhatTheModuleWroteBack) {
  const std::string image = format_with_mtools();
  const std::vector<uint8_t> tiles = pattern(30720, 2);
  copy_in(image, pattern(13104, 4), "MAP.BIN", "MAP.BIN");
  copy_in(image, tiles, "EGCTILES.BIN", "EGCTILES.BIN");
  ASSERT_TRUE(load_image(image));

  const std::vector<uint8_t> new_map = pattern(13104, 99);
  begin_stdout_capture();
  EXPECT_EQ(write_image_file(&image_, "MAP.BIN", new_map.data(), 13104, 0), 0);
  const std::string saved = path("saved.fdi");
  EXPECT_EQ(save_disk_image(&image_, saved.c_str()), 0);
  EXPECT_EQ(end_stdout_capture(), "");
  EXPECT_EQ(copy_out(saved, "MAP.BIN"), new_map);
  EXPECT_EQ(copy_out(saved, "EGCTILES.BIN"), tiles);
  EXPECT_EQ(run("mdir -i '" + saved + "@@4096' ::"), 0);
}

}  // namespace
