// A thread that writes one buffer to a file while its caller fills the next.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

#include "error/io_error.h"
#include "error/vestle_error.h"
#include "io/posix_file.h"

namespace vestle {

// Copying bytes into the page cache is most of what a write costs; on a
// second core it overlaps the repair of the bytes that follow. The file sees
// the same write calls, in the same order, as if the caller made them: one
// buffer at a time, each written whole unless a call fails or takes nothing,
// and nothing after the first failure.
class WriteBehind {
 public:
  explicit WriteBehind(PosixFile& file) noexcept : file_(&file) {}
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;
  // Waits for the write in flight, then ends the thread.
  ~WriteBehind();

  // Starts writing `bytes[0, size)`, which must stay as they are until
  // `wait` returns. False when no thread could be started: nothing was
  // written, and the caller writes the bytes itself.
  [[nodiscard]] bool start(const char* bytes, std::size_t size) noexcept;

  // The outcome of the write in flight, once it is over.
  struct Outcome {
    Result<Done, IoError> result = Done{};
    std::size_t written = 0;  // bytes the file took before a failure
  };
  [[nodiscard]] Outcome wait() noexcept;

  [[nodiscard]] bool in_flight() const noexcept { return in_flight_; }

 private:
  void run() noexcept;

  PosixFile* file_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_.
  const char* bytes_ = nullptr;
  std::size_t size_ = 0;
  bool pending_ = false;  // a buffer waits for the thread, or is being written
  bool stopping_ = false;
  Outcome outcome_;
  // The caller's own view: a buffer was started and not yet waited for.
  bool in_flight_ = false;
};

// Writes `bytes[0, size)` as a buffer is flushed: until the file has taken
// them all, a call fails, or a call takes none (a WriteZero error "failed to
// write the buffered data").
[[nodiscard]] WriteBehind::Outcome write_buffer(PosixFile& file, const char* bytes,
                                                std::size_t size) noexcept;

}  // namespace vestle
