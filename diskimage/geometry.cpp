// Conversions between data clusters, logical sectors and cylinder / head /
// sector addresses. Logical sectors run through every sector of a track,
// then the other head of the same cylinder, then the next cylinder.

#include "diskimage/disk_image.h"

int32_t sector_to_cluster(const disk_image* image, int32_t sector, int32_t* index_in_cluster) {
  // A record with no geometry has no clusters (and nothing to divide by).
  if (image->sectors_per_cluster <= 0) {
    if (index_in_cluster != nullptr) *index_in_cluster = 0;
    return -1;
  }
  const int32_t from_data = sector - image->data_start_sector;
  if (index_in_cluster != nullptr) *index_in_cluster = from_data % image->sectors_per_cluster;
  return from_data / image->sectors_per_cluster + 2;
}

void cluster_to_chs(const disk_image* image, int32_t cluster, int32_t* cylinder, int32_t* head,
                    int32_t* sector) {
  const int32_t logical = cluster_to_sector(image, cluster);
  if (logical == -1) {
    *cylinder = 0;
    *head = 0;
    *sector = 0;
    return;
  }
  const int32_t per_cylinder = image->sectors_per_track * image->heads;
  *cylinder = logical / per_cylinder;
  const int32_t in_cylinder = logical - *cylinder * per_cylinder;
  *head = in_cylinder / image->sectors_per_track;
  *sector = in_cylinder - *head * image->sectors_per_track + 1;  // sectors count from 1
}

int32_t chs_to_cluster(const disk_image* image, int32_t cylinder, int32_t head, int32_t sector,
                       int32_t* index_in_cluster) {
  const int32_t logical = (cylinder * image->heads + head) * image->sectors_per_track + sector - 1;
  return sector_to_cluster(image, logical, index_in_cluster);
}
