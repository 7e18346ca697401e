// The mapping behind GrowingBuffer: reserved ahead, grown by mremap, released by madvise.
#include "memory/growing_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace vestle {
namespace {

// Reservations come in these steps. The mapping is not advised for huge
// pages: it is written once, front to back, and a huge page's fault can
// stall on compaction where the file's pages fill memory, costing more than
// the small faults it saves.
constexpr std::size_t kReservationStep = std::size_t{2} << 20;

std::size_t rounded_reservation(std::size_t bytes) noexcept {
  if (bytes > SIZE_MAX - kReservationStep) return 0;
  return bytes <= kReservationStep ? kReservationStep
                                   : (bytes + kReservationStep - 1) & ~(kReservationStep - 1);
}

// Pages are mapped ahead of the writes in steps of this many bytes.
constexpr std::size_t kPopulateStep = std::size_t{1} << 20;

std::size_t page_size() noexcept {
  static const std::size_t size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  return size;
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
  return true;
}

bool GrowingBuffer::append(std::string_view bytes) noexcept {
  if (bytes.size() > reserved_ - size_) {
    if (bytes.size() > SIZE_MAX - size_) return false;
    const std::size_t needed = size_ + bytes.size();
    const std::size_t doubled = reserved_ > SIZE_MAX / 2 ? needed : reserved_ * 2;
    // Where address space is short, what the bytes need may still fit.
    if (!reserve(doubled > needed ? doubled : needed) && !reserve(needed)) return false;
  }
  if (size_ + bytes.size() > populated_) populate_past(size_ + bytes.size());
  if (!bytes.empty()) std::memcpy(data_ + size_, bytes.data(), bytes.size());
  size_ += bytes.size();
  return true;
}

void GrowingBuffer::populate_past(std::size_t end) noexcept {
#ifdef MADV_POPULATE_WRITE
  // One call maps a step of pages that would otherwise fault one by one.
  const std::size_t from = populated_;
  std::size_t to = (end + kPopulateStep - 1) & ~(kPopulateStep - 1);
  if (to > reserved_) to = reserved_;
  if (to > from) (void)::madvise(data_ + from, to - from, MADV_POPULATE_WRITE);  // advice only
  populated_ = to;
#else
  populated_ = end;
#endif
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
