// Walking a directory path with one DEBUG line per component, and the
// texts of a directory entry's date, time and attributes.

#include <cstdio>
#include <cstring>
#include <new>

#include "diskimage/cluster_chain.h"
#include "diskimage/disk_image.h"

namespace {

constexpr uint8_t directory_bit = 0x10;
constexpr int32_t entry_size = 32;

// The entry limit for searching inside an entry's clusters. An entry with
// no data cluster (".." of a first-level directory, or a damaged one)
// selects the root search, whose limit is the root's own size. Any other is
// bounded by its own cluster chain: directories record size 0, so the
// chain is what says how far one reaches.
int32_t search_limit_inside(const disk_image* image, int32_t first_cluster) {
  if (first_cluster < 2) return image->root_dir_entries;
  const int32_t per_cluster = image->sectors_per_cluster * image->bytes_per_sector / entry_size;
  return directory_cluster_count(image, first_cluster) * per_cluster;
}

void print_debug_line(const char* short_name, const uint8_t* entry) {
  char date[11];
  char time[9];
  char attributes[7];
  format_entry_date(date, entry);
  format_entry_time(time, entry);
  format_entry_attributes(attributes, entry);
  std::printf("DEBUG: %s %10.1d %s %s %s %04X\n", short_name, dir_entry_size(entry), date, time,
              attributes, static_cast<unsigned>(dir_entry_cluster(entry)));
}

}  // namespace

int walk_image_path(const disk_image* image, const char* path, int32_t* cluster, int32_t* limit,
                    int ignore_case) {
  *cluster = 0;
  *limit = image->root_dir_entries;
  if (path == nullptr) return 0;

  const size_t length = std::strlen(path);
  std::unique_ptr<char[]> copy(new (std::nothrow) char[length + 1]);
  if (copy == nullptr) {
    std::printf("memory exhausted!\n");
    return -1;
  }
  std::memcpy(copy.get(), path, length + 1);

  char* next = copy.get();
  while (*next != '\0') {
    // Split off the next component; empty ones (doubled, leading or
    // trailing slashes) are skipped.
    char* component = next;
    while (*next != '\0' && *next != '/')
      ++next;
    if (*next == '/') *next++ = '\0';
    if (*component == '\0') continue;

    char short_name[12];
    if (make_short_name(short_name, component) != 0) {
      std::printf("illegal filename '%s'\n", path);
      return -1;
    }
    const uint8_t* entry = find_dir_entry(image, *cluster, *limit, short_name, ignore_case);
    if (entry == nullptr) {
      std::printf("can't find '%s'\n", path);
      return -1;
    }
    *cluster = dir_entry_cluster(entry);
    *limit = search_limit_inside(image, *cluster);
    print_debug_line(short_name, entry);
    if ((entry[11] & directory_bit) == 0) {
      std::printf("'%s' is not directory\n", component);
      return -1;
    }
  }
  return 0;
}

// Dates: year since 1980 in bits 9-15, month in 5-8, day in 0-4.
void format_entry_date(char* destination, const uint8_t* entry) {
  const int32_t date = fetch_le16(entry + 24);
  std::snprintf(destination, 11, "%04d-%02d-%02d", ((date >> 9) & 0x7F) + 1980, (date >> 5) & 0x0F,
                date & 0x1F);
}

// Times: hours in bits 11-15, minutes in 5-10, seconds / 2 in 0-4.
void format_entry_time(char* destination, const uint8_t* entry) {
  const int32_t time = fetch_le16(entry + 22);
  std::snprintf(destination, 9, "%02d:%02d:%02d", (time >> 11) & 0x1F, (time >> 5) & 0x3F,
                (time & 0x1F) * 2);
}

void format_entry_attributes(char* destination, const uint8_t* entry) {
  constexpr char letters[] = "rhsvda";
  for (int bit = 0; bit < 6; ++bit)
    destination[bit] = (entry[11] >> bit) & 1 ? letters[bit] : '-';
  destination[6] = '\0';
}
