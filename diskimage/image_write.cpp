// Root file sizes, writing a file's contents back into the loaded image, and
// saving the image to a host file.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "diskimage/cluster_chain.h"
#include "diskimage/disk_image.h"

namespace {

// The root entry of a file name, or nullptr after printing why not.
const uint8_t* root_entry_of(const disk_image* image, const char* file_name, int ignore_case) {
  char short_name[12];
  if (make_short_name(short_name, file_name) != 0) {
    std::printf("illegal filename '%s'\n", file_name);
    return nullptr;
  }
  const uint8_t* entry =
      find_dir_entry(image, -1, image->root_dir_entries, short_name, ignore_case);
  if (entry == nullptr) std::printf("can't find '%s'\n", file_name);
  return entry;
}

// The file a save replaces: the path itself, or, where it is a symbolic
// link, the file at the end of its links, so that the links stay and the
// file they lead to gets the new contents. A dangling link leads to the
// file it names, which the save creates.
std::string file_behind_links(const char* path) {
  std::string target = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat status;
    if (lstat(target.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return target;
    char link[4096];
    const ssize_t length = readlink(target.c_str(), link, sizeof link - 1);
    if (length < 0) return target;
    link[length] = '\0';
    if (link[0] == '/') {
      target = link;
    } else {
      const size_t slash = target.rfind('/');
      target = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + link;
    }
  }
  return target;
}

// Permission bits for a file the save creates: what fopen would give it.
mode_t new_file_mode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// Writes the whole image as one item to an open file and closes it;
// true when every byte went out and the close succeeded.
bool write_and_close(const disk_image* image, std::FILE* file) {
  bool written =
      image->file_data != nullptr && image->file_size > 0 &&
      std::fwrite(image->file_data.get(), static_cast<size_t>(image->file_size), 1, file) == 1;
  written = std::fflush(file) == 0 && written;
  return std::fclose(file) == 0 && written;
}

// An existing target that is not a regular file (a device, a pipe) cannot
// be replaced by renaming without destroying it, so it is written in place.
int save_in_place(const disk_image* image, const char* path, const std::string& target) {
  std::FILE* file = std::fopen(target.c_str(), "wb");
  if (file == nullptr) {
    std::printf("open error '%s'\n", path);
    return -1;
  }
  if (!write_and_close(image, file)) {
    std::printf("write error '%s'\n", path);
    return -1;
  }
  return 0;
}

}  // namespace

int32_t image_file_size(const disk_image* image, const char* file_name, int ignore_case) {
  const uint8_t* entry = root_entry_of(image, file_name, ignore_case);
  return entry == nullptr ? -1 : dir_entry_size(entry);
}

int write_image_file(disk_image* image, const char* file_name, const uint8_t* data,
                     int32_t data_size, int ignore_case) {
  const uint8_t* entry = root_entry_of(image, file_name, ignore_case);
  if (entry == nullptr) return -1;
  const int32_t file_size = dir_entry_size(entry);
  if (file_size < data_size) {
    std::printf("file size error '%s' %d < %d\n", file_name, file_size, data_size);
    return -1;
  }
  if (data_size < file_size)
    std::printf("file size mismatch '%s' %d != %d ... ignored\n", file_name, file_size, data_size);

  chain_cursor cursor;
  start_chain(&cursor, dir_entry_cluster(entry));
  for (int32_t remaining = data_size; remaining > 0;) {
    const int32_t offset = next_file_sector(image, &cursor);
    if (offset < 0) return -1;
    const int32_t count = std::min(remaining, image->bytes_per_sector);
    std::memcpy(image->file_data.get() + offset, data, static_cast<size_t>(count));
    data += count;
    remaining -= count;
  }
  return 0;
}

// The image goes to a new file beside the target, which replaces the target
// only once every byte is written and the file closed without error: a
// failure part way (a full disk) leaves the old file as it was, and saving
// over the very image that was loaded can never lose it.
int save_disk_image(const disk_image* image, const char* path) {
  const std::string target = file_behind_links(path);
  struct stat old_status;
  const bool existed = stat(target.c_str(), &old_status) == 0;
  if (existed && !S_ISREG(old_status.st_mode)) return save_in_place(image, path, target);

  const size_t slash = target.rfind('/');
  std::string temporary = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  temporary += ".o1save.XXXXXX";
  const int descriptor = mkstemp(temporary.data());
  std::FILE* file = descriptor < 0 ? nullptr : fdopen(descriptor, "wb");
  if (file == nullptr) {
    if (descriptor >= 0) {
      close(descriptor);
      unlink(temporary.c_str());
    }
    std::printf("open error '%s'\n", path);
    return -1;
  }
  const mode_t mode = existed ? (old_status.st_mode & 07777) : new_file_mode();
  bool saved = fchmod(descriptor, mode) == 0;
  saved = write_and_close(image, file) && saved;
  saved = saved && rename(temporary.c_str(), target.c_str()) == 0;
  if (!saved) {
    unlink(temporary.c_str());
    std::printf("write error '%s'\n", path);
    return -1;
  }
  return 0;
}
