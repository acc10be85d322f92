// Fuzzes the whole run in process: a fuzzed disk image, and optionally a
// fuzzed shape bitmap, go through the driver's run sequence in a scratch
// directory, as `o1pc98map -d image.fdi [-s shape.bmp] [--overwrite]`.
//
// Input layout: byte 0 picks the geometry (bits 0-1), whether a shape
// bitmap is given (bit 2) and whether all four maps are written (bit 3);
// bytes 1-2 are the shape bitmap's length (little endian); the shape bitmap
// follows, then the sectors of the image (cut or padded with zeros to the
// disk's size) behind a 4096-byte header.
//
// Drawing and packing a map of the disk's tiles (2688 x 2496 pixels) costs
// far more than anything the input decides, and the four maps of a run only
// differ in their cells; the writer's packing of every bit count is reached
// by the shape bitmaps at a small fraction of that cost. So without bit 3 a
// run stops at a question that meets the end of input and is refused: a
// run of the disk's tiles at the first map, whose name is taken, after
// drawing it; a run of a shape bitmap at the second, after writing the
// first. With bit 3 the run has --overwrite and writes all four. Every map
// but the first of a stopping shape run goes to /dev/null.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/run.h"

namespace {

constexpr size_t kHeaderSize = 4096;
constexpr size_t kDataSizes[3] = {0x134000, 0xB4000, 0xA0000};

// Shape bitmaps whose pixels take more bytes than this are not run: every
// shape pixel becomes about a hundred raster pixels in each of four files,
// and small ones reach every branch of the run as well as large ones do.
constexpr uint64_t kLargestShapePixels = 1 << 12;

constexpr const char* kMapFiles[4] = {
    "o1.1.Lands_of_Lord_Halvric.bmp",
    "o1.2.Lands_of_the_Copper_Hills.bmp",
    "o1.3.Lands_of_the_Pale_Marshes.bmp",
    "o1.4.Lands_of_Embers_and_Thistle.bmp",
};

std::string scratch_dir;

// The scratch directory lives in memory: a fuzzer that ends normally takes
// it away.
void remove_scratch() {
  std::error_code ignored;
  std::filesystem::remove_all(scratch_dir, ignored);
}

bool write_whole_file(const char* path, const uint8_t* bytes, size_t size) {
  FILE* file = fopen(path, "wb");
  if (file == nullptr) return false;
  bool ok = fwrite(bytes, 1, size, file) == size;
  return fclose(file) == 0 && ok;
}

uint32_t le32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24;
}

bool shape_is_small(const uint8_t* shape, size_t size) {
  if (size < 30) return true;  // the reader refuses it before any allocation
  const uint64_t width = le32(shape + 18);
  const uint64_t height = std::min<uint64_t>(le32(shape + 22), 0x7FFFFFFF);
  const uint64_t bits = shape[28] | shape[29] << 8;
  return width * height * ((bits + 7) / 8) <= kLargestShapePixels;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  // The questions of the run read standard input: an empty one refuses
  // them, and --overwrite keeps them away.
  if (freopen("/dev/null", "r", stdin) == nullptr) std::abort();
  // The image and the shape bitmap are written per input: keep them in
  // memory.
  char pattern[] = "/dev/shm/o1fuzz-run.XXXXXX";
  if (mkdtemp(pattern) == nullptr || chdir(pattern) != 0) std::abort();
  scratch_dir = pattern;
  std::atexit(remove_scratch);
  // The later maps go through the map writer as usual, but their bytes end
  // in /dev/null; the first map's name is made anew for every input.
  for (int m = 1; m < 4; ++m)
    if (symlink("/dev/null", kMapFiles[m]) != 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t data_size = kDataSizes[(data[0] & 3) % 3];
  const bool with_shape = (data[0] & 4) != 0;
  const bool all_maps = (data[0] & 8) != 0;
  const size_t shape_size = std::min<size_t>(data[1] | data[2] << 8, size - 3);
  const uint8_t* shape = data + 3;
  const uint8_t* sectors = shape + shape_size;
  const size_t sector_bytes = size - 3 - shape_size;

  if (with_shape && !shape_is_small(shape, shape_size)) return 0;
  std::vector<uint8_t> image(kHeaderSize + data_size, 0);
  memcpy(image.data() + kHeaderSize, sectors, std::min(sector_bytes, data_size));
  if (!write_whole_file("image.fdi", image.data(), image.size())) std::abort();
  if (!write_whole_file("shape.bmp", shape, shape_size)) std::abort();

  // The first map is a new file in the stopping shape run; elsewhere its
  // name is taken, by a link to /dev/null.
  unlink(kMapFiles[0]);
  if ((all_maps || !with_shape) && symlink("/dev/null", kMapFiles[0]) != 0) std::abort();

  char program[] = "o1pc98map";
  char disk_option[] = "-d";
  char image_name[] = "image.fdi";
  char overwrite[] = "--overwrite";
  char shape_option[] = "-s";
  char shape_name[] = "shape.bmp";
  char* argv[8] = {program, disk_option, image_name};
  int argc = 3;
  if (all_maps) argv[argc++] = overwrite;
  if (with_shape) {
    argv[argc++] = shape_option;
    argv[argc++] = shape_name;
  }
  argv[argc] = nullptr;
  run_map_tool(argv);
  unlink(kMapFiles[0]);
  return 0;
}
