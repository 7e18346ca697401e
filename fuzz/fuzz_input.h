// Takes fuzz-chosen option bytes off the front of an input; the rest is the CSV text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vestle::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) noexcept
      : data_(reinterpret_cast<const char*>(data)), size_(size) {}

  // The next byte, or 0 once the input is used up (short inputs still run).
  unsigned char take_byte() noexcept {
    if (taken_ == size_) return 0;
    return static_cast<unsigned char>(data_[taken_++]);
  }

  // Everything not taken yet, as one view into the caller's buffer (so the
  // sanitizers see reads past its end).
  [[nodiscard]] std::string_view rest() const noexcept { return {data_ + taken_, size_ - taken_}; }

 private:
  const char* data_;
  std::size_t size_;
  std::size_t taken_ = 0;
};

}  // namespace vestle::fuzz
