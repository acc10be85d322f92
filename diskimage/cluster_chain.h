#ifndef O1PC98MAP_DISKIMAGE_CLUSTER_CHAIN_H_
#define O1PC98MAP_DISKIMAGE_CLUSTER_CHAIN_H_

// Walking cluster chains, shared by extraction, write-back, directory search
// and the path walk. Internal to the module.
//
// Every walk remembers the clusters it has been through. A FAT12 cluster
// number has 12 bits, so one bit per possible number covers every chain;
// a chain that comes back to a cluster is cyclic, and is treated as broken
// there instead of being followed round for ever.

#include <bitset>
#include <cstdint>

#include "diskimage/disk_image.h"

// FAT values from this one up end a chain.
constexpr int32_t first_end_of_chain = 0xFF0;

struct cluster_set {
  std::bitset<4096> seen;
};

// True the first time a cluster is offered, false when it was seen before.
bool first_visit(cluster_set* set, int32_t cluster);

// A file's chain handed out one sector at a time.
struct chain_cursor {
  int32_t cluster;          // cluster whose sectors are handed out
  int32_t sector;           // next sector of that cluster
  int32_t left_in_cluster;  // sectors of the cluster not yet handed out
  cluster_set visited;
};

void start_chain(chain_cursor* cursor, int32_t first_cluster);

// Position in file_data of the file's next sector. When the chain cannot
// supply one, prints "illegal cluster 0x%X\n" (a value below 2, an end of
// chain, or a cluster reached a second time) or "can't get sector from
// cluster 0x%X\n" (a cluster beyond the FAT table) and returns -1.
int32_t next_file_sector(const disk_image* image, chain_cursor* cursor);

// The cluster after a directory cluster, or -1 where the directory ends:
// an end of chain, a free or reserved value, a cluster with no sector, or a
// cluster the walk has been through already.
int32_t next_directory_cluster(const disk_image* image, int32_t cluster, cluster_set* visited);

// Clusters of the directory whose chain starts at first_cluster (2 or up),
// counted as next_directory_cluster walks them.
int32_t directory_cluster_count(const disk_image* image, int32_t first_cluster);

#endif  // O1PC98MAP_DISKIMAGE_CLUSTER_CHAIN_H_
