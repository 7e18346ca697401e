// A write buffer in front of one open file, or of bytes kept in memory.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

#include "error/io_error.h"
#include "error/vestle_error.h"
#include "io/posix_file.h"
#include "io/write_behind.h"
#include "memory/growing_buffer.h"

namespace vestle {

// Owns the file it writes. A piece shorter than the free room is copied; a
// longer one flushes the buffer first; then a piece of the buffer's capacity
// or more goes straight to the file and a shorter one is copied. With
// `write_behind`, a full buffer is written on a thread of its own while the
// next one fills: the file sees the same calls, and a failure is reported
// by the next call that needs the buffer written, or by `settle`.
class BufferedWriter {
 public:
  // `capacity` bytes are buffered; io_sizes.h has the engine's.
  BufferedWriter(PosixFile file, std::size_t capacity);
  // Appends to `memory` instead of a file; `memory` must outlive the writer.
  // When it cannot grow, a write fails with an OutOfMemory error.
  BufferedWriter(GrowingBuffer& memory, std::size_t capacity);
  BufferedWriter(const BufferedWriter&) = delete;
  BufferedWriter& operator=(const BufferedWriter&) = delete;
  // Bytes still buffered (after a failed write, or when never flushed) get
  // one more attempt; its outcome is ignored. Then the file is closed.
  ~BufferedWriter();

  // Writes full buffers of a file on a second thread from now on.
  void write_behind();

  [[nodiscard]] Result<Done, IoError> write(std::string_view piece) {
    if (piece.size() < capacity_ - size_) {
      std::memcpy(buffer_.get() + size_, piece.data(), piece.size());
      size_ += piece.size();
      return Done{};
    }
    return write_cold(piece);
  }

  // The free room of the buffer when a piece of up to `bound` bytes would be
  // copied there by `write`, else nullptr. After writing a piece there,
  // `commit` its size: the same outcome as `write` of that piece.
  [[nodiscard]] char* room_for(std::size_t bound) noexcept {
    return bound < capacity_ - size_ ? buffer_.get() + size_ : nullptr;
  }
  void commit(std::size_t size) noexcept { size_ += size; }

  // Writes every buffered byte to the file. A write that takes none is a
  // WriteZero error "failed to write the buffered data"; bytes not yet taken
  // stay buffered.
  [[nodiscard]] Result<Done, IoError> flush();

  // Empties the buffer to make room: a flush, or with `write_behind` the
  // buffer handed to the writing thread (an earlier failure there is the
  // outcome).
  [[nodiscard]] Result<Done, IoError> make_room();

  // Waits for the buffer being written behind. After a failure there, the
  // bytes the file did not take are the buffered ones, as a flush would have
  // left them, and whatever was buffered since is dropped: the failure came
  // first, and nothing after it is written.
  [[nodiscard]] Result<Done, IoError> settle();

  [[nodiscard]] std::size_t buffered() const noexcept { return size_; }
  [[nodiscard]] PosixFile& file() noexcept { return file_; }

 private:
  [[nodiscard]] Result<Done, IoError> write_cold(std::string_view piece);

  PosixFile file_;
  GrowingBuffer* memory_ = nullptr;  // the destination instead of file_, when set
  std::size_t capacity_;
  std::unique_ptr<char[]> buffer_;
  std::size_t size_ = 0;
  // With write_behind: the buffer in flight (or free) and its size.
  std::unique_ptr<char[]> spare_;
  std::size_t spare_size_ = 0;
  std::unique_ptr<WriteBehind> behind_;  // after file_: ends before the file closes
};

}  // namespace vestle
