// Fuzzes the disk image module with images of every recognised size: the
// first input byte picks the geometry, the rest becomes the sectors (cut or
// padded with zeros to the disk's size) behind a 4096-byte header.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "diskimage/disk_image.h"

namespace {

constexpr int32_t kHeaderSize = 4096;
constexpr size_t kDataSizes[3] = {0x134000, 0xB4000, 0xA0000};

std::string scratch_dir;

// The scratch directory lives in memory: a fuzzer that ends normally takes
// it away.
void remove_scratch() {
  std::error_code ignored;
  std::filesystem::remove_all(scratch_dir, ignored);
}

bool write_whole_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && ok;
}

// The entry's 8.3 name as a user would type it: "NAME.EXT", "NAME".
std::string typed_name(const uint8_t* entry) {
  std::string name(reinterpret_cast<const char*>(entry), 8);
  std::string extension(reinterpret_cast<const char*>(entry) + 8, 3);
  while (!name.empty() && name.back() == ' ')
    name.pop_back();
  while (!extension.empty() && extension.back() == ' ')
    extension.pop_back();
  if (!extension.empty()) name += "." + extension;
  name.erase(std::find(name.begin(), name.end(), '\0'), name.end());
  return name;
}

void walk(const disk_image* image, const std::string& path) {
  int32_t cluster = -7;
  int32_t limit = -7;
  walk_image_path(image, path.c_str(), &cluster, &limit, 1);
  walk_image_path(image, path.c_str(), &cluster, &limit, 0);
}

// Walks the names of the first root entries, and one level below each
// directory among them. A subdirectory search may scan a chain of every
// cluster on the disk, so the walks are kept few.
void walk_root_names(const disk_image* image) {
  const int32_t entries = std::min(image->root_dir_entries, 16);
  const uint8_t* root = image->file_data.get() + sector_offset(image, image->root_dir_sector);
  std::vector<std::string> names;
  for (int32_t i = 0; i < entries; ++i)
    names.push_back(typed_name(root + 32 * i));
  for (int32_t i = 0; i < entries; ++i) {
    if (names[i].empty()) continue;
    walk(image, names[i]);
    if ((root[32 * i + 11] & 0x10) == 0) continue;
    for (int32_t j = 0; j < 4; ++j)
      walk(image, names[i] + "/" + names[j]);
    walk(image, names[i] + "/../" + names[i] + "/.");
  }
}

void exercise(disk_image* image, const std::string& saved_path) {
  static uint8_t tiles[30720];
  static uint8_t maps[13104];
  read_image_file(image, "EGCTILES.BIN", tiles, sizeof tiles, 1);
  read_image_file(image, "MAP.BIN", maps, sizeof maps, 1);
  image_file_size(image, "MAP.BIN", 1);
  image_file_size(image, "egctiles.bin", 0);
  walk_root_names(image);
  walk(image, "/");
  walk(image, "LONGFILENAME/X");
  write_image_file(image, "MAP.BIN", maps, sizeof maps, 1);
  write_image_file(image, "EGCTILES.BIN", tiles, 100, 1);
  for (int32_t cluster = -1; cluster < image->cluster_count + 2; cluster += 97) {
    int32_t c = 0, h = 0, s = 0, index = 0;
    cluster_to_chs(image, cluster, &c, &h, &s);
    chs_to_cluster(image, c, h, s, &index);
  }
  save_disk_image(image, saved_path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The module reports on standard output; the fuzzer's own lines go to
  // standard error and stay visible.
  if (freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  // A scratch directory in memory where there is one: every input is written
  // out and read back whole.
  char pattern[] = "/dev/shm/o1fuzz-disk.XXXXXX";
  if (mkdtemp(pattern) == nullptr) std::abort();
  scratch_dir = pattern;
  std::atexit(remove_scratch);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t data_size = kDataSizes[data[0] % 3];
  std::vector<uint8_t> file(kHeaderSize + data_size, 0);
  memcpy(file.data() + kHeaderSize, data + 1, std::min(size - 1, data_size));

  const std::string image_path = scratch_dir + "/image.fdi";
  const std::string saved_path = scratch_dir + "/saved.fdi";
  if (!write_whole_file(image_path, file)) std::abort();

  disk_image image{};
  if (open_disk_image(&image, image_path.c_str(), kHeaderSize) == 0) exercise(&image, saved_path);
  close_disk_image(&image, 0);
  close_disk_image(&image, 0);
  return 0;
}
