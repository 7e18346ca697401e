// The write buffer's slow paths: flushing and pieces that do not fit.
#include "io/buffered_writer.h"

#include <utility>

namespace vestle {

BufferedWriter::BufferedWriter(PosixFile file, std::size_t capacity)
    : file_(std::move(file)),
      capacity_(capacity),
      buffer_(std::make_unique_for_overwrite<char[]>(capacity)) {}

BufferedWriter::BufferedWriter(GrowingBuffer& memory, std::size_t capacity)
    : memory_(&memory),
      capacity_(capacity),
      buffer_(std::make_unique_for_overwrite<char[]>(capacity)) {}

BufferedWriter::~BufferedWriter() {
  if (size_ > 0 && file_.is_open()) (void)flush();
}

Result<std::size_t, IoError> BufferedWriter::drain(std::string_view bytes) {
  if (memory_ == nullptr) return file_.write(bytes.data(), bytes.size());
  if (!memory_->append(bytes)) return IoError::of_kind(IoErrorKind::OutOfMemory);
  return bytes.size();
}

Result<Done, IoError> BufferedWriter::flush() {
  std::size_t written = 0;
  Result<Done, IoError> outcome = Done{};
  while (written < size_) {
    Result<std::size_t, IoError> count =
        drain(std::string_view(buffer_.get() + written, size_ - written));
    if (!count) {
      outcome = count.error();
      break;
    }
    if (count.value() == 0) {
      outcome = IoError::with_message(IoErrorKind::WriteZero, "failed to write the buffered data");
      break;
    }
    written += count.value();
  }
  // Keep what the file has not taken, at the front, for a later attempt.
  if (written > 0) {
    std::memmove(buffer_.get(), buffer_.get() + written, size_ - written);
    size_ -= written;
  }
  return outcome;
}

Result<Done, IoError> BufferedWriter::write_cold(std::string_view piece) {
  if (piece.size() > capacity_ - size_) {
    Result<Done, IoError> flushed = flush();
    if (!flushed) return flushed;
  }
  if (piece.size() >= capacity_) {
    if (memory_ == nullptr) return file_.write_all(piece.data(), piece.size());
    Result<std::size_t, IoError> taken = drain(piece);
    if (!taken) return taken.error();
    return Done{};
  }
  std::memcpy(buffer_.get() + size_, piece.data(), piece.size());
  size_ += piece.size();
  return Done{};
}

}  // namespace vestle
