// Reading a whole file into one owned buffer.
#include "io/read_file.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace vestle {
namespace {

constexpr std::size_t kMinGrowth = 8192;

}  // namespace

Result<FileBytes, IoError> read_to_end(PosixFile& file) {
  std::size_t capacity = 0;
  if (Result<struct stat, IoError> status = file.status();
      status && S_ISREG(status.value().st_mode) && status.value().st_size > 0) {
    if (static_cast<std::uintmax_t>(status.value().st_size) > SIZE_MAX) {
      return IoError::of_kind(IoErrorKind::OutOfMemory);
    }
    capacity = static_cast<std::size_t>(status.value().st_size);
  }
  LargeBuffer data;
  if (capacity > 0) {
    data = LargeBuffer(capacity);
    if (!data) return IoError::of_kind(IoErrorKind::OutOfMemory);
  }
  std::size_t size = 0;
  for (;;) {
    if (size == capacity) {
      // Full (or no size known): probe with a small read before growing, so
      // a file that matched its size hint is never reallocated.
      char probe[32];
      Result<std::size_t, IoError> count = file.read(probe, sizeof probe);
      if (!count) return count.error();
      if (count.value() == 0) break;
      if (capacity > SIZE_MAX / 2) return IoError::of_kind(IoErrorKind::OutOfMemory);
      const std::size_t grown = capacity * 2 > kMinGrowth ? capacity * 2 : kMinGrowth;
      LargeBuffer bigger(grown);
      if (!bigger) return IoError::of_kind(IoErrorKind::OutOfMemory);
      if (size > 0) std::memcpy(bigger.get(), data.get(), size);
      std::memcpy(bigger.get() + size, probe, count.value());
      data = std::move(bigger);
      capacity = grown;
      size += count.value();
      continue;
    }
    Result<std::size_t, IoError> count = file.read(data.get() + size, capacity - size);
    if (!count) return count.error();
    if (count.value() == 0) break;
    size += count.value();
  }
  return FileBytes(std::move(data), size);
}

Result<FileBytes, IoError> read_file(const std::string& path) {
  return read_file(path, system_file_ops());
}

Result<FileBytes, IoError> read_file(const std::string& path, FileOps& ops) {
  Result<PosixFile, IoError> opened = PosixFile::open_read(path, ops);
  if (!opened) return opened.error();
  PosixFile file = std::move(opened).value();
  return read_to_end(file);  // closing a file that was only read reports nothing
}

}  // namespace vestle
