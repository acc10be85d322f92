#ifndef O1PC98MAP_DRIVER_RUN_H_
#define O1PC98MAP_DRIVER_RUN_H_

// The command line and the run sequence: tile sheet, raster, map data, then
// for each of the four maps its title, rendering and file.

struct map_table_entry {
  const char* file_name;
  const char* title;
};

extern const map_table_entry map_table[4];

void usage();

// The whole run over a null-terminated argument vector (element 0 is the
// program's name and is skipped). Returns the exit status, 0 or 1.
int run_map_tool(char* const* argv);

#endif  // O1PC98MAP_DRIVER_RUN_H_
