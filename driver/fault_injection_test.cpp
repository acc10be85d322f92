// Faults from outside the tool, injected into whole runs: output files that
// fail part way, images that cannot be read or change between the two
// stages, standard input or output that is closed or broken, and every
// allocation of a run failing in turn. After each fault the run ends with
// status 1, the driver's line is the last one, and no file other than the
// one being replaced has changed.
//
// The allocation faults run the tool in this process: the global operator
// new and delete of this test executable are replaced by counting versions
// that can make one chosen allocation fail. The product itself has no hook.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "bitmap/bitmap.h"
#include "bitmap/bitmap_test_support.h"
#include "driver/run.h"
#include "testing/disk_builder.h"
#include "testing/scratch_directory_test.h"
#include "testing/test_support.h"
#include "testing/tool_expectations.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define O1_WITH_LEAK_CHECK 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define O1_WITH_LEAK_CHECK 1
#endif
#ifdef O1_WITH_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

// ---------------------------------------------------------------------------
// The allocation hook. Inert until armed; while armed it counts every
// operator new of any form, makes call number fail_at fail (nullptr from the
// nothrow forms, std::bad_alloc from the others), and runs action first when
// an allocation of exactly action_size bytes is asked for.

namespace {

struct allocation_hook {
  bool armed = false;
  long calls = 0;
  long fail_at = 0;  // counting from 1; 0 fails none
  size_t action_size = 0;
  void (*action)() = nullptr;
};

allocation_hook hook;

void* hooked_allocation(size_t size) {
  if (hook.armed) {
    ++hook.calls;
    if (hook.action != nullptr && size == hook.action_size) {
      void (*action)() = hook.action;
      hook.action = nullptr;  // once, and its own allocations run plainly
      hook.armed = false;
      action();
      hook.armed = true;
    }
    if (hook.calls == hook.fail_at) return nullptr;
  }
  return std::malloc(size == 0 ? 1 : size);
}

void* throwing_allocation(size_t size) {
  void* p = hooked_allocation(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

void* operator new(size_t size) {
  return throwing_allocation(size);
}
void* operator new[](size_t size) {
  return throwing_allocation(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return hooked_allocation(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return hooked_allocation(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

namespace {

const std::string tool = O1PC98MAP_PATH;

const std::string image_name = "image.fdi";
const std::string shape_name = "shape.bmp";
const std::vector<uint8_t> old_bytes = {'o', 'l', 'd'};

std::string quoted_line(std::string_view before, std::string_view name) {
  return text_of({before, "'", name, "'\n"});
}

// The lines of the stage that reads the tiles from the image, and of the
// one that reads the maps, after an inner chain.
std::string tile_stage_failed(std::string_view inner) {
  return text_of({inner, "error: read shapes from disk image\n"});
}
std::string map_stage_failed(std::string_view inner) {
  return text_of({inner, quoted_line("error: read image file ", image_name)});
}
std::string image_refused(std::string_view inner) {
  return text_of({inner, quoted_line("error: read disk image ", image_name)});
}

std::vector<uint8_t> game_image(bool with_map = true) {
  return pseudo_random_game_disk(disk_geometry::sectors_1232, 0x2468ace, 0x13579bd, with_map);
}

// A 64 x 8-pixel 8-bit shape bitmap (16 x 4 tiles of 4 x 2), written by the
// module's own BMP writer.
std::vector<uint8_t> shape_file() {
  bitmap_header header{};
  make_bitmap_header(&header, 64, 8, 8);
  std::vector<uint8_t> pixels = pseudo_random_bytes(64 * 8, 99);
  std::vector<uint8_t> colours = pseudo_random_bytes(256 * 4, 98);
  std::vector<palette_entry> palette(256);
  for (size_t i = 0; i < palette.size(); ++i)
    palette[i] = {colours[4 * i], colours[4 * i + 1], colours[4 * i + 2], colours[4 * i + 3]};
  return written_bitmap(header, palette.data(), pixels.data());
}

std::vector<std::string> command(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {tool};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

// Every entry of a directory with its bytes; a directory shows as "<dir>"
// and a symbolic link as its target.
std::map<std::string, std::vector<uint8_t>> snapshot(const std::string& directory) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_symlink()) {
      const std::string target = std::filesystem::read_symlink(entry.path()).string();
      files[name] = std::vector<uint8_t>(target.begin(), target.end());
    } else if (entry.is_directory()) {
      files[name] = {'<', 'd', 'i', 'r', '>'};
    } else {
      files[name] = read_file_bytes(entry.path().string());
    }
  }
  return files;
}

// Puts a directory of regular files back as a snapshot had it.
void restore(const std::string& directory,
             const std::map<std::string, std::vector<uint8_t>>& files) {
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    if (files.count(entry.path().filename().string()) == 0) std::filesystem::remove(entry.path());
  for (const auto& [name, bytes] : files)
    write_file_bytes(directory + "/" + name, bytes);
}

// The map whose file a name is, or -1.
int map_number(const std::string& name) {
  for (int m = 0; m < 4; ++m)
    if (name == map_files[m]) return m;
  return -1;
}

bool is_prefix(const std::vector<uint8_t>& part, const std::vector<uint8_t>& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

class FaultTest : public scratch_directory_test {
 protected:
  // The four files a clean run on the same inputs writes.
  static const std::vector<std::vector<uint8_t>>& reference_maps() {
    static const std::vector<std::vector<uint8_t>> maps = [] {
      std::string clean = make_temp_dir();
      write_file_bytes(clean + "/" + image_name, game_image());
      process_result result = run_program(command({"-d", image_name}), clean, "");
      EXPECT_EQ(result.exit_status, 0);
      std::vector<std::vector<uint8_t>> files;
      for (const char* name : map_files)
        files.push_back(read_file_bytes(clean + "/" + name));
      remove_tree(clean);
      return files;
    }();
    return maps;
  }
};

// ---------------------------------------------------------------------------
// An output file that fails part way: the disk fills up (a file-size limit)
// while map k is written, after the maps before it were written whole.

struct full_disk_case {
  int map;
  rlim_t limit;  // bytes of the file that fit
};

TEST_F(FaultTest, OutputFailingPartWayKeepsTheEarlierMapsAndTheRest) {
  const rlim_t row = 1344;
  const rlim_t whole = 3354742;
  const full_disk_case cases[] = {
      {0, 0},         {0, 117}, {0, 118 + 10 * row}, {0, whole - 1}, {1, 54},
      {1, 118 + row}, {2, 0},   {2, whole - 1},      {3, 118},       {3, 100000},
      {3, whole - 1},
  };
  const std::vector<uint8_t> image = game_image();
  for (const full_disk_case& c : cases) {
    SCOPED_TRACE(testing::Message() << "map " << c.map + 1 << ", " << c.limit << " bytes");
    std::string case_directory = make_temp_dir();
    ASSERT_TRUE(write_file_bytes(case_directory + "/" + image_name, image));
    // The map's old file brings the question, and the disk fills up once it
    // is asked: every map before it has been written by then.
    ASSERT_TRUE(write_file_bytes(case_directory + "/" + map_files[c.map], old_bytes));
    process_result result = run_program_limited_at_prompt(
        command({"-d", image_name}), case_directory, "overwrite ? (Y or N): ", "y", c.limit);
    std::string before;
    for (int m = 0; m <= c.map; ++m)
      before += titles[m];
    before += already_exists(map_files[c.map]);
    const std::string after =
        quoted_line("error: write bitmap ", map_files[c.map]) + write_failed(map_files[c.map]);
    // The stream buffers the header and the palette, so the full disk may
    // show only once the rows go out.
    EXPECT_TRUE(
        result.output == before + "error: write_bitmap() - can't write bitmap header\n" + after ||
        result.output == before + "error: write_bitmap() - can't write palette\n" + after ||
        result.output == before + "error: write_bitmap() - can't write bitmap data\n" + after)
        << result.output;
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.errors, "");
    for (int m = 0; m < 4; ++m) {
      SCOPED_TRACE(map_files[m]);
      const std::string name = case_directory + "/" + map_files[m];
      if (m < c.map) {
        EXPECT_TRUE(read_file_bytes(name) == reference_maps()[m]);
      } else if (m == c.map) {
        // As far as it was written.
        const std::vector<uint8_t>& full = reference_maps()[m];
        EXPECT_TRUE(read_file_bytes(name) ==
                    std::vector<uint8_t>(full.begin(), full.begin() + c.limit));
      } else {
        EXPECT_FALSE(file_exists(name));
      }
    }
    EXPECT_TRUE(read_file_bytes(case_directory + "/" + image_name) == image);
    remove_tree(case_directory);
  }
}

// ---------------------------------------------------------------------------
// Images and shape bitmaps that cannot be read.

struct unreadable_case {
  std::string name;
  std::vector<std::string> arguments;
  std::vector<std::string> outputs;  // any one of them, whole
};

TEST_F(FaultTest, UnreadableInputsEndTheRunBeforeAnyMap) {
  auto as_image = [](const std::string& name, const std::string& first_line) {
    return tile_stage_failed(first_line + quoted_line("error: read disk image ", name));
  };
  const unreadable_case cases[] = {
      // Reading a directory fails at the seek, the size or the read, as the
      // file system has it.
      {"image is a directory",
       {"-d", "folder.fdi"},
       {as_image("folder.fdi", "seek error 'folder.fdi' (SEEK_END)\n"),
        as_image("folder.fdi", "unsupported image 'folder.fdi'\n"),
        as_image("folder.fdi", "read error 'folder.fdi'\n")}},
      {"image is a dangling link",
       {"-d", "dangling.fdi"},
       {as_image("dangling.fdi", "open error 'dangling.fdi'\n")}},
      {"image is a loop of links",
       {"-d", "loop.fdi"},
       {as_image("loop.fdi", "open error 'loop.fdi'\n")}},
      {"image below a file",
       {"-d", "image.fdi/x"},
       {as_image("image.fdi/x", "open error 'image.fdi/x'\n")}},
      {"image is empty", {"-d", "empty.fdi"}, {as_image("empty.fdi", "read error 'empty.fdi'\n")}},
      {"shape bitmap is a directory",
       {"-d", image_name, "-s", "folder.fdi"},
       {"error: read_bitmap() - can't read bitmap header\nerror: read 'folder.fdi'\n"
        "error: read shape bitmap 'folder.fdi'\n"}},
  };
  std::filesystem::create_directory(path("folder.fdi"));
  std::filesystem::create_symlink("nowhere.fdi", path("dangling.fdi"));
  std::filesystem::create_symlink("loop.fdi", path("loop.fdi"));
  put_file("empty.fdi", {});
  put_file(image_name, game_image());
  const auto before = snapshot(directory);
  for (const unreadable_case& c : cases) {
    SCOPED_TRACE(c.name);
    process_result result = run_program(command(c.arguments), directory, "");
    EXPECT_NE(std::find(c.outputs.begin(), c.outputs.end(), result.output), c.outputs.end())
        << result.output;
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(snapshot(directory), before);
  }
}

// ---------------------------------------------------------------------------
// Standard input and output.

TEST_F(FaultTest, ClosedStandardInputAnswersNo) {
  put_file(image_name, game_image());
  put_file(map_files[1], old_bytes);
  process_result result =
      run_program_with_streams(command({"-d", image_name}), directory, "", {.stdin_closed = true});
  EXPECT_EQ(result.output, titles[0] + titles[1] + already_exists(map_files[1]) + "\n" +
                               write_failed(map_files[1]));
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.errors, "");
  EXPECT_TRUE(read_file_bytes(path(map_files[0])) == reference_maps()[0]);
  EXPECT_EQ(read_file_bytes(path(map_files[1])), old_bytes);
  EXPECT_FALSE(file_exists(path(map_files[2])));
  EXPECT_FALSE(file_exists(path(map_files[3])));

  // With --overwrite nothing is asked, and nothing is read.
  result = run_program_with_streams(command({"-d", image_name, "--overwrite"}), directory, "",
                                    {.stdin_closed = true});
  EXPECT_EQ(result.output, all_titles);
  EXPECT_EQ(result.exit_status, 0);
  for (int m = 0; m < 4; ++m)
    EXPECT_TRUE(read_file_bytes(path(map_files[m])) == reference_maps()[m]) << map_files[m];
}

struct sink_case {
  const char* name;
  output_sink sink;
};

constexpr sink_case unusable_outputs[] = {
    {"closed", output_sink::closed},
    {"full device", output_sink::full_device},
    {"pipe without reader", output_sink::pipe_without_reader},
};

// The maps are written, but the run's messages reach no one: the run does
// not count as a success, and it is not ended by a signal.
TEST_F(FaultTest, UnusableStandardOutputFailsARunThatWroteEveryMap) {
  const std::vector<uint8_t> image = game_image();
  for (const sink_case& c : unusable_outputs) {
    SCOPED_TRACE(c.name);
    std::string case_directory = make_temp_dir();
    ASSERT_TRUE(write_file_bytes(case_directory + "/" + image_name, image));
    process_result result = run_program_with_streams(command({"-d", image_name}), case_directory,
                                                     "", {.output = c.sink});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.errors, "");
    for (int m = 0; m < 4; ++m)
      EXPECT_TRUE(read_file_bytes(case_directory + "/" + map_files[m]) == reference_maps()[m])
          << map_files[m];
    remove_tree(case_directory);
  }
}

// A question that cannot be shown is not answered from the input: the file
// stays, and the run ends there.
TEST_F(FaultTest, UnusableStandardOutputRefusesTheQuestion) {
  const std::vector<uint8_t> image = game_image();
  for (const sink_case& c : unusable_outputs) {
    SCOPED_TRACE(c.name);
    std::string case_directory = make_temp_dir();
    ASSERT_TRUE(write_file_bytes(case_directory + "/" + image_name, image));
    ASSERT_TRUE(write_file_bytes(case_directory + "/" + map_files[0], old_bytes));
    process_result result = run_program_with_streams(command({"-d", image_name}), case_directory,
                                                     "y\ny\ny\ny\n", {.output = c.sink});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(read_file_bytes(case_directory + "/" + map_files[0]), old_bytes);
    for (int m = 1; m < 4; ++m)
      EXPECT_FALSE(file_exists(case_directory + "/" + map_files[m])) << map_files[m];
    remove_tree(case_directory);
  }
}

// The run's messages are small: it never waits for a reader to make room.
TEST_F(FaultTest, PipeReadOnlyAfterTheRunHoldsEveryMessage) {
  put_file(image_name, game_image());
  process_result result = run_program_with_streams(command({"-d", image_name}), directory, "",
                                                   {.output = output_sink::unread_pipe});
  EXPECT_EQ(result.output, all_titles);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.errors, "");
}

// ---------------------------------------------------------------------------
// In-process runs, for faults that must strike at one point of a run.

struct in_process_result {
  int status;
  std::string output;
};

// Runs the tool in directory as `o1pc98map ARGUMENTS` with the hook armed
// for the length of the run. Standard input reads nothing.
in_process_result run_in_process(const std::string& directory,
                                 const std::vector<std::string>& arguments) {
  std::vector<std::string> words = {"o1pc98map"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);

  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(directory);
  EXPECT_NE(freopen("/dev/null", "r", stdin), nullptr);
  in_process_result result{-1, {}};
  begin_stdout_capture();
  hook.calls = 0;
  hook.armed = true;
  try {
    result.status = run_map_tool(argv.data());
  } catch (...) {
    hook.armed = false;
    ADD_FAILURE() << "an exception left the run (in the program: a crash)";
  }
  hook.armed = false;
  result.output = end_stdout_capture();
  std::filesystem::current_path(previous);
  return result;
}

struct allocation_case {
  const char* name;
  std::vector<std::string> arguments;
  std::vector<int> old_maps;  // maps whose file exists before the run
  // The whole outputs in the order of the sites, a run of equal ones shown
  // once; a site with a way round the failure gives a whole run.
  std::vector<std::string> outputs;
};

// Every allocation of a run fails in turn, N = 1, 2, ... until a run no
// longer meets a failure and succeeds. Consecutive sites that fail with the
// same lines show as one.
TEST_F(FaultTest, EveryAllocationFailingInTurnEndsTheRunCleanly) {
  const std::string exhausted = "error: memory exhausted!\n";
  const std::string image_exhausted = image_refused("memory exhausted!\n");
  const std::string no_fat = image_refused("can't get fat 'image.fdi' offset=00001000\n");
  const std::string fat_exhausted = "memory exhausted!\n" + no_fat;
  const std::string map_chains[] = {
      map_stage_failed(image_exhausted),
      map_stage_failed(no_fat),
      map_stage_failed(fat_exhausted),
      map_stage_failed("error: memory exhausted!\nerror: convert map data\n"),
  };
  const std::vector<std::string> disk_outputs = {
      tile_stage_failed(exhausted),
      tile_stage_failed(image_exhausted),
      tile_stage_failed(no_fat),
      tile_stage_failed(fat_exhausted),
      exhausted,
      map_chains[0],
      map_chains[1],
      map_chains[2],
      map_chains[3],
      all_titles,  // the writer's row buffer: the writer does without it
  };
  const std::vector<std::string> shape_outputs = {
      "error: memory exhaust!\nerror: read 'shape.bmp'\nerror: read shape bitmap 'shape.bmp'\n",
      exhausted,
      map_chains[0],
      map_chains[1],
      map_chains[2],
      map_chains[3],
      all_titles,
  };
  const allocation_case cases[] = {
      {"disk tiles, replacing every map",
       {"-d", image_name, "--overwrite"},
       {0, 1, 2, 3},
       disk_outputs},
      {"disk tiles, no file yet", {"-d", image_name}, {}, disk_outputs},
      {"shape bitmap", {"-d", image_name, "-s", shape_name, "--overwrite"}, {2}, shape_outputs},
  };
  for (const allocation_case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string case_directory = make_temp_dir();
    ASSERT_TRUE(write_file_bytes(case_directory + "/" + image_name, game_image()));
    ASSERT_TRUE(write_file_bytes(case_directory + "/" + shape_name, shape_file()));
    for (int m : c.old_maps)
      ASSERT_TRUE(write_file_bytes(case_directory + "/" + map_files[m], old_bytes));
    const auto before = snapshot(case_directory);

    // A run that meets no failure: its allocations are the sites, and its
    // files the finished maps.
    hook.fail_at = 0;
    const in_process_result clean = run_in_process(case_directory, c.arguments);
    const long sites = hook.calls;
    ASSERT_EQ(clean.status, 0);
    ASSERT_EQ(clean.output, all_titles);
    const auto finished = snapshot(case_directory);

    std::vector<std::string> seen;
    for (long n = 1; n <= sites; ++n) {
      SCOPED_TRACE(testing::Message() << "allocation " << n << " of " << sites << " fails");
      restore(case_directory, before);
      hook.fail_at = n;
      const in_process_result result = run_in_process(case_directory, c.arguments);
      hook.fail_at = 0;
#ifdef O1_WITH_LEAK_CHECK
      // Names the run that leaked, where the scan can tell; a block whose
      // address still lingers on the stack is caught by the check at exit.
      EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
      if (seen.empty() || seen.back() != result.output) seen.push_back(result.output);
      const auto after = snapshot(case_directory);
      if (result.status == 0) {
        // A site with a way round the failure: the run is whole.
        EXPECT_EQ(result.output, all_titles);
        EXPECT_TRUE(after == finished);
        continue;
      }
      EXPECT_EQ(result.status, 1);
      // The maps whose title came before the failure were replaced as asked,
      // but for the last, which may be cut short; every other file is as it
      // was.
      int titled = 0;
      for (int m = 0; m < 4; ++m)
        if (result.output.find(titles[m]) != std::string::npos) titled = m + 1;
      for (const auto& [name, bytes] : after) {
        SCOPED_TRACE(name);
        const int map = map_number(name);
        if (map >= 0 && map < titled - 1) {
          EXPECT_TRUE(bytes == finished.at(name));
        } else if (map >= 0 && map == titled - 1) {
          EXPECT_TRUE((before.count(name) != 0 && bytes == before.at(name)) ||
                      is_prefix(bytes, finished.at(name)));
        } else {
          ASSERT_EQ(before.count(name), 1u) << "a new file";
          EXPECT_TRUE(bytes == before.at(name));
        }
      }
      for (const auto& [name, bytes] : before)
        EXPECT_EQ(after.count(name), 1u) << name << " is gone";
    }
    EXPECT_EQ(seen, c.outputs);
    remove_tree(case_directory);
  }
}

// ---------------------------------------------------------------------------
// The image changes between the tile stage and the map stage: another
// program removes or replaces it while the raster is laid out.

std::string changing_image;  // the image's path, for the actions below

void remove_image() {
  std::filesystem::remove(changing_image);
}
void replace_image_by_directory() {
  std::filesystem::remove(changing_image);
  std::filesystem::create_directory(changing_image);
}
void cut_image_short() {
  std::filesystem::resize_file(changing_image, std::filesystem::file_size(changing_image) - 1);
}
void replace_image_by_one_without_maps() {
  write_file_bytes(changing_image, game_image(false));
}

struct change_case {
  const char* name;
  void (*change)();
  std::vector<std::string> outputs;  // any one of them, whole
};

TEST_F(FaultTest, ImageChangingBetweenTheStagesEndsTheRunAtTheMaps) {
  // The raster of the disk's 32 x 32 tiles: 2688 x 2496 bytes, allocated
  // between the two stages that read the image.
  constexpr size_t raster_bytes = 2688 * 2496;
  const std::string quoted = "'" + image_name + "'";
  const change_case cases[] = {
      {"removed", remove_image, {map_stage_failed(image_refused("open error " + quoted + "\n"))}},
      {"replaced by a directory",
       replace_image_by_directory,
       {map_stage_failed(image_refused("seek error " + quoted + " (SEEK_END)\n")),
        map_stage_failed(image_refused("unsupported image " + quoted + "\n")),
        map_stage_failed(image_refused("read error " + quoted + "\n"))}},
      {"cut short by a byte",
       cut_image_short,
       {map_stage_failed(image_refused("unsupported image " + quoted + "\n"))}},
      {"replaced by an image without maps",
       replace_image_by_one_without_maps,
       {map_stage_failed("can't find 'MAP.BIN'\nerror: read disk image 'image.fdi/MAP.BIN'\n")}},
  };
  for (const change_case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string case_directory = make_temp_dir();
    ASSERT_TRUE(write_file_bytes(case_directory + "/" + image_name, game_image()));
    ASSERT_TRUE(write_file_bytes(case_directory + "/" + map_files[3], old_bytes));
    changing_image = case_directory + "/" + image_name;
    hook.action_size = raster_bytes;
    hook.action = c.change;
    in_process_result result = run_in_process(case_directory, {"-d", image_name, "--overwrite"});
    EXPECT_EQ(hook.action, nullptr) << "the image did not change";
    hook.action = nullptr;
    EXPECT_NE(std::find(c.outputs.begin(), c.outputs.end(), result.output), c.outputs.end())
        << result.output;
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(read_file_bytes(case_directory + "/" + map_files[3]), old_bytes);
    for (int m = 0; m < 3; ++m)
      EXPECT_FALSE(file_exists(case_directory + "/" + map_files[m])) << map_files[m];
    remove_tree(case_directory);
  }
}

}  // namespace
