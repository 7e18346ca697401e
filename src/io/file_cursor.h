// Forward reading of an input from any offset, through one fixed buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "error/io_error.h"
#include "error/vestle_error.h"
#include "io/rereadable_input.h"

namespace vestle {

// Several cursors may share one input.
class FileCursor {
 public:
  FileCursor(RereadableInput& input, std::size_t capacity);

  // Makes the buffer hold the bytes from `offset` on, reading only when it
  // does not hold that byte yet. False when `offset` is at or past the end
  // of the input.
  [[nodiscard]] Result<bool, IoError> load(std::uint64_t offset);

  // Drops the buffered bytes: the next load reads, whatever its offset.
  void clear() noexcept { size_ = 0; }

  [[nodiscard]] bool holds(std::uint64_t offset) const noexcept {
    return offset >= base_ && offset - base_ < size_;
  }
  // The buffered bytes: input offsets [base(), base() + size()).
  [[nodiscard]] const unsigned char* data() const noexcept { return buffer_.get(); }
  [[nodiscard]] std::size_t size() const noexcept { return size_; }
  [[nodiscard]] std::uint64_t base() const noexcept { return base_; }

 private:
  RereadableInput& input_;
  std::size_t capacity_;
  std::unique_ptr<unsigned char[]> buffer_;
  std::uint64_t base_ = 0;
  std::size_t size_ = 0;
};

}  // namespace vestle
