// A standard allocator over large buffers, for containers that grow big.
#pragma once

#include <cstddef>
#include <new>

#include "memory/large_buffer.h"

namespace vestle {

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
