// A FileOps that makes one chosen system call fail, for the tests of what a
// failure leaves on disk.
#pragma once

#include <fcntl.h>
#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <mutex>
#include <set>

#include "io/posix_file.h"

namespace vestle::testing {

// Which written files a fault hits: the temporaries (created with O_EXCL),
// the files opened for writing directly, or both.
enum class Files { Temporaries, Direct, Written };

// Real system calls; one chosen call fails with `code` on the chosen files,
// sparing the first `spared` of them (for renames: the first `spared` renames).
// Opens and closes are counted. Output files are written from a thread of
// their own, so every call takes a lock.
enum class Fault { None, CreateTemporary, Write, Fchmod, Fsync, Close, Rename, CloseInput };

class FaultyOps : public FileOps {
 public:
  FaultyOps(Fault fault, int code, Files files = Files::Temporaries, int spared = 0)
      : fault_(fault), code_(code), files_(files), spared_(spared) {}

  int open(const char* path, int flags, mode_t mode) override {
    const std::lock_guard lock(mutex_);
    const bool temporary = (flags & O_EXCL) != 0;
    if (temporary && fault_ == Fault::CreateTemporary) return fail();
    const int fd = FileOps::open(path, flags, mode);
    if (fd < 0) return fd;
    ++opened_;
    if ((flags & O_ACCMODE) == O_RDONLY) {
      readable_.insert(fd);
    } else if (files_ == Files::Written || (files_ == Files::Temporaries) == temporary) {
      if (spared_ > 0 && fault_ != Fault::Rename) {
        --spared_;
      } else {
        targeted_.insert(fd);
      }
    }
    return fd;
  }
  ssize_t write(int fd, const void* data, std::size_t size) override {
    const std::lock_guard lock(mutex_);
    return hits(Fault::Write, fd) ? fail() : FileOps::write(fd, data, size);
  }
  int fchmod(int fd, mode_t mode) override {
    const std::lock_guard lock(mutex_);
    return hits(Fault::Fchmod, fd) ? fail() : FileOps::fchmod(fd, mode);
  }
  int fsync(int fd) override {
    const std::lock_guard lock(mutex_);
    return hits(Fault::Fsync, fd) ? fail() : FileOps::fsync(fd);
  }
  int close(int fd) override {
    const std::lock_guard lock(mutex_);
    ++closed_;
    const bool failing =
        hits(Fault::Close, fd) || (fault_ == Fault::CloseInput && readable_.count(fd) > 0);
    targeted_.erase(fd);
    readable_.erase(fd);
    // The descriptor goes away whatever close reports, as on Linux.
    (void)FileOps::close(fd);
    return failing ? fail() : 0;
  }
  int rename(const char* from, const char* to) override {
    const std::lock_guard lock(mutex_);
    if (fault_ == Fault::Rename && spared_-- <= 0) return fail();
    return FileOps::rename(from, to);
  }

  [[nodiscard]] int opened() const noexcept { return opened_; }
  [[nodiscard]] int closed() const noexcept { return closed_; }

 private:
  bool hits(Fault fault, int fd) const { return fault_ == fault && targeted_.count(fd) > 0; }
  int fail() const {
    errno = code_;
    return -1;
  }

  std::mutex mutex_;
  Fault fault_;
  int code_;
  Files files_;
  int spared_;
  int opened_ = 0;
  int closed_ = 0;
  std::set<int> targeted_, readable_;
};

}  // namespace vestle::testing
