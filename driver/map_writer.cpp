#include "driver/map_writer.h"

#include <sys/stat.h>

#include <cstdio>

#include "bitmap/bitmap.h"

namespace {

// True when the name is taken by any directory entry: a file, a directory,
// or a symbolic link (even one that leads nowhere). A failed lookup counts
// as a free name. The lookup allocates nothing, so it cannot fail for want
// of memory.
bool name_is_taken(const char* file_name) {
  struct stat status;
  return lstat(file_name, &status) == 0;
}

// A name already in use may be replaced only when the user agrees.
bool may_write(const char* file_name, int overwrite) {
  if (overwrite || !name_is_taken(file_name)) return true;
  printf("'%s' already exists\n", file_name);
  return ask_yes_no("overwrite ?") > 0;
}

}  // namespace

int write_map_bitmap(const char* file_name, const raster* picture, int overwrite) {
  bitmap_header header = {};
  if (make_bitmap_header(&header, static_cast<uint32_t>(picture->width), picture->height,
                         static_cast<uint16_t>(picture->bit_count)) < 0) {
    puts("error: create bitmap header");
    return -1;
  }
  if (!may_write(file_name, overwrite)) return -1;

  FILE* file = fopen(file_name, "wb");
  if (file == nullptr) {
    printf("error: open '%s'\n", file_name);
    return -1;
  }
  // Bytes still buffered when the writer returns reach the file only at the
  // flush in fclose: a map counts as written when that succeeds too and the
  // stream reports no error.
  int written = write_bitmap(file, &header, picture->palette, picture->pixels.get()) >= 0;
  if (written && ferror(file)) written = 0;
  if (fclose(file) != 0) written = 0;
  if (!written) {
    printf("error: write bitmap '%s'\n", file_name);
    return -1;
  }
  return 0;
}

int ask_yes_no(const char* question) {
  printf("%s (Y or N): ", question);
  // A question that cannot be shown (standard output closed, on a full
  // disk, or a pipe whose reader has gone) is not answered from the input,
  // which was not typed for it: it counts as a no.
  if (fflush(stdout) != 0 || ferror(stdout)) return 0;
  for (;;) {
    int answer = getchar();
    if (answer == 'Y' || answer == 'y') return 1;
    if (answer == 'N' || answer == 'n') return 0;
    if (answer == EOF) {
      // No answer will ever come: refuse, and end the prompt's line so that
      // the next message starts on a line of its own.
      putchar('\n');
      return 0;
    }
  }
}
