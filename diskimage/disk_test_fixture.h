#ifndef O1PC98MAP_DISKIMAGE_DISK_TEST_FIXTURE_H_
#define O1PC98MAP_DISKIMAGE_DISK_TEST_FIXTURE_H_

// Shared by the module's tests: a scratch directory, built disks written
// into it and loaded, and byte patterns for file contents.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "diskimage/disk_image.h"
#include "testing/disk_builder.h"
#include "testing/test_support.h"

inline constexpr disk_geometry all_geometries[] = {
    disk_geometry::sectors_1232, disk_geometry::sectors_1440, disk_geometry::sectors_1280};

inline std::string geometry_test_name(const testing::TestParamInfo<disk_geometry>& info) {
  return geometry_name(info.param);
}

// Distinct bytes that do not repeat with the sector size.
inline std::vector<uint8_t> pattern(size_t size, uint8_t seed = 1) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<uint8_t>(seed + i * 7 + i / 253);
  return bytes;
}

// A buffer of size bytes of fill whose beginning holds head.
inline std::vector<uint8_t> filled_after(std::span<const uint8_t> head, size_t size, uint8_t fill) {
  std::vector<uint8_t> bytes(size, fill);
  std::copy_n(head.begin(), std::min(head.size(), size), bytes.begin());
  return bytes;
}

class DiskTest : public testing::Test {
 protected:
  void SetUp() override { dir_ = make_temp_dir(); }
  void TearDown() override {
    close_disk_image(&image_, 0);
    remove_tree(dir_);
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // Writes the disk as name in the scratch directory; returns its path.
  std::string save(const disk_builder& disk, const std::string& name = "disk.fdi") {
    std::string file = path(name);
    EXPECT_TRUE(write_disk(&disk, file));
    return file;
  }

  // Writes and opens the disk, expecting a silent success.
  void load(const disk_builder& disk, int32_t header_size = 4096) {
    image_path_ = save(disk);
    begin_stdout_capture();
    int status = open_disk_image(&image_, image_path_.c_str(), header_size);
    std::string output = end_stdout_capture();
    ASSERT_EQ(status, 0);
    ASSERT_EQ(output, "");
  }

  // Opens an image file already on disk; true on a silent success.
  bool load_image(const std::string& file) {
    image_path_ = file;
    begin_stdout_capture();
    int status = open_disk_image(&image_, file.c_str(), 4096);
    std::string output = end_stdout_capture();
    EXPECT_EQ(output, "");
    return status == 0 && output.empty();
  }

  std::string dir_;
  std::string image_path_;
  disk_image image_{};
};

// A geometry-parameterised test with the same scratch directory.
class GeometryTest : public DiskTest, public testing::WithParamInterface<disk_geometry> {};

#endif  // O1PC98MAP_DISKIMAGE_DISK_TEST_FIXTURE_H_
