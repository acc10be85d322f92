#include "testing/disk_builder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "testing/test_support.h"

namespace {

uint32_t le16_at(const std::vector<uint8_t>& bytes, size_t at) {
  return bytes[at] | (bytes[at + 1] << 8);
}

uint32_t le32_at(const std::vector<uint8_t>& bytes, size_t at) {
  return le16_at(bytes, at) | (le16_at(bytes, at + 2) << 16);
}

std::vector<uint8_t> pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
  return bytes;
}

constexpr disk_geometry all_geometries[] = {
    disk_geometry::sectors_1232, disk_geometry::sectors_1440, disk_geometry::sectors_1280};

class DiskBuilderGeometry : public testing::TestWithParam<disk_geometry> {};

INSTANTIATE_TEST_SUITE_P(AllGeometries, DiskBuilderGeometry, testing::ValuesIn(all_geometries),
                         [](const auto& info) { return geometry_name(info.param); });

TEST_P(DiskBuilderGeometry, FormatsHeaderBootSectorAndBothFats) {
  disk_builder disk;
  format_disk(&disk, GetParam());
  const disk_layout& l = disk.layout;
  std::vector<uint8_t> image = disk_bytes(&disk);
  ASSERT_EQ(image.size(), 4096u + static_cast<size_t>(l.data_size));

  const uint32_t words[8] = {0,
                             l.disk_type,
                             4096,
                             static_cast<uint32_t>(l.data_size),
                             static_cast<uint32_t>(l.bytes_per_sector),
                             static_cast<uint32_t>(l.sectors_per_track),
                             static_cast<uint32_t>(l.heads),
                             static_cast<uint32_t>(l.cylinders)};
  for (size_t i = 0; i < 8; ++i)
    EXPECT_EQ(le32_at(image, i * 4), words[i]) << "word " << i;
  for (size_t i = 32; i < 4096; ++i)
    ASSERT_EQ(image[i], 0) << "header byte " << i;

  const size_t boot = 4096;
  EXPECT_EQ(le16_at(image, boot + 11), static_cast<uint32_t>(l.bytes_per_sector));
  EXPECT_EQ(image[boot + 13], l.sectors_per_cluster);
  EXPECT_EQ(le16_at(image, boot + 14), static_cast<uint32_t>(l.fat_start_sector));
  EXPECT_EQ(image[boot + 16], 2);
  EXPECT_EQ(le16_at(image, boot + 17), static_cast<uint32_t>(l.root_dir_entries));
  EXPECT_EQ(le16_at(image, boot + 19), static_cast<uint32_t>(l.total_sectors));
  EXPECT_EQ(image[boot + 21], l.media_byte);
  EXPECT_EQ(le16_at(image, boot + 22), static_cast<uint32_t>(l.fat_sectors));
  EXPECT_EQ(le16_at(image, boot + 24), static_cast<uint32_t>(l.sectors_per_track));
  EXPECT_EQ(le16_at(image, boot + 26), static_cast<uint32_t>(l.heads));
  EXPECT_EQ(le16_at(image, boot + 510), 0xAA55u);

  for (int copy = 0; copy < 2; ++copy) {
    size_t fat = 4096 + static_cast<size_t>(l.fat_start_sector + copy * l.fat_sectors) *
                            static_cast<size_t>(l.bytes_per_sector);
    EXPECT_EQ(image[fat], l.media_byte);
    EXPECT_EQ(image[fat + 1], 0xFF);
    EXPECT_EQ(image[fat + 2], 0xFF);
    EXPECT_EQ(image[fat + 3], 0x00);
  }
  // The table's own consistency: the builder is the tests' reference.
  EXPECT_EQ(l.cylinders * l.heads * l.sectors_per_track, l.total_sectors);
  EXPECT_EQ(l.total_sectors * l.bytes_per_sector, l.data_size);
  EXPECT_EQ(l.root_dir_sector, l.fat_start_sector + 2 * l.fat_sectors);
  EXPECT_EQ(l.root_dir_entries * 32, l.root_dir_sectors * l.bytes_per_sector);
  EXPECT_EQ(l.data_start_sector, l.root_dir_sector + l.root_dir_sectors);
  EXPECT_EQ(l.cluster_count, (l.total_sectors - l.data_start_sector) / l.sectors_per_cluster);
}

TEST_P(DiskBuilderGeometry, RootFileGetsEntryAndContiguousData) {
  disk_builder disk;
  format_disk(&disk, GetParam());
  const disk_layout& l = disk.layout;
  std::vector<uint8_t> data = pattern(3000, 1);
  dir_entry_fields fields;
  fields.attributes = attribute_read_only | attribute_archive;
  fields.date = fat_date(1990, 5, 17);
  fields.time = fat_time(12, 34, 56);
  EXPECT_EQ(add_file(&disk, root_directory, "MAP.BIN", data, fields), 2);
  EXPECT_EQ(add_root_file(&disk, "B", pattern(1, 9)), 2 + clusters_for(&disk, 3000));

  std::vector<uint8_t> image = disk_bytes(&disk);
  size_t root = 4096 + static_cast<size_t>(l.root_dir_sector * l.bytes_per_sector);
  const uint8_t expected_entry[32] = {'M',  'A',  'P',  ' ',  ' ', ' ', ' ',  ' ',  'B', 'I', 'N',
                                      0x21, 0,    0,    0,    0,   0,   0,    0,    0,   0,   0,
                                      0x5C, 0x64, 0xB1, 0x14, 2,   0,   0xB8, 0x0B, 0,   0};
  EXPECT_EQ(std::vector<uint8_t>(image.begin() + static_cast<long>(root),
                                 image.begin() + static_cast<long>(root) + 32),
            std::vector<uint8_t>(expected_entry, expected_entry + 32));
  size_t data_at = 4096 + static_cast<size_t>(l.data_start_sector * l.bytes_per_sector);
  EXPECT_EQ(std::vector<uint8_t>(image.begin() + static_cast<long>(data_at),
                                 image.begin() + static_cast<long>(data_at) + 3000),
            data);
  int32_t count = clusters_for(&disk, 3000);
  for (int32_t c = 2; c < 2 + count - 1; ++c)
    EXPECT_EQ(fat_entry(&disk, c), c + 1);
  EXPECT_EQ(fat_entry(&disk, 2 + count - 1), end_of_chain);
}

TEST(DiskBuilder, PacksTwelveBitEntriesInPairs) {
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1440);
  set_fat_entry(&disk, 2, 0x003);
  set_fat_entry(&disk, 3, 0x004);
  set_fat_entry(&disk, 4, 0xABC);
  set_fat_entry(&disk, 5, 0x123);
  const uint8_t expected[9] = {0xF9, 0xFF, 0xFF, 0x03, 0x40, 0x00, 0xBC, 0x3A, 0x12};
  std::span<uint8_t> fat = sector_bytes(&disk, 1);
  EXPECT_EQ(std::vector<uint8_t>(fat.begin(), fat.begin() + 9),
            std::vector<uint8_t>(expected, expected + 9));
  std::span<uint8_t> copy = sector_bytes(&disk, 1 + disk.layout.fat_sectors);
  EXPECT_EQ(std::vector<uint8_t>(copy.begin(), copy.begin() + 9),
            std::vector<uint8_t>(expected, expected + 9));
  // Setting one entry of a pair leaves its neighbour alone.
  set_fat_entry(&disk, 4, 0x000);
  EXPECT_EQ(fat_entry(&disk, 5), 0x123);
  set_fat_entry(&disk, 5, 0xFFF);
  EXPECT_EQ(fat_entry(&disk, 4), 0x000);
  EXPECT_EQ(fat_entry(&disk, 3), 0x004);
}

TEST(DiskBuilder, ShortNamesPadAndKeepCase) {
  EXPECT_EQ(short_name_of("MAP.BIN"), "MAP     BIN");
  EXPECT_EQ(short_name_of("map.bin"), "map     bin");
  EXPECT_EQ(short_name_of("EGCTILES.BIN"), "EGCTILESBIN");
  EXPECT_EQ(short_name_of("SUB"), "SUB        ");
}

TEST(DiskBuilder, SubdirectoryHasDotEntriesAndFilesAlongItsChain) {
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1280);
  int32_t sub = add_directory(&disk, root_directory, "SUB", 2);
  int32_t deeper = add_directory(&disk, sub, "DEEPER");
  std::span<uint8_t> sub_bytes = cluster_bytes(&disk, sub);
  EXPECT_EQ(std::string(sub_bytes.begin(), sub_bytes.begin() + 11), ".          ");
  EXPECT_EQ(sub_bytes[11], attribute_directory);
  EXPECT_EQ(sub_bytes[26], sub);
  EXPECT_EQ(std::string(sub_bytes.begin() + 32, sub_bytes.begin() + 43), "..         ");
  EXPECT_EQ(sub_bytes[32 + 26], 0);
  EXPECT_EQ(std::string(sub_bytes.begin() + 64, sub_bytes.begin() + 75), "DEEPER     ");
  std::span<uint8_t> deeper_bytes = cluster_bytes(&disk, deeper);
  EXPECT_EQ(deeper_bytes[32 + 26], sub);

  // Slots beyond the first cluster lie in the next cluster of the chain.
  int32_t per_cluster = 2 * 512 / 32;
  dir_entry_fields fields;
  fields.name = "LATE    TXT";
  EXPECT_TRUE(put_entry(&disk, sub, per_cluster, fields));
  std::span<uint8_t> second = cluster_bytes(&disk, fat_entry(&disk, sub));
  EXPECT_EQ(std::string(second.begin(), second.begin() + 11), "LATE    TXT");
  EXPECT_FALSE(put_entry(&disk, sub, 2 * per_cluster, fields));
  EXPECT_FALSE(put_entry(&disk, root_directory, 112, fields));
}

TEST(DiskBuilder, FileOnGivenChainLinksInOrderWithLastValue) {
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1232);
  std::vector<uint8_t> data = pattern(2500, 3);
  const int32_t chain[] = {9, 4, 7};
  add_file_on_chain(&disk, root_directory, "FRAG.BIN", chain, data, -1, 4);
  EXPECT_EQ(fat_entry(&disk, 9), 4);
  EXPECT_EQ(fat_entry(&disk, 4), 7);
  EXPECT_EQ(fat_entry(&disk, 7), 4);  // cyclic back to the second cluster
  EXPECT_EQ(cluster_bytes(&disk, 4)[0], data[1024]);
  EXPECT_EQ(cluster_bytes(&disk, 7)[2500 - 2048 - 1], data[2499]);
  EXPECT_EQ(disk.next_free, 10);
  // Entries after an end-of-directory marker.
  skip_entries(&disk, root_directory, 1);
  add_volume_label(&disk, "LABEL");
  std::span<uint8_t> root = sector_bytes(&disk, 5);
  EXPECT_EQ(root[32], 0);
  EXPECT_EQ(std::string(root.begin() + 64, root.begin() + 75), "LABEL      ");
  EXPECT_EQ(root[64 + 11], attribute_volume);
}

TEST(DiskBuilder, HeaderOfOtherSizes) {
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1232, 0);
  EXPECT_EQ(disk_bytes(&disk).size(), 0x134000u);
  format_disk(&disk, disk_geometry::sectors_1232, 512);
  std::vector<uint8_t> image = disk_bytes(&disk);
  EXPECT_EQ(image.size(), 512u + 0x134000u);
  EXPECT_EQ(le32_at(image, 8), 512u);
  EXPECT_EQ(image[512 + 21], 0xFE);
}

// mtools reads the boot sector's parameter block and the FAT on its own, so
// it checks that the builder writes a disk another FAT12 reader accepts.
bool have_mtools() {
  return std::system("mcopy -V >/dev/null 2>&1") == 0;
}

TEST_P(DiskBuilderGeometry, MtoolsReadsBuiltFiles) {
  if (!have_mtools()) GTEST_SKIP() << "mtools not installed";
  std::string dir = make_temp_dir();
  disk_builder disk;
  format_disk(&disk, GetParam());
  std::vector<uint8_t> map = pattern(13104, 5);
  std::vector<uint8_t> nested = pattern(700, 8);
  std::vector<uint8_t> fragmented = pattern(5000, 11);
  add_root_file(&disk, "MAP.BIN", map);
  int32_t sub = add_directory(&disk, root_directory, "SUB");
  int32_t deeper = add_directory(&disk, sub, "DEEPER");
  add_file(&disk, deeper, "NESTED.TXT", nested);
  std::vector<int32_t> chain;
  for (int32_t i = clusters_for(&disk, 5000); i > 0; --i)
    chain.push_back(disk.next_free + 2 * i);
  add_file_on_chain(&disk, root_directory, "FRAG.BIN", chain, fragmented);
  std::string image = dir + "/disk.fdi";
  ASSERT_TRUE(write_disk(&disk, image));

  const std::pair<const char*, const std::vector<uint8_t>*> files[] = {
      {"MAP.BIN", &map}, {"SUB/DEEPER/NESTED.TXT", &nested}, {"FRAG.BIN", &fragmented}};
  for (const auto& [name, bytes] : files) {
    std::string out = dir + "/out";
    std::string command = "MTOOLS_SKIP_CHECK=1 mcopy -n -i '" + image + "@@4096' ::" + name + " '" +
                          out + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << name;
    EXPECT_EQ(read_file_bytes(out), *bytes) << name;
    std::remove(out.c_str());
  }
  remove_tree(dir);
}

}  // namespace
