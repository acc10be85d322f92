// Micro-benchmarks of the stages whose cost grows with the picture: tile
// decoding, map rendering, packing and writing rows, one map rendered and
// written, reading a shape bitmap.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bitmap/bitmap.h"
#include "common/pixel_layout.h"
#include "common/raster.h"
#include "common/tile_sheet.h"
#include "tiles/egc_tiles.h"
#include "tiles/map_render.h"
#include "tiles/shape_bitmap.h"

namespace {

// A fixed pseudo-random byte stream, the same on every run.
std::vector<uint8_t> pattern_bytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  for (uint8_t& byte : bytes) {
    seed = seed * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(seed >> 24);
  }
  return bytes;
}

// A tile sheet of 16 x 4 tiles of the given size and bit count, filled with
// pattern bytes (palette indices kept in range).
tile_sheet make_sheet(int32_t tile_size, int32_t bit_count) {
  tile_sheet sheet{};
  sheet.tile_width = tile_size;
  sheet.tile_height = tile_size;
  sheet.bit_count = bit_count;
  sheet.bytes_per_pixel = bytes_per_pixel(bit_count);
  const size_t size = size_t{16} * 4 * tile_size * tile_size * sheet.bytes_per_pixel;
  std::vector<uint8_t> bytes = pattern_bytes(size, 7);
  sheet.pixels.reset(new uint8_t[size]);
  for (size_t i = 0; i < size; ++i)
    sheet.pixels[i] = bit_count <= 8 ? bytes[i] % (1u << bit_count) : bytes[i];
  return sheet;
}

raster make_raster(const tile_sheet* sheet) {
  raster output{};
  output.width = sheet->tile_width * map_columns;
  output.height = sheet->tile_height * map_rows;
  output.bit_count = sheet->bit_count;
  output.size = output.width * output.height * sheet->bytes_per_pixel;
  output.pixels.reset(new uint8_t[output.size]());
  return output;
}

void decode_tiles(benchmark::State& state) {
  std::vector<uint8_t> tiles = pattern_bytes(egc_tile_data_size, 1);
  std::vector<uint8_t> pixels(egc_sheet_width * egc_sheet_height);
  for (auto _ : state) {
    std::fill(pixels.begin(), pixels.end(), 0);
    decode_egc_tiles(pixels.data(), tiles.data());
    benchmark::DoNotOptimize(pixels.data());
  }
  state.SetBytesProcessed(state.iterations() * pixels.size());
}
BENCHMARK(decode_tiles);

// Arguments: tile size, bit count.
void render(benchmark::State& state) {
  tile_sheet sheet =
      make_sheet(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
  raster output = make_raster(&sheet);
  std::vector<uint8_t> map = pattern_bytes(map_bytes, 3);
  for (auto _ : state) {
    render_map(&output, &sheet, map.data());
    benchmark::DoNotOptimize(output.pixels.get());
  }
  state.SetBytesProcessed(state.iterations() * output.size);
}
BENCHMARK(render)->Args({32, 4})->Args({8, 32})->Args({16, 32})->Args({32, 32})->Args({64, 32});

// Writes a 2688 x 2496 picture (the size of a map from the disk's tiles) to
// a scratch file. Argument: bit count.
void write_rows(benchmark::State& state) {
  const int32_t bit_count = static_cast<int32_t>(state.range(0));
  const int32_t width = 2688, height = 2496;
  const size_t size = size_t{1} * width * height * bytes_per_pixel(bit_count);
  std::vector<uint8_t> pixels = pattern_bytes(size, 5);
  palette_entry palette[256] = {};
  bitmap_header header{};
  make_bitmap_header(&header, width, height, static_cast<uint16_t>(bit_count));
  FILE* file = tmpfile();
  for (auto _ : state) {
    rewind(file);
    if (write_bitmap(file, &header, palette, pixels.data()) != 0) state.SkipWithError("write");
    fflush(file);
  }
  fclose(file);
  state.SetBytesProcessed(state.iterations() * header.file_size);
}
BENCHMARK(write_rows)->Arg(1)->Arg(4)->Arg(8)->Arg(32)->Unit(benchmark::kMillisecond);

// One map as a run makes it: rendered into the raster, then written as a BMP
// to a scratch file, so the writer reads a raster the renderer has just
// written. Arguments: tile size, bit count.
void render_and_write(benchmark::State& state) {
  const int32_t bit_count = static_cast<int32_t>(state.range(1));
  tile_sheet sheet = make_sheet(static_cast<int32_t>(state.range(0)), bit_count);
  raster output = make_raster(&sheet);
  std::vector<uint8_t> map = pattern_bytes(map_bytes, 3);
  palette_entry palette[256] = {};
  bitmap_header header{};
  make_bitmap_header(&header, static_cast<uint32_t>(output.width), output.height,
                     static_cast<uint16_t>(bit_count));
  FILE* file = tmpfile();
  for (auto _ : state) {
    render_map(&output, &sheet, map.data());
    rewind(file);
    if (write_bitmap(file, &header, palette, output.pixels.get()) != 0)
      state.SkipWithError("write");
  }
  fclose(file);
  state.SetBytesProcessed(state.iterations() * header.file_size);
}
BENCHMARK(render_and_write)
    ->Args({32, 4})
    ->Args({32, 8})
    ->Args({64, 32})
    ->Unit(benchmark::kMillisecond);

// Reads a 32-bit shape bitmap of 16 x 4 tiles. Argument: tile size.
void read_shape(benchmark::State& state) {
  const int32_t tile = static_cast<int32_t>(state.range(0));
  const int32_t width = 16 * tile, height = 4 * tile;
  std::vector<uint8_t> pixels = pattern_bytes(size_t{4} * width * height, 9);
  char path[] = "/tmp/o1bench-shape.XXXXXX";
  const int fd = mkstemp(path);
  FILE* file = fdopen(fd, "wb");
  bitmap_header header{};
  make_bitmap_header(&header, width, height, 32);
  write_bitmap(file, &header, nullptr, pixels.data());
  fclose(file);
  for (auto _ : state) {
    tile_sheet sheet{};
    if (read_shape_bitmap(path, &sheet, 16, 4) != 0) state.SkipWithError("read");
    benchmark::DoNotOptimize(sheet.pixels.get());
  }
  unlink(path);
  state.SetBytesProcessed(state.iterations() * header.file_size);
}
BENCHMARK(read_shape)->Arg(16)->Arg(64);

}  // namespace
