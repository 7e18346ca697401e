// The writing thread and its hand-over.
#include "io/write_behind.h"

#include <utility>

namespace vestle {

WriteBehind::Outcome write_buffer(PosixFile& file, const char* bytes, std::size_t size) noexcept {
  WriteBehind::Outcome outcome;
  while (outcome.written < size) {
    Result<std::size_t, IoError> count =
        file.write(bytes + outcome.written, size - outcome.written);
    if (!count) {
      outcome.result = count.error();
      break;
    }
    if (count.value() == 0) {
      outcome.result =
          IoError::with_message(IoErrorKind::WriteZero, "failed to write the buffered data");
      break;
    }
    outcome.written += count.value();
  }
  return outcome;
}

WriteBehind::~WriteBehind() {
  if (!thread_.joinable()) return;
  {
    std::unique_lock lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool WriteBehind::start(const char* bytes, std::size_t size) noexcept {
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread([this] { run(); });
    } catch (...) {  // std::system_error, or std::bad_alloc for the thread's state
      return false;
    }
  }
  {
    std::unique_lock lock(mutex_);
    bytes_ = bytes;
    size_ = size;
    pending_ = true;
  }
  changed_.notify_all();
  in_flight_ = true;
  return true;
}

WriteBehind::Outcome WriteBehind::wait() noexcept {
  if (!in_flight_) return Outcome{};
  in_flight_ = false;
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !pending_; });
  return std::exchange(outcome_, Outcome{});
}

void WriteBehind::run() noexcept {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return pending_ || stopping_; });
    if (!pending_) return;
    const char* bytes = bytes_;
    const std::size_t size = size_;
    lock.unlock();
    Outcome outcome = write_buffer(*file_, bytes, size);
    lock.lock();
    outcome_ = std::move(outcome);
    pending_ = false;
    changed_.notify_all();
  }
}

}  // namespace vestle
