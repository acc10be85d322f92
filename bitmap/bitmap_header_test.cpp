#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "bitmap/bitmap.h"
#include "bitmap/bitmap_test_support.h"
#include "testing/test_support.h"

namespace {

// Every field different, so that a swapped or misplaced field shows.
bitmap_header distinct_header() {
  return {0x11121314, 0x2122,     0x3132,     0x41424344, 0x51525354, 0x61626364, -2,        0x7172,
          0x8182,     0x91929394, 0xA1A2A3A4, -3,         0x7B7C7D7E, 0xC1C2C3C4, 0xD1D2D3D4};
}

bytes_t distinct_header_bytes() {
  return {'B',  'M',  0x14, 0x13, 0x12, 0x11, 0x22, 0x21, 0x32, 0x31, 0x44, 0x43, 0x42, 0x41,
          0x54, 0x53, 0x52, 0x51, 0x64, 0x63, 0x62, 0x61, 0xFE, 0xFF, 0xFF, 0xFF, 0x72, 0x71,
          0x82, 0x81, 0x94, 0x93, 0x92, 0x91, 0xA4, 0xA3, 0xA2, 0xA1, 0xFD, 0xFF, 0xFF, 0xFF,
          0x7E, 0x7D, 0x7C, 0x7B, 0xC4, 0xC3, 0xC2, 0xC1, 0xD4, 0xD3, 0xD2, 0xD1};
}

TEST(ByteHelpers, PutStoresLeastSignificantByteFirstAndReturnsThePositionAfter) {
  uint8_t bytes[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(put_le32(bytes, 0x12345678), bytes + 4);
  EXPECT_EQ(put_le16(bytes + 4, 0xABCD), bytes + 6);
  EXPECT_EQ(bytes_t(bytes, bytes + 6), (bytes_t{0x78, 0x56, 0x34, 0x12, 0xCD, 0xAB}));
}

TEST(ByteHelpers, GetReadsLittleEndianAndMovesTheCursorWhenGiven) {
  const uint8_t bytes[6] = {0x78, 0x56, 0x34, 0xF2, 0xCD, 0xAB};
  const uint8_t* cursor = nullptr;
  EXPECT_EQ(get_le32(bytes, &cursor), 0xF2345678u);
  EXPECT_EQ(cursor, bytes + 4);
  EXPECT_EQ(get_le16(cursor, &cursor), 0xABCD);
  EXPECT_EQ(cursor, bytes + 6);
  EXPECT_EQ(get_le32(bytes, nullptr), 0xF2345678u);
  EXPECT_EQ(get_le16(bytes + 4, nullptr), 0xABCD);
}

TEST(BitmapRowSize, PadsEveryBitCountToAMultipleOfFour) {
  struct row_case {
    int32_t width;
    int32_t bit_count;
    int32_t expected;
  };
  const row_case cases[] = {
      {1, 1, 4},
      {8, 1, 4},
      {33, 1, 8},
      {0, 1, 0},
      {9, 4, 8},
      {8, 4, 4},
      {5, 8, 8},
      {4, 8, 4},
      {3, 16, 8},
      {2, 16, 4},
      {3, 24, 12},
      {4, 24, 12},
      {3, 32, 12},
      {2688, 4, 1344},
      {0x40000000, 32, 0},  // sizes are 32-bit and wrap as the
                            // header's fields do
      {5, 2, -1},
      {5, 0, -1},
      {5, 64, -1},
  };
  for (const row_case& c : cases)
    EXPECT_EQ(bitmap_row_size(c.width, c.bit_count), c.expected)
        << "width " << c.width << ", bit count " << c.bit_count;
}

TEST(MakeBitmapHeader, BuildsTheOutputMapHeader) {
  bitmap_header header{};
  ASSERT_EQ(make_bitmap_header(&header, 2688, 2496, 4), 0);
  const bitmap_header expected = {3354742, 0, 0, 118, 40, 2688, 2496, 1, 4, 0, 3354624, 0, 0, 0, 0};
  EXPECT_TRUE(same_header(header, expected));
}

TEST(MakeBitmapHeader, SetsOffsetAndSizesForEverySupportedBitCount) {
  struct size_case {
    uint16_t bit_count;
    uint32_t data_offset;
    uint32_t image_size;  // for 3 x 2 pixels
  };
  const size_case cases[] = {{1, 62, 8},   {4, 118, 8},  {8, 1078, 8},
                             {16, 54, 16}, {24, 54, 24}, {32, 54, 24}};
  for (const size_case& c : cases) {
    bitmap_header header{};
    ASSERT_EQ(make_bitmap_header(&header, 3, 2, c.bit_count), 0);
    const bitmap_header expected = {c.data_offset + c.image_size,
                                    0,
                                    0,
                                    c.data_offset,
                                    40,
                                    3,
                                    2,
                                    1,
                                    c.bit_count,
                                    0,
                                    c.image_size,
                                    0,
                                    0,
                                    0,
                                    0};
    EXPECT_TRUE(same_header(header, expected)) << "bit count " << c.bit_count;
  }
}

TEST(MakeBitmapHeader, RefusesOtherBitCountsAfterSettingTheFixedFields) {
  for (uint16_t bit_count : {0, 2, 3, 64}) {
    bitmap_header header = distinct_header();
    EXPECT_EQ(make_bitmap_header(&header, 7, 9, bit_count), -1);
    // The three size fields keep what they held; all others are set.
    const bitmap_header expected = {0x11121314, 0, 0,          0x41424344, 40, 7, 9, 1,
                                    bit_count,  0, 0xA1A2A3A4, 0,          0,  0, 0};
    EXPECT_TRUE(same_header(header, expected)) << "bit count " << bit_count;
  }
}

TEST(WriteBitmapHeader, WritesEveryFieldUnchangedInLayoutOrder) {
  FILE* file = tmpfile();
  const bitmap_header header = distinct_header();
  begin_stdout_capture();
  const int result = write_bitmap_header(file, &header);
  const std::string output = end_stdout_capture();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(output, "");
  EXPECT_EQ(stream_bytes(file), distinct_header_bytes());
  fclose(file);
}

TEST(WriteBitmapHeader, FailsWhenNotAllBytesGoOut) {
  for (size_t capacity : {0, 53}) {
    failing_sink sink{capacity, {}};
    FILE* file = open_failing_stream(&sink, false);
    const bitmap_header header = distinct_header();
    begin_stdout_capture();
    const int result = write_bitmap_header(file, &header);
    const std::string output = end_stdout_capture();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(output, "");
    fclose(file);
  }
}

TEST(ReadBitmapHeader, DecodesEveryFieldAndReturnsTheCheckResult) {
  FILE* file = open_bytes(distinct_header_bytes());
  bitmap_header header{};
  // The check refuses the made-up header type, after every field is decoded.
  begin_stdout_capture();
  const int result = read_bitmap_header(file, &header);
  const std::string output = end_stdout_capture();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(output,
            "error: check_bitmap_header() - not supported header type - support only Windows V3\n");
  EXPECT_TRUE(same_header(header, distinct_header()));
  EXPECT_EQ(ftell(file), 54);
  fclose(file);
}

TEST(ReadBitmapHeader, MadeHeadersReadBackCleanAtEveryBitCount) {
  for (uint16_t bit_count : {1, 4, 8, 16, 24, 32}) {
    bitmap_header made{};
    ASSERT_EQ(make_bitmap_header(&made, 13, 5, bit_count), 0);
    FILE* file = tmpfile();
    ASSERT_EQ(write_bitmap_header(file, &made), 0);
    rewind(file);
    bitmap_header read{};
    begin_stdout_capture();
    const int result = read_bitmap_header(file, &read);
    const std::string output = end_stdout_capture();
    EXPECT_EQ(result, 0) << "bit count " << bit_count;
    EXPECT_EQ(output, "");
    EXPECT_TRUE(same_header(read, made)) << "bit count " << bit_count;
    EXPECT_EQ(ftell(file), 54);
    fclose(file);
  }
}

TEST(ReadBitmapHeader, HeightZeroReadsBackWithTheDataLengthWarning) {
  bitmap_header made{};
  ASSERT_EQ(make_bitmap_header(&made, 13, 0, 8), 0);
  FILE* file = tmpfile();
  ASSERT_EQ(write_bitmap_header(file, &made), 0);
  rewind(file);
  bitmap_header read{};
  begin_stdout_capture();
  const int result = read_bitmap_header(file, &read);
  const std::string output = end_stdout_capture();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(output, "warning: check_bitmap_header() - data length is 0 ... corrected: 0x0\n");
  fclose(file);
}

TEST(ReadBitmapHeader, ShortReadOrWrongSignatureFailsSilentlyAndLeavesTheRecord) {
  bytes_t short_header = distinct_header_bytes();
  short_header.pop_back();
  bytes_t wrong_signature = header_bytes(70, 62, 1, 1, 1, 4);
  wrong_signature[1] = 0x41;
  bytes_t lower_case = header_bytes(70, 62, 1, 1, 1, 4);
  lower_case[0] = 'b';
  for (const bytes_t& bytes : {bytes_t{}, short_header, wrong_signature, lower_case}) {
    FILE* file = open_bytes(bytes);
    bitmap_header header = distinct_header();
    begin_stdout_capture();
    const int result = read_bitmap_header(file, &header);
    const std::string output = end_stdout_capture();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(output, "");
    EXPECT_TRUE(same_header(header, distinct_header()));
    fclose(file);
  }
}

// A header that the check accepts cleanly: 8 bits, 5 x 3 pixels.
bitmap_header good_header() {
  bitmap_header header{};
  make_bitmap_header(&header, 5, 3, 8);
  return header;
}

TEST(CheckBitmapHeader, TestsInOrderWithExactLinesAndResults) {
  struct check_case {
    const char* name;
    std::function<void(bitmap_header*)> change;
    int result;
    std::string output;
    uint32_t image_size_after;
  };
  // 8 bits, 5 x 3: offset 0x436, rows of 8 bytes, image size 0x18, length 0x44E.
  const check_case cases[] = {
      {"clean", [](bitmap_header*) {}, 0, "", 0x18},
      {"untested fields",
       [](bitmap_header* h) {
         h->reserved1 = 7;
         h->reserved2 = 9;
         h->x_pixels_per_meter = -1;
         h->y_pixels_per_meter = 2835;
         h->colors_used = 99;
         h->colors_important = 300;
       },
       0, "", 0x18},
      {"header type 108", [](bitmap_header* h) { h->info_header_size = 108; }, -1,
       "error: check_bitmap_header() - not supported header type - support only Windows V3\n",
       0x18},
      {"header type 124", [](bitmap_header* h) { h->info_header_size = 124; }, -1,
       "error: check_bitmap_header() - not supported header type - support only Windows V3\n",
       0x18},
      {"header type before everything",
       [](bitmap_header* h) {
         h->info_header_size = 12;
         h->planes = 0;
         h->compression = 1;
         h->bit_count = 2;
       },
       -1, "error: check_bitmap_header() - not supported header type - support only Windows V3\n",
       0x18},
      {"planes 0", [](bitmap_header* h) { h->planes = 0; }, -1, "", 0x18},
      {"planes before compression",
       [](bitmap_header* h) {
         h->planes = 2;
         h->compression = 1;
       },
       -1, "", 0x18},
      {"compression 3 at 16 bits",
       [](bitmap_header* h) {
         make_bitmap_header(h, 5, 3, 16);
         h->compression = 3;
       },
       -1, "error: check_bitmap_header() - not support compression\n", 0x24},
      {"compression 3 at 32 bits",
       [](bitmap_header* h) {
         make_bitmap_header(h, 5, 3, 32);
         h->compression = 3;
       },
       -1, "error: check_bitmap_header() - not support compression\n", 0x3C},
      {"compression before bit count",
       [](bitmap_header* h) {
         h->compression = 1;
         h->bit_count = 2;
       },
       -1, "error: check_bitmap_header() - not support compression\n", 0x18},
      {"bit count 2", [](bitmap_header* h) { h->bit_count = 2; }, -1,
       "error: check_bitmap_header() - unknown bit count\n", 0x18},
      {"bit count 0", [](bitmap_header* h) { h->bit_count = 0; }, -1,
       "error: check_bitmap_header() - unknown bit count\n", 0x18},
      {"16-entry palette at 8 bits",
       [](bitmap_header* h) {
         h->data_offset = 118;
         h->colors_used = 16;
       },
       -1, "error: check_bitmap_header() - offset size 0x76 != 0x436\n", 0x18},
      {"offset before data length",
       [](bitmap_header* h) {
         h->data_offset = 54;
         h->image_size = 1;
       },
       -1, "error: check_bitmap_header() - offset size 0x36 != 0x436\n", 1},
      {"data length 0", [](bitmap_header* h) { h->image_size = 0; }, 1,
       "warning: check_bitmap_header() - data length is 0 ... corrected: 0x18\n", 0x18},
      {"data length wrong", [](bitmap_header* h) { h->image_size = 0x15; }, -1,
       "error: check_bitmap_header() - data length 0x15 != 0x18\n", 0x15},
      {"file length 0", [](bitmap_header* h) { h->file_size = 0; }, 1,
       "warning: check_bitmap_header() - file length is 0\n", 0x18},
      {"data and file length 0",
       [](bitmap_header* h) {
         h->image_size = 0;
         h->file_size = 0;
       },
       2,
       "warning: check_bitmap_header() - data length is 0 ... corrected: 0x18\n"
       "warning: check_bitmap_header() - file length is 0\n",
       0x18},
      {"file length one above", [](bitmap_header* h) { h->file_size = 0x44F; }, 1,
       "warning: check_bitmap_header() - file length 0x44F > 0x44E\n", 0x18},
      {"data length 0, file length above",
       [](bitmap_header* h) {
         h->image_size = 0;
         h->file_size = 0xFFFFFFFF;
       },
       2,
       "warning: check_bitmap_header() - data length is 0 ... corrected: 0x18\n"
       "warning: check_bitmap_header() - file length 0xFFFFFFFF > 0x44E\n",
       0x18},
      {"file length one below", [](bitmap_header* h) { h->file_size = 0x44D; }, -1,
       "error: check_bitmap_header() - file length 0x44D < 0x44E\n", 0x18},
      {"data length 0, file length below",
       [](bitmap_header* h) {
         h->image_size = 0;
         h->file_size = 0x36;
       },
       -1,
       "warning: check_bitmap_header() - data length is 0 ... corrected: 0x18\n"
       "error: check_bitmap_header() - file length 0x36 < 0x44E\n",
       0x18},
      // Width and height are not tested: a negative height makes the sizes
      // wrap in 32 bits, and with image size 0 such a header passes. The
      // reader refuses it.
      {"negative height with data length 0",
       [](bitmap_header* h) {
         h->height = -1;
         h->image_size = 0;
         h->file_size = 0x436 - 8;
       },
       1, "warning: check_bitmap_header() - data length is 0 ... corrected: 0xFFFFFFF8\n",
       0xFFFFFFF8},
      {"negative height with the usual data length", [](bitmap_header* h) { h->height = -3; }, -1,
       "error: check_bitmap_header() - data length 0x18 != 0xFFFFFFE8\n", 0x18},
  };
  for (const check_case& c : cases) {
    bitmap_header header = good_header();
    c.change(&header);
    begin_stdout_capture();
    const int result = check_bitmap_header(&header);
    const std::string output = end_stdout_capture();
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(output, c.output) << c.name;
    EXPECT_EQ(header.image_size, c.image_size_after) << c.name;
  }
}

}  // namespace
