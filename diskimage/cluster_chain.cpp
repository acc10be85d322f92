#include "diskimage/cluster_chain.h"

#include <cstdio>

bool first_visit(cluster_set* set, int32_t cluster) {
  const size_t bit = static_cast<size_t>(cluster) & 0xFFF;
  if (set->seen.test(bit)) return false;
  set->seen.set(bit);
  return true;
}

void start_chain(chain_cursor* cursor, int32_t first_cluster) {
  *cursor = chain_cursor{};
  cursor->cluster = first_cluster;
}

int32_t next_file_sector(const disk_image* image, chain_cursor* cursor) {
  if (cursor->left_in_cluster == 0) {
    // Every sector of the previous cluster is used: check the next one.
    // The first call checks the file's first cluster itself.
    const int32_t cluster = cursor->cluster;
    if (cluster < 2 || cluster >= first_end_of_chain) {
      std::printf("illegal cluster 0x%X\n", static_cast<unsigned>(cluster));
      return -1;
    }
    const int32_t sector = cluster_to_sector(image, cluster);
    if (sector == -1) {
      std::printf("can't get sector from cluster 0x%X\n", static_cast<unsigned>(cluster));
      return -1;
    }
    if (!first_visit(&cursor->visited, cluster)) {
      std::printf("illegal cluster 0x%X\n", static_cast<unsigned>(cluster));
      return -1;
    }
    cursor->sector = sector;
    cursor->left_in_cluster = image->sectors_per_cluster;
  }
  const int32_t offset = sector_offset(image, cursor->sector);
  ++cursor->sector;
  if (--cursor->left_in_cluster == 0) cursor->cluster = next_cluster(image, cursor->cluster);
  return offset;
}

int32_t next_directory_cluster(const disk_image* image, int32_t cluster, cluster_set* visited) {
  const int32_t next = next_cluster(image, cluster);
  if (next < 2 || next >= first_end_of_chain || cluster_to_sector(image, next) == -1) return -1;
  if (!first_visit(visited, next)) return -1;
  return next;
}

int32_t directory_cluster_count(const disk_image* image, int32_t first_cluster) {
  if (cluster_to_sector(image, first_cluster) == -1) return 0;
  cluster_set visited;
  first_visit(&visited, first_cluster);
  int32_t count = 1;
  for (int32_t cluster = first_cluster;
       (cluster = next_directory_cluster(image, cluster, &visited)) != -1;)
    ++count;
  return count;
}
