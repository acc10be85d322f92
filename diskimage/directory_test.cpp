// Short names, directory search and extraction along cluster chains.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "diskimage/disk_image.h"
#include "diskimage/disk_test_fixture.h"

namespace {

class DirectoryGeometry : public GeometryTest {};
INSTANTIATE_TEST_SUITE_P(AllGeometries, DirectoryGeometry, testing::ValuesIn(all_geometries),
                         geometry_test_name);

struct short_name_case {
  const char* file_name;
  const char* short_name;  // the 11 bytes
  int status;
};

constexpr short_name_case short_name_cases[] = {
    {"MAP.BIN", "MAP     BIN", 0},    {"EGCTILES.BIN", "EGCTILESBIN", 0},
    {"map.bin", "map     bin", 0},    {"README", "README     ", 0},
    {"NAME.", "NAME       ", 0},      {"A.B.C", "A       B.C", 0},
    {"", "           ", 0},           {"\xE5XY.Z", "\x05XY     Z  ", 0},
    {"A\xE5", "A\xE5         ", 0},   {".BIN", "        BIN", 0},
    {"ABCDEFGH", "ABCDEFGH   ", 0},   {"LONGFILENAME.TXT", "LONGFILE   ", -1},
    {"FILE.TEXT", "FILE    TEX", -1}, {"ABCDEFGHI", "ABCDEFGH   ", -1},
};

TEST(ShortName, FollowsTheEightDotThreeForm) {
  for (const short_name_case& c : short_name_cases) {
    char short_name[12];
    std::memset(short_name, '#', sizeof short_name);
    EXPECT_EQ(make_short_name(short_name, c.file_name), c.status) << c.file_name;
    EXPECT_EQ(std::string(short_name, 12), std::string(c.short_name, 11) + '\0') << c.file_name;
  }
}

TEST(FieldReaders, ReadLittleEndianAtAnyPosition) {
  const uint8_t bytes[] = {0x00, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFF, 0x78, 0x56};
  EXPECT_EQ(fetch_le16(bytes + 1), 0x1234);
  EXPECT_EQ(fetch_le16(bytes + 3), 0xFFFF);
  EXPECT_EQ(fetch_le32(bytes + 3), -1);
  EXPECT_EQ(fetch_le32(bytes + 5), 0x5678FFFF);
  uint8_t entry[32] = {};
  entry[26] = 0xC5;
  entry[27] = 0x04;
  entry[28] = 0x30;
  entry[29] = 0x33;
  EXPECT_EQ(dir_entry_cluster(entry), 0x4C5);
  EXPECT_EQ(dir_entry_size(entry), 13104);
}

// An entry with these 11 bytes and the search name, with and without case.
struct match_case {
  const char* on_disk;
  const char* searched;
  bool exact;
  bool ignoring_case;
};

constexpr match_case match_cases[] = {
    {"MAP     BIN", "MAP     BIN", true, true},
    {"MAP     BIN", "map     bin", false, true},
    {"map     bin", "MAP     BIN", false, true},
    {"MaP     bIn", "mAp     BiN", false, true},
    {"A@[     `{ ", "A`{     @[ ", false, false},  // 0x20 apart but not letters
    {"\xC1X      BIN", "\xE1X      BIN", false, false},
    {"MAP     BIN", "MAP     BIM", false, false},
};

TEST_F(DiskTest, SearchComparesElevenBytesWithTheCaseRule) {
  for (const match_case& c : match_cases) {
    disk_builder disk;
    format_disk(&disk, disk_geometry::sectors_1280);
    dir_entry_fields fields;
    fields.name = c.on_disk;
    add_entry(&disk, root_directory, fields);
    load(disk);
    const uint8_t* root = image_.file_data.get() + sector_offset(&image_, image_.root_dir_sector);
    EXPECT_EQ(find_dir_entry(&image_, -1, 112, c.searched, 0), c.exact ? root : nullptr)
        << c.on_disk << " / " << c.searched;
    EXPECT_EQ(find_dir_entry(&image_, 0, 112, c.searched, 1), c.ignoring_case ? root : nullptr)
        << c.on_disk << " / " << c.searched;
    close_disk_image(&image_, 0);
  }
}

TEST_F(DiskTest, SearchComparesEveryKindOfEntryAndTheFirstMatchWins) {
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1232);
  dir_entry_fields deleted;
  deleted.name =
      "\xE5"
      "AP     BIN";
  add_entry(&disk, root_directory, deleted);
  skip_entries(&disk, root_directory, 3);  // an end-of-directory marker first
  add_volume_label(&disk, "DISK LABEL");
  dir_entry_fields real_e5;
  real_e5.name =
      "\x05"
      "AP     BIN";
  add_entry(&disk, root_directory, real_e5);
  dir_entry_fields first, second;
  first.name = second.name = "TWICE      ";
  first.size = 1;
  second.size = 2;
  add_entry(&disk, root_directory, first);
  add_entry(&disk, root_directory, second);
  load(disk);
  const uint8_t* root = image_.file_data.get() + sector_offset(&image_, 5);
  char name[12];
  make_short_name(name,
                  "\xE5"
                  "AP.BIN");
  EXPECT_EQ(find_dir_entry(&image_, -1, 192, name, 1), root + 5 * 32);
  EXPECT_EQ(find_dir_entry(&image_, -1, 192, "DISK LABEL ", 0), root + 4 * 32);
  EXPECT_EQ(find_dir_entry(&image_, -1, 192, "TWICE      ", 0), root + 6 * 32);
}

// The root search covers the root and nothing beyond it: the last slot is
// found, an entry-like record just after the root is not, whatever the
// limit, and a smaller limit stops sooner.
TEST_P(DirectoryGeometry, RootSearchStaysInsideTheRoot) {
  disk_builder disk;
  format_disk(&disk, GetParam());
  const disk_layout& l = disk.layout;
  dir_entry_fields last;
  last.name = "LAST    BIN";
  ASSERT_TRUE(put_entry(&disk, root_directory, l.root_dir_entries - 1, last));
  std::span<uint8_t> after = sector_bytes(&disk, l.data_start_sector);
  std::memcpy(after.data(), "AFTER   BIN", 11);
  load(disk);
  const uint8_t* root = image_.file_data.get() + sector_offset(&image_, l.root_dir_sector);
  EXPECT_EQ(find_dir_entry(&image_, -1, l.root_dir_entries, "LAST    BIN", 0),
            root + (l.root_dir_entries - 1) * 32);
  EXPECT_EQ(find_dir_entry(&image_, -1, l.root_dir_entries - 1, "LAST    BIN", 0), nullptr);
  EXPECT_EQ(find_dir_entry(&image_, -1, l.root_dir_entries, "AFTER   BIN", 0), nullptr);
  EXPECT_EQ(find_dir_entry(&image_, -1, 0x7FFFFFFF, "AFTER   BIN", 0), nullptr);
  EXPECT_EQ(find_dir_entry(&image_, -1, 0x7FFFFFFF, "NOWHERE BIN", 0), nullptr);
  EXPECT_EQ(find_dir_entry(&image_, -1, 0, "LAST    BIN", 0), nullptr);
}

TEST_P(DirectoryGeometry, SubdirectorySearchFollowsItsChain) {
  disk_builder disk;
  format_disk(&disk, GetParam());
  const int32_t per_cluster = disk.layout.sectors_per_cluster * disk.layout.bytes_per_sector / 32;
  // A directory of two clusters, far apart.
  const int32_t sub = add_directory(&disk, root_directory, "SUB");
  const int32_t second = sub + 5;
  set_fat_entry(&disk, sub, second);
  set_fat_entry(&disk, second, end_of_chain);
  dir_entry_fields late;
  late.name = "LATE    TXT";
  ASSERT_TRUE(put_entry(&disk, sub, per_cluster + 1, late));
  load(disk);
  const uint8_t* found =
      image_.file_data.get() + sector_offset(&image_, cluster_to_sector(&image_, second)) + 32;
  EXPECT_EQ(find_dir_entry(&image_, sub, 2 * per_cluster, "LATE    TXT", 0), found);
  EXPECT_EQ(find_dir_entry(&image_, sub, 0x7FFFFFFF, "late    txt", 1), found);
  EXPECT_EQ(find_dir_entry(&image_, sub, per_cluster + 1, "LATE    TXT", 0), nullptr);
  EXPECT_EQ(find_dir_entry(&image_, sub, 0x7FFFFFFF, "NOWHERE TXT", 0), nullptr);
  EXPECT_EQ(find_dir_entry(&image_, sub, 1, "..         ", 0), nullptr);
  EXPECT_NE(find_dir_entry(&image_, sub, 2, "..         ", 0), nullptr);
  EXPECT_EQ(find_dir_entry(&image_, image_.cluster_count, 100, "..         ", 0), nullptr);
}

// Chains that would never end: a directory whose chain comes back to itself
// and one whose chain leads beyond the FAT table. The search ends without a
// match however large the limit.
TEST_F(DiskTest, SubdirectorySearchEndsOnCyclicAndBrokenChains) {
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1232);
  const int32_t loop = add_directory(&disk, root_directory, "LOOP", 3);
  set_fat_entry(&disk, loop + 2, loop);
  const int32_t beyond = add_directory(&disk, root_directory, "BEYOND");
  set_fat_entry(&disk, beyond, disk.layout.cluster_count);
  const int32_t self = add_directory(&disk, root_directory, "SELF");
  set_fat_entry(&disk, self, self);
  load(disk);
  for (int32_t start : {loop, beyond, self}) {
    EXPECT_EQ(find_dir_entry(&image_, start, 0x7FFFFFFF, "NOWHERE    ", 0), nullptr);
    EXPECT_NE(find_dir_entry(&image_, start, 0x7FFFFFFF, "..         ", 0), nullptr);
  }
}

// read_image_file into a buffer, returning what it printed.
std::string read_output(const disk_image* image, const char* name, std::vector<uint8_t>* buffer,
                        int ignore_case, int* status) {
  begin_stdout_capture();
  *status = read_image_file(image, name, buffer->data(), static_cast<int32_t>(buffer->size()),
                            ignore_case);
  return end_stdout_capture();
}

// Whole files of the sizes the tool reads, on contiguous and on scattered
// chains, with sectors of either size.
TEST_P(DirectoryGeometry, ExtractsWholeFilesAlongTheirChains) {
  disk_builder disk;
  format_disk(&disk, GetParam());
  const std::vector<uint8_t> map = pattern(13104, 3);
  const std::vector<uint8_t> tiles = pattern(30720, 9);
  add_root_file(&disk, "EGCTILES.BIN", tiles);
  std::vector<int32_t> scattered;
  for (int32_t i = clusters_for(&disk, 13104); i > 0; --i)
    scattered.push_back(disk.next_free + 3 * i);
  add_file_on_chain(&disk, root_directory, "MAP.BIN", scattered, map);
  load(disk);

  int status = -1;
  std::vector<uint8_t> buffer(13104, 0xAA);
  EXPECT_EQ(read_output(&image_, "map.bin", &buffer, 1, &status), "");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(buffer, map);
  std::vector<uint8_t> tile_buffer(30720);
  EXPECT_EQ(read_output(&image_, "EGCTILES.BIN", &tile_buffer, 0, &status), "");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(tile_buffer, tiles);
}

TEST_F(DiskTest, SizeChecksAgainstTheBuffer) {
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1440);
  const std::vector<uint8_t> short_map = pattern(13000, 4);
  add_root_file(&disk, "MAP.BIN", short_map);
  add_root_file(&disk, "BIG.BIN", pattern(14000, 5));
  add_root_file(&disk, "EMPTY", {});
  load(disk);

  int status = 0;
  std::vector<uint8_t> buffer(13104, 0xAA);
  EXPECT_EQ(read_output(&image_, "MAP.BIN", &buffer, 1, &status),
            "file size mismatch 'MAP.BIN' 13000 != 13104 ... ignored\n");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(buffer, filled_after(short_map, 13104, 0xAA));

  std::fill(buffer.begin(), buffer.end(), 0xAA);
  EXPECT_EQ(read_output(&image_, "BIG.BIN", &buffer, 1, &status),
            "file size error 'BIG.BIN' 14000 > 13104\n");
  EXPECT_EQ(status, -1);
  EXPECT_EQ(buffer, std::vector<uint8_t>(13104, 0xAA));

  std::vector<uint8_t> nothing;
  EXPECT_EQ(read_output(&image_, "EMPTY", &nothing, 1, &status), "");
  EXPECT_EQ(status, 0);
  std::vector<uint8_t> four(4, 0xAA);
  EXPECT_EQ(read_output(&image_, "EMPTY", &four, 1, &status),
            "file size mismatch 'EMPTY' 0 != 4 ... ignored\n");
  EXPECT_EQ(status, 0);
}

TEST_F(DiskTest, NamesThatAreNotThere) {
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1232);
  add_root_file(&disk, "MAP.BIN", pattern(100));
  const int32_t sub = add_directory(&disk, root_directory, "SUB");
  add_file(&disk, sub, "INSUB.BIN", pattern(100));
  load(disk);
  int status = 0;
  std::vector<uint8_t> buffer(100);
  EXPECT_EQ(read_output(&image_, "map.bin", &buffer, 0, &status), "can't find 'map.bin'\n");
  EXPECT_EQ(status, -1);
  EXPECT_EQ(read_output(&image_, "INSUB.BIN", &buffer, 1, &status), "can't find 'INSUB.BIN'\n");
  EXPECT_EQ(status, -1);
  EXPECT_EQ(read_output(&image_, "LONGFILENAME.TXT", &buffer, 1, &status),
            "illegal filename 'LONGFILENAME.TXT'\n");
  EXPECT_EQ(status, -1);
}

// A 3000-byte file whose chain goes wrong after its first cluster; the
// line names the offending value and the bytes before it are copied.
struct chain_fault {
  const char* label;
  int32_t second_value;  // FAT value of the file's first cluster
  const char* line;
};

TEST_F(DiskTest, ChainFailuresWithTheirLines) {
  const chain_fault faults[] = {
      {"end of chain too early", 0xFFF, "illegal cluster 0xFFF\n"},
      {"end mark 0xFF8", 0xFF8, "illegal cluster 0xFF8\n"},
      {"free entry", 0, "illegal cluster 0x0\n"},
      {"reserved 1", 1, "illegal cluster 0x1\n"},
      {"bad-cluster mark", 0xFF7, "illegal cluster 0xFF7\n"},
      {"highest non-end value", 0xFEF, "can't get sector from cluster 0xFEF\n"},
      {"beyond the table", 1221, "can't get sector from cluster 0x4C5\n"},
      {"last usable, then end", 1220, "illegal cluster 0xFFF\n"},
  };
  for (const chain_fault& fault : faults) {
    disk_builder disk;
    format_disk(&disk, disk_geometry::sectors_1232);
    const std::vector<uint8_t> data = pattern(3000);
    const int32_t first = add_root_file(&disk, "F.BIN", data);
    set_fat_entry(&disk, first, fault.second_value);
    set_fat_entry(&disk, 1220, end_of_chain);
    load(disk);
    int status = 0;
    std::vector<uint8_t> buffer(3000, 0xAA);
    EXPECT_EQ(read_output(&image_, "F.BIN", &buffer, 1, &status), fault.line) << fault.label;
    EXPECT_EQ(status, -1) << fault.label;
    // The first cluster's bytes, then those of cluster 1220 when the chain
    // went there.
    std::vector<uint8_t> expected = filled_after(std::span(data).first(1024), 3000, 0xAA);
    if (fault.second_value == 1220) {
      const uint8_t* at = image_.file_data.get() + sector_offset(&image_, 1229);
      std::copy_n(at, 1024, expected.begin() + 1024);
    }
    EXPECT_EQ(buffer, expected) << fault.label;
    close_disk_image(&image_, 0);
  }
}

TEST_F(DiskTest, FirstClusterOfZeroWithBytesToRead) {
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1280);
  dir_entry_fields fields;
  fields.name = "MAP     BIN";
  fields.size = 13104;
  add_entry(&disk, root_directory, fields);
  fields.name = "EMPTY      ";
  fields.size = 0;
  fields.first_cluster = 0xFFF;  // never looked at for an empty file
  add_entry(&disk, root_directory, fields);
  load(disk);
  int status = 0;
  std::vector<uint8_t> buffer(13104, 0xAA);
  EXPECT_EQ(read_output(&image_, "MAP.BIN", &buffer, 1, &status), "illegal cluster 0x0\n");
  EXPECT_EQ(status, -1);
  EXPECT_EQ(buffer, std::vector<uint8_t>(13104, 0xAA));
  std::vector<uint8_t> none;
  EXPECT_EQ(read_output(&image_, "EMPTY", &none, 1, &status), "");
  EXPECT_EQ(status, 0);
}

// A chain that comes back to a cluster it has been through: the file is
// damaged, so the copy stops there instead of handing back the same bytes
// again as the rest of the file.
TEST_F(DiskTest, CyclicChainIsReportedWhereItComesBack) {
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1440);
  const std::vector<uint8_t> data = pattern(13104);
  const int32_t chain[] = {5, 9, 7};
  add_file_on_chain(&disk, root_directory, "MAP.BIN", chain, data, -1, 9);
  const int32_t self[] = {20};
  add_file_on_chain(&disk, root_directory, "SELF.BIN", self, data, -1, 20);
  load(disk);
  int status = 0;
  std::vector<uint8_t> buffer(13104, 0xAA);
  EXPECT_EQ(read_output(&image_, "MAP.BIN", &buffer, 1, &status), "illegal cluster 0x9\n");
  EXPECT_EQ(status, -1);
  EXPECT_EQ(buffer, filled_after(std::span(data).first(3 * 1024), 13104, 0xAA));
  EXPECT_EQ(read_output(&image_, "SELF.BIN", &buffer, 1, &status), "illegal cluster 0x14\n");
  EXPECT_EQ(status, -1);
}

}  // namespace
