// An input that notes where a few bytes first occur in what is read through it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "error/io_error.h"
#include "error/vestle_error.h"
#include "io/rereadable_input.h"

namespace vestle {

// Passes reads on to another input and searches what they return for the
// watched bytes, keeping the least offset each was read at. Readers that
// between them read every byte of a range through it learn which watched
// bytes the range holds without a pass of their own.
class WatchedInput final : public RereadableInput {
 public:
  static constexpr std::size_t kMaxWatched = 5;

  explicit WatchedInput(RereadableInput& input) noexcept : input_(input) {}

  // Forgets what was seen and watches the first `count` (at most
  // kMaxWatched) of `bytes` from now on.
  void watch(const unsigned char* bytes, std::size_t count) noexcept;
  // The least offset a read since watch() found `byte` at, or UINT64_MAX;
  // 0 for a byte that is not watched, which may be anywhere.
  [[nodiscard]] std::uint64_t first_seen(unsigned char byte) const noexcept;

  [[nodiscard]] Result<std::size_t, IoError> read_at(std::uint64_t offset, char* data,
                                                     std::size_t size) override;

 private:
  void look_at(std::uint64_t offset, const unsigned char* data, std::size_t size) noexcept;

  RereadableInput& input_;
  std::array<unsigned char, kMaxWatched> bytes_{};
  std::array<std::uint64_t, kMaxWatched> seen_{};
  std::size_t count_ = 0;
  // Input offsets searched since watch(): every watched byte in them was
  // seen there or earlier.
  std::uint64_t searched_from_ = 0;
  std::uint64_t searched_to_ = 0;
};

}  // namespace vestle
