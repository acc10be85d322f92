#ifndef O1PC98MAP_TESTING_DISK_BUILDER_H_
#define O1PC98MAP_TESTING_DISK_BUILDER_H_

// Builds floppy-disk image files from scratch, for tests and the sample disk:
// a header, a boot sector whose parameter block matches the geometry, two
// FAT12 copies, the root directory and the data area.
//
// Simple use:
//   disk_builder disk;
//   format_disk(&disk, disk_geometry::sectors_1232);
//   add_root_file(&disk, "MAP.BIN", map_bytes);
//   write_disk(&disk, path);            // or disk_bytes(&disk)
//
// Beyond that the caller may set any FAT entry, place a file on any list of
// clusters, make subdirectories, and write raw directory entries with any
// eleven name bytes (deleted entries, volume labels, odd bytes), any
// attribute byte and any date and time. The FAT lives packed in the sectors
// themselves (both copies kept equal), so disk_bytes is a plain copy and a
// test may still poke any byte of the header or of any sector directly.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The three floppy geometries that images are recognised by.
enum class disk_geometry { sectors_1232, sectors_1440, sectors_1280 };

// The fixed parameters of one geometry, as the boot sector records them.
struct disk_layout {
  int32_t data_size;  // bytes of all sectors
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
  int32_t cluster_count;  // (total_sectors - data_start_sector) / sectors_per_cluster
  uint8_t media_byte;     // boot sector byte 21 and the low byte of FAT entry 0
  uint32_t disk_type;     // second word of the 4096-byte header
};

const disk_layout& layout_of(disk_geometry geometry);

// "Sectors1232", "Sectors1440" or "Sectors1280": a name for test listings.
const char* geometry_name(disk_geometry geometry);

// The root directory as a directory argument; a subdirectory is named by
// the first cluster of its chain.
constexpr int32_t root_directory = 0;

// FAT value that ends a chain.
constexpr int32_t end_of_chain = 0xFFF;

// Attribute bits of a directory entry.
constexpr uint8_t attribute_read_only = 0x01;
constexpr uint8_t attribute_hidden = 0x02;
constexpr uint8_t attribute_system = 0x04;
constexpr uint8_t attribute_volume = 0x08;
constexpr uint8_t attribute_directory = 0x10;
constexpr uint8_t attribute_archive = 0x20;

// Everything of one 32-byte directory entry that the builder writes.
struct dir_entry_fields {
  std::string name;  // exactly 11 bytes, written as given (any bytes)
  uint8_t attributes = attribute_archive;
  uint16_t time = 0;
  uint16_t date = 0;
  uint16_t first_cluster = 0;
  uint32_t size = 0;
};

// How far a directory has been filled: its next unused slot.
struct directory_fill {
  int32_t directory;
  int32_t next_slot;
};

// A disk being built. header holds header_size bytes; sectors holds every
// sector of the disk in order. next_free is the lowest cluster that the
// builder's own allocation has not handed out yet.
struct disk_builder {
  disk_geometry geometry = disk_geometry::sectors_1232;
  disk_layout layout{};
  std::vector<uint8_t> header;
  std::vector<uint8_t> sectors;
  int32_t next_free = 2;
  std::vector<directory_fill> fills;
};

// Formats an empty disk: the header words (when the header holds them), the
// boot sector, both FATs with the media byte in entry 0 and 0xFFF in entry 1,
// and an empty root directory. Any previous content is dropped.
void format_disk(disk_builder* disk, disk_geometry geometry, int32_t header_size = 4096);

// The 11-byte directory form of a name such as "MAP.BIN": name part and
// extension padded with spaces, letters kept as given. Parts that are too
// long are cut.
std::string short_name_of(std::string_view file_name);

// FAT entries, 12 bits each, set in both copies. The builder accepts every
// entry that the FAT sectors have room for, beyond the data area included.
void set_fat_entry(disk_builder* disk, int32_t cluster, int32_t value);
int32_t fat_entry(const disk_builder* disk, int32_t cluster);

// Hands out count consecutive free clusters from next_free, linked into one
// chain ending with end_of_chain; returns the first (0 for count 0).
int32_t allocate_chain(disk_builder* disk, int32_t count);

// Links the clusters in the order given, the last one to last_value.
void link_chain(disk_builder* disk, std::span<const int32_t> clusters,
                int32_t last_value = end_of_chain);

// Clusters a file of size bytes needs on this disk.
int32_t clusters_for(const disk_builder* disk, int64_t size);

// Byte views of one sector and of one data cluster (cluster 2 and up, the
// two clusters beyond the FAT table's reach included).
std::span<uint8_t> sector_bytes(disk_builder* disk, int32_t sector);
std::span<uint8_t> cluster_bytes(disk_builder* disk, int32_t cluster);

// Writes bytes into the clusters in the order given, each cluster filled
// before the next; bytes that do not fit are dropped. FAT is not touched.
void write_clusters(disk_builder* disk, std::span<const int32_t> clusters,
                    std::span<const uint8_t> bytes);

// Puts a raw entry into the next unused slot of a directory (the root, or a
// subdirectory by its first cluster, following its chain); returns the slot
// index, or -1 when the directory is full. skip_entries leaves that many
// slots empty first: an empty slot reads as an end-of-directory marker, so
// an entry after it lies beyond the end of the directory.
int32_t add_entry(disk_builder* disk, int32_t directory, const dir_entry_fields& entry);
void skip_entries(disk_builder* disk, int32_t directory, int32_t count);

// Puts an entry into a given slot of a directory; returns false when the
// directory has no such slot.
bool put_entry(disk_builder* disk, int32_t directory, int32_t slot, const dir_entry_fields& entry);

// A file in the root on a fresh contiguous chain; returns its first cluster
// (0 for an empty file).
int32_t add_root_file(disk_builder* disk, std::string_view file_name,
                      std::span<const uint8_t> bytes);

// A file in any directory on a fresh contiguous chain, with its entry
// fields (name and first cluster are filled in here; size from bytes).
int32_t add_file(disk_builder* disk, int32_t directory, std::string_view file_name,
                 std::span<const uint8_t> bytes, dir_entry_fields fields = {});

// A file whose bytes lie on the clusters given, linked in that order and
// ended with last_value (end_of_chain, or a value that makes the chain
// cyclic or broken). The entry records recorded_size (the byte count when
// negative), so a chain may be too short for the recorded size.
void add_file_on_chain(disk_builder* disk, int32_t directory, std::string_view file_name,
                       std::span<const int32_t> clusters, std::span<const uint8_t> bytes,
                       int64_t recorded_size = -1, int32_t last_value = end_of_chain);

// A subdirectory of clusters clusters (zero-filled) with its "." and ".."
// entries, its entry in parent recording size 0 and attribute 0x10; returns
// its first cluster, to pass as a directory argument.
int32_t add_directory(disk_builder* disk, int32_t parent, std::string_view name,
                      int32_t clusters = 1);

// A volume label entry (attribute 0x08) in the root.
void add_volume_label(disk_builder* disk, std::string_view label);

// The whole image file: header then every sector.
std::vector<uint8_t> disk_bytes(const disk_builder* disk);
bool write_disk(const disk_builder* disk, const std::string& path);

// Encodes a date and a time as directory entries store them.
constexpr uint16_t fat_date(int year, int month, int day) {
  return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}
constexpr uint16_t fat_time(int hours, int minutes, int seconds) {
  return static_cast<uint16_t>((hours << 11) | (minutes << 5) | (seconds / 2));
}

#endif  // O1PC98MAP_TESTING_DISK_BUILDER_H_
