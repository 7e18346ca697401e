// The mapping behind GrowingBuffer: reserved ahead, grown by mremap, released by madvise.
#include "memory/growing_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace vestle {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Whole huge pages, so that the mapping can be backed by them.
std::size_t rounded_reservation(std::size_t bytes) noexcept {
  if (bytes > SIZE_MAX - kHugePage) return 0;
  return bytes <= kHugePage ? kHugePage : (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

std::size_t page_size() noexcept {
  static const std::size_t size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  return size;
}

void advise_huge_pages(void* data, std::size_t bytes) noexcept {
#ifdef MADV_HUGEPAGE
  (void)::madvise(data, bytes, MADV_HUGEPAGE);  // advice only: failure changes nothing
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace

GrowingBuffer::~GrowingBuffer() {
  if (data_ != nullptr) ::munmap(data_, reserved_);
}

bool GrowingBuffer::reserve(std::size_t bytes) noexcept {
  if (bytes <= reserved_) return true;
  const std::size_t wanted = rounded_reservation(bytes);
  if (wanted == 0) return false;
  // Untouched pages of a private anonymous mapping cost no memory; the
  // reservation is address space only.
  void* mapped = data_ == nullptr
                     ? ::mmap(nullptr, wanted, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0)
                     : ::mremap(data_, reserved_, wanted, MREMAP_MAYMOVE);
  if (mapped == MAP_FAILED) return false;
  data_ = static_cast<char*>(mapped);
  reserved_ = wanted;
  advise_huge_pages(data_, reserved_);
  return true;
}

bool GrowingBuffer::append(std::string_view bytes) noexcept {
  if (bytes.size() > reserved_ - size_) {
    if (bytes.size() > SIZE_MAX - size_) return false;
    const std::size_t needed = size_ + bytes.size();
    const std::size_t doubled = reserved_ > SIZE_MAX / 2 ? needed : reserved_ * 2;
    if (!reserve(doubled > needed ? doubled : needed)) return false;
  }
  if (!bytes.empty()) std::memcpy(data_ + size_, bytes.data(), bytes.size());
  size_ += bytes.size();
  return true;
}

void GrowingBuffer::release_before(std::size_t offset) noexcept {
  if (data_ == nullptr) return;
  if (offset > size_) offset = size_;
  const std::size_t whole_pages = offset & ~(page_size() - 1);
  if (whole_pages <= released_) return;
  (void)::madvise(data_ + released_, whole_pages - released_, MADV_DONTNEED);
  released_ = whole_pages;
}

}  // namespace vestle
