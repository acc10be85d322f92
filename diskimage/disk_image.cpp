// Loading an image file, recognising its geometry and decoding its FAT.

#include "diskimage/disk_image.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

// The geometries an image is recognised by, in the order they are tried.
struct geometry {
  int32_t data_size;
  int32_t cylinders;
  int32_t heads;
  int32_t sectors_per_track;
  int32_t bytes_per_sector;
  int32_t total_sectors;
  int32_t fat_start_sector;
  int32_t fat_sectors;
  int32_t root_dir_sector;
  int32_t root_dir_entries;
  int32_t root_dir_sectors;
  int32_t data_start_sector;
  int32_t sectors_per_cluster;
};

constexpr geometry geometries[] = {
    {0x134000, 77, 2, 8, 1024, 1232, 1, 2, 5, 192, 6, 11, 1},
    {0xB4000, 80, 2, 9, 512, 1440, 1, 3, 7, 112, 7, 14, 2},
    {0xA0000, 80, 2, 8, 512, 1280, 1, 2, 5, 112, 7, 12, 2},
};

constexpr int64_t largest_data_size = 0x134000;

const geometry* geometry_for_size(int64_t file_size, int32_t header_size) {
  if (header_size < 0) return nullptr;  // sector positions would fall before the buffer
  for (const geometry& g : geometries)
    if (file_size == int64_t{header_size} + g.data_size) return &g;
  return nullptr;
}

void set_geometry(disk_image* image, const geometry& g) {
  image->cylinders = g.cylinders;
  image->heads = g.heads;
  image->sectors_per_track = g.sectors_per_track;
  image->bytes_per_sector = g.bytes_per_sector;
  image->total_sectors = g.total_sectors;
  image->fat_start_sector = g.fat_start_sector;
  image->fat_sectors = g.fat_sectors;
  image->root_dir_sector = g.root_dir_sector;
  image->root_dir_entries = g.root_dir_entries;
  image->root_dir_sectors = g.root_dir_sectors;
  image->data_start_sector = g.data_start_sector;
  image->sectors_per_cluster = g.sectors_per_cluster;
}

int fail_open(disk_image* image, std::FILE* file) {
  if (file != nullptr) std::fclose(file);
  close_disk_image(image, 0);
  return -1;
}

// The whole file in one read. The size is measured first, and a file
// longer than any image is refused before anything is allocated or read,
// so a large file given by mistake costs nothing.
int read_whole_file(disk_image* image, const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    std::printf("open error '%s'\n", path);
    return fail_open(image, nullptr);
  }
  long end = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
  if (end < 0) {
    std::printf("seek error '%s' (SEEK_END)\n", path);
    return fail_open(image, file);
  }
  if (end > int64_t{image->header_size} + largest_data_size || end > INT32_MAX) {
    std::printf("unsupported image '%s'\n", path);
    return fail_open(image, file);
  }
  image->file_size = static_cast<int32_t>(end);
  if (std::fseek(file, 0, SEEK_SET) != 0) {
    std::printf("seek error '%s' (SEEK_SET)\n", path);
    return fail_open(image, file);
  }
  image->file_data.reset(new (std::nothrow) uint8_t[static_cast<size_t>(image->file_size)]);
  if (image->file_data == nullptr) {
    std::printf("memory exhausted!\n");
    return fail_open(image, file);
  }
  // An empty file is one incomplete item, and so a read error.
  if (std::fread(image->file_data.get(), static_cast<size_t>(image->file_size), 1, file) != 1) {
    std::printf("read error '%s'\n", path);
    return fail_open(image, file);
  }
  std::fclose(file);
  return 0;
}

}  // namespace

int open_disk_image(disk_image* image, const char* path, int32_t header_size) {
  *image = disk_image{};
  image->header_size = header_size;
  if (read_whole_file(image, path) != 0) return -1;
  const geometry* g = geometry_for_size(image->file_size, header_size);
  if (g == nullptr) {
    std::printf("unsupported image '%s'\n", path);
    return fail_open(image, nullptr);
  }
  set_geometry(image, *g);
  if (load_fat(image) != 0) {
    std::printf("can't get fat '%s' offset=%08X\n", path, static_cast<unsigned>(header_size));
    return fail_open(image, nullptr);
  }
  return 0;
}

void close_disk_image(disk_image* image, int free_record) {
  if (image == nullptr) return;
  if (free_record != 0) {
    delete image;
    return;
  }
  *image = disk_image{};
}

int load_fat(disk_image* image) {
  if (image == nullptr || image->file_data == nullptr) return -1;
  // A record whose geometry is unset or whose FAT lies beyond the loaded
  // file has no FAT to decode.
  const int32_t fat_bytes = image->fat_sectors * image->bytes_per_sector;
  if (image->sectors_per_cluster <= 0 || image->bytes_per_sector <= 0 || fat_bytes <= 0 ||
      image->header_size < 0 || image->fat_start_sector < 0 ||
      int64_t{sector_offset(image, image->fat_start_sector)} + fat_bytes > image->file_size)
    return -1;

  image->cluster_count =
      (image->total_sectors - image->data_start_sector) / image->sectors_per_cluster;
  if (2 * fat_bytes / 3 < image->cluster_count) {
    std::printf("can't calculate FAT size\n");
    return -1;
  }
  std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[static_cast<size_t>(fat_bytes)]);
  if (scratch == nullptr) return -1;
  for (int32_t i = 0; i < image->fat_sectors; ++i) {
    std::memcpy(scratch.get() + i * image->bytes_per_sector,
                image->file_data.get() + sector_offset(image, image->fat_start_sector + i),
                static_cast<size_t>(image->bytes_per_sector));
  }
  const int32_t count = image->cluster_count < 0 ? 0 : image->cluster_count;
  image->fat.reset(new (std::nothrow) int32_t[static_cast<size_t>(count)]);
  if (image->fat == nullptr) {
    std::printf("memory exhausted!\n");
    return -1;
  }
  // FAT12 packs two 12-bit entries into three bytes, little-endian: entry
  // 2k is the low 12 bits of the triple at 3k, entry 2k + 1 the high 12.
  // With an odd count the last triple supplies only its lower entry.
  const uint8_t* fat = scratch.get();
  for (int32_t k = 0; 2 * k < count; ++k) {
    const int32_t at = 3 * k;
    const int32_t third = at + 2 < fat_bytes ? fat[at + 2] : 0;
    const int32_t triple = fat[at] | (fat[at + 1] << 8) | (third << 16);
    image->fat[2 * k] = triple & 0xFFF;
    if (2 * k + 1 < count) image->fat[2 * k + 1] = triple >> 12;
  }
  return 0;
}

int32_t next_cluster(const disk_image* image, int32_t cluster) {
  if (cluster < 0 || cluster >= image->cluster_count) return -1;
  return image->fat[cluster];
}

// Data cluster n starts sectors_per_cluster * (n - 2) sectors into the data
// area: clusters 0 and 1 are the FAT's reserved entries and have no data.
int32_t cluster_to_sector(const disk_image* image, int32_t cluster) {
  if (cluster < 2 || cluster >= image->cluster_count) return -1;
  return image->data_start_sector + (cluster - 2) * image->sectors_per_cluster;
}

int32_t sector_offset(const disk_image* image, int32_t sector) {
  return image->header_size + sector * image->bytes_per_sector;
}
