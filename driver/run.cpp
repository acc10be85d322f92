#include "driver/run.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <new>

#include "common/raster.h"
#include "common/tile_sheet.h"
#include "driver/map_writer.h"
#include "tiles/egc_tiles.h"
#include "tiles/map_render.h"
#include "tiles/shape_bitmap.h"

const map_table_entry map_table[4] = {
    {"o1.1.Lands_of_Lord_Halvric.bmp", "Lands of Lord Halvric"},
    {"o1.2.Lands_of_the_Copper_Hills.bmp", "Lands of the Copper Hills"},
    {"o1.3.Lands_of_the_Pale_Marshes.bmp", "Lands of the Pale Marshes"},
    {"o1.4.Lands_of_Embers_and_Thistle.bmp", "Lands of Embers and Thistle"},
};

namespace {

constexpr const char* program_name = "o1pc98map";
constexpr const char* default_image_path = "O1_Orvane.fdi";
constexpr int32_t image_header_size = 4096;
constexpr uint32_t shape_columns = 16;
constexpr uint32_t shape_rows = 4;

// The four maps of the disk, filled once per run.
uint8_t map_data[map_data_size];

struct run_settings {
  const char* image_path;
  int32_t header_size;
  const char* shape_path;
  int shape_requested;
  int overwrite;
};

bool is_any_of(const char* argument, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (strcmp(argument, name) == 0) return true;
  }
  return false;
}

// Reads the options into settings. Returns 0 when the run may go on, or 1
// when it ends here (an option error or the usage request), with its line
// already printed.
int parse_arguments(char* const* argv, run_settings* settings) {
  for (char* const* cursor = argv + 1; *cursor != nullptr; ++cursor) {
    const char* argument = *cursor;
    if (argument[0] != '-') {
      printf("error: illegal parameter '%s'\n", argument);
      return 1;
    }
    if (is_any_of(argument, {"-?", "--help"})) {
      usage();
      return 1;
    }
    if (is_any_of(argument, {"-d", "--disk", "--orvane-disk"})) {
      if (cursor[1] == nullptr) {
        puts("error: no disk image filename");
        return 1;
      }
      settings->image_path = *++cursor;
    } else if (is_any_of(argument, {"-s", "--shape"})) {
      if (cursor[1] == nullptr) {
        puts("error: no shape bitmap filename");
        return 1;
      }
      settings->shape_path = *++cursor;
      settings->shape_requested = 1;
    } else if (strcmp(argument, "--overwrite") == 0) {
      settings->overwrite = 1;
    } else {
      printf("error: unknown option '%s'\n", argument);
      return 1;
    }
  }
  return 0;
}

int read_tile_sheet(const run_settings* settings, tile_sheet* sheet) {
  if (settings->shape_requested) {
    if (read_shape_bitmap(settings->shape_path, sheet, shape_columns, shape_rows) < 0) {
      printf("error: read shape bitmap '%s'\n", settings->shape_path);
      return -1;
    }
    return 0;
  }
  if (read_disk_shapes(settings->image_path, settings->header_size, sheet, nullptr) < 0) {
    puts("error: read shapes from disk image");
    return -1;
  }
  return 0;
}

// Lays out one raster of 84 x 78 tiles of the sheet. A sheet whose raster
// would not fit the 32-bit sizes of a picture is refused like a failed
// allocation, before anything is allocated.
int allocate_raster(const tile_sheet* sheet, raster* output) {
  constexpr int64_t limit = std::numeric_limits<int32_t>::max();
  int64_t width = int64_t{sheet->tile_width} * map_columns;
  int64_t height = int64_t{sheet->tile_height} * map_rows;
  int64_t size = width * height * sheet->bytes_per_pixel;
  if (width < 0 || height < 0 || width > limit || height > limit || size < 0 || size > limit) {
    puts("error: memory exhausted!");
    return -1;
  }
  output->width = static_cast<int32_t>(width);
  output->height = static_cast<int32_t>(height);
  output->bit_count = sheet->bit_count;
  output->palette = sheet->palette.get();
  output->size = static_cast<int32_t>(size);
  output->pixels.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size)]);
  if (output->pixels == nullptr) {
    puts("error: memory exhausted!");
    return -1;
  }
  // Not cleared: render_map writes every byte of the raster before it is
  // written out, so clearing would only add a pass over the whole picture.
  return 0;
}

int read_maps(const run_settings* settings) {
  if (read_map_data(settings->image_path, settings->header_size, "MAP.BIN", map_data,
                    map_data_size) < 0) {
    printf("error: read image file '%s'\n", settings->image_path);
    return -1;
  }
  return 0;
}

int write_maps(const run_settings* settings, const tile_sheet* sheet, raster* output) {
  for (int n = 0; n < 4; ++n) {
    printf("[%s]\n", map_table[n].title);
    render_map(output, sheet, map_data + n * map_bytes);
    if (write_map_bitmap(map_table[n].file_name, output, settings->overwrite) < 0) {
      printf("error: write bitmap file '%s'\n", map_table[n].file_name);
      return -1;
    }
  }
  return 0;
}

}  // namespace

void usage() {
  printf("usage: %s [options]\n", program_name);
  puts("option:");
  puts("        -d|--disk|--orvane-disk DISK-IMG");
  puts("                                specify orvane disk");
  printf("                                read '%s' if not specified\n", default_image_path);
  puts("        -s|--shape SHAPES-BMP   read shape data from specified file");
  puts("           --overwrite          overwrite output files");
  puts("        -?|--help               print usage");
  puts("");
}

int run_map_tool(char* const* argv) {
  run_settings settings = {default_image_path, image_header_size, nullptr, 0, 0};
  if (parse_arguments(argv, &settings) != 0) return 1;

  // The sheet and the raster own their buffers; leaving this function frees
  // whatever the stages allocated into them, on every path.
  tile_sheet sheet = {};
  raster output = {};
  int exit_status = 1;
  if (read_tile_sheet(&settings, &sheet) == 0 && allocate_raster(&sheet, &output) == 0 &&
      read_maps(&settings) == 0 && write_maps(&settings, &sheet, &output) == 0) {
    exit_status = 0;
  }
  return exit_status;
}
