// The reused input buffer: compaction, growth and chunked reads.
#include "io/chunked_input.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace vestle {

ChunkedInput::ChunkedInput(PosixFile& file, std::size_t chunk_size) noexcept
    : file_(file), chunk_size_(std::max<std::size_t>(chunk_size, 1)) {}

void ChunkedInput::discard(std::size_t count) noexcept {
  count = std::min(count, end_ - begin_);
  begin_ += count;
  offset_ += count;
  if (begin_ == end_) begin_ = end_ = 0;
}

Result<Done, IoError> ChunkedInput::make_room(std::size_t size) {
  if (buffer_.capacity() - begin_ >= size) return Done{};
  const std::size_t held = end_ - begin_;
  if (buffer_.capacity() >= size) {
    // The bytes kept are few next to the buffer (a row's tail), so moving
    // them to the front is cheap.
    std::memmove(buffer_.get(), buffer_.get() + begin_, held);
  } else {
    const std::size_t grown = std::max(size, buffer_.capacity() + buffer_.capacity() / 2);
    LargeBuffer bigger(grown);
    if (!bigger) return IoError::of_kind(IoErrorKind::OutOfMemory);
    if (held > 0) std::memcpy(bigger.get(), buffer_.get() + begin_, held);
    buffer_ = std::move(bigger);
  }
  begin_ = 0;
  end_ = held;
  return Done{};
}

Result<Done, IoError> ChunkedInput::read_until(std::size_t window_size) {
  if (Result<Done, IoError> room = make_room(window_size); !room) return room;
  while (!at_end_ && end_ - begin_ < window_size) {
    const std::size_t wanted = std::min(chunk_size_, buffer_.capacity() - end_);
    Result<std::size_t, IoError> count =
        spool_ ? spool_->read_at(offset_ + (end_ - begin_), buffer_.get() + end_, wanted)
               : file_.read(buffer_.get() + end_, wanted);
    if (!count) return count.error();
    if (count.value() == 0) {
      at_end_ = true;
    } else {
      end_ += count.value();
    }
  }
  return Done{};
}

Result<Done, IoError> ChunkedInput::extend() {
  if (at_end_) return Done{};
  const std::size_t held = end_ - begin_;
  // Growing by at least a chunk keeps the buffer from being moved around
  // for every short read.
  return read_until(held + std::max(std::min(held, kMaxWindowGrowth), chunk_size_));
}

Result<Done, IoError> ChunkedInput::read_rest() {
  while (!at_end_) {
    if (Result<Done, IoError> more = extend(); !more) return more;
  }
  // Nothing more is read, so the buffer never moves again.
  held_.emplace(buffer_.get(), end_, offset_ - begin_);
  return Done{};
}

bool ChunkedInput::can_restart() noexcept {
  if (spool_) return true;
  if (!regular_file_) {
    Result<struct stat, IoError> status = file_.status();
    regular_file_ = status && S_ISREG(status.value().st_mode);
  }
  return *regular_file_;
}

Result<Done, IoError> ChunkedInput::spool_into(PosixFile spill) {
  spool_.emplace(file_, std::move(spill), offset_);
  return spool_->append(buffer_.get() + begin_, end_ - begin_);
}

Result<Done, IoError> ChunkedInput::restart() {
  if (spool_) {
    // A spooled pipe starts over where its spill does.
    begin_ = end_ = 0;
    offset_ = spool_->origin();
    at_end_ = false;
    return Done{};
  }
  if (Result<Done, IoError> sought = file_.seek_to_start(); !sought) return sought;
  begin_ = end_ = 0;
  offset_ = 0;
  at_end_ = false;
  return Done{};
}

Result<Done, IoError> ChunkedInput::resume_at(std::uint64_t offset) {
  const std::size_t held = end_ - begin_;
  if (offset <= offset_ + held) {
    discard(static_cast<std::size_t>(offset - offset_));
  } else {
    begin_ = end_ = 0;
    offset_ = offset;
    at_end_ = false;
  }
  if (at_end_ || spool_) return Done{};  // a spooled pipe is read at offsets
  return file_.seek_to(offset_ + (end_ - begin_));
}

}  // namespace vestle
