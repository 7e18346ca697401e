// Large buffers from anonymous mappings advised for transparent huge pages.
#pragma once

#include <cstddef>
#include <new>

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

// Standard allocator over `allocate_large`, for the row store's big vectors.
template <typename T>
class HugePageAllocator {
 public:
  using value_type = T;

  HugePageAllocator() noexcept = default;
  template <typename U>
  HugePageAllocator(const HugePageAllocator<U>& /*other*/) noexcept {}  // NOLINT: implicit by design

  [[nodiscard]] T* allocate(std::size_t count) {
    if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    void* data = allocate_large(count * sizeof(T));
    if (data == nullptr) throw std::bad_alloc();
    return static_cast<T*>(data);
  }
  void deallocate(T* data, std::size_t count) noexcept { free_large(data, count * sizeof(T)); }

  template <typename U>
  friend bool operator==(const HugePageAllocator&, const HugePageAllocator<U>&) noexcept {
    return true;
  }
};

}  // namespace vestle
