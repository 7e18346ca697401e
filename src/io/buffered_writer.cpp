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
  (void)settle();
  if (size_ > 0 && file_.is_open()) (void)flush();
}

void BufferedWriter::write_behind() {
  if (memory_ == nullptr && !behind_) behind_ = std::make_unique<WriteBehind>(file_);
}

Result<Done, IoError> BufferedWriter::settle() {
  if (!behind_ || !behind_->in_flight()) return Done{};
  WriteBehind::Outcome outcome = behind_->wait();
  if (outcome.result) return Done{};
  std::swap(buffer_, spare_);
  size_ = spare_size_ - outcome.written;
  std::memmove(buffer_.get(), buffer_.get() + outcome.written, size_);
  return outcome.result.error();
}

Result<Done, IoError> BufferedWriter::make_room() {
  if (!behind_) return flush();
  if (Result<Done, IoError> earlier = settle(); !earlier) return earlier;
  if (!spare_) spare_ = std::make_unique_for_overwrite<char[]>(capacity_);
  if (!behind_->start(buffer_.get(), size_)) {
    behind_.reset();  // no thread to be had: written here from now on
    return flush();
  }
  std::swap(buffer_, spare_);
  spare_size_ = size_;
  size_ = 0;
  return Done{};
}

Result<Done, IoError> BufferedWriter::flush() {
  if (Result<Done, IoError> earlier = settle(); !earlier) return earlier;
  if (memory_ != nullptr) {
    if (size_ > 0 && !memory_->append(std::string_view(buffer_.get(), size_))) {
      return IoError::of_kind(IoErrorKind::OutOfMemory);
    }
    size_ = 0;
    return Done{};
  }
  WriteBehind::Outcome outcome = write_buffer(file_, buffer_.get(), size_);
  // Keep what the file has not taken, at the front, for a later attempt.
  if (outcome.written > 0) {
    std::memmove(buffer_.get(), buffer_.get() + outcome.written, size_ - outcome.written);
    size_ -= outcome.written;
  }
  return outcome.result;
}

Result<Done, IoError> BufferedWriter::write_cold(std::string_view piece) {
  if (piece.size() > capacity_ - size_) {
    // A piece that goes straight to the file waits for every byte before it.
    Result<Done, IoError> emptied = piece.size() < capacity_ ? make_room() : flush();
    if (!emptied) return emptied;
  }
  if (piece.size() >= capacity_) {
    if (memory_ == nullptr) return file_.write_all(piece.data(), piece.size());
    if (!memory_->append(piece)) return IoError::of_kind(IoErrorKind::OutOfMemory);
    return Done{};
  }
  std::memcpy(buffer_.get() + size_, piece.data(), piece.size());
  size_ += piece.size();
  return Done{};
}

}  // namespace vestle
