// An input that can be read at any offset: a regular file, or a pipe kept in a spill file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "error/io_error.h"
#include "error/vestle_error.h"
#include "io/posix_file.h"

namespace vestle {

class RereadableInput {
 public:
  RereadableInput() = default;
  RereadableInput(const RereadableInput&) = delete;
  RereadableInput& operator=(const RereadableInput&) = delete;
  virtual ~RereadableInput() = default;

  // Reads at most `size` bytes of the input from `offset` on; 0 only at the
  // end of the input.
  [[nodiscard]] virtual Result<std::size_t, IoError> read_at(std::uint64_t offset, char* data,
                                                             std::size_t size) = 0;
};

// A regular file: each read seeks first, so readers do not depend on where
// another left the file's position.
class SeekableFileInput final : public RereadableInput {
 public:
  explicit SeekableFileInput(PosixFile& file) noexcept : file_(file) {}

  [[nodiscard]] Result<std::size_t, IoError> read_at(std::uint64_t offset, char* data,
                                                     std::size_t size) override;

 private:
  PosixFile& file_;
};

// The rest of an input held whole in memory, from `origin` on: a file that
// is about to be overwritten in place must not be read again.
class HeldInput final : public RereadableInput {
 public:
  HeldInput(const char* data, std::size_t size, std::uint64_t origin) noexcept
      : data_(data), size_(size), origin_(origin) {}

  [[nodiscard]] Result<std::size_t, IoError> read_at(std::uint64_t offset, char* data,
                                                     std::size_t size) override;

 private:
  const char* data_;
  std::size_t size_;
  std::uint64_t origin_;
};

// An input read once (a pipe) from `origin` on, kept in an unnamed spill
// file as it is read, so that any offset from `origin` on can be read again.
// Bytes past what was read so far are read from the input when asked for.
class SpooledInput final : public RereadableInput {
 public:
  SpooledInput(PosixFile& input, PosixFile spill, std::uint64_t origin) noexcept;

  // Keeps bytes already read from the input, which continue the spill.
  [[nodiscard]] Result<Done, IoError> append(const char* data, std::size_t size);

  [[nodiscard]] Result<std::size_t, IoError> read_at(std::uint64_t offset, char* data,
                                                     std::size_t size) override;

  [[nodiscard]] std::uint64_t origin() const noexcept { return origin_; }

 private:
  // Reads from the input and keeps what it read: at most `size` bytes at
  // `data`, the next bytes after those spilled.
  [[nodiscard]] Result<std::size_t, IoError> read_on(char* data, std::size_t size);

  PosixFile& input_;
  PosixFile spill_;
  std::uint64_t origin_;
  std::uint64_t spilled_end_;  // input offset just past the last byte kept
  bool input_ended_ = false;
};

}  // namespace vestle
