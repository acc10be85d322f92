// Root file sizes, write-back into the loaded image, and saving it.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "diskimage/disk_image.h"
#include "diskimage/disk_test_fixture.h"

namespace {

class WriteBackGeometry : public GeometryTest {};
INSTANTIATE_TEST_SUITE_P(AllGeometries, WriteBackGeometry, testing::ValuesIn(all_geometries),
                         geometry_test_name);

std::vector<uint8_t> loaded_bytes(const disk_image& image) {
  return std::vector<uint8_t>(image.file_data.get(), image.file_data.get() + image.file_size);
}

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

mode_t permission_bits(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

std::string write_output(disk_image* image, const char* name, std::span<const uint8_t> data,
                         int* status) {
  begin_stdout_capture();
  *status = write_image_file(image, name, data.data(), static_cast<int32_t>(data.size()), 1);
  return end_stdout_capture();
}

std::string save_output(const disk_image* image, const std::string& path, int* status) {
  begin_stdout_capture();
  *status = save_disk_image(image, path.c_str());
  return end_stdout_capture();
}

TEST_F(DiskTest, RootFileSizes) {
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1232);
  add_root_file(&disk, "MAP.BIN", pattern(13104));
  add_root_file(&disk, "EMPTY", {});
  dir_entry_fields huge;
  huge.name = "HUGE    BIN";
  huge.size = 0x80000001u;  // recorded sizes are read as signed
  add_entry(&disk, root_directory, huge);
  const int32_t sub = add_directory(&disk, root_directory, "SUB");
  add_file(&disk, sub, "INSUB", pattern(5));
  load(disk);

  struct size_case {
    const char* name;
    int ignore_case;
    int32_t size;
    std::string line;
  };
  const size_case cases[] = {
      {"MAP.BIN", 0, 13104, ""},
      {"map.bin", 1, 13104, ""},
      {"EMPTY", 0, 0, ""},
      {"HUGE.BIN", 0, static_cast<int32_t>(0x80000001u), ""},
      {"map.bin", 0, -1, "can't find 'map.bin'\n"},
      {"INSUB", 1, -1, "can't find 'INSUB'\n"},
      {"LONGFILENAME.TXT", 1, -1, "illegal filename 'LONGFILENAME.TXT'\n"},
  };
  for (const size_case& c : cases) {
    begin_stdout_capture();
    EXPECT_EQ(image_file_size(&image_, c.name, c.ignore_case), c.size) << c.name;
    EXPECT_EQ(end_stdout_capture(), c.line) << c.name;
  }
}

// Write-back with data as long as the file, shorter and longer, on a
// scattered chain: only the file's sectors change, never the directory
// entry or the FAT, and shorter data leaves the rest of the old bytes.
TEST_P(WriteBackGeometry, WritesBackShorterEqualAndLongerData) {
  disk_builder disk;
  format_disk(&disk, GetParam());
  const std::vector<uint8_t> old_map = pattern(13104, 3);
  std::vector<int32_t> scattered;
  for (int32_t i = clusters_for(&disk, 13104); i > 0; --i)
    scattered.push_back(disk.next_free + 2 * i);
  add_file_on_chain(&disk, root_directory, "MAP.BIN", scattered, old_map);
  load(disk);
  const std::vector<uint8_t> before = loaded_bytes(image_);

  // Where each byte of the file lies in the loaded image.
  std::vector<size_t> positions;
  const int32_t cluster_size = image_.sectors_per_cluster * image_.bytes_per_sector;
  for (int32_t cluster : scattered)
    for (int32_t i = 0; i < cluster_size && positions.size() < 13104; ++i)
      positions.push_back(
          static_cast<size_t>(sector_offset(&image_, cluster_to_sector(&image_, cluster)) + i));

  int status = -1;
  const std::vector<uint8_t> new_map = pattern(13104, 77);
  EXPECT_EQ(write_output(&image_, "MAP.BIN", new_map, &status), "");
  EXPECT_EQ(status, 0);
  std::vector<uint8_t> expected = before;
  for (size_t i = 0; i < 13104; ++i)
    expected[positions[i]] = new_map[i];
  EXPECT_EQ(loaded_bytes(image_), expected);

  const std::vector<uint8_t> hundred = pattern(100, 200);
  EXPECT_EQ(write_output(&image_, "map.bin", hundred, &status),
            "file size mismatch 'map.bin' 13104 != 100 ... ignored\n");
  EXPECT_EQ(status, 0);
  for (size_t i = 0; i < 100; ++i)
    expected[positions[i]] = hundred[i];
  EXPECT_EQ(loaded_bytes(image_), expected);
  EXPECT_EQ(image_file_size(&image_, "MAP.BIN", 0), 13104);

  EXPECT_EQ(write_output(&image_, "MAP.BIN", pattern(14000), &status),
            "file size error 'MAP.BIN' 13104 < 14000\n");
  EXPECT_EQ(status, -1);
  EXPECT_EQ(loaded_bytes(image_), expected);
}

TEST_F(DiskTest, WriteBackNamesAndChainFailures) {
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1232);
  const int32_t first = add_root_file(&disk, "BROKEN.BIN", pattern(3000));
  set_fat_entry(&disk, first + 1, 0xFFF);  // two clusters for three clusters' bytes
  const int32_t cyclic[] = {100, 101};
  add_file_on_chain(&disk, root_directory, "CYCLIC.BIN", cyclic, pattern(3000), -1, 100);
  load(disk);
  const std::vector<uint8_t> before = loaded_bytes(image_);
  int status = 0;
  const std::vector<uint8_t> data = pattern(3000, 50);

  EXPECT_EQ(write_output(&image_, "LONGFILENAME.TXT", data, &status),
            "illegal filename 'LONGFILENAME.TXT'\n");
  EXPECT_EQ(write_output(&image_, "NOSUCH.BIN", data, &status), "can't find 'NOSUCH.BIN'\n");
  EXPECT_EQ(status, -1);
  EXPECT_EQ(loaded_bytes(image_), before);

  // The sectors written before the failure stay changed.
  EXPECT_EQ(write_output(&image_, "BROKEN.BIN", data, &status), "illegal cluster 0xFFF\n");
  EXPECT_EQ(status, -1);
  std::vector<uint8_t> expected = before;
  const size_t at = static_cast<size_t>(sector_offset(&image_, cluster_to_sector(&image_, first)));
  std::copy_n(data.begin(), 2048, expected.begin() + static_cast<long>(at));
  EXPECT_EQ(loaded_bytes(image_), expected);

  EXPECT_EQ(write_output(&image_, "CYCLIC.BIN", data, &status), "illegal cluster 0x64\n");
  EXPECT_EQ(status, -1);
}

TEST_P(WriteBackGeometry, SavedImageRoundTripsByteForByte) {
  disk_builder disk;
  format_disk(&disk, GetParam());
  const std::vector<uint8_t> map = pattern(13104);
  add_root_file(&disk, "MAP.BIN", map);
  for (size_t i = 32; i < disk.header.size(); ++i)
    disk.header[i] = static_cast<uint8_t>(i);
  load(disk);
  const std::vector<uint8_t> original = read_file_bytes(image_path_);

  int status = -1;
  ASSERT_EQ(write_output(&image_, "MAP.BIN", map, &status), "");
  const std::string copy = path("copy.fdi");
  EXPECT_EQ(save_output(&image_, copy, &status), "");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(read_file_bytes(copy), original);

  // Saving over the very file that was loaded, with one file changed.
  const std::vector<uint8_t> changed = pattern(13104, 99);
  ASSERT_EQ(write_output(&image_, "MAP.BIN", changed, &status), "");
  EXPECT_EQ(save_output(&image_, image_path_, &status), "");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(read_file_bytes(image_path_), loaded_bytes(image_));
  disk_image reloaded{};
  ASSERT_EQ(open_disk_image(&reloaded, image_path_.c_str(), 4096), 0);
  std::vector<uint8_t> buffer(13104);
  EXPECT_EQ(read_image_file(&reloaded, "MAP.BIN", buffer.data(), 13104, 0), 0);
  EXPECT_EQ(buffer, changed);
  close_disk_image(&reloaded, 0);
  EXPECT_EQ(names_in(dir_), (std::vector<std::string>{"copy.fdi", "disk.fdi"}));
}

// A disk that fills up part way through the save: the target keeps its old
// bytes and no temporary file is left behind.
TEST_F(DiskTest, SaveFailingPartWayLeavesTheOldFile) {
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1232);
  add_root_file(&disk, "MAP.BIN", pattern(13104));
  load(disk);
  const std::vector<uint8_t> original = read_file_bytes(image_path_);
  const std::vector<uint8_t> changed = pattern(13104, 5);
  int status = 0;
  ASSERT_EQ(write_output(&image_, "MAP.BIN", changed, &status), "");

  begin_stdout_capture();
  const int child = run_in_child_with_file_limit(
      256 * 1024, [&] { return save_disk_image(&image_, image_path_.c_str()) == -1 ? 1 : 0; });
  EXPECT_EQ(end_stdout_capture(), "write error '" + image_path_ + "'\n");
  EXPECT_EQ(child, 1);
  EXPECT_EQ(read_file_bytes(image_path_), original);
  EXPECT_EQ(names_in(dir_), std::vector<std::string>{"disk.fdi"});

  // The same save without the limit goes through.
  EXPECT_EQ(save_output(&image_, image_path_, &status), "");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(read_file_bytes(image_path_), loaded_bytes(image_));
}

TEST_F(DiskTest, SaveKeepsPermissionBitsAndFollowsSymbolicLinks) {
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1280);
  load(disk);
  const std::vector<uint8_t> image_bytes = loaded_bytes(image_);
  int status = -1;

  const std::string kept = path("kept.fdi");
  ASSERT_TRUE(write_file_bytes(kept, std::vector<uint8_t>{1, 2, 3}));
  ASSERT_EQ(chmod(kept.c_str(), 0640), 0);
  EXPECT_EQ(save_output(&image_, kept, &status), "");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(permission_bits(kept), 0640u);
  EXPECT_EQ(read_file_bytes(kept), image_bytes);

  const std::string fresh = path("fresh.fdi");
  const mode_t mask = umask(022);
  EXPECT_EQ(save_output(&image_, fresh, &status), "");
  umask(mask);
  EXPECT_EQ(permission_bits(fresh), 0644u);

  // A relative link from a subdirectory, and a link to a link: the links
  // stay, the file at their end is replaced.
  ASSERT_EQ(mkdir(path("links").c_str(), 0755), 0);
  const std::string real = path("real.fdi");
  ASSERT_TRUE(write_file_bytes(real, std::vector<uint8_t>{9}));
  ASSERT_EQ(symlink("../real.fdi", path("links/first").c_str()), 0);
  ASSERT_EQ(symlink("first", path("links/second").c_str()), 0);
  EXPECT_EQ(save_output(&image_, path("links/second"), &status), "");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(read_file_bytes(real), image_bytes);
  EXPECT_TRUE(std::filesystem::is_symlink(path("links/first")));
  EXPECT_TRUE(std::filesystem::is_symlink(path("links/second")));
  EXPECT_EQ(names_in(path("links")), (std::vector<std::string>{"first", "second"}));

  // A dangling link gets the file it names.
  ASSERT_EQ(symlink("made.fdi", path("dangling").c_str()), 0);
  EXPECT_EQ(save_output(&image_, path("dangling"), &status), "");
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(path("dangling")));
  EXPECT_EQ(read_file_bytes(path("made.fdi")), image_bytes);
}

TEST_F(DiskTest, SaveFailuresPrintTheirLines) {
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1440);
  load(disk);
  int status = 0;
  const std::string no_folder = path("no/such/folder.fdi");
  EXPECT_EQ(save_output(&image_, no_folder, &status), "open error '" + no_folder + "'\n");
  EXPECT_EQ(status, -1);

  ASSERT_EQ(mkdir(path("folder").c_str(), 0755), 0);
  EXPECT_EQ(save_output(&image_, path("folder"), &status), "open error '" + path("folder") + "'\n");
  EXPECT_EQ(status, -1);

  // A closed record has nothing to write; the target stays as it was.
  const std::string target = path("target.fdi");
  ASSERT_TRUE(write_file_bytes(target, std::vector<uint8_t>{4, 5, 6}));
  disk_image closed{};
  EXPECT_EQ(save_output(&closed, target, &status), "write error '" + target + "'\n");
  EXPECT_EQ(status, -1);
  EXPECT_EQ(read_file_bytes(target), (std::vector<uint8_t>{4, 5, 6}));
  EXPECT_EQ(names_in(dir_), (std::vector<std::string>{"disk.fdi", "folder", "target.fdi"}));
}

}  // namespace
