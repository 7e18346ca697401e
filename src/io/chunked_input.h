// Reads a file through one reused buffer, a chunk at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "error/io_error.h"
#include "error/vestle_error.h"
#include "io/io_sizes.h"
#include "io/posix_file.h"
#include "io/rereadable_input.h"
#include "memory/large_buffer.h"

namespace vestle {

// The window is the part of the file held in memory: from where the caller
// last discarded up to the last byte read. Memory is one buffer, reused, that
// grows only when the caller keeps more than it holds (a row longer than the
// buffer, say).
class ChunkedInput {
 public:
  // Reads of at most `chunk_size` bytes each (at least 1).
  ChunkedInput(PosixFile& file, std::size_t chunk_size) noexcept;

  [[nodiscard]] std::string_view window() const noexcept {
    return {buffer_.get() + begin_, end_ - begin_};
  }
  // Offset in the file of the window's first byte.
  [[nodiscard]] std::uint64_t window_offset() const noexcept { return offset_; }
  // True once the window reaches the end of the file.
  [[nodiscard]] bool at_end() const noexcept { return at_end_; }

  // Drops the window's first `count` bytes (at most its size).
  void discard(std::size_t count) noexcept;
  // Reads until the window has grown by its own size (but by no more than
  // kMaxWindowGrowth) and by at least one chunk, or to the end of the file: a
  // caller that waits for the end of a row reads it in a number of steps
  // logarithmic in its length, while memory never runs far past need.
  [[nodiscard]] Result<Done, IoError> extend();
  // Reads everything that is left into the window; from then on the input is
  // read again from memory, never from the file.
  [[nodiscard]] Result<Done, IoError> read_rest();
  // Bytes of memory the buffer holds.
  [[nodiscard]] std::size_t buffer_capacity() const noexcept { return buffer_.capacity(); }

  // Whether `restart`, `resume_at` and `rereadable` can work: a regular
  // file, or a pipe once spooled. Asked of the file once.
  [[nodiscard]] bool can_restart() noexcept;
  // From now on a pipe is kept, from the window's start on, in `spill` (an
  // unnamed file open for reading and writing) as it is read, so that it
  // can be read again from there.
  [[nodiscard]] Result<Done, IoError> spool_into(PosixFile spill);
  // Empties the window and goes back to the start of the file.
  [[nodiscard]] Result<Done, IoError> restart();
  // Goes on from `offset` (not before the window's start) once other readers
  // have moved the file's position: what the window holds from `offset` on
  // is kept, and reading goes on after it.
  [[nodiscard]] Result<Done, IoError> resume_at(std::uint64_t offset);

  // The input for readers of their own, once `can_restart`.
  [[nodiscard]] RereadableInput& rereadable() noexcept {
    if (held_) return *held_;
    if (spool_) return *spool_;
    return seekable_;
  }

 private:
  // Room for a window of `size` bytes from the start of the buffer.
  [[nodiscard]] Result<Done, IoError> make_room(std::size_t size);
  [[nodiscard]] Result<Done, IoError> read_until(std::size_t window_size);

  PosixFile& file_;
  std::size_t chunk_size_;
  LargeBuffer buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::uint64_t offset_ = 0;
  bool at_end_ = false;
  std::optional<bool> regular_file_;
  SeekableFileInput seekable_{file_};
  std::optional<SpooledInput> spool_;
  std::optional<HeldInput> held_;
};

}  // namespace vestle
