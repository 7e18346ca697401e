// A byte buffer that grows in place by remapping, and gives back what its reader has passed.
#pragma once

#include <cstddef>
#include <string_view>
#include <utility>

namespace vestle {

// Bytes appended at the end of one anonymous mapping. Address space is
// reserved ahead and pages are only taken as they are written, so memory
// follows the bytes held; growing past the reservation remaps without
// copying. Pages wholly before an offset can be given back once nothing will
// read them again.
class GrowingBuffer {
 public:
  GrowingBuffer() noexcept = default;
  GrowingBuffer(GrowingBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        reserved_(std::exchange(other.reserved_, 0)),
        populated_(std::exchange(other.populated_, 0)),
        released_(std::exchange(other.released_, 0)) {}
  GrowingBuffer& operator=(GrowingBuffer&& other) noexcept {
    GrowingBuffer(std::move(other)).swap(*this);
    return *this;
  }
  ~GrowingBuffer();

  void swap(GrowingBuffer& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(reserved_, other.reserved_);
    std::swap(populated_, other.populated_);
    std::swap(released_, other.released_);
  }

  // Reserves address space for at least `bytes` in all. False when the
  // system refuses it; the buffer is unchanged then.
  [[nodiscard]] bool reserve(std::size_t bytes) noexcept;
  // Appends `bytes`; false, with nothing appended, when memory is exhausted.
  [[nodiscard]] bool append(std::string_view bytes) noexcept;
  // Gives back the whole pages before `offset`: they must never be read again.
  void release_before(std::size_t offset) noexcept;

  [[nodiscard]] std::string_view view() const noexcept { return {data_, size_}; }
  [[nodiscard]] std::size_t size() const noexcept { return size_; }

 private:
  // Maps the pages up to past `end` ahead of the writes.
  void populate_past(std::size_t end) noexcept;

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t reserved_ = 0;
  std::size_t populated_ = 0;  // bytes from the start whose pages are mapped
  std::size_t released_ = 0;   // bytes from the start already given back
};

}  // namespace vestle
