#include "testing/disk_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Columns of the geometry table; every derived figure agrees with the
// others (cylinders x heads x sectors per track = total sectors, and so on).
constexpr disk_layout layouts[] = {
    {0x134000, 77, 2, 8, 1024, 1232, 1, 2, 5, 192, 6, 11, 1, 1221, 0xFE, 0x90},
    {0xB4000, 80, 2, 9, 512, 1440, 1, 3, 7, 112, 7, 14, 2, 713, 0xF9, 0x10},
    {0xA0000, 80, 2, 8, 512, 1280, 1, 2, 5, 112, 7, 12, 2, 634, 0xFB, 0x10},
};

constexpr int32_t entry_size = 32;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "disk_builder: %s\n", what);
  std::abort();
}

void store_le16(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
}

void store_le32(uint8_t* bytes, uint32_t value) {
  store_le16(bytes, value);
  store_le16(bytes + 2, value >> 16);
}

int32_t fat_capacity(const disk_layout& layout) {
  return layout.fat_sectors * layout.bytes_per_sector * 2 / 3;
}

// The header as image files usually carry it: eight little-endian words,
// then zeros.
void write_header_words(disk_builder* disk) {
  const disk_layout& l = disk->layout;
  const uint32_t words[8] = {0,
                             l.disk_type,
                             static_cast<uint32_t>(disk->header.size()),
                             static_cast<uint32_t>(l.data_size),
                             static_cast<uint32_t>(l.bytes_per_sector),
                             static_cast<uint32_t>(l.sectors_per_track),
                             static_cast<uint32_t>(l.heads),
                             static_cast<uint32_t>(l.cylinders)};
  for (size_t i = 0; i < 8 && (i + 1) * 4 <= disk->header.size(); ++i)
    store_le32(disk->header.data() + i * 4, words[i]);
}

// Boot sector with a BIOS parameter block for the geometry.
void write_boot_sector(disk_builder* disk) {
  const disk_layout& l = disk->layout;
  uint8_t* boot = sector_bytes(disk, 0).data();
  boot[0] = 0xEB;
  boot[1] = 0x3C;
  boot[2] = 0x90;
  std::memcpy(boot + 3, "O1PC98MP", 8);
  store_le16(boot + 11, static_cast<uint32_t>(l.bytes_per_sector));
  boot[13] = static_cast<uint8_t>(l.sectors_per_cluster);
  store_le16(boot + 14, static_cast<uint32_t>(l.fat_start_sector));  // reserved sectors
  boot[16] = 2;                                                      // FAT copies
  store_le16(boot + 17, static_cast<uint32_t>(l.root_dir_entries));
  store_le16(boot + 19, static_cast<uint32_t>(l.total_sectors));
  boot[21] = l.media_byte;
  store_le16(boot + 22, static_cast<uint32_t>(l.fat_sectors));
  store_le16(boot + 24, static_cast<uint32_t>(l.sectors_per_track));
  store_le16(boot + 26, static_cast<uint32_t>(l.heads));
  boot[510] = 0x55;
  boot[511] = 0xAA;
}

directory_fill* fill_of(disk_builder* disk, int32_t directory) {
  for (directory_fill& fill : disk->fills)
    if (fill.directory == directory) return &fill;
  disk->fills.push_back({directory, 0});
  return &disk->fills.back();
}

// The 32 bytes of a directory slot, or nullptr when the directory has no
// such slot. A subdirectory's slots run along its FAT chain; the walk is
// bounded so that a cyclic chain cannot hold it.
uint8_t* slot_bytes(disk_builder* disk, int32_t directory, int32_t slot) {
  const disk_layout& l = disk->layout;
  if (slot < 0) return nullptr;
  if (directory == root_directory) {
    if (slot >= l.root_dir_entries) return nullptr;
    int32_t per_sector = l.bytes_per_sector / entry_size;
    return sector_bytes(disk, l.root_dir_sector + slot / per_sector).data() +
           (slot % per_sector) * entry_size;
  }
  int32_t per_cluster = l.sectors_per_cluster * l.bytes_per_sector / entry_size;
  int32_t cluster = directory;
  for (int32_t step = slot / per_cluster; step > 0; --step) {
    cluster = fat_entry(disk, cluster);
    if (cluster < 2 || cluster >= l.cluster_count) return nullptr;
  }
  if (cluster < 2 || cluster >= l.cluster_count) return nullptr;
  return cluster_bytes(disk, cluster).data() + (slot % per_cluster) * entry_size;
}

void encode_entry(uint8_t* bytes, const dir_entry_fields& entry) {
  if (entry.name.size() != 11) fail("a directory entry name must be 11 bytes");
  std::memset(bytes, 0, entry_size);
  std::memcpy(bytes, entry.name.data(), 11);
  bytes[11] = entry.attributes;
  store_le16(bytes + 22, entry.time);
  store_le16(bytes + 24, entry.date);
  store_le16(bytes + 26, entry.first_cluster);
  store_le32(bytes + 28, entry.size);
}

}  // namespace

const disk_layout& layout_of(disk_geometry geometry) {
  return layouts[static_cast<int>(geometry)];
}

const char* geometry_name(disk_geometry geometry) {
  constexpr const char* names[] = {"Sectors1232", "Sectors1440", "Sectors1280"};
  return names[static_cast<int>(geometry)];
}

void format_disk(disk_builder* disk, disk_geometry geometry, int32_t header_size) {
  *disk = disk_builder{};
  disk->geometry = geometry;
  disk->layout = layout_of(geometry);
  disk->header.assign(static_cast<size_t>(std::max(header_size, 0)), 0);
  disk->sectors.assign(static_cast<size_t>(disk->layout.data_size), 0);
  write_header_words(disk);
  write_boot_sector(disk);
  set_fat_entry(disk, 0, 0xF00 | disk->layout.media_byte);
  set_fat_entry(disk, 1, 0xFFF);
}

std::string short_name_of(std::string_view file_name) {
  std::string name(11, ' ');
  size_t dot = file_name.find('.');
  std::string_view base = file_name.substr(0, dot);
  std::string_view extension =
      dot == std::string_view::npos ? std::string_view() : file_name.substr(dot + 1);
  base.copy(name.data(), std::min<size_t>(base.size(), 8));
  extension.copy(name.data() + 8, std::min<size_t>(extension.size(), 3));
  return name;
}

// FAT12 packs two entries into three bytes: entry n starts at byte n * 3 / 2;
// an even entry takes that byte and the low nibble of the next, an odd entry
// the high nibble of that byte and the whole next byte.
void set_fat_entry(disk_builder* disk, int32_t cluster, int32_t value) {
  const disk_layout& l = disk->layout;
  if (cluster < 0 || cluster >= fat_capacity(l)) fail("FAT entry out of the FAT's room");
  for (int32_t copy = 0; copy < 2; ++copy) {
    uint8_t* fat = sector_bytes(disk, l.fat_start_sector + copy * l.fat_sectors).data();
    uint8_t* at = fat + cluster + cluster / 2;
    if (cluster % 2 == 0) {
      at[0] = static_cast<uint8_t>(value);
      at[1] = static_cast<uint8_t>((at[1] & 0xF0) | ((value >> 8) & 0x0F));
    } else {
      at[0] = static_cast<uint8_t>((at[0] & 0x0F) | ((value << 4) & 0xF0));
      at[1] = static_cast<uint8_t>(value >> 4);
    }
  }
}

int32_t fat_entry(const disk_builder* disk, int32_t cluster) {
  const disk_layout& l = disk->layout;
  if (cluster < 0 || cluster >= fat_capacity(l)) fail("FAT entry out of the FAT's room");
  const uint8_t* at = disk->sectors.data() +
                      static_cast<size_t>(l.fat_start_sector) * l.bytes_per_sector + cluster +
                      cluster / 2;
  int32_t pair = at[0] | (at[1] << 8);
  return cluster % 2 == 0 ? (pair & 0xFFF) : (pair >> 4);
}

int32_t allocate_chain(disk_builder* disk, int32_t count) {
  if (count <= 0) return 0;
  int32_t first = disk->next_free;
  if (first + count > disk->layout.cluster_count) fail("disk full");
  std::vector<int32_t> clusters(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i)
    clusters[static_cast<size_t>(i)] = first + i;
  link_chain(disk, clusters);
  disk->next_free = first + count;
  return first;
}

void link_chain(disk_builder* disk, std::span<const int32_t> clusters, int32_t last_value) {
  for (size_t i = 0; i < clusters.size(); ++i)
    set_fat_entry(disk, clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : last_value);
}

int32_t clusters_for(const disk_builder* disk, int64_t size) {
  int64_t cluster_size = int64_t{disk->layout.sectors_per_cluster} * disk->layout.bytes_per_sector;
  return static_cast<int32_t>((size + cluster_size - 1) / cluster_size);
}

std::span<uint8_t> sector_bytes(disk_builder* disk, int32_t sector) {
  const disk_layout& l = disk->layout;
  if (sector < 0 || sector >= l.total_sectors) fail("sector out of the disk");
  return std::span(disk->sectors)
      .subspan(static_cast<size_t>(sector) * l.bytes_per_sector,
               static_cast<size_t>(l.bytes_per_sector));
}

std::span<uint8_t> cluster_bytes(disk_builder* disk, int32_t cluster) {
  const disk_layout& l = disk->layout;
  int32_t first = l.data_start_sector + (cluster - 2) * l.sectors_per_cluster;
  if (cluster < 2 || first + l.sectors_per_cluster > l.total_sectors)
    fail("cluster out of the data area");
  return std::span(disk->sectors)
      .subspan(static_cast<size_t>(first) * l.bytes_per_sector,
               static_cast<size_t>(l.sectors_per_cluster) * l.bytes_per_sector);
}

void write_clusters(disk_builder* disk, std::span<const int32_t> clusters,
                    std::span<const uint8_t> bytes) {
  for (int32_t cluster : clusters) {
    if (bytes.empty()) return;
    std::span<uint8_t> room = cluster_bytes(disk, cluster);
    size_t count = std::min(room.size(), bytes.size());
    std::copy_n(bytes.begin(), count, room.begin());
    bytes = bytes.subspan(count);
  }
}

int32_t add_entry(disk_builder* disk, int32_t directory, const dir_entry_fields& entry) {
  directory_fill* fill = fill_of(disk, directory);
  if (!put_entry(disk, directory, fill->next_slot, entry)) return -1;
  return fill->next_slot++;
}

void skip_entries(disk_builder* disk, int32_t directory, int32_t count) {
  fill_of(disk, directory)->next_slot += count;
}

bool put_entry(disk_builder* disk, int32_t directory, int32_t slot, const dir_entry_fields& entry) {
  uint8_t* bytes = slot_bytes(disk, directory, slot);
  if (bytes == nullptr) return false;
  encode_entry(bytes, entry);
  return true;
}

int32_t add_root_file(disk_builder* disk, std::string_view file_name,
                      std::span<const uint8_t> bytes) {
  return add_file(disk, root_directory, file_name, bytes);
}

int32_t add_file(disk_builder* disk, int32_t directory, std::string_view file_name,
                 std::span<const uint8_t> bytes, dir_entry_fields fields) {
  int32_t count = clusters_for(disk, static_cast<int64_t>(bytes.size()));
  int32_t first = allocate_chain(disk, count);
  std::vector<int32_t> clusters(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i)
    clusters[static_cast<size_t>(i)] = first + i;
  write_clusters(disk, clusters, bytes);
  fields.name = short_name_of(file_name);
  fields.first_cluster = static_cast<uint16_t>(first);
  fields.size = static_cast<uint32_t>(bytes.size());
  if (add_entry(disk, directory, fields) < 0) fail("directory full");
  return first;
}

void add_file_on_chain(disk_builder* disk, int32_t directory, std::string_view file_name,
                       std::span<const int32_t> clusters, std::span<const uint8_t> bytes,
                       int64_t recorded_size, int32_t last_value) {
  write_clusters(disk, clusters, bytes);
  link_chain(disk, clusters, last_value);
  dir_entry_fields fields;
  fields.name = short_name_of(file_name);
  fields.first_cluster = static_cast<uint16_t>(clusters.empty() ? 0 : clusters[0]);
  fields.size =
      static_cast<uint32_t>(recorded_size < 0 ? static_cast<int64_t>(bytes.size()) : recorded_size);
  for (int32_t cluster : clusters)
    disk->next_free = std::max(disk->next_free, cluster + 1);
  if (add_entry(disk, directory, fields) < 0) fail("directory full");
}

int32_t add_directory(disk_builder* disk, int32_t parent, std::string_view name, int32_t clusters) {
  int32_t first = allocate_chain(disk, std::max(clusters, 1));
  for (int32_t cluster = first; cluster < first + std::max(clusters, 1); ++cluster) {
    std::span<uint8_t> bytes = cluster_bytes(disk, cluster);
    std::fill(bytes.begin(), bytes.end(), 0);
  }
  dir_entry_fields fields;
  fields.attributes = attribute_directory;
  fields.first_cluster = static_cast<uint16_t>(first);
  fields.name = ".          ";
  add_entry(disk, first, fields);
  fields.name = "..         ";
  fields.first_cluster = static_cast<uint16_t>(parent);
  add_entry(disk, first, fields);
  fields.name = short_name_of(name);
  fields.first_cluster = static_cast<uint16_t>(first);
  if (add_entry(disk, parent, fields) < 0) fail("directory full");
  return first;
}

void add_volume_label(disk_builder* disk, std::string_view label) {
  dir_entry_fields fields;
  fields.name = std::string(label.substr(0, 11));
  fields.name.resize(11, ' ');
  fields.attributes = attribute_volume;
  if (add_entry(disk, root_directory, fields) < 0) fail("directory full");
}

std::vector<uint8_t> disk_bytes(const disk_builder* disk) {
  std::vector<uint8_t> bytes(disk->header);
  bytes.insert(bytes.end(), disk->sectors.begin(), disk->sectors.end());
  return bytes;
}

bool write_disk(const disk_builder* disk, const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  std::vector<uint8_t> bytes = disk_bytes(disk);
  bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}
