// make_sample_disk OUTPUT.fdi
//
// Writes a 1232-sector disk image that holds an original tile set as
// EGCTILES.BIN and four generated continents as MAP.BIN, so that the map
// tool has a disk to run on. Everything is drawn and generated here from
// fixed seeds with integer arithmetic only: the image is the same, byte for
// byte, on every build.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <queue>
#include <utility>
#include <vector>

#include "testing/disk_builder.h"

namespace {

// ---------------------------------------------------------------------------
// Deterministic numbers.

// A 32-bit mixing function (an avalanche hash): the same output for the
// same input everywhere.
constexpr uint32_t mix(uint32_t value) {
  value ^= value >> 16;
  value *= 0x7FEB352Du;
  value ^= value >> 15;
  value *= 0x846CA68Bu;
  value ^= value >> 16;
  return value;
}

constexpr uint32_t hash3(int32_t x, int32_t y, uint32_t seed) {
  return mix(static_cast<uint32_t>(x) * 0x9E3779B1u ^ mix(static_cast<uint32_t>(y) + seed));
}

// A small counter-based generator: next() hashes a running counter.
struct generator {
  uint32_t seed;
  uint32_t counter;
};

uint32_t next(generator* random) {
  return mix(random->seed ^ mix(random->counter++));
}

// A number in [0, bound).
int32_t below(generator* random, int32_t bound) {
  return static_cast<int32_t>(next(random) % static_cast<uint32_t>(bound));
}

// ---------------------------------------------------------------------------
// Tiles: 32 x 32 canvases of colour indices. Indices 0-7 are the digital
// colours (bit 0 blue, bit 1 red, bit 2 green); adding 8 sets the first
// plane, which shows the same colour and marks the pixel in the mask.

constexpr int32_t tile_size = 32;
constexpr int32_t tile_count = 60;

constexpr uint8_t black = 0;
constexpr uint8_t blue = 1;
constexpr uint8_t red = 2;
constexpr uint8_t magenta = 3;
constexpr uint8_t green = 4;
constexpr uint8_t cyan = 5;
constexpr uint8_t yellow = 6;
constexpr uint8_t white = 7;
constexpr uint8_t masked = 8;

struct canvas {
  uint8_t pixel[tile_size][tile_size];
};

void put(canvas* c, int32_t x, int32_t y, uint8_t index) {
  if (x >= 0 && x < tile_size && y >= 0 && y < tile_size) c->pixel[y][x] = index;
}

void fill(canvas* c, uint8_t index) {
  for (auto& row : c->pixel) {
    for (uint8_t& p : row)
      p = index;
  }
}

// Two colours in a 2 x 2 pattern: a gives the share of cells 0..4 out of 4
// that take colour a (4 = all a, 2 = checkerboard, 1 = one pixel in four).
bool dither_cell(int32_t x, int32_t y, int32_t share) {
  static constexpr int32_t order[2][2] = {{0, 2}, {3, 1}};
  return order[y & 1][x & 1] < share;
}

// The brown of wood and earth: red, black, black, yellow in every 2 x 2.
uint8_t brown_at(int32_t x, int32_t y) {
  static constexpr uint8_t pattern[2][2] = {{red, black}, {black, yellow}};
  return pattern[y & 1][x & 1];
}

// Grey stone: white and black in a checkerboard.
uint8_t grey_at(int32_t x, int32_t y) {
  return ((x + y) & 1) ? white : black;
}

uint8_t dark_grey_at(int32_t x, int32_t y) {
  return dither_cell(x, y, 1) ? white : black;
}

void sprinkle(canvas* c, uint32_t seed, uint32_t per_256, uint8_t index) {
  for (int32_t y = 0; y < tile_size; ++y) {
    for (int32_t x = 0; x < tile_size; ++x) {
      if ((hash3(x, y, seed) & 0xFF) < per_256) c->pixel[y][x] = index;
    }
  }
}

void rect(canvas* c, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t index) {
  for (int32_t y = y0; y <= y1; ++y) {
    for (int32_t x = x0; x <= x1; ++x)
      put(c, x, y, index);
  }
}

void frame(canvas* c, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t index) {
  for (int32_t x = x0; x <= x1; ++x) {
    put(c, x, y0, index);
    put(c, x, y1, index);
  }
  for (int32_t y = y0; y <= y1; ++y) {
    put(c, x0, y, index);
    put(c, x1, y, index);
  }
}

// Is (x, y) inside the ellipse of centre (cx, cy) and radii rx, ry? Doubled
// coordinates let centres fall between pixels.
bool in_ellipse(int32_t x2, int32_t y2, int32_t cx2, int32_t cy2, int32_t rx2, int32_t ry2) {
  const int64_t dx = x2 - cx2, dy = y2 - cy2;
  return dx * dx * ry2 * ry2 + dy * dy * rx2 * rx2 <= int64_t{rx2} * rx2 * ry2 * ry2;
}

// A filled ellipse with a one-pixel outline; colour_at picks each inner
// pixel's colour. Only rows up to max_y are drawn (a dome when max_y = cy).
template <typename ColourAt>
void ellipse(canvas* c, int32_t cx, int32_t cy, int32_t rx, int32_t ry, int32_t max_y,
             uint8_t outline, ColourAt colour_at) {
  for (int32_t y = cy - ry; y <= cy + ry && y <= max_y; ++y) {
    for (int32_t x = cx - rx; x <= cx + rx; ++x) {
      if (!in_ellipse(2 * x, 2 * y, 2 * cx, 2 * cy, 2 * rx, 2 * ry)) continue;
      const bool edge =
          !in_ellipse(2 * x - 2, 2 * y, 2 * cx, 2 * cy, 2 * rx, 2 * ry) ||
          !in_ellipse(2 * x + 2, 2 * y, 2 * cx, 2 * cy, 2 * rx, 2 * ry) ||
          !in_ellipse(2 * x, 2 * y - 2, 2 * cx, 2 * cy, 2 * rx, 2 * ry) ||
          (y < max_y && !in_ellipse(2 * x, 2 * y + 2, 2 * cx, 2 * cy, 2 * rx, 2 * ry));
      put(c, x, y, edge ? outline : colour_at(x, y));
    }
  }
}

// A roof or a peak: rows from apex_y down to base_y, widening by one pixel
// on each side every `slope` rows.
template <typename ColourAt>
void triangle(canvas* c, int32_t apex_x, int32_t apex_y, int32_t base_y, int32_t slope,
              uint8_t outline, ColourAt colour_at) {
  for (int32_t y = apex_y; y <= base_y; ++y) {
    const int32_t half = (y - apex_y) / slope;
    for (int32_t x = apex_x - half; x <= apex_x + half; ++x) {
      const bool edge = x == apex_x - half || x == apex_x + half || y == base_y;
      put(c, x, y, edge ? outline : colour_at(x, y));
    }
  }
}

// ---- ground textures ----

void draw_grass(canvas* c, uint32_t seed) {
  fill(c, green);
  // Small tufts: a "v" of black pixels with a yellow tip here and there.
  for (int32_t i = 0; i < 12; ++i) {
    const int32_t x = static_cast<int32_t>(hash3(i, 1, seed) % 29) + 1;
    const int32_t y = static_cast<int32_t>(hash3(i, 2, seed) % 29) + 1;
    put(c, x - 1, y, black);
    put(c, x + 1, y, black);
    put(c, x, y + 1, black);
    if (i % 3 == 0) put(c, x, y - 1, yellow);
  }
  sprinkle(c, seed + 1, 6, black);
}

void draw_sea(canvas* c) {
  fill(c, blue);
  // Crests: short arcs of cyan, staggered so that the tiling reads as swell.
  static constexpr int32_t crest[7] = {2, 1, 0, 0, 0, 1, 2};
  static constexpr int32_t place[4][2] = {{3, 5}, {18, 11}, {7, 21}, {22, 27}};
  for (const auto& at : place) {
    for (int32_t dx = 0; dx < 7; ++dx)
      put(c, at[0] + dx, at[1] + crest[dx], cyan);
  }
}

void draw_shallows(canvas* c) {
  for (int32_t y = 0; y < tile_size; ++y) {
    for (int32_t x = 0; x < tile_size; ++x)
      c->pixel[y][x] = dither_cell(x, y, 2) ? cyan : blue;
  }
  sprinkle(c, 101, 10, white);
}

void draw_beach(canvas* c) {
  fill(c, yellow);
  sprinkle(c, 202, 40, white);
  sprinkle(c, 203, 6, red);
}

void draw_desert(canvas* c) {
  fill(c, yellow);
  // Two dunes: a white crest line with a red-dithered lee side below it.
  static constexpr int32_t dunes[3][3] = {{1, 9, 17}, {14, 20, 18}, {0, 29, 12}};  // x, y, width
  for (const auto& d : dunes) {
    for (int32_t dx = 0; dx < d[2]; ++dx) {
      const int32_t x = d[0] + dx;
      const int32_t lift = (dx * (d[2] - dx)) / (d[2] * 2);  // a low arch
      const int32_t y = d[1] - lift;
      put(c, x, y, white);
      for (int32_t k = 1; k <= 4; ++k) {
        if (dither_cell(x, y + k, 4 - k)) put(c, x, y + k, red);
      }
    }
  }
  sprinkle(c, 303, 5, red);
}

void draw_forest(canvas* c) {
  for (int32_t y = 0; y < tile_size; ++y) {
    for (int32_t x = 0; x < tile_size; ++x)
      c->pixel[y][x] = dither_cell(x, y, 2) ? black : green;
  }
  // Three round trees, the back ones first.
  static constexpr int32_t trees[3][2] = {{8, 8}, {23, 9}, {15, 21}};
  for (const auto& t : trees) {
    for (int32_t y = t[1] + 5; y <= t[1] + 9; ++y) {
      for (int32_t x = t[0] - 1; x <= t[0] + 1; ++x)
        put(c, x, y, brown_at(x, y) | masked);
    }
    ellipse(c, t[0], t[1], 7, 6, t[1] + 6, black | masked, [&](int32_t x, int32_t y) {
      const bool lit = (x - t[0]) + (y - t[1]) < -4 && dither_cell(x, y, 2);
      return static_cast<uint8_t>((lit ? yellow : green) | masked);
    });
  }
}

void draw_hills(canvas* c) {
  draw_grass(c, 404);
  // Three rounded humps, back to front: lit from the left, shaded right.
  static constexpr int32_t humps[3][4] = {{23, 15, 8, 8}, {8, 20, 8, 8}, {18, 31, 11, 9}};
  for (const auto& h : humps) {
    ellipse(c, h[0], h[1], h[2], h[3], h[1], black, [&](int32_t x, int32_t y) {
      if (x < h[0] - 1) return dither_cell(x, y, 3) ? yellow : green;
      return dither_cell(x, y, 1) ? black : green;
    });
  }
}

void draw_mountains(canvas* c) {
  draw_grass(c, 505);
  // Two peaks, the far one first; the left faces are lit, the right in shade,
  // and snow lies on the tops.
  static constexpr int32_t peaks[2][3] = {{22, 5, 30}, {11, 2, 31}};  // apex x, apex y, base y
  for (const auto& p : peaks) {
    triangle(c, p[0], p[1], p[2], 1, black, [&](int32_t x, int32_t y) {
      if (y < p[1] + 6 && !(y == p[1] + 5 && (x & 1))) return static_cast<uint8_t>(white);
      return x <= p[0] ? grey_at(x, y) : dark_grey_at(x, y);
    });
  }
}

void draw_swamp(canvas* c) {
  for (int32_t y = 0; y < tile_size; ++y) {
    for (int32_t x = 0; x < tile_size; ++x)
      c->pixel[y][x] = dither_cell(x, y, 1) ? cyan : green;
  }
  static constexpr int32_t pools[3][4] = {{9, 8, 6, 3}, {23, 17, 6, 3}, {10, 26, 5, 2}};
  for (const auto& p : pools) {
    ellipse(c, p[0], p[1], p[2], p[3], tile_size, blue, [](int32_t x, int32_t y) {
      return static_cast<uint8_t>(dither_cell(x, y, 3) ? blue : cyan);
    });
  }
  // Reeds.
  static constexpr int32_t reeds[5][2] = {{3, 15}, {17, 6}, {27, 27}, {19, 27}, {28, 8}};
  for (const auto& r : reeds) {
    for (int32_t k = 0; k < 4; ++k)
      put(c, r[0], r[1] - k, black);
    put(c, r[0], r[1] - 4, red);
    put(c, r[0] + 2, r[1] - 1, black);
    put(c, r[0] + 2, r[1] - 2, black);
  }
}

void draw_road(canvas* c) {
  for (int32_t y = 0; y < tile_size; ++y) {
    for (int32_t x = 0; x < tile_size; ++x)
      c->pixel[y][x] = brown_at(x, y);
  }
  sprinkle(c, 606, 14, yellow);
  sprinkle(c, 607, 6, white);
}

void draw_river(canvas* c) {
  fill(c, blue);
  // Flow lines: short dashes of cyan and white, in diagonal rows.
  for (int32_t y = 1; y < tile_size; y += 4) {
    for (int32_t x = 0; x < tile_size; ++x) {
      const int32_t phase = (x + 2 * y) % 12;
      if (phase < 4) put(c, x, y, cyan);
      if (phase == 1) put(c, x, y, white);
    }
  }
}

void draw_bridge(canvas* c) {
  draw_river(c);
  // A deck of planks across the water, with rails along both sides.
  for (int32_t y = 7; y <= 24; ++y) {
    for (int32_t x = 0; x < tile_size; ++x) {
      c->pixel[y][x] = static_cast<uint8_t>((x % 4 == 3 ? black : brown_at(x, y)) | masked);
    }
  }
  for (int32_t x = 0; x < tile_size; ++x) {
    put(c, x, 6, black | masked);
    put(c, x, 25, black | masked);
    if (x % 8 == 2) {
      for (int32_t y = 4; y <= 7; ++y)
        put(c, x, y, white | masked);
      for (int32_t y = 24; y <= 27; ++y)
        put(c, x, y, white | masked);
    }
  }
}

// ---- buildings ----

// A house: a red roof over a white wall with a black door and a cyan window.
void draw_house(canvas* c, int32_t x0, int32_t y0) {
  triangle(c, x0 + 5, y0, y0 + 5, 1, black | masked, [](int32_t x, int32_t y) {
    return static_cast<uint8_t>((dither_cell(x, y, 3) ? red : magenta) | masked);
  });
  rect(c, x0 + 1, y0 + 6, x0 + 9, y0 + 11, white | masked);
  frame(c, x0 + 1, y0 + 5, x0 + 9, y0 + 11, black | masked);
  rect(c, x0 + 3, y0 + 8, x0 + 4, y0 + 11, black | masked);
  rect(c, x0 + 6, y0 + 7, x0 + 7, y0 + 8, cyan | masked);
}

void draw_town(canvas* c) {
  draw_grass(c, 707);
  // A lane between the houses.
  for (int32_t y = 14; y <= 16; ++y) {
    for (int32_t x = 0; x < tile_size; ++x)
      put(c, x, y, brown_at(x, y));
  }
  draw_house(c, 2, 1);
  draw_house(c, 18, 2);
  draw_house(c, 4, 18);
  draw_house(c, 19, 19);
}

void draw_castle(canvas* c) {
  draw_grass(c, 808);
  auto stone = [](int32_t x, int32_t y) {
    // Light stone with a course line every fourth row.
    return static_cast<uint8_t>(((y % 4 == 0 && dither_cell(x, y, 2)) ? black : white) | masked);
  };
  // The curtain wall with battlements, then two towers with red cones and
  // the keep with a magenta banner.
  for (int32_t y = 14; y <= 29; ++y) {
    for (int32_t x = 6; x <= 25; ++x)
      put(c, x, y, stone(x, y));
  }
  frame(c, 6, 14, 25, 29, black | masked);
  for (int32_t x = 6; x <= 25; x += 3)
    rect(c, x, 12, x + 1, 13, white | masked);
  for (int32_t x = 6; x <= 25; x += 3)
    frame(c, x, 12, x + 1, 13, black | masked);
  static constexpr int32_t towers[2] = {2, 23};
  for (int32_t tx : towers) {
    for (int32_t y = 9; y <= 30; ++y) {
      for (int32_t x = tx; x <= tx + 6; ++x)
        put(c, x, y, stone(x, y));
    }
    frame(c, tx, 9, tx + 6, 30, black | masked);
    triangle(c, tx + 3, 2, 9, 2, black | masked,
             [](int32_t, int32_t) { return static_cast<uint8_t>(red | masked); });
    rect(c, tx + 3, 14, tx + 3, 16, black | masked);
  }
  for (int32_t y = 6; y <= 14; ++y) {
    for (int32_t x = 12; x <= 19; ++x)
      put(c, x, y, stone(x, y));
  }
  frame(c, 12, 6, 19, 14, black | masked);
  rect(c, 15, 0, 15, 5, black | masked);
  rect(c, 16, 0, 19, 2, magenta | masked);
  rect(c, 15, 9, 16, 11, black | masked);
  // The gate.
  rect(c, 13, 22, 18, 29, black | masked);
  rect(c, 14, 21, 17, 21, black | masked);
}

void draw_cave(canvas* c) {
  draw_grass(c, 909);
  ellipse(c, 16, 31, 15, 22, 31, black | masked, [](int32_t x, int32_t y) {
    return static_cast<uint8_t>((y < 18 ? grey_at(x, y) : dark_grey_at(x, y)) | masked);
  });
  // The dark mouth, rounded at the top, with a torch on either side.
  ellipse(c, 16, 22, 5, 6, 31, black | masked,
          [](int32_t, int32_t) { return static_cast<uint8_t>(black | masked); });
  rect(c, 11, 22, 21, 31, black | masked);
  for (int32_t tx : {7, 25}) {
    rect(c, tx, 20, tx, 24, brown_at(tx, 21) | masked);
    put(c, tx, 19, red | masked);
    put(c, tx, 18, yellow | masked);
  }
}

void draw_shrine(canvas* c) {
  draw_grass(c, 1010);
  // A slender white tower under a magenta spire, on a grey plinth.
  for (int32_t y = 27; y <= 30; ++y) {
    for (int32_t x = 9; x <= 22; ++x)
      put(c, x, y, grey_at(x, y) | masked);
  }
  frame(c, 9, 27, 22, 30, black | masked);
  rect(c, 12, 10, 19, 26, white | masked);
  frame(c, 12, 9, 19, 27, black | masked);
  triangle(c, 15, 0, 9, 2, black | masked, [](int32_t x, int32_t y) {
    return static_cast<uint8_t>((dither_cell(x, y, 3) ? magenta : white) | masked);
  });
  rect(c, 15, 13, 16, 16, cyan | masked);
  rect(c, 14, 21, 17, 26, black | masked);
}

// ---- tiles no map draws, kept so the set is complete ----

void draw_flowers(canvas* c) {
  draw_grass(c, 1111);
  sprinkle(c, 1112, 8, red);
  sprinkle(c, 1113, 6, white);
  sprinkle(c, 1114, 5, magenta);
}

void draw_snow(canvas* c) {
  fill(c, white);
  sprinkle(c, 1212, 18, cyan);
}

void draw_lava(canvas* c) {
  fill(c, red);
  for (int32_t y = 0; y < tile_size; ++y) {
    for (int32_t x = 0; x < tile_size; ++x) {
      if ((hash3(x / 3, y / 3, 1313) & 7) == 0) put(c, x, y, yellow);
      if ((hash3(x, y, 1314) & 31) == 0) put(c, x, y, black);
    }
  }
}

void draw_ruins(canvas* c) {
  draw_grass(c, 1414);
  static constexpr int32_t walls[4][4] = {
      {3, 6, 12, 9}, {18, 4, 21, 14}, {6, 20, 9, 27}, {16, 22, 27, 25}};
  for (const auto& w : walls) {
    for (int32_t y = w[1]; y <= w[3]; ++y) {
      for (int32_t x = w[0]; x <= w[2]; ++x) {
        if ((hash3(x, y, 1415) & 7) != 0) put(c, x, y, grey_at(x, y) | masked);
      }
    }
  }
}

// Floors and walls for interiors, in a colour pair chosen by number.
void draw_pattern(canvas* c, int32_t number) {
  static constexpr uint8_t pairs[8][2] = {{white, black}, {red, yellow},  {blue, cyan},
                                          {green, black}, {magenta, red}, {yellow, white},
                                          {cyan, white},  {black, blue}};
  const uint8_t a = pairs[number % 8][0];
  const uint8_t b = pairs[number % 8][1];
  switch ((number / 8) % 4) {
    case 0:  // bricks
      for (int32_t y = 0; y < tile_size; ++y) {
        for (int32_t x = 0; x < tile_size; ++x) {
          const int32_t shift = (y / 8) % 2 ? 8 : 0;
          const bool mortar = y % 8 == 7 || (x + shift) % 16 == 15;
          c->pixel[y][x] = mortar ? b : a;
        }
      }
      break;
    case 1:  // chequered floor
      for (int32_t y = 0; y < tile_size; ++y) {
        for (int32_t x = 0; x < tile_size; ++x)
          c->pixel[y][x] = ((x / 8 + y / 8) & 1) ? a : b;
      }
      break;
    case 2:  // planks
      for (int32_t y = 0; y < tile_size; ++y) {
        for (int32_t x = 0; x < tile_size; ++x) {
          const bool seam = y % 6 == 5 || ((x + (y / 6) * 11) % 32 == 0);
          c->pixel[y][x] = seam ? b : a;
        }
      }
      break;
    default:  // carpet with a border
      fill(c, a);
      frame(c, 2, 2, 29, 29, b);
      frame(c, 4, 4, 27, 27, b);
      for (int32_t y = 0; y < tile_size; ++y) {
        for (int32_t x = 0; x < tile_size; ++x) {
          if (x > 6 && x < 25 && y > 6 && y < 25 && ((x + y) % 6 == 0)) c->pixel[y][x] = b;
        }
      }
      break;
  }
}

void draw_tile(canvas* c, int32_t tile) {
  fill(c, black);
  switch (tile) {
    case 0:
      draw_sea(c);
      break;
    case 1:
      draw_shallows(c);
      break;
    case 2:
      draw_beach(c);
      break;
    case 3:
      draw_grass(c, 303);
      break;
    case 4:
      draw_forest(c);
      break;
    case 5:
      draw_flowers(c);
      break;
    case 6:
      draw_hills(c);
      break;
    case 7:
      draw_mountains(c);
      break;
    case 8:
      draw_snow(c);
      break;
    case 9:
      draw_swamp(c);
      break;
    case 10:
      draw_lava(c);
      break;
    case 11:
      draw_desert(c);
      break;
    case 12:
      draw_road(c);
      break;
    case 13:
      draw_bridge(c);
      break;
    case 14:
      draw_town(c);
      break;
    case 15:
      draw_ruins(c);
      break;
    case 16:
      draw_cave(c);
      break;
    case 17:
      draw_river(c);
      break;
    case 18:
      draw_shrine(c);
      break;
    case 52:
      draw_castle(c);
      break;
    default:
      draw_pattern(c, tile - 19);
      break;
  }
}

// EGCTILES.BIN: per tile four planes of 32 rows of 4 bytes, the leftmost
// pixel in the most significant bit. The planes stand for index values
// 8, 1, 2 and 4 in that order.
std::vector<uint8_t> encode_tiles() {
  static constexpr uint8_t plane_value[4] = {8, 1, 2, 4};
  std::vector<uint8_t> data(static_cast<size_t>(tile_count) * 512, 0);
  canvas c{};
  for (int32_t t = 0; t < tile_count; ++t) {
    draw_tile(&c, t);
    for (int32_t p = 0; p < 4; ++p) {
      for (int32_t y = 0; y < tile_size; ++y) {
        for (int32_t x = 0; x < tile_size; ++x) {
          if (c.pixel[y][x] & plane_value[p]) {
            data[512 * t + 128 * p + 4 * y + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
          }
        }
      }
    }
  }
  return data;
}

// ---------------------------------------------------------------------------
// Maps: 84 x 78 cells, each a cell code 0-15.

constexpr int32_t map_width = 84;
constexpr int32_t map_height = 78;
constexpr int32_t cell_count = map_width * map_height;

// The cell codes, and the tile the map tool draws for each (its fixed
// cell-to-tile table); draw_tile above paints those tiles to match.
constexpr uint8_t sea = 0;        // tile 0
constexpr uint8_t shallows = 1;   // tile 1, also inland lakes
constexpr uint8_t beach = 2;      // tile 2
constexpr uint8_t grass = 3;      // tile 3
constexpr uint8_t forest = 4;     // tile 4
constexpr uint8_t hills = 5;      // tile 6
constexpr uint8_t mountains = 6;  // tile 7
constexpr uint8_t swamp = 7;      // tile 9
constexpr uint8_t castle = 8;     // tile 52
constexpr uint8_t desert = 9;     // tile 11
constexpr uint8_t road = 10;      // tile 12
constexpr uint8_t bridge = 11;    // tile 13
constexpr uint8_t town = 12;      // tile 14
constexpr uint8_t cave = 13;      // tile 16, a dungeon entrance
constexpr uint8_t river = 14;     // tile 17
constexpr uint8_t shrine = 15;    // tile 18

struct blob {
  int32_t x, y, rx, ry, height;
};

// What makes each continent itself.
struct continent_style {
  uint32_t seed;
  int32_t blob_count, blob_radius_min, blob_radius_span;
  int32_t noise_weight;                                   // percent of the noise added to the blobs
  int32_t land_percent;                                   // of all cells
  int32_t mountain_percent, hill_percent;                 // of the land
  int32_t swamp_percent, forest_percent, desert_percent;  // of the lowland
  int32_t towns, caves, shrines, rivers;
};

struct world {
  std::array<int32_t, cell_count> height;  // 0 and up on land
  std::array<int32_t, cell_count> ridge;   // high along mountain chains
  std::array<int32_t, cell_count> moisture;
  std::array<uint8_t, cell_count> cells;
};

constexpr int32_t at(int32_t x, int32_t y) {
  return y * map_width + x;
}

// Value noise on a lattice of `spacing` cells, interpolated bilinearly in
// integers; values -256..256.
int32_t lattice_noise(int32_t x, int32_t y, int32_t spacing, uint32_t seed) {
  const int32_t gx = x / spacing, gy = y / spacing;
  const int32_t fx = x % spacing, fy = y % spacing;
  auto corner = [&](int32_t cx, int32_t cy) {
    return static_cast<int32_t>(hash3(cx, cy, seed) % 513) - 256;
  };
  const int32_t top = corner(gx, gy) * (spacing - fx) + corner(gx + 1, gy) * fx;
  const int32_t bottom = corner(gx, gy + 1) * (spacing - fx) + corner(gx + 1, gy + 1) * fx;
  return (top * (spacing - fy) + bottom * fy) / (spacing * spacing);
}

int32_t fractal_noise(int32_t x, int32_t y, uint32_t seed) {
  return lattice_noise(x, y, 16, seed) + lattice_noise(x, y, 8, seed + 1) / 2 +
         lattice_noise(x, y, 4, seed + 2) / 4;
}

// The value that `percent` per cent of the values reach or exceed.
int32_t level_reached_by(std::vector<int32_t> values, int32_t percent) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end(), std::greater<>());
  const size_t index = std::min(values.size() - 1, values.size() * percent / 100);
  return values[index];
}

void raise_land(world* w, const continent_style& style) {
  generator random{style.seed, 0};
  std::vector<blob> blobs;
  for (int32_t i = 0; i < style.blob_count; ++i) {
    blob b;
    b.x = 14 + below(&random, map_width - 28);
    b.y = 13 + below(&random, map_height - 26);
    b.rx = style.blob_radius_min + below(&random, style.blob_radius_span);
    b.ry = style.blob_radius_min + below(&random, style.blob_radius_span);
    b.height = 300 + below(&random, 300);
    blobs.push_back(b);
  }
  std::vector<int32_t> all;
  for (int32_t y = 0; y < map_height; ++y) {
    for (int32_t x = 0; x < map_width; ++x) {
      int32_t h = 0;
      for (const blob& b : blobs) {
        // 1 - (dx/rx)^2 - (dy/ry)^2, scaled by 1024: a dome over the blob.
        const int64_t dx = x - b.x, dy = y - b.y;
        const int64_t inside =
            1024 - (dx * dx * 1024) / (b.rx * b.rx) - (dy * dy * 1024) / (b.ry * b.ry);
        if (inside > 0) h = std::max(h, static_cast<int32_t>(inside * b.height / 1024));
      }
      h += fractal_noise(x, y, style.seed * 7 + 1) * style.noise_weight / 100;
      // Open sea along every edge of the map.
      const int32_t edge =
          std::min(std::min(x, map_width - 1 - x), std::min(y, map_height - 1 - y));
      if (edge < 7) h -= (7 - edge) * 120;
      const int32_t ridge_noise = lattice_noise(x, y, 14, style.seed * 7 + 9) +
                                  lattice_noise(x, y, 5, style.seed * 7 + 10) / 3;
      w->height[at(x, y)] = h;
      w->ridge[at(x, y)] = 256 - (ridge_noise < 0 ? -ridge_noise : ridge_noise);
      w->moisture[at(x, y)] = fractal_noise(x, y, style.seed * 7 + 5);
      all.push_back(h);
    }
  }
  const int32_t sea_level = level_reached_by(all, style.land_percent);
  for (int32_t& h : w->height)
    h -= sea_level;
}

bool is_water(uint8_t c) {
  return c == sea || c == shallows || c == river;
}

template <typename Visit>
void for_neighbours(int32_t x, int32_t y, bool diagonal, Visit visit) {
  for (int32_t dy = -1; dy <= 1; ++dy) {
    for (int32_t dx = -1; dx <= 1; ++dx) {
      if ((dx == 0 && dy == 0) || (!diagonal && dx != 0 && dy != 0)) continue;
      const int32_t nx = x + dx, ny = y + dy;
      if (nx >= 0 && nx < map_width && ny >= 0 && ny < map_height) visit(nx, ny);
    }
  }
}

void classify_terrain(world* w, const continent_style& style) {
  // Mountains follow the ridge lines through the higher land; hills fringe
  // them; the lowland is parted by moisture.
  std::vector<int32_t> rise, wet;
  for (int32_t i = 0; i < cell_count; ++i) {
    if (w->height[i] >= 0) rise.push_back(w->height[i] + 2 * w->ridge[i]);
  }
  const int32_t mountain_level = level_reached_by(rise, style.mountain_percent);
  const int32_t hill_level = level_reached_by(rise, style.mountain_percent + style.hill_percent);
  for (int32_t i = 0; i < cell_count; ++i) {
    if (w->height[i] >= 0 && w->height[i] + 2 * w->ridge[i] < hill_level) {
      wet.push_back(w->moisture[i]);
    }
  }
  const int32_t swamp_level = level_reached_by(wet, style.swamp_percent);
  const int32_t forest_level = level_reached_by(wet, style.swamp_percent + style.forest_percent);
  const int32_t desert_level = level_reached_by(wet, 100 - style.desert_percent);
  for (int32_t i = 0; i < cell_count; ++i) {
    const int32_t h = w->height[i], r = h + 2 * w->ridge[i], m = w->moisture[i];
    uint8_t c;
    if (h < 0) {
      c = sea;
    } else if (r >= mountain_level) {
      c = mountains;
    } else if (r >= hill_level) {
      c = m >= swamp_level ? forest : hills;
    } else if (m >= swamp_level && style.swamp_percent > 0) {
      c = swamp;
    } else if (m >= forest_level && style.forest_percent > 0) {
      c = forest;
    } else if (m < desert_level && style.desert_percent > 0) {
      c = desert;
    } else {
      c = grass;
    }
    w->cells[i] = c;
  }
  // Coasts: sea beside land turns shallow, low land beside the sea to sand.
  std::array<uint8_t, cell_count> coast = w->cells;
  for (int32_t y = 0; y < map_height; ++y) {
    for (int32_t x = 0; x < map_width; ++x) {
      const uint8_t c = w->cells[at(x, y)];
      bool near_land = false, near_sea = false;
      for_neighbours(x, y, true, [&](int32_t nx, int32_t ny) {
        const uint8_t n = w->cells[at(nx, ny)];
        if (n != sea) near_land = true;
        if (n == sea) near_sea = true;
      });
      if (c == sea && near_land) coast[at(x, y)] = shallows;
      // Sand lies in stretches along the shore, not all the way round.
      const bool sandy = c == desert || lattice_noise(x, y, 6, style.seed * 7 + 13) > 50;
      if (c != sea && c != mountains && near_sea && sandy && w->height[at(x, y)] < 120) {
        coast[at(x, y)] = c == swamp ? swamp : beach;
      }
    }
  }
  w->cells = coast;
}

// Rivers rise beside the hills and mountains and run downhill to the sea; a
// river that finds no lower ground ends in a small lake.
void run_rivers(world* w, const continent_style& style) {
  generator random{style.seed ^ 0x5A5A5A5Au, 0};
  int32_t made = 0;
  for (int32_t attempt = 0; attempt < 400 && made < style.rivers; ++attempt) {
    int32_t x = 6 + below(&random, map_width - 12);
    int32_t y = 6 + below(&random, map_height - 12);
    const uint8_t start = w->cells[at(x, y)];
    if (start != hills && start != forest) continue;
    if (w->height[at(x, y)] < 80) continue;
    std::vector<int32_t> path;
    auto in_path = [&](int32_t cell) {
      return std::find(path.begin(), path.end(), cell) != path.end();
    };
    bool reached_water = false;
    for (int32_t step = 0; step < 120 && !reached_water; ++step) {
      path.push_back(at(x, y));
      // Downhill, but over a jittered ground so that the river meanders.
      auto ground = [&](int32_t n) {
        return w->height[n] +
               static_cast<int32_t>(hash3(n % map_width, n / map_width, style.seed + 77) % 120);
      };
      int32_t best = -1, best_ground = ground(at(x, y)) + 40;
      for_neighbours(x, y, false, [&](int32_t nx, int32_t ny) {
        const int32_t n = at(nx, ny);
        if (is_water(w->cells[n]) && !in_path(n)) reached_water = true;
        if (!in_path(n) && w->cells[n] != mountains && ground(n) < best_ground) {
          best = n;
          best_ground = ground(n);
        }
      });
      if (best < 0) break;
      x = best % map_width;
      y = best / map_width;
    }
    if (path.size() < 8) continue;
    for (int32_t p : path)
      w->cells[p] = river;
    if (!reached_water) w->cells[path.back()] = shallows;
    ++made;
  }
}

int32_t distance(int32_t a, int32_t b) {
  const int32_t dx = a % map_width - b % map_width, dy = a / map_width - b / map_width;
  return std::max(dx < 0 ? -dx : dx, dy < 0 ? -dy : dy);
}

bool far_from(const std::vector<int32_t>& places, int32_t cell, int32_t spacing) {
  for (int32_t p : places) {
    if (distance(p, cell) < spacing) return false;
  }
  return true;
}

// Cells that count as open ground for a settlement.
bool settles(uint8_t c) {
  return c == grass || c == beach || c == desert;
}

bool borders(const world* w, int32_t cell, uint8_t kind) {
  bool found = false;
  for_neighbours(cell % map_width, cell / map_width, true,
                 [&](int32_t nx, int32_t ny) { found |= w->cells[at(nx, ny)] == kind; });
  return found;
}

// The castle stands on open ground nearest the middle of the land.
int32_t place_castle(world* w) {
  int64_t sx = 0, sy = 0, n = 0;
  for (int32_t i = 0; i < cell_count; ++i) {
    if (w->cells[i] != sea && w->cells[i] != shallows) {
      sx += i % map_width;
      sy += i / map_width;
      ++n;
    }
  }
  const int32_t centre = at(static_cast<int32_t>(sx / n), static_cast<int32_t>(sy / n));
  int32_t best = -1;
  for (int32_t i = 0; i < cell_count; ++i) {
    if (w->cells[i] == grass && (best < 0 || distance(i, centre) < distance(best, centre)))
      best = i;
  }
  w->cells[best] = castle;
  return best;
}

std::vector<int32_t> place_sites(world* w, generator* random, int32_t count, uint8_t kind,
                                 std::vector<int32_t>* taken) {
  std::vector<int32_t> placed;
  for (int32_t attempt = 0; attempt < 4000 && static_cast<int32_t>(placed.size()) < count;
       ++attempt) {
    // Two statements: the order of a call's arguments is the compiler's.
    const int32_t x = 2 + below(random, map_width - 4);
    const int32_t y = 2 + below(random, map_height - 4);
    const int32_t cell = at(x, y);
    const uint8_t c = w->cells[cell];
    bool fits;
    if (kind == town) {
      fits =
          settles(c) && (borders(w, cell, river) || borders(w, cell, shallows) || attempt > 2000);
    } else if (kind == cave) {
      fits = (c == hills || c == forest || c == grass) && borders(w, cell, mountains);
    } else {
      fits = c == forest || c == grass || c == desert || c == hills;
    }
    if (!fits || !far_from(*taken, cell, kind == town ? 9 : 6)) continue;
    w->cells[cell] = kind;
    placed.push_back(cell);
    taken->push_back(cell);
  }
  return placed;
}

// The cost of laying road over a cell; 0 means impassable.
int32_t road_cost(uint8_t c) {
  switch (c) {
    case road:
      return 1;
    case grass:
    case beach:
    case town:
    case castle:
      return 3;
    case desert:
      return 4;
    case forest:
      return 6;
    case hills:
      return 7;
    case swamp:
      return 9;
    case river:
    case bridge:
      return 12;
    default:
      return 0;
  }
}

// Lays the cheapest road from one place to another (Dijkstra's search);
// rivers on the way get bridges. Places the land cannot reach get no road.
void lay_road(world* w, int32_t from, int32_t to) {
  std::vector<int32_t> cost(cell_count, INT32_MAX), previous(cell_count, -1);
  // Keys (cost, cell) are unique, so the order of visits is the same on
  // every standard library.
  std::priority_queue<std::pair<int32_t, int32_t>, std::vector<std::pair<int32_t, int32_t>>,
                      std::greater<>>
      open;
  cost[from] = 0;
  open.push({0, from});
  while (!open.empty()) {
    const int32_t c = open.top().first;
    const int32_t cell = open.top().second;
    open.pop();
    if (c != cost[cell]) continue;
    if (cell == to) break;
    for_neighbours(cell % map_width, cell / map_width, false, [&](int32_t nx, int32_t ny) {
      const int32_t n = at(nx, ny);
      const int32_t base = road_cost(w->cells[n]);
      if (base == 0) return;
      // A little unevenness of the ground keeps roads from running ruler-straight.
      const int32_t step = base + static_cast<int32_t>(hash3(nx, ny, 4242) % 3);
      if (c + step >= cost[n]) return;
      // No bridge runs along a river, only across it.
      if (w->cells[n] == river && w->cells[cell] == river) return;
      cost[n] = c + step;
      previous[n] = cell;
      open.push({cost[n], n});
    });
  }
  if (previous[to] < 0) return;
  for (int32_t cell = previous[to]; cell != from; cell = previous[cell]) {
    uint8_t& c = w->cells[cell];
    if (c == river) {
      c = bridge;
    } else if (c != bridge && c != town && c != castle) {
      c = road;
    }
  }
}

void build_continent(world* w, const continent_style& style) {
  raise_land(w, style);
  classify_terrain(w, style);
  run_rivers(w, style);
  generator random{style.seed ^ 0xC3C3C3C3u, 0};
  std::vector<int32_t> taken;
  const int32_t keep = place_castle(w);
  taken.push_back(keep);
  const std::vector<int32_t> towns = place_sites(w, &random, style.towns, town, &taken);
  place_sites(w, &random, style.caves, cave, &taken);
  place_sites(w, &random, style.shrines, shrine, &taken);
  // A network grown from the castle: each time, the town nearest to a
  // place already on it is linked to that place. A town across the sea gets
  // no road but joins all the same, so that its island has a network too.
  std::vector<int32_t> linked = {keep};
  std::vector<int32_t> waiting = towns;
  while (!waiting.empty()) {
    size_t best_town = 0, best_place = 0;
    for (size_t t = 0; t < waiting.size(); ++t) {
      for (size_t p = 0; p < linked.size(); ++p) {
        if (distance(waiting[t], linked[p]) < distance(waiting[best_town], linked[best_place])) {
          best_town = t;
          best_place = p;
        }
      }
    }
    lay_road(w, linked[best_place], waiting[best_town]);
    linked.push_back(waiting[best_town]);
    waiting.erase(waiting.begin() + static_cast<std::ptrdiff_t>(best_town));
  }
}

constexpr continent_style styles[4] = {
    // A broad temperate kingdom with a spine of mountains.
    {0x4A17u, 6, 15, 10, 110, 50, 12, 14, 6, 30, 4, 8, 3, 2, 9},
    // Rolling uplands: hills everywhere, dry grass and sand in the south.
    {0x0C0Fu, 8, 11, 10, 120, 46, 8, 40, 2, 12, 22, 7, 4, 2, 7},
    // An archipelago of low, wet islands.
    {0x9A1Eu, 16, 5, 6, 160, 30, 4, 8, 30, 30, 0, 9, 2, 3, 6},
    // A scorched land of ridges and sand, with thistle woods here and there.
    {0xE3B0u, 6, 16, 10, 110, 52, 16, 12, 0, 14, 40, 6, 5, 2, 6},
};

// MAP.BIN: two halves; in each, row j of the odd-numbered map and row j of
// the even-numbered one, 42 bytes each, two cells per byte (left cell in the
// high nibble).
std::vector<uint8_t> encode_maps(const std::array<world, 4>& worlds) {
  std::vector<uint8_t> data(13104, 0);
  for (int32_t m = 0; m < 4; ++m) {
    for (int32_t y = 0; y < map_height; ++y) {
      for (int32_t x = 0; x < map_width; ++x) {
        const size_t offset = (m / 2) * 6552 + y * 84 + (m % 2) * 42 + x / 2;
        const uint8_t code = worlds[m].cells[at(x, y)];
        data[offset] |= static_cast<uint8_t>(x % 2 == 0 ? code << 4 : code);
      }
    }
  }
  return data;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::puts("usage: make_sample_disk OUTPUT.fdi");
    return 1;
  }
  static std::array<world, 4> worlds;
  for (int32_t m = 0; m < 4; ++m)
    build_continent(&worlds[m], styles[m]);
  disk_builder disk;
  format_disk(&disk, disk_geometry::sectors_1232);
  add_root_file(&disk, "EGCTILES.BIN", encode_tiles());
  add_root_file(&disk, "MAP.BIN", encode_maps(worlds));
  if (!write_disk(&disk, argv[1])) {
    std::printf("error: write '%s'\n", argv[1]);
    return 1;
  }
  return 0;
}
