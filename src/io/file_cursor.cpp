// A file cursor's buffer loads.
#include "io/file_cursor.h"

#include <algorithm>

namespace vestle {

FileCursor::FileCursor(RereadableInput& input, std::size_t capacity)
    : input_(input),
      capacity_(std::max<std::size_t>(capacity, 1)),
      buffer_(std::make_unique_for_overwrite<unsigned char[]>(capacity_)) {}

Result<bool, IoError> FileCursor::load(std::uint64_t offset) {
  if (holds(offset)) return true;
  size_ = 0;
  base_ = offset;
  Result<std::size_t, IoError> count =
      input_.read_at(offset, reinterpret_cast<char*>(buffer_.get()), capacity_);
  if (!count) return count.error();
  size_ = count.value();
  return size_ != 0;
}

}  // namespace vestle
