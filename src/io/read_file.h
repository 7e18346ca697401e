// Reads a whole file into memory.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "error/io_error.h"
#include "error/vestle_error.h"
#include "io/posix_file.h"
#include "memory/large_buffer.h"

namespace vestle {

// The bytes of a file read whole; owns its buffer.
class FileBytes {
 public:
  FileBytes() = default;
  FileBytes(LargeBuffer data, std::size_t size) noexcept : data_(std::move(data)), size_(size) {}

  [[nodiscard]] std::string_view view() const noexcept { return {data_.get(), size_}; }
  [[nodiscard]] std::size_t size() const noexcept { return size_; }

 private:
  LargeBuffer data_;
  std::size_t size_ = 0;
};

// Opens `path` read-only and reads it to its end; the file is closed on every
// path, errors from closing it are ignored.
[[nodiscard]] Result<FileBytes, IoError> read_file(const std::string& path);
[[nodiscard]] Result<FileBytes, IoError> read_file(const std::string& path, FileOps& ops);

// Reads an open file from its current position to its end. The file's size,
// when it has one, sizes the buffer; a file longer than that still reads whole.
[[nodiscard]] Result<FileBytes, IoError> read_to_end(PosixFile& file);

}  // namespace vestle
