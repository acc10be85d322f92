// 8.3 short names, directory search and copying files out of the image.

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "diskimage/cluster_chain.h"
#include "diskimage/disk_image.h"

namespace {

constexpr int32_t entry_size = 32;
constexpr int32_t name_size = 11;

// Every byte to itself, except that A to Z map to a to z.
constexpr std::array<uint8_t, 256> folded_case = [] {
  std::array<uint8_t, 256> table{};
  for (int i = 0; i < 256; ++i)
    table[static_cast<size_t>(i)] = static_cast<uint8_t>(i >= 'A' && i <= 'Z' ? i + 32 : i);
  return table;
}();

bool names_match(const uint8_t* entry, const uint8_t* name, int ignore_case) {
  if (ignore_case == 0) return std::memcmp(entry, name, name_size) == 0;
  for (int32_t i = 0; i < name_size; ++i)
    if (folded_case[entry[i]] != folded_case[name[i]]) return false;
  return true;
}

// The first of count consecutive entries at bytes that matches, or nullptr.
const uint8_t* match_in(const uint8_t* bytes, int32_t count, const uint8_t* name, int ignore_case) {
  for (int32_t i = 0; i < count; ++i, bytes += entry_size)
    if (names_match(bytes, name, ignore_case)) return bytes;
  return nullptr;
}

}  // namespace

int32_t fetch_le16(const uint8_t* bytes) {
  return bytes[0] | (bytes[1] << 8);
}

int32_t fetch_le32(const uint8_t* bytes) {
  return static_cast<int32_t>(static_cast<uint32_t>(fetch_le16(bytes)) |
                              (static_cast<uint32_t>(fetch_le16(bytes + 2)) << 16));
}

int32_t dir_entry_cluster(const uint8_t* entry) {
  return fetch_le16(entry + 26);
}
int32_t dir_entry_size(const uint8_t* entry) {
  return fetch_le32(entry + 28);
}

int make_short_name(char* short_name, const char* file_name) {
  const char* from = file_name;
  int32_t at = 0;
  while (at < 8 && *from != '\0' && *from != '.')
    short_name[at++] = *from++;
  while (at < 8)
    short_name[at++] = ' ';
  if (*from == '.') {
    ++from;
    while (at < name_size && *from != '\0')
      short_name[at++] = *from++;
  }
  while (at < name_size)
    short_name[at++] = ' ';
  short_name[name_size] = '\0';
  // 0xE5 in the first byte marks a deleted entry; a name that really
  // begins with it is stored as 0x05.
  if (static_cast<uint8_t>(short_name[0]) == 0xE5) short_name[0] = 0x05;
  return *from == '\0' ? 0 : -1;
}

const uint8_t* find_dir_entry(const disk_image* image, int32_t start_cluster, int32_t limit,
                              const char* short_name, int ignore_case) {
  const uint8_t* name = reinterpret_cast<const uint8_t*>(short_name);
  if (image->file_data == nullptr) return nullptr;
  if (start_cluster < 2) {
    // The root is one run of consecutive sectors, and no search compares
    // more entries than it holds, whatever limit the caller gives.
    const int32_t count = std::min(limit, image->root_dir_entries);
    return match_in(image->file_data.get() + sector_offset(image, image->root_dir_sector), count,
                    name, ignore_case);
  }
  // A subdirectory: cluster by cluster along its chain, each cluster's
  // sectors being consecutive.
  const int32_t per_cluster = image->sectors_per_cluster * image->bytes_per_sector / entry_size;
  cluster_set visited;
  first_visit(&visited, start_cluster);
  for (int32_t cluster = start_cluster; cluster != -1 && limit > 0;
       cluster = next_directory_cluster(image, cluster, &visited)) {
    const int32_t sector = cluster_to_sector(image, cluster);
    if (sector == -1) return nullptr;
    const int32_t count = std::min(limit, per_cluster);
    const uint8_t* found =
        match_in(image->file_data.get() + sector_offset(image, sector), count, name, ignore_case);
    if (found != nullptr) return found;
    limit -= count;
  }
  return nullptr;
}

int read_image_file(const disk_image* image, const char* file_name, uint8_t* buffer,
                    int32_t buffer_size, int ignore_case) {
  char short_name[12];
  if (make_short_name(short_name, file_name) != 0) {
    std::printf("illegal filename '%s'\n", file_name);
    return -1;
  }
  const uint8_t* entry =
      find_dir_entry(image, -1, image->root_dir_entries, short_name, ignore_case);
  if (entry == nullptr) {
    std::printf("can't find '%s'\n", file_name);
    return -1;
  }
  const int32_t file_size = dir_entry_size(entry);
  if (file_size > buffer_size) {
    std::printf("file size error '%s' %d > %d\n", file_name, file_size, buffer_size);
    return -1;
  }
  if (file_size < buffer_size)
    std::printf("file size mismatch '%s' %d != %d ... ignored\n", file_name, file_size,
                buffer_size);

  chain_cursor cursor;
  start_chain(&cursor, dir_entry_cluster(entry));
  for (int32_t remaining = file_size; remaining > 0;) {
    const int32_t offset = next_file_sector(image, &cursor);
    if (offset < 0) return -1;
    const int32_t count = std::min(remaining, image->bytes_per_sector);
    std::memcpy(buffer, image->file_data.get() + offset, static_cast<size_t>(count));
    buffer += count;
    remaining -= count;
  }
  return 0;
}
