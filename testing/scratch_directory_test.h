#ifndef O1PC98MAP_TESTING_SCRATCH_DIRECTORY_TEST_H_
#define O1PC98MAP_TESTING_SCRATCH_DIRECTORY_TEST_H_

// A test fixture that gives each test a new empty directory, removed with
// everything in it when the test ends.

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>

#include "testing/test_support.h"

class scratch_directory_test : public ::testing::Test {
 protected:
  void SetUp() override { directory = make_temp_dir(); }
  void TearDown() override { remove_tree(directory); }

  // The path of name in the test's directory.
  std::string path(const std::string& name) const { return directory + "/" + name; }

  // Writes bytes as file name of the test's directory; a failed write fails
  // the test.
  void put_file(const std::string& name, std::span<const uint8_t> bytes) const {
    ASSERT_TRUE(write_file_bytes(path(name), bytes));
  }

  std::string directory;
};

#endif  // O1PC98MAP_TESTING_SCRATCH_DIRECTORY_TEST_H_
