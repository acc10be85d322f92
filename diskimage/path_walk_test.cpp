// The path walk with its DEBUG lines, the entry texts, and the
// cluster / sector / cylinder-head-sector conversions.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "diskimage/disk_image.h"
#include "diskimage/disk_test_fixture.h"

namespace {

struct walk_result {
  int status;
  int32_t cluster;
  int32_t limit;
  std::string output;
};

walk_result walk(const disk_image* image, const char* path, int ignore_case = 0) {
  walk_result result{0, -7, -7, {}};
  begin_stdout_capture();
  result.status = walk_image_path(image, path, &result.cluster, &result.limit, ignore_case);
  result.output = end_stdout_capture();
  return result;
}

// A disk with MAP.BIN (clusters 2 and 7 to 18), SUB (clusters 3 and 4)
// holding DEEPER (cluster 5) holding NESTED.TXT (cluster 6).
class PathWalk : public DiskTest {
 protected:
  void SetUp() override {
    DiskTest::SetUp();
    format_disk(&disk_, disk_geometry::sectors_1232);
    std::vector<int32_t> map_chain = {2};
    for (int32_t cluster = 7; cluster <= 18; ++cluster)
      map_chain.push_back(cluster);
    add_file_on_chain(&disk_, root_directory, "MAP.BIN", map_chain, pattern(13104));
    map_ = 2;
    disk_.next_free = 3;
    sub_ = add_directory(&disk_, root_directory, "SUB", 2);
    deeper_ = add_directory(&disk_, sub_, "DEEPER");
    add_file(&disk_, deeper_, "NESTED.TXT", pattern(40));
  }

  // The entry of a subdirectory in the root (first slots: MAP.BIN, SUB).
  void set_root_entry(int32_t slot, dir_entry_fields fields) {
    ASSERT_TRUE(put_entry(&disk_, root_directory, slot, fields));
  }

  disk_builder disk_;
  int32_t map_ = 0;
  int32_t sub_ = 0;
  int32_t deeper_ = 0;
};

TEST_F(PathWalk, NoComponentsMeanTheRoot) {
  load(disk_);
  for (const char* path : {static_cast<const char*>(nullptr), "", "/", "///"}) {
    const walk_result r = walk(&image_, path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.cluster, 0);
    EXPECT_EQ(r.limit, 192);
    EXPECT_EQ(r.output, "");
  }
}

TEST_F(PathWalk, DebugLineOfTheExample) {
  dir_entry_fields sub;
  sub.name = "SUB        ";
  sub.attributes = 0x10;
  sub.date = 0x14B1;
  sub.time = 0x645C;
  sub.first_cluster = static_cast<uint16_t>(sub_);
  set_root_entry(1, sub);
  load(disk_);
  ASSERT_EQ(sub_, 3);
  const walk_result r = walk(&image_, "SUB");
  EXPECT_EQ(r.output, "DEBUG: SUB                  0 1990-05-17 12:34:56 ----d- 0003\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.cluster, 3);
  EXPECT_EQ(r.limit, 2 * 32);  // two clusters of 32 entries
}

TEST_F(PathWalk, ReachesBelowTheFirstLevel) {
  load(disk_);
  const walk_result r = walk(&image_, "/sub//deeper/", 1);
  EXPECT_EQ(r.output,
            "DEBUG: sub                  0 1980-00-00 00:00:00 ----d- 0003\n"
            "DEBUG: deeper               0 1980-00-00 00:00:00 ----d- 0005\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.cluster, deeper_);
  EXPECT_EQ(r.limit, 32);

  const walk_result exact = walk(&image_, "sub/deeper", 0);
  EXPECT_EQ(exact.output, "can't find 'sub/deeper'\n");
  EXPECT_EQ(exact.status, -1);
}

TEST_F(PathWalk, FileComponentsAndMissingOrIllegalNames) {
  load(disk_);
  const walk_result file = walk(&image_, "MAP.BIN");
  EXPECT_EQ(file.output,
            "DEBUG: MAP     BIN      13104 1980-00-00 00:00:00 -----a 0002\n"
            "'MAP.BIN' is not directory\n");
  EXPECT_EQ(file.status, -1);
  EXPECT_EQ(file.cluster, map_);

  const walk_result nested = walk(&image_, "SUB/DEEPER/NESTED.TXT/MORE");
  EXPECT_EQ(nested.output,
            "DEBUG: SUB                  0 1980-00-00 00:00:00 ----d- 0003\n"
            "DEBUG: DEEPER               0 1980-00-00 00:00:00 ----d- 0005\n"
            "DEBUG: NESTED  TXT         40 1980-00-00 00:00:00 -----a 0006\n"
            "'NESTED.TXT' is not directory\n");
  EXPECT_EQ(nested.status, -1);

  const walk_result missing = walk(&image_, "NOSUCH/DIR");
  EXPECT_EQ(missing.output, "can't find 'NOSUCH/DIR'\n");
  EXPECT_EQ(missing.status, -1);
  const walk_result missing_below = walk(&image_, "SUB/NOSUCH");
  EXPECT_EQ(missing_below.output,
            "DEBUG: SUB                  0 1980-00-00 00:00:00 ----d- 0003\n"
            "can't find 'SUB/NOSUCH'\n");
  const walk_result illegal = walk(&image_, "LONGFILENAME/X");
  EXPECT_EQ(illegal.output, "illegal filename 'LONGFILENAME/X'\n");
  EXPECT_EQ(illegal.status, -1);
}

// An entry with no data cluster (".." of a first-level directory has
// cluster 0; here a damaged entry UP) leads back to the root, searched with
// the root's own limit. UP also records an absurd size: the root search
// must still stop at the root's last entry and never run on into the data
// area and beyond the loaded image.
TEST_F(PathWalk, EntryWithoutClusterLeadsToTheRootWithTheRootLimit) {
  dir_entry_fields up;
  up.name = "UP         ";
  up.attributes = attribute_directory;
  up.size = 0x40000000;
  add_entry(&disk_, sub_, up);
  std::span<uint8_t> data_area = sector_bytes(&disk_, disk_.layout.data_start_sector);
  std::memcpy(data_area.data(), "FAKE       ", 11);
  data_area[11] = attribute_directory;
  load(disk_);

  const walk_result r = walk(&image_, "SUB/UP");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.cluster, 0);
  EXPECT_EQ(r.limit, 192);
  const walk_result again = walk(&image_, "SUB/UP/SUB/DEEPER");
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.cluster, deeper_);
  const walk_result fake = walk(&image_, "SUB/UP/FAKE");
  EXPECT_EQ(fake.status, -1);
  EXPECT_EQ(fake.output,
            "DEBUG: SUB                  0 1980-00-00 00:00:00 ----d- 0003\n"
            "DEBUG: UP          1073741824 1980-00-00 00:00:00 ----d- 0000\n"
            "can't find 'SUB/UP/FAKE'\n");
}

// Dot components are names like any other: "." is eleven spaces and ".."
// is a dot extension, so neither reaches the "." and ".." entries.
TEST_F(PathWalk, DotComponentsAreOrdinaryNames) {
  load(disk_);
  EXPECT_EQ(walk(&image_, "SUB/..").output,
            "DEBUG: SUB                  0 1980-00-00 00:00:00 ----d- 0003\n"
            "can't find 'SUB/..'\n");
  EXPECT_EQ(walk(&image_, "./SUB").output, "can't find './SUB'\n");
}

// A subdirectory whose chain comes back to its start, and a directory that
// holds an entry for its own parent: the walk ends either way.
TEST_F(PathWalk, CyclicSubdirectoriesEnd) {
  set_fat_entry(&disk_, sub_ + 1, sub_);  // SUB: 3 -> 4 -> 3
  dir_entry_fields loop;
  loop.name = "LOOP       ";
  loop.attributes = attribute_directory;
  loop.first_cluster = static_cast<uint16_t>(sub_);
  add_entry(&disk_, deeper_, loop);
  load(disk_);
  const walk_result r = walk(&image_, "SUB/NOSUCH");
  EXPECT_EQ(r.status, -1);
  EXPECT_EQ(r.output,
            "DEBUG: SUB                  0 1980-00-00 00:00:00 ----d- 0003\n"
            "can't find 'SUB/NOSUCH'\n");
  EXPECT_EQ(walk(&image_, "SUB").limit, 64);
  const walk_result around = walk(&image_, "SUB/DEEPER/LOOP/DEEPER/LOOP/DEEPER");
  EXPECT_EQ(around.status, 0);
  EXPECT_EQ(around.cluster, deeper_);
}

struct text_case {
  uint16_t date;
  uint16_t time;
  uint8_t attributes;
  const char* date_text;
  const char* time_text;
  const char* attribute_text;
};

constexpr text_case text_cases[] = {
    {0x0000, 0x0000, 0x00, "1980-00-00", "00:00:00", "------"},
    {0x14B1, 0x645C, 0x10, "1990-05-17", "12:34:56", "----d-"},
    {0xFFFF, 0xFFFF, 0xFF, "2107-15-31", "31:63:62", "rhsvda"},
    {0x01A0, 0xCFA0, 0x21, "1980-13-00", "25:61:00", "r----a"},
    {0x0021, 0x001F, 0xC0, "1980-01-01", "00:00:62", "------"},
    {0x0000, 0x0000, 0x0E, "1980-00-00", "00:00:00", "-hsv--"},
};

TEST(EntryTexts, DateTimeAndAttributesAsPrinted) {
  for (const text_case& c : text_cases) {
    uint8_t entry[32] = {};
    entry[11] = c.attributes;
    entry[22] = static_cast<uint8_t>(c.time);
    entry[23] = static_cast<uint8_t>(c.time >> 8);
    entry[24] = static_cast<uint8_t>(c.date);
    entry[25] = static_cast<uint8_t>(c.date >> 8);
    char date[12], time[10], attributes[8];
    std::memset(date, '#', sizeof date);
    std::memset(time, '#', sizeof time);
    std::memset(attributes, '#', sizeof attributes);
    format_entry_date(date, entry);
    format_entry_time(time, entry);
    format_entry_attributes(attributes, entry);
    EXPECT_EQ(std::string(date, sizeof date), std::string(c.date_text) + '\0' + '#');
    EXPECT_EQ(std::string(time, sizeof time), std::string(c.time_text) + '\0' + '#');
    EXPECT_EQ(std::string(attributes, sizeof attributes),
              std::string(c.attribute_text) + '\0' + '#');
  }
}

struct chs_case {
  disk_geometry geometry;
  int32_t cluster;
  int32_t cylinder, head, sector;
};

constexpr chs_case chs_cases[] = {
    {disk_geometry::sectors_1280, 2, 0, 1, 5},
    {disk_geometry::sectors_1232, 2, 0, 1, 4},
    {disk_geometry::sectors_1232, 1220, 76, 1, 6},
    {disk_geometry::sectors_1440, 2, 0, 1, 6},
    {disk_geometry::sectors_1440, 4, 1, 0, 1},
    {disk_geometry::sectors_1280, 1, 0, 0, 0},  // no sector: all zero
    {disk_geometry::sectors_1280, 634, 0, 0, 0},
};

TEST_F(DiskTest, ClusterToCylinderHeadSector) {
  for (const chs_case& c : chs_cases) {
    disk_builder disk;
    format_disk(&disk, c.geometry);
    load(disk);
    int32_t cylinder = -1, head = -1, sector = -1;
    cluster_to_chs(&image_, c.cluster, &cylinder, &head, &sector);
    EXPECT_EQ(cylinder, c.cylinder) << geometry_name(c.geometry) << " " << c.cluster;
    EXPECT_EQ(head, c.head) << geometry_name(c.geometry) << " " << c.cluster;
    EXPECT_EQ(sector, c.sector) << geometry_name(c.geometry) << " " << c.cluster;
    close_disk_image(&image_, 0);
  }
}

class Conversions : public GeometryTest {};
INSTANTIATE_TEST_SUITE_P(AllGeometries, Conversions, testing::ValuesIn(all_geometries),
                         geometry_test_name);

// Every sector of every usable cluster converts back to its cluster and
// its place in it, through both routes.
TEST_P(Conversions, EverySectorOfEveryClusterRoundTrips) {
  disk_builder disk;
  format_disk(&disk, GetParam());
  load(disk);
  const int32_t per_track = image_.sectors_per_track;
  for (int32_t cluster = 2; cluster < image_.cluster_count; ++cluster) {
    const int32_t first = cluster_to_sector(&image_, cluster);
    for (int32_t i = 0; i < image_.sectors_per_cluster; ++i) {
      int32_t index = -1;
      ASSERT_EQ(sector_to_cluster(&image_, first + i, &index), cluster);
      ASSERT_EQ(index, i);
      const int32_t logical = first + i;
      const int32_t cylinder = logical / (per_track * image_.heads);
      const int32_t head = logical / per_track % image_.heads;
      index = -1;
      ASSERT_EQ(chs_to_cluster(&image_, cylinder, head, logical % per_track + 1, &index), cluster);
      ASSERT_EQ(index, i);
    }
    int32_t cylinder = 0, head = 0, sector = 0;
    cluster_to_chs(&image_, cluster, &cylinder, &head, &sector);
    ASSERT_EQ(chs_to_cluster(&image_, cylinder, head, sector, nullptr), cluster);
  }
}

TEST_F(DiskTest, ConversionExamplesAndAClosedRecord) {
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1280);
  load(disk);
  int32_t index = -1;
  EXPECT_EQ(chs_to_cluster(&image_, 0, 1, 6, &index), 2);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(sector_to_cluster(&image_, 12, nullptr), 2);
  EXPECT_EQ(sector_to_cluster(&image_, 15, &index), 3);
  EXPECT_EQ(index, 1);

  // Nothing to divide by in a closed record: no cluster, and no crash.
  disk_image closed{};
  EXPECT_EQ(sector_to_cluster(&closed, 20, &index), -1);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(chs_to_cluster(&closed, 1, 1, 1, nullptr), -1);
  int32_t cylinder = -1, head = -1, sector = -1;
  cluster_to_chs(&closed, 2, &cylinder, &head, &sector);
  EXPECT_EQ(cylinder + head + sector, 0);
}

}  // namespace
