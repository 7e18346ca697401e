// Reads passed through, searched for the watched bytes.
#include "stream/watched_input.h"

#include <algorithm>
#include <bit>

#include "parser/byte_scan.h"

namespace vestle {
namespace {

// Offset of the first byte in [from, size) among the first `count` (1 to 5)
// of `wanted`, or `size`.
std::size_t find_wanted(const unsigned char* data, std::size_t from, std::size_t size,
                        const unsigned char* wanted, std::size_t count) noexcept {
  const unsigned char a = wanted[0];
  const unsigned char b = count > 1 ? wanted[1] : a;
  const unsigned char c = count > 2 ? wanted[2] : a;
  const unsigned char d = count > 3 ? wanted[3] : a;
  const unsigned char e = count > 4 ? wanted[4] : a;
  for (; size - from >= 64; from += 64) {
    std::uint64_t mask = block_mask_of4(data + from, a, b, c, d);
    if (count > 4) mask |= block_mask_of4(data + from, e, e, e, e);
    if (mask != 0) return from + static_cast<std::size_t>(std::countr_zero(mask));
  }
  const std::size_t first = find_first_of4(data, from, size, a, b, c, d);
  return count > 4 ? find_first_of4(data, from, first, e, e, e, e) : first;
}

}  // namespace

void WatchedInput::watch(const unsigned char* bytes, std::size_t count) noexcept {
  count_ = std::min(count, kMaxWatched);
  std::copy_n(bytes, count_, bytes_.begin());
  seen_.fill(UINT64_MAX);
  searched_from_ = searched_to_ = 0;
}

std::uint64_t WatchedInput::first_seen(unsigned char byte) const noexcept {
  for (std::size_t i = 0; i < count_; ++i) {
    if (bytes_[i] == byte) return seen_[i];
  }
  return 0;
}

Result<std::size_t, IoError> WatchedInput::read_at(std::uint64_t offset, char* data,
                                                   std::size_t size) {
  Result<std::size_t, IoError> count = input_.read_at(offset, data, size);
  if (count && count_ != 0) {
    look_at(offset, reinterpret_cast<const unsigned char*>(data), count.value());
  }
  return count;
}

void WatchedInput::look_at(std::uint64_t offset, const unsigned char* data,
                           std::size_t size) noexcept {
  const std::uint64_t end = offset + size;
  if (offset >= searched_from_ && end <= searched_to_) return;
  // A byte seen before `offset` cannot be seen earlier here.
  unsigned char wanted[kMaxWatched];
  std::size_t wanted_count = 0;
  for (std::size_t i = 0; i < count_; ++i) {
    if (seen_[i] > offset) wanted[wanted_count++] = bytes_[i];
  }
  for (std::size_t at = 0; wanted_count != 0;) {
    at = find_wanted(data, at, size, wanted, wanted_count);
    if (at == size) break;
    for (std::size_t i = 0; i < count_; ++i) {
      if (bytes_[i] == data[at]) seen_[i] = std::min(seen_[i], offset + at);
    }
    *std::find(wanted, wanted + wanted_count, data[at]) = wanted[wanted_count - 1];
    --wanted_count;
    ++at;
  }
  if (offset <= searched_to_ && end >= searched_from_ && searched_to_ != 0) {
    searched_from_ = std::min(searched_from_, offset);
    searched_to_ = std::max(searched_to_, end);
  } else {
    searched_from_ = offset;
    searched_to_ = end;
  }
}

}  // namespace vestle
