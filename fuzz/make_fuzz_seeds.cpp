// Writes the seed corpora of the fuzz targets into three directories:
//   make_fuzz_seeds DISK_DIR BITMAP_DIR RUN_DIR
// Disk seeds are images made by the test image builder (both game files, a
// subdirectory, a fragmented chain) on each geometry; bitmap seeds are small
// pictures at every bit count made by the BMP writer; run seeds combine the
// two.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bitmap/bitmap.h"
#include "testing/disk_builder.h"

namespace {

std::vector<uint8_t> pattern_bytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  for (uint8_t& byte : bytes) {
    seed = seed * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(seed >> 24);
  }
  return bytes;
}

bool write_seed(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && ok;
}

// The sectors of a disk with both game files, trimmed of trailing zeros
// (the fuzz target pads them back), behind the geometry byte.
std::vector<uint8_t> disk_seed(disk_geometry geometry, uint8_t selector) {
  disk_builder disk;
  format_disk(&disk, geometry);
  add_volume_label(&disk, "ORVANE DISK");
  add_root_file(&disk, "EGCTILES.BIN", pattern_bytes(30720, 11));
  add_root_file(&disk, "map.bin", pattern_bytes(13104, 12));
  const int32_t sub = add_directory(&disk, root_directory, "SUB", 2);
  const int32_t deeper = add_directory(&disk, sub, "DEEPER");
  add_file(&disk, deeper, "NOTE.TXT", pattern_bytes(700, 13));
  const int32_t base = disk.next_free + 3;
  const int32_t scattered[] = {base + 4, base, base + 2};
  add_file_on_chain(&disk, root_directory, "FRAG.DAT", scattered, pattern_bytes(2500, 14));

  std::vector<uint8_t> seed = disk.sectors;
  while (!seed.empty() && seed.back() == 0)
    seed.pop_back();
  seed.insert(seed.begin(), selector);
  return seed;
}

std::vector<uint8_t> bitmap_seed(uint32_t width, int32_t height, uint16_t bit_count) {
  bitmap_header header{};
  make_bitmap_header(&header, width, height, bit_count);
  const size_t pixel_bytes = size_t{width} * height * ((bit_count + 7) / 8);
  std::vector<uint8_t> pixels = pattern_bytes(pixel_bytes, bit_count);
  if (bit_count < 8)
    for (uint8_t& pixel : pixels)
      pixel %= static_cast<uint8_t>(1u << bit_count);
  std::vector<palette_entry> palette(256);
  for (size_t i = 0; i < palette.size(); ++i)
    palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                  static_cast<uint8_t>(i * 7), 0};
  FILE* file = tmpfile();
  write_bitmap(file, &header, bit_count <= 8 ? palette.data() : nullptr, pixels.data());
  std::vector<uint8_t> bytes(static_cast<size_t>(ftell(file)));
  rewind(file);
  const size_t read = fread(bytes.data(), 1, bytes.size(), file);
  fclose(file);
  bytes.resize(read);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    printf("usage: make_fuzz_seeds DISK_DIR BITMAP_DIR RUN_DIR\n");
    return 1;
  }
  const std::string disk_dir = argv[1], bitmap_dir = argv[2], run_dir = argv[3];
  bool ok = true;
  const disk_geometry geometries[3] = {disk_geometry::sectors_1232, disk_geometry::sectors_1440,
                                       disk_geometry::sectors_1280};
  for (uint8_t g = 0; g < 3; ++g) {
    std::vector<uint8_t> seed = disk_seed(geometries[g], g);
    ok &= write_seed(disk_dir + "/disk" + std::to_string(g), seed);
    // A run seed without a shape bitmap: flags, an empty shape length, sectors;
    // the run ends at the first map's question.
    std::vector<uint8_t> run = {g, 0, 0};
    run.insert(run.end(), seed.begin() + 1, seed.end());
    ok &= write_seed(run_dir + "/plain" + std::to_string(g), run);
    // The same run writing all four maps.
    run[0] |= 8;
    ok &= write_seed(run_dir + "/whole" + std::to_string(g), run);
  }

  const uint16_t bit_counts[6] = {1, 4, 8, 16, 24, 32};
  for (uint16_t bits : bit_counts) {
    ok &= write_seed(bitmap_dir + "/small" + std::to_string(bits), bitmap_seed(5, 3, bits));
    ok &= write_seed(bitmap_dir + "/tiles" + std::to_string(bits), bitmap_seed(32, 9, bits));
    // A run seed with a 16 x 4 sheet of 2 x 2 tiles at this bit count.
    std::vector<uint8_t> shape = bitmap_seed(32, 8, bits);
    std::vector<uint8_t> run = {4, static_cast<uint8_t>(shape.size() & 0xFF),
                                static_cast<uint8_t>(shape.size() >> 8)};
    run.insert(run.end(), shape.begin(), shape.end());
    std::vector<uint8_t> disk = disk_seed(disk_geometry::sectors_1232, 0);
    run.insert(run.end(), disk.begin() + 1, disk.end());
    ok &= write_seed(run_dir + "/shape" + std::to_string(bits), run);
  }
  if (!ok) printf("error: can't write the seeds\n");
  return ok ? 0 : 1;
}
