// Loading, geometry recognition, FAT decoding and cluster arithmetic.

#include "diskimage/disk_image.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "diskimage/disk_test_fixture.h"

namespace {

std::vector<int32_t> every_number(const disk_image& image) {
  return {image.header_size,
          image.file_size,
          image.cluster_count,
          image.cylinders,
          image.heads,
          image.sectors_per_track,
          image.bytes_per_sector,
          image.total_sectors,
          image.fat_start_sector,
          image.fat_sectors,
          image.root_dir_sector,
          image.root_dir_entries,
          image.root_dir_sectors,
          image.data_start_sector,
          image.sectors_per_cluster};
}

void expect_closed(const disk_image& image) {
  EXPECT_EQ(image.file_data, nullptr);
  EXPECT_EQ(image.fat, nullptr);
  EXPECT_EQ(every_number(image), std::vector<int32_t>(15, 0));
}

// Opens path into image and returns everything printed.
std::string open_output(disk_image* image, const std::string& path, int32_t header_size,
                        int* status) {
  begin_stdout_capture();
  *status = open_disk_image(image, path.c_str(), header_size);
  return end_stdout_capture();
}

// Every field of the geometry table, per geometry.
struct geometry_row {
  disk_geometry geometry;
  int32_t file_size, cylinders, heads, sectors_per_track, bytes_per_sector, total_sectors,
      fat_start_sector, fat_sectors, root_dir_sector, root_dir_entries, root_dir_sectors,
      data_start_sector, sectors_per_cluster, cluster_count;
};

constexpr geometry_row geometry_rows[] = {
    {disk_geometry::sectors_1232, 1265664, 77, 2, 8, 1024, 1232, 1, 2, 5, 192, 6, 11, 1, 1221},
    {disk_geometry::sectors_1440, 741376, 80, 2, 9, 512, 1440, 1, 3, 7, 112, 7, 14, 2, 713},
    {disk_geometry::sectors_1280, 659456, 80, 2, 8, 512, 1280, 1, 2, 5, 112, 7, 12, 2, 634},
};

class GeometryRowTest : public DiskTest, public testing::WithParamInterface<geometry_row> {};

INSTANTIATE_TEST_SUITE_P(AllGeometries, GeometryRowTest, testing::ValuesIn(geometry_rows),
                         [](const auto& info) { return geometry_name(info.param.geometry); });

TEST_P(GeometryRowTest, LoadsWithEveryFieldOfItsColumn) {
  const geometry_row& row = GetParam();
  disk_builder disk;
  format_disk(&disk, row.geometry);
  load(disk);
  EXPECT_EQ(image_.header_size, 4096);
  EXPECT_EQ(image_.file_size, row.file_size);
  EXPECT_EQ(image_.cylinders, row.cylinders);
  EXPECT_EQ(image_.heads, row.heads);
  EXPECT_EQ(image_.sectors_per_track, row.sectors_per_track);
  EXPECT_EQ(image_.bytes_per_sector, row.bytes_per_sector);
  EXPECT_EQ(image_.total_sectors, row.total_sectors);
  EXPECT_EQ(image_.fat_start_sector, row.fat_start_sector);
  EXPECT_EQ(image_.fat_sectors, row.fat_sectors);
  EXPECT_EQ(image_.root_dir_sector, row.root_dir_sector);
  EXPECT_EQ(image_.root_dir_entries, row.root_dir_entries);
  EXPECT_EQ(image_.root_dir_sectors, row.root_dir_sectors);
  EXPECT_EQ(image_.data_start_sector, row.data_start_sector);
  EXPECT_EQ(image_.sectors_per_cluster, row.sectors_per_cluster);
  EXPECT_EQ(image_.cluster_count, row.cluster_count);
  ASSERT_NE(image_.file_data, nullptr);
  ASSERT_NE(image_.fat, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(image_.file_data.get(), image_.file_data.get() + row.file_size),
            disk_bytes(&disk));
}

TEST_P(GeometryRowTest, SizesOneByteOffAreRefusedAndLeaveTheRecordClosed) {
  const geometry_row& row = GetParam();
  disk_builder disk;
  format_disk(&disk, row.geometry);
  std::vector<uint8_t> bytes = disk_bytes(&disk);
  const std::string file = path("odd.fdi");
  std::vector<uint8_t> longer(bytes);
  longer.push_back(0);
  std::vector<uint8_t> shorter(bytes.begin(), bytes.end() - 1);
  for (const std::vector<uint8_t>* variant : {&longer, &shorter}) {
    ASSERT_TRUE(write_file_bytes(file, *variant));
    int status = 0;
    EXPECT_EQ(open_output(&image_, file, 4096, &status), "unsupported image '" + file + "'\n");
    EXPECT_EQ(status, -1);
    expect_closed(image_);
  }
}

TEST_P(GeometryRowTest, FatTableEndsAtClusterCountAndDecodesItsLastEntry) {
  const geometry_row& row = GetParam();
  disk_builder disk;
  format_disk(&disk, row.geometry);
  // The last entry in the table and the first one beyond it share a byte
  // triple when the count is odd.
  set_fat_entry(&disk, row.cluster_count - 2, 0x5A5);
  set_fat_entry(&disk, row.cluster_count - 1, 0xABC);
  set_fat_entry(&disk, row.cluster_count, 0x123);
  set_fat_entry(&disk, row.cluster_count + 1, 0xFFF);
  load(disk);
  EXPECT_EQ(next_cluster(&image_, row.cluster_count - 2), 0x5A5);
  EXPECT_EQ(next_cluster(&image_, row.cluster_count - 1), 0xABC);
  EXPECT_EQ(next_cluster(&image_, row.cluster_count), -1);
  EXPECT_EQ(next_cluster(&image_, -1), -1);
  EXPECT_EQ(next_cluster(&image_, 0), 0xF00 | layout_of(row.geometry).media_byte);
  EXPECT_EQ(next_cluster(&image_, 1), 0xFFF);
  EXPECT_EQ(next_cluster(&image_, 2), 0);
}

TEST_P(GeometryRowTest, ClusterToSectorAcceptsTwoUpToBelowClusterCount) {
  const geometry_row& row = GetParam();
  disk_builder disk;
  format_disk(&disk, row.geometry);
  load(disk);
  const int32_t last = row.cluster_count - 1;
  EXPECT_EQ(cluster_to_sector(&image_, 2), row.data_start_sector);
  EXPECT_EQ(cluster_to_sector(&image_, 3), row.data_start_sector + row.sectors_per_cluster);
  EXPECT_EQ(cluster_to_sector(&image_, last),
            row.data_start_sector + (last - 2) * row.sectors_per_cluster);
  for (int32_t invalid : {row.cluster_count, row.cluster_count + 1, 1, 0, -1, 0xFFF})
    EXPECT_EQ(cluster_to_sector(&image_, invalid), -1) << invalid;
  EXPECT_EQ(sector_offset(&image_, 0), 4096);
  EXPECT_EQ(sector_offset(&image_, row.data_start_sector),
            4096 + row.data_start_sector * row.bytes_per_sector);
}

TEST_F(DiskTest, ClusterArithmeticExamples) {
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1232);
  load(disk);
  EXPECT_EQ(cluster_to_sector(&image_, 2), 11);
  EXPECT_EQ(cluster_to_sector(&image_, 1220), 1229);
  EXPECT_EQ(cluster_to_sector(&image_, 1221), -1);
  close_disk_image(&image_, 0);
  format_disk(&disk, disk_geometry::sectors_1440);
  load(disk);
  EXPECT_EQ(cluster_to_sector(&image_, 2), 14);
  EXPECT_EQ(cluster_to_sector(&image_, 3), 16);
  EXPECT_EQ(sector_offset(&image_, 14), 11264);
}

TEST_F(DiskTest, HeaderSizeZeroLoadsABareSectorDump) {
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1232, 0);
  load(disk, 0);
  EXPECT_EQ(image_.file_size, 0x134000);
  EXPECT_EQ(image_.total_sectors, 1232);
  EXPECT_EQ(sector_offset(&image_, 1), 1024);
  EXPECT_EQ(next_cluster(&image_, 0), 0xFFE);
}

TEST_F(DiskTest, HeaderAndBootSectorContentAreIgnored) {
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1440);
  set_fat_entry(&disk, 2, 0x003);
  load(disk);
  const std::vector<int32_t> reference = every_number(image_);
  close_disk_image(&image_, 0);

  // Header all zeros, then all 0xFF; a boot sector of nonsense.
  for (uint8_t fill : {0x00, 0xFF}) {
    std::fill(disk.header.begin(), disk.header.end(), fill);
    std::span<uint8_t> boot = sector_bytes(&disk, 0);
    std::fill(boot.begin(), boot.end(), static_cast<uint8_t>(fill ^ 0x5A));
    load(disk);
    EXPECT_EQ(every_number(image_), reference);
    EXPECT_EQ(next_cluster(&image_, 2), 0x003);
    close_disk_image(&image_, 0);
  }
}

TEST_F(DiskTest, DecodesPackedEntriesFromTheFirstCopyOnly) {
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1280);
  const uint8_t first_bytes[] = {0xF8, 0xFF, 0xFF, 0x03, 0x40, 0x00};
  std::span<uint8_t> fat = sector_bytes(&disk, 1);
  std::copy(std::begin(first_bytes), std::end(first_bytes), fat.begin());
  // The second copy disagrees and must not be looked at.
  std::span<uint8_t> second = sector_bytes(&disk, 3);
  std::fill(second.begin(), second.end(), 0x77);
  load(disk);
  EXPECT_EQ(next_cluster(&image_, 0), 0xFF8);
  EXPECT_EQ(next_cluster(&image_, 1), 0xFFF);
  EXPECT_EQ(next_cluster(&image_, 2), 0x003);
  EXPECT_EQ(next_cluster(&image_, 3), 0x004);
  EXPECT_EQ(next_cluster(&image_, 4), 0);
}

TEST_F(DiskTest, EmptyAndMissingFiles) {
  const std::string empty = path("empty.fdi");
  ASSERT_TRUE(write_file_bytes(empty, {}));
  int status = 0;
  EXPECT_EQ(open_output(&image_, empty, 4096, &status), "read error '" + empty + "'\n");
  EXPECT_EQ(status, -1);
  expect_closed(image_);

  const std::string missing = path("missing.fdi");
  EXPECT_EQ(open_output(&image_, missing, 4096, &status), "open error '" + missing + "'\n");
  EXPECT_EQ(status, -1);
  expect_closed(image_);
  close_disk_image(&image_, 0);
  close_disk_image(&image_, 0);
  expect_closed(image_);
}

// A file far beyond any image is refused from its size alone. 4 GiB plus
// the size of a real image would, cut to 32 bits, pass for that image.
TEST_F(DiskTest, HugeFileIsRefusedWithoutBeingRead) {
  const std::string huge = path("huge.fdi");
  for (int64_t size :
       {int64_t{0x100000000} + 741376, int64_t{4096} + 0x134000 + 1, int64_t{0x80000000}}) {
    ASSERT_TRUE(write_file_bytes(huge, {}));
    ASSERT_EQ(truncate(huge.c_str(), static_cast<off_t>(size)), 0);
    int status = 0;
    EXPECT_EQ(open_output(&image_, huge, 4096, &status), "unsupported image '" + huge + "'\n")
        << size;
    EXPECT_EQ(status, -1);
    expect_closed(image_);
  }
}

// Sector positions start at the header size; a negative one would place
// sectors before the loaded bytes.
TEST_F(DiskTest, NegativeHeaderSizeIsRefused) {
  const std::string file = path("short.fdi");
  ASSERT_TRUE(write_file_bytes(file, std::vector<uint8_t>(0x134000 - 4096)));
  int status = 0;
  EXPECT_EQ(open_output(&image_, file, -4096, &status), "unsupported image '" + file + "'\n");
  EXPECT_EQ(status, -1);
  expect_closed(image_);
}

TEST_F(DiskTest, ReopeningALoadedRecordAndFreeingAHeapRecord) {
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1232);
  load(disk);
  load(disk);  // the previous buffers are released, not leaked
  disk_image* heap = new (std::nothrow) disk_image{};
  ASSERT_NE(heap, nullptr);
  ASSERT_EQ(open_disk_image(heap, image_path_.c_str(), 4096), 0);
  close_disk_image(heap, 1);
}

TEST_F(DiskTest, LoadFatNeedsALoadedFileAndRoomForEveryEntry) {
  disk_image empty{};
  EXPECT_EQ(load_fat(nullptr), -1);
  EXPECT_EQ(load_fat(&empty), -1);

  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1232);
  load(disk);
  image_.fat_sectors = 1;  // 1024 bytes hold 682 entries, not 1221
  begin_stdout_capture();
  EXPECT_EQ(load_fat(&image_), -1);
  EXPECT_EQ(end_stdout_capture(), "can't calculate FAT size\n");

  // A FAT placed beyond the loaded bytes is not read.
  image_.fat_sectors = 2;
  image_.fat_start_sector = 1231;
  begin_stdout_capture();
  EXPECT_EQ(load_fat(&image_), -1);
  EXPECT_EQ(end_stdout_capture(), "");
}

}  // namespace
