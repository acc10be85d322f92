#ifndef O1PC98MAP_TESTING_TOOL_EXPECTATIONS_H_
#define O1PC98MAP_TESTING_TOOL_EXPECTATIONS_H_

// What the tests of whole o1pc98map runs expect, written out here on their
// own rather than taken from the product: the names of the four map files,
// the title lines, the common messages, and the pseudo-random bytes and
// disk images the runs read.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "testing/disk_builder.h"

// The files a whole run writes, one per map.
inline constexpr const char* map_files[4] = {
    "o1.1.Lands_of_Lord_Halvric.bmp",
    "o1.2.Lands_of_the_Copper_Hills.bmp",
    "o1.3.Lands_of_the_Pale_Marshes.bmp",
    "o1.4.Lands_of_Embers_and_Thistle.bmp",
};

// The line a run prints before writing each map.
inline const std::string titles[4] = {
    "[Lands of Lord Halvric]\n",
    "[Lands of the Copper Hills]\n",
    "[Lands of the Pale Marshes]\n",
    "[Lands of Embers and Thistle]\n",
};

inline const std::string all_titles = titles[0] + titles[1] + titles[2] + titles[3];

// Joins texts into one (appending, rather than chains of operator+ on
// temporaries, which g++ 12 warns about wrongly).
inline std::string text_of(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (std::string_view part : parts)
    text.append(part);
  return text;
}

// The question asked before replacing an existing file.
inline std::string already_exists(std::string_view file_name) {
  return text_of({"'", file_name, "' already exists\noverwrite ? (Y or N): "});
}

// The driver's line when a map file could not be written.
inline std::string write_failed(std::string_view file_name) {
  return text_of({"error: write bitmap file '", file_name, "'\n"});
}

// count bytes of a xorshift sequence started at seed: the same bytes for the
// same seed on every run and machine.
inline std::vector<uint8_t> pseudo_random_bytes(size_t count, uint32_t seed) {
  std::vector<uint8_t> bytes(count);
  uint32_t state = seed;
  for (uint8_t& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

// A disk of the given geometry holding EGCTILES.BIN with tiles and MAP.BIN
// with map in its root directory; a null file is left out.
inline std::vector<uint8_t> game_disk(disk_geometry geometry, const std::vector<uint8_t>* tiles,
                                      const std::vector<uint8_t>* map) {
  disk_builder disk;
  format_disk(&disk, geometry);
  if (tiles != nullptr) add_root_file(&disk, "EGCTILES.BIN", *tiles);
  if (map != nullptr) add_root_file(&disk, "MAP.BIN", *map);
  return disk_bytes(&disk);
}

// A disk of the given geometry with pseudo-random tiles and, when with_map,
// a pseudo-random map, from the two seeds.
inline std::vector<uint8_t> pseudo_random_game_disk(disk_geometry geometry, uint32_t tiles_seed,
                                                    uint32_t map_seed, bool with_map) {
  const std::vector<uint8_t> tiles = pseudo_random_bytes(30720, tiles_seed);
  const std::vector<uint8_t> map = pseudo_random_bytes(13104, map_seed);
  return game_disk(geometry, &tiles, with_map ? &map : nullptr);
}

#endif  // O1PC98MAP_TESTING_TOOL_EXPECTATIONS_H_
