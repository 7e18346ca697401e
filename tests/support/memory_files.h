// Files held in memory behind the FileOps seam, for tests and fuzz targets
// that run the file pipeline without touching the disk.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>

#include "io/posix_file.h"

namespace vestle::testing {

// Paths map to contents; descriptors to a path and a position. Reads hand
// out at most `read_limit` bytes per call, like a pipe or a slow disk.
class MemoryFiles : public FileOps {
 public:
  std::map<std::string, std::string> files;
  std::size_t read_limit = static_cast<std::size_t>(-1);
  bool seekable = true;  // false: inputs behave like pipes
  int reads = 0;

  int open(const char* path, int flags, mode_t /*mode*/) override {
    auto found = files.find(path);
    if (found == files.end()) {
      if ((flags & O_CREAT) == 0) return fail(ENOENT);
      found = files.emplace(path, std::string()).first;
    } else if ((flags & O_TRUNC) != 0) {
      found->second.clear();
    }
    const int fd = next_fd_++;
    open_[fd] = Open{found->first, 0};
    return fd;
  }
  ssize_t read(int fd, void* buffer, std::size_t size) override {
    ++reads;
    Open& file = open_.at(fd);
    const std::string& content = files.at(file.path);
    const std::size_t count = std::min({size, read_limit, content.size() - file.position});
    std::memcpy(buffer, content.data() + file.position, count);
    file.position += count;
    return static_cast<ssize_t>(count);
  }
  ssize_t write(int fd, const void* data, std::size_t size) override {
    files.at(open_.at(fd).path).append(static_cast<const char*>(data), size);
    return static_cast<ssize_t>(size);
  }
  int close(int fd) override { return open_.erase(fd) == 1 ? 0 : fail(EBADF); }
  off_t lseek(int fd, off_t offset, int whence) override {
    if (!seekable) return fail(ESPIPE);
    if (whence != SEEK_SET) return fail(EINVAL);
    open_.at(fd).position = static_cast<std::size_t>(offset);
    return offset;
  }
  int fstat(int fd, struct stat* status) override {
    *status = {};
    status->st_mode = seekable ? S_IFREG | 0644 : S_IFIFO | 0600;
    status->st_size = static_cast<off_t>(files.at(open_.at(fd).path).size());
    return 0;
  }
  int stat_path(const char* path, struct stat* status) override {
    if (files.count(path) == 0) return fail(ENOENT);
    *status = {};
    status->st_mode = S_IFREG | 0644;
    return 0;
  }

 private:
  struct Open {
    std::string path;
    std::size_t position;
  };
  static int fail(int code) {
    errno = code;
    return -1;
  }
  std::map<int, Open> open_;
  int next_fd_ = 100;
};

}  // namespace vestle::testing
