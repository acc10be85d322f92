#ifndef O1PC98MAP_BITMAP_WRITE_ALL_H_
#define O1PC98MAP_BITMAP_WRITE_ALL_H_

#include <cstddef>
#include <cstdio>

// Writes size bytes and tells whether all of them went out. An unbuffered
// stream whose write fails before a single byte may still report the whole
// count written, so the stream's error flag decides as well as the count.
inline bool write_all(FILE* file, const void* bytes, size_t size) {
  return fwrite(bytes, 1, size, file) == size && !ferror(file);
}

#endif  // O1PC98MAP_BITMAP_WRITE_ALL_H_
