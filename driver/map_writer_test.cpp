#include "driver/map_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "testing/test_support.h"

namespace {

// Standard input of this process reads the given text, then end of input.
void feed_stdin(const std::string& directory, const std::string& text) {
  std::string path = directory + "/answers";
  ASSERT_TRUE(write_file_bytes(
      path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size())));
  ASSERT_NE(freopen(path.c_str(), "r", stdin), nullptr);
}

std::string rest_of_stdin() {
  std::string rest;
  for (int c = getchar(); c != EOF; c = getchar())
    rest.push_back(static_cast<char>(c));
  return rest;
}

void append_le(std::vector<uint8_t>* bytes, uint32_t value, int size) {
  for (int i = 0; i < size; ++i)
    bytes->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

constexpr palette_entry sixteen_colours[16] = {
    {0, 0, 0, 0},     {1, 2, 3, 4},     {5, 6, 7, 8},     {9, 10, 11, 12},
    {13, 14, 15, 16}, {17, 18, 19, 20}, {21, 22, 23, 24}, {25, 26, 27, 28},
    {29, 30, 31, 32}, {33, 34, 35, 36}, {37, 38, 39, 40}, {41, 42, 43, 44},
    {45, 46, 47, 48}, {49, 50, 51, 52}, {53, 54, 55, 56}, {255, 254, 253, 252}};

// A 3 x 2-pixel, 4-bit picture: top row 1 2 3, bottom row 4 5 6.
raster small_picture() {
  raster picture = {3, 2, 4, 6, std::make_unique<uint8_t[]>(6), sixteen_colours};
  const uint8_t pixels[6] = {1, 2, 3, 4, 5, 6};
  memcpy(picture.pixels.get(), pixels, 6);
  return picture;
}

// The file small_picture() makes, worked out by hand.
std::vector<uint8_t> small_picture_file() {
  std::vector<uint8_t> bytes = {'B', 'M'};
  append_le(&bytes, 126, 4);  // file size: 54 + 64 + 2 rows of 4
  append_le(&bytes, 0, 4);
  append_le(&bytes, 118, 4);
  append_le(&bytes, 40, 4);
  append_le(&bytes, 3, 4);
  append_le(&bytes, 2, 4);
  append_le(&bytes, 1, 2);
  append_le(&bytes, 4, 2);
  append_le(&bytes, 0, 4);
  append_le(&bytes, 8, 4);
  for (int i = 0; i < 4; ++i)
    append_le(&bytes, 0, 4);
  for (const palette_entry& entry : sixteen_colours) {
    bytes.insert(bytes.end(), {entry.blue, entry.green, entry.red, entry.reserved});
  }
  bytes.insert(bytes.end(), {0x45, 0x60, 0, 0, 0x12, 0x30, 0, 0});
  return bytes;
}

const std::vector<uint8_t> old_bytes = {'o', 'l', 'd'};

class MapWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory = make_temp_dir();
    file_name = directory + "/map.bmp";
  }
  void TearDown() override {
    freopen("/dev/null", "r", stdin);
    remove_tree(directory);
  }
  std::string directory;
  std::string file_name;
};

struct answer_case {
  const char* input;
  int result;
  const char* output;
  const char* left_unread;
};

TEST_F(MapWriterTest, AskYesNoTakesTheFirstYOrNAndLeavesTheRestUnread) {
  const answer_case cases[] = {
      {"y", 1, "question? (Y or N): ", ""},
      {"Y\n", 1, "question? (Y or N): ", "\n"},
      {"n\n", 0, "question? (Y or N): ", "\n"},
      {"N", 0, "question? (Y or N): ", ""},
      {"x\ny\n", 1, "question? (Y or N): ", "\n"},
      {" 7\tq\nN", 0, "question? (Y or N): ", ""},
      {"yes\n", 1, "question? (Y or N): ", "es\n"},
      {"yn\n", 1, "question? (Y or N): ", "n\n"},
      // End of input with no answer is a refusal; the prompt's line is ended.
      {"", 0, "question? (Y or N): \n", ""},
      {"x\n \n", 0, "question? (Y or N): \n", ""},
  };
  for (const answer_case& c : cases) {
    SCOPED_TRACE(testing::Message() << "input \"" << c.input << "\"");
    feed_stdin(directory, c.input);
    begin_stdout_capture();
    int result = ask_yes_no("question?");
    std::string output = end_stdout_capture();
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(output, c.output);
    EXPECT_EQ(rest_of_stdin(), c.left_unread);
  }
}

// The question goes to a full disk: it cannot be shown, so it is refused
// without reading the answer waiting in the input, and the file stays.
TEST_F(MapWriterTest, QuestionThatCannotBeShownIsRefusedUnread) {
  ASSERT_TRUE(write_file_bytes(file_name, old_bytes));
  raster picture = small_picture();
  feed_stdin(directory, "y");
  int status = run_in_child_with_file_limit(RLIM_INFINITY, [&] {
    if (freopen("/dev/full", "w", stdout) == nullptr) return 9;
    return write_map_bitmap(file_name.c_str(), &picture, 0) == -1 ? 7 : 0;
  });
  EXPECT_EQ(status, 7);
  EXPECT_EQ(read_file_bytes(file_name), old_bytes);
  EXPECT_EQ(rest_of_stdin(), "y");
}

TEST_F(MapWriterTest, WritesANewFileWithoutAsking) {
  raster picture = small_picture();
  feed_stdin(directory, "n");
  begin_stdout_capture();
  int result = write_map_bitmap(file_name.c_str(), &picture, 0);
  EXPECT_EQ(end_stdout_capture(), "");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(read_file_bytes(file_name), small_picture_file());
  EXPECT_EQ(rest_of_stdin(), "n");
}

TEST_F(MapWriterTest, UnsupportedBitCountFailsBeforeAskingOrOpening) {
  raster picture = small_picture();
  picture.bit_count = 2;
  ASSERT_TRUE(write_file_bytes(file_name, old_bytes));
  feed_stdin(directory, "y");
  begin_stdout_capture();
  int result = write_map_bitmap(file_name.c_str(), &picture, 0);
  EXPECT_EQ(end_stdout_capture(), "error: create bitmap header\n");
  EXPECT_EQ(result, -1);
  EXPECT_EQ(read_file_bytes(file_name), old_bytes);
  EXPECT_EQ(rest_of_stdin(), "y");
}

struct existing_case {
  const char* answers;
  int overwrite;
  int result;
  const char* output;
  bool replaced;
};

TEST_F(MapWriterTest, ExistingFileIsReplacedOnlyAfterYesOrWithOverwrite) {
  const std::string asked = "'" + file_name + "' already exists\noverwrite ? (Y or N): ";
  const existing_case cases[] = {
      {"y", 0, 0, "", true},
      {"n", 0, -1, "", false},
      {"", 0, -1, "\n", false},
      {"", 1, 0, nullptr, true},
  };
  for (const existing_case& c : cases) {
    SCOPED_TRACE(testing::Message() << "answers \"" << c.answers << "\" overwrite " << c.overwrite);
    ASSERT_TRUE(write_file_bytes(file_name, old_bytes));
    raster picture = small_picture();
    feed_stdin(directory, c.answers);
    begin_stdout_capture();
    int result = write_map_bitmap(file_name.c_str(), &picture, c.overwrite);
    EXPECT_EQ(end_stdout_capture(), c.output == nullptr ? "" : asked + c.output);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(read_file_bytes(file_name), c.replaced ? small_picture_file() : old_bytes);
  }
}

TEST_F(MapWriterTest, DanglingSymbolicLinkCountsAsAnExistingName) {
  ASSERT_EQ(symlink((directory + "/nowhere").c_str(), file_name.c_str()), 0);
  raster picture = small_picture();
  feed_stdin(directory, "n");
  begin_stdout_capture();
  int result = write_map_bitmap(file_name.c_str(), &picture, 0);
  EXPECT_EQ(end_stdout_capture(), "'" + file_name + "' already exists\noverwrite ? (Y or N): ");
  EXPECT_EQ(result, -1);
  EXPECT_FALSE(file_exists(directory + "/nowhere"));
}

TEST_F(MapWriterTest, NameThatCannotBeOpenedIsReportedWithoutAQuestion) {
  const std::string missing_folder = directory + "/no/such/map.bmp";
  raster picture = small_picture();
  feed_stdin(directory, "y");
  begin_stdout_capture();
  int result = write_map_bitmap(missing_folder.c_str(), &picture, 0);
  EXPECT_EQ(end_stdout_capture(), "error: open '" + missing_folder + "'\n");
  EXPECT_EQ(result, -1);
  EXPECT_EQ(rest_of_stdin(), "y");
}

// The whole small file fits the stream's buffer, so nothing reaches the disk
// before the final flush: that is the write that fails, and the map must not
// count as written.
TEST_F(MapWriterTest, WriteLostAtTheFinalFlushIsAFailedWrite) {
  raster picture = small_picture();
  begin_stdout_capture();
  int status = run_in_child_with_file_limit(
      100, [&] { return write_map_bitmap(file_name.c_str(), &picture, 0) == -1 ? 7 : 0; });
  EXPECT_EQ(end_stdout_capture(),
            "error: write_bitmap() - can't write bitmap data\n"
            "error: write bitmap '" +
                file_name + "'\n");
  EXPECT_EQ(status, 7);
  EXPECT_EQ(read_file_bytes(file_name).size(), 100u);
}

// Rows that fail to reach the disk part way through a large picture make the
// write fail too; the file stays as far as it was written.
TEST_F(MapWriterTest, RowsLostPartWayAreAFailedWrite) {
  raster picture = {256, 256, 8, 65536, std::make_unique<uint8_t[]>(65536), nullptr};
  begin_stdout_capture();
  int status = run_in_child_with_file_limit(
      20000, [&] { return write_map_bitmap(file_name.c_str(), &picture, 0) == -1 ? 7 : 0; });
  EXPECT_EQ(end_stdout_capture(),
            "error: write_bitmap() - can't write bitmap data\n"
            "error: write bitmap '" +
                file_name + "'\n");
  EXPECT_EQ(status, 7);
  EXPECT_EQ(read_file_bytes(file_name).size(), 20000u);
}

}  // namespace
