#ifndef O1PC98MAP_DISKIMAGE_DISK_IMAGE_H_
#define O1PC98MAP_DISKIMAGE_DISK_IMAGE_H_

// Access to a floppy-disk image file: a header of the caller's size followed
// by every sector of a FAT12 disk. The geometry is recognised from the file's
// size alone. Every message goes to standard output; status results are 0 for
// success and -1 for failure.

#include <cstdint>
#include <memory>

// One loaded image. A closed record is all zeros (both buffers absent).
struct disk_image {
  int32_t header_size;                   // bytes before sector 0 in the image file
  int32_t file_size;                     // size of the whole image file
  std::unique_ptr<uint8_t[]> file_data;  // the whole file, header included
  int32_t cluster_count;                 // entries in fat
  std::unique_ptr<int32_t[]> fat;        // 12-bit FAT value of each cluster, 0 and 1 included
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

// Loading, the FAT and cluster arithmetic.
int open_disk_image(disk_image* image, const char* path, int32_t header_size);
void close_disk_image(disk_image* image, int free_record);
int load_fat(disk_image* image);
int32_t next_cluster(const disk_image* image, int32_t cluster);
int32_t cluster_to_sector(const disk_image* image, int32_t cluster);
int32_t sector_offset(const disk_image* image, int32_t sector);

// Short names, directory entries, search and extraction.
int make_short_name(char* short_name /* 12 bytes */, const char* file_name);
const uint8_t* find_dir_entry(const disk_image* image, int32_t start_cluster, int32_t limit,
                              const char* short_name, int ignore_case);
int read_image_file(const disk_image* image, const char* file_name, uint8_t* buffer,
                    int32_t buffer_size, int ignore_case);
int32_t fetch_le16(const uint8_t* bytes);
int32_t fetch_le32(const uint8_t* bytes);
int32_t dir_entry_cluster(const uint8_t* entry);
int32_t dir_entry_size(const uint8_t* entry);

// Write-back, saving and the path walk.
int32_t image_file_size(const disk_image* image, const char* file_name, int ignore_case);
int write_image_file(disk_image* image, const char* file_name, const uint8_t* data,
                     int32_t data_size, int ignore_case);
int save_disk_image(const disk_image* image, const char* path);
int walk_image_path(const disk_image* image, const char* path, int32_t* cluster, int32_t* limit,
                    int ignore_case);
void format_entry_date(char* destination /* 11 bytes */, const uint8_t* entry);
void format_entry_time(char* destination /* 9 bytes */, const uint8_t* entry);
void format_entry_attributes(char* destination /* 7 bytes */, const uint8_t* entry);

// Conversions between clusters, sectors and cylinder/head/sector addresses.
int32_t sector_to_cluster(const disk_image* image, int32_t sector, int32_t* index_in_cluster);
void cluster_to_chs(const disk_image* image, int32_t cluster, int32_t* cylinder, int32_t* head,
                    int32_t* sector);
int32_t chs_to_cluster(const disk_image* image, int32_t cylinder, int32_t head, int32_t sector,
                       int32_t* index_in_cluster);

#endif  // O1PC98MAP_DISKIMAGE_DISK_IMAGE_H_
