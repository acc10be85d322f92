// Whole runs of the o1pc98map binary under valgrind's memcheck: no invalid
// access, no use of an undefined value, and every heap block freed, on the
// default run, on shape runs and on a run that fails part way.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bitmap/bitmap.h"
#include "bitmap/bitmap_test_support.h"
#include "testing/disk_builder.h"
#include "testing/test_support.h"
#include "testing/tool_expectations.h"

namespace {

const std::string tool = O1PC98MAP_PATH;

std::vector<uint8_t> game_image(bool with_map) {
  return pseudo_random_game_disk(disk_geometry::sectors_1440, 0xfeed, 0xbeef, with_map);
}

// A shape bitmap of 16 x 4 tiles written by the module's own BMP writer.
std::vector<uint8_t> shape_file(uint32_t width, int32_t height, uint16_t bit_count) {
  bitmap_header header{};
  make_bitmap_header(&header, width, height, bit_count);
  std::vector<uint8_t> pixels =
      pseudo_random_bytes(size_t{width} * static_cast<size_t>(height) * ((bit_count + 7) / 8), 7);
  std::vector<palette_entry> palette(256);
  for (size_t i = 0; i < palette.size(); ++i)
    palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(3 * i), 0x40, 0};
  return written_bitmap(header, palette.data(), pixels.data());
}

struct memcheck_case {
  const char* name;
  std::vector<std::string> arguments;
  bool with_map;
  int exit_status;
  std::string output;
};

TEST(ValgrindTest, RunsShowNoMemoryErrorsAndNoLeaks) {
  if (system("valgrind --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "valgrind is absent";
  const memcheck_case cases[] = {
      {"default run", {}, true, 0, all_titles},
      {"8-bit shape", {"--shape", "shape8.bmp"}, true, 0, all_titles},
      {"24-bit shape", {"--shape", "shape24.bmp"}, true, 0, all_titles},
      {"no maps on the disk",
       {},
       false,
       1,
       "can't find 'MAP.BIN'\nerror: read disk image 'O1_Orvane.fdi/MAP.BIN'\n"
       "error: read image file 'O1_Orvane.fdi'\n"},
  };
  for (const memcheck_case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string directory = make_temp_dir();
    ASSERT_TRUE(write_file_bytes(directory + "/O1_Orvane.fdi", game_image(c.with_map)));
    ASSERT_TRUE(write_file_bytes(directory + "/shape8.bmp", shape_file(64, 12, 8)));
    ASSERT_TRUE(write_file_bytes(directory + "/shape24.bmp", shape_file(128, 32, 24)));
    std::vector<std::string> argv = {"/bin/sh", "-c",
                                     "exec valgrind --error-exitcode=99 --leak-check=full "
                                     "--errors-for-leak-kinds=definite,indirect,possible "
                                     "--show-leak-kinds=all \"$0\" \"$@\"",
                                     tool};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    process_result result = run_program(argv, directory, "");
    EXPECT_EQ(result.exit_status, c.exit_status);  // 99 on a memcheck error
    EXPECT_EQ(result.output, c.output);
    EXPECT_NE(result.errors.find("ERROR SUMMARY: 0 errors from 0 contexts"), std::string::npos)
        << result.errors;
    EXPECT_NE(result.errors.find("All heap blocks were freed -- no leaks are possible"),
              std::string::npos)
        << result.errors;
    remove_tree(directory);
  }
}

}  // namespace
