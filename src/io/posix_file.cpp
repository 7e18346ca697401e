// The owned POSIX file descriptor and the real system calls behind it.
#include "io/posix_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <utility>

namespace vestle {
namespace {

// Linux moves at most this many bytes in one read or write.
constexpr std::size_t kMaxIoChunk = 0x7ffff000;

// Makes a system call again for as long as a signal interrupts it.
template <typename Call>
auto retry_if_interrupted(Call call) {
  for (;;) {
    const auto result = call();
    if (result >= 0 || errno != EINTR) return result;
  }
}

// Every path the engine hands the system passes here first: the system would
// stop reading the name at a NUL and reach another file.
bool the_system_reads_whole(const std::string& path) {
  return path.find('\0') == std::string::npos;
}

Result<PosixFile, IoError> open_with(const std::string& path, int flags, mode_t mode,
                                     FileOps& ops) {
  if (!the_system_reads_whole(path)) return IoError::from_errno(EINVAL);
  const int fd =
      retry_if_interrupted([&] { return ops.open(path.c_str(), flags | O_CLOEXEC, mode); });
  if (fd < 0) return IoError::from_errno(errno);
  return PosixFile(fd, ops);
}

}  // namespace

int FileOps::open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t FileOps::read(int fd, void* buffer, std::size_t size) { return ::read(fd, buffer, size); }
ssize_t FileOps::write(int fd, const void* data, std::size_t size) {
  return ::write(fd, data, size);
}
int FileOps::close(int fd) { return ::close(fd); }
off_t FileOps::lseek(int fd, off_t offset, int whence) { return ::lseek(fd, offset, whence); }
int FileOps::fstat(int fd, struct stat* status) { return ::fstat(fd, status); }
int FileOps::stat_path(const char* path, struct stat* status) { return ::stat(path, status); }
int FileOps::fsync(int fd) { return ::fsync(fd); }
int FileOps::fchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int FileOps::fchown(int fd, uid_t owner, gid_t group) { return ::fchown(fd, owner, group); }
int FileOps::rename(const char* from, const char* to) { return ::rename(from, to); }
int FileOps::unlink(const char* path) { return ::unlink(path); }

Result<struct stat, IoError> path_status(const std::string& path, FileOps& ops) {
  if (!the_system_reads_whole(path)) return IoError::from_errno(EINVAL);
  struct stat status {};
  if (ops.stat_path(path.c_str(), &status) != 0) return IoError::from_errno(errno);
  return status;
}

FileOps& system_file_ops() noexcept {
  static FileOps ops;
  return ops;
}

PosixFile::PosixFile(PosixFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), ops_(other.ops_) {}

PosixFile& PosixFile::operator=(PosixFile&& other) noexcept {
  if (this != &other) {
    (void)close();
    fd_ = std::exchange(other.fd_, -1);
    ops_ = other.ops_;
  }
  return *this;
}

PosixFile::~PosixFile() { (void)close(); }

Result<PosixFile, IoError> PosixFile::open_read(const std::string& path, FileOps& ops) {
  return open_with(path, O_RDONLY, 0, ops);
}

Result<PosixFile, IoError> PosixFile::create(const std::string& path, FileOps& ops) {
  return open_with(path, O_WRONLY | O_CREAT | O_TRUNC, kCreateMode, ops);
}

Result<PosixFile, IoError> PosixFile::create_unnamed(const std::string& directory, FileOps& ops) {
  return open_with(directory, O_TMPFILE | O_RDWR, 0600, ops);
}

Result<PosixFile, IoError> PosixFile::create_new(const std::string& path, mode_t mode,
                                                 FileOps& ops) {
  return open_with(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, mode, ops);
}

Result<std::size_t, IoError> PosixFile::read(char* buffer, std::size_t size) {
  const ssize_t count =
      retry_if_interrupted([&] { return ops_->read(fd_, buffer, std::min(size, kMaxIoChunk)); });
  if (count < 0) return IoError::from_errno(errno);
  return static_cast<std::size_t>(count);
}

Result<std::size_t, IoError> PosixFile::write(const char* data, std::size_t size) {
  const ssize_t count =
      retry_if_interrupted([&] { return ops_->write(fd_, data, std::min(size, kMaxIoChunk)); });
  if (count < 0) return IoError::from_errno(errno);
  return static_cast<std::size_t>(count);
}

Result<Done, IoError> PosixFile::write_all(const char* data, std::size_t size) {
  while (size > 0) {
    Result<std::size_t, IoError> written = write(data, size);
    if (!written) return written.error();
    if (written.value() == 0) {
      return IoError::with_message(IoErrorKind::WriteZero, "failed to write whole buffer");
    }
    data += written.value();
    size -= written.value();
  }
  return Done{};
}

Result<Done, IoError> PosixFile::seek_to(std::uint64_t offset) {
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
    return IoError::from_errno(EINVAL);
  }
  if (ops_->lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return IoError::from_errno(errno);
  return Done{};
}

Result<struct stat, IoError> PosixFile::status() {
  struct stat st {};
  if (ops_->fstat(fd_, &st) != 0) return IoError::from_errno(errno);
  return st;
}

Result<Done, IoError> PosixFile::sync() {
  if (retry_if_interrupted([&] { return ops_->fsync(fd_); }) != 0) {
    return IoError::from_errno(errno);
  }
  return Done{};
}

Result<Done, IoError> PosixFile::set_permissions(mode_t mode) {
  if (ops_->fchmod(fd_, mode) != 0) return IoError::from_errno(errno);
  return Done{};
}

void PosixFile::try_set_owner(uid_t owner, gid_t group) noexcept {
  if (ops_->fchown(fd_, owner, group) == 0) return;
  // Without the right to give the file away, the group may still be settable.
  (void)ops_->fchown(fd_, static_cast<uid_t>(-1), group);
}

Result<Done, IoError> PosixFile::close() {
  if (fd_ < 0) return Done{};
  const int fd = std::exchange(fd_, -1);
  // EINTR still releases the descriptor on Linux and reports no lost data.
  if (ops_->close(fd) != 0 && errno != EINTR) return IoError::from_errno(errno);
  return Done{};
}

}  // namespace vestle
