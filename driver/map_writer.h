#ifndef O1PC98MAP_DRIVER_MAP_WRITER_H_
#define O1PC98MAP_DRIVER_MAP_WRITER_H_

// Writing one rendered map as a BMP file, asking before an existing file is
// replaced.

#include "common/raster.h"

int write_map_bitmap(const char* file_name, const raster* picture, int overwrite);
int ask_yes_no(const char* question);

#endif  // O1PC98MAP_DRIVER_MAP_WRITER_H_
