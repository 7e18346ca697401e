// Large buffers from anonymous mappings advised for transparent huge pages.
#pragma once

#include <cstddef>
#include <utility>

namespace vestle {

// Buffers of at least this many bytes are mapped on their own and advised
// for huge pages: first touch of fresh 4 KiB pages costs more than the copy.
inline constexpr std::size_t kLargeBufferThreshold = std::size_t{1} << 20;

// `bytes` of uninitialised memory, or nullptr when memory is exhausted.
// Small sizes come from operator new; release with `free_large` and the same size.
[[nodiscard]] void* allocate_large(std::size_t bytes) noexcept;
void free_large(void* data, std::size_t bytes) noexcept;

// Gives the whole pages inside [data, data + bytes) of a large buffer back to
// the system; they read as zero bytes afterwards. Small buffers are left alone.
void release_pages(void* buffer, std::size_t buffer_bytes, std::size_t offset,
                   std::size_t bytes) noexcept;

// An uninitialised buffer from `allocate_large`; empty when allocation failed.
class LargeBuffer {
 public:
  LargeBuffer() noexcept = default;
  explicit LargeBuffer(std::size_t capacity) noexcept
      : data_(static_cast<char*>(allocate_large(capacity))), capacity_(data_ ? capacity : 0) {}
  LargeBuffer(LargeBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), capacity_(std::exchange(other.capacity_, 0)) {}
  LargeBuffer& operator=(LargeBuffer&& other) noexcept {
    LargeBuffer(std::move(other)).swap(*this);
    return *this;
  }
  ~LargeBuffer() { free_large(data_, capacity_); }

  void swap(LargeBuffer& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(capacity_, other.capacity_);
  }
  [[nodiscard]] char* get() const noexcept { return data_; }
  [[nodiscard]] std::size_t capacity() const noexcept { return capacity_; }
  explicit operator bool() const noexcept { return data_ != nullptr; }

 private:
  char* data_ = nullptr;
  std::size_t capacity_ = 0;
};

}  // namespace vestle
