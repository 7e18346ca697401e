// An owned POSIX file descriptor, and the system calls behind it as a replaceable seam.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "error/io_error.h"
#include "error/vestle_error.h"

namespace vestle {

// The file system calls the engine makes, save realpath(3), which only
// resolves the name a replacement is renamed to. Each member behaves like the
// system call of the same name (-1 or a negative count with errno set on
// failure); the base class makes the real calls. Tests override members to
// inject faults.
class FileOps {
 public:
  FileOps() = default;
  FileOps(const FileOps&) = delete;
  FileOps& operator=(const FileOps&) = delete;
  virtual ~FileOps() = default;

  virtual int open(const char* path, int flags, mode_t mode);
  virtual ssize_t read(int fd, void* buffer, std::size_t size);
  virtual ssize_t write(int fd, const void* data, std::size_t size);
  virtual int close(int fd);
  virtual off_t lseek(int fd, off_t offset, int whence);
  virtual int fstat(int fd, struct stat* status);
  // stat(2): follows symbolic links.
  virtual int stat_path(const char* path, struct stat* status);
  virtual int fsync(int fd);
  virtual int fchmod(int fd, mode_t mode);
  virtual int fchown(int fd, uid_t owner, gid_t group);
  virtual int rename(const char* from, const char* to);
  virtual int unlink(const char* path);
};

// The real system calls; stateless, shared by every caller.
[[nodiscard]] FileOps& system_file_ops() noexcept;

// stat(2) of a path, following symbolic links. Paths are refused with EINVAL
// when they hold a NUL, here as in every open below.
[[nodiscard]] Result<struct stat, IoError> path_status(const std::string& path,
                                                       FileOps& ops = system_file_ops());

// Owns one open descriptor and closes it exactly once. The destructor closes
// silently; `close()` reports the failure, which matters for written files
// whose errors surface only when they are closed.
class PosixFile {
 public:
  // Mode of created files before the process's file-creation mask.
  static constexpr mode_t kCreateMode = 0666;

  PosixFile() noexcept = default;
  PosixFile(int fd, FileOps& ops) noexcept : fd_(fd), ops_(&ops) {}
  PosixFile(PosixFile&& other) noexcept;
  PosixFile& operator=(PosixFile&& other) noexcept;
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;
  ~PosixFile();

  // Opens an existing file read-only.
  [[nodiscard]] static Result<PosixFile, IoError> open_read(const std::string& path,
                                                            FileOps& ops = system_file_ops());
  // Opens for writing, creating the file when missing and truncating it when present.
  [[nodiscard]] static Result<PosixFile, IoError> create(const std::string& path,
                                                         FileOps& ops = system_file_ops());
  // Creates a file without a name in `directory`, for reading and writing;
  // it goes away when closed.
  [[nodiscard]] static Result<PosixFile, IoError> create_unnamed(const std::string& directory,
                                                                 FileOps& ops = system_file_ops());
  // Creates a file that must not exist yet; never follows a symbolic link.
  [[nodiscard]] static Result<PosixFile, IoError> create_new(const std::string& path, mode_t mode,
                                                             FileOps& ops = system_file_ops());

  [[nodiscard]] bool is_open() const noexcept { return fd_ >= 0; }

  // One read of at most `size` bytes; 0 at the end of the file.
  // Interrupted reads are repeated.
  [[nodiscard]] Result<std::size_t, IoError> read(char* buffer, std::size_t size);
  // One write of at most `size` bytes; the count may be short, or 0.
  // Interrupted writes are repeated.
  [[nodiscard]] Result<std::size_t, IoError> write(const char* data, std::size_t size);
  // Writes until every byte is taken; a write that takes none is a WriteZero
  // error "failed to write whole buffer".
  [[nodiscard]] Result<Done, IoError> write_all(const char* data, std::size_t size);

  // Moves the read position to `offset` bytes from the start of the file.
  [[nodiscard]] Result<Done, IoError> seek_to(std::uint64_t offset);
  [[nodiscard]] Result<Done, IoError> seek_to_start() { return seek_to(0); }

  [[nodiscard]] Result<struct stat, IoError> status();
  [[nodiscard]] Result<Done, IoError> sync();
  [[nodiscard]] Result<Done, IoError> set_permissions(mode_t mode);
  // Best effort: an unprivileged process may only keep its own ownership.
  void try_set_owner(uid_t owner, gid_t group) noexcept;

  // Closes now. The descriptor is released whatever the outcome and the call
  // is never repeated: after a failed close the descriptor may already be reused.
  [[nodiscard]] Result<Done, IoError> close();

 private:
  int fd_ = -1;
  FileOps* ops_ = &system_file_ops();
};

}  // namespace vestle
