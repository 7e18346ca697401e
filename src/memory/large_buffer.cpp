// Anonymous mappings for large buffers, advised for transparent huge pages.
#include "memory/large_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <new>

namespace vestle {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t mapped_size(std::size_t bytes) noexcept {
  return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

std::size_t page_size() noexcept {
  static const std::size_t size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  return size;
}

}  // namespace

void* allocate_large(std::size_t bytes) noexcept {
  if (bytes < kLargeBufferThreshold) return ::operator new(bytes == 0 ? 1 : bytes, std::nothrow);
  if (bytes > SIZE_MAX - kHugePage) return nullptr;
  const std::size_t size = mapped_size(bytes);
  // One huge page more, so the buffer can start on a huge-page boundary.
  const std::size_t reserved = size + kHugePage;
  void* mapped = ::mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (start + kHugePage - 1) & ~std::uintptr_t{kHugePage - 1};
  if (aligned > start) ::munmap(mapped, aligned - start);
  const std::size_t tail = reserved - (aligned - start) - size;
  if (tail > 0) ::munmap(reinterpret_cast<void*>(aligned + size), tail);
  auto* data = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
  (void)::madvise(data, size, MADV_HUGEPAGE);  // advice only: failure changes nothing
#endif
  return data;
}

void free_large(void* data, std::size_t bytes) noexcept {
  if (data == nullptr) return;
  if (bytes < kLargeBufferThreshold) {
    ::operator delete(data);
    return;
  }
  ::munmap(data, mapped_size(bytes));
}

void release_pages(void* buffer, std::size_t buffer_bytes, std::size_t offset,
                   std::size_t bytes) noexcept {
  if (buffer_bytes < kLargeBufferThreshold || bytes == 0) return;
  const std::size_t page = page_size();
  const auto base = reinterpret_cast<std::uintptr_t>(buffer);
  const std::uintptr_t from = (base + offset + page - 1) & ~std::uintptr_t{page - 1};
  const std::uintptr_t to = (base + offset + bytes) & ~std::uintptr_t{page - 1};
  if (to > from) (void)::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
}

}  // namespace vestle
