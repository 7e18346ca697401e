// Word-at-a-time search for the first of three byte values.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vestle {

struct ScanResult {
  std::size_t end;      // offset of the first match, or the size when none
  bool has_high_byte;   // a byte from 0x80 up lies before `end`
};

namespace scan_detail {

inline constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
inline constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// High bit set in each zero byte of `word`; bits above the first zero byte
// may be wrong, so only the lowest set bit is meaningful.
constexpr std::uint64_t zero_bytes(std::uint64_t word) noexcept {
  return (word - kOnes) & ~word & kHighBits;
}

}  // namespace scan_detail

// High bit set in exactly those bytes of `word` that equal the byte repeated
// in `pattern` (kOnes * byte); unlike the borrow trick, no false positives.
constexpr std::uint64_t equal_bytes(std::uint64_t word, std::uint64_t pattern) noexcept {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  const std::uint64_t v = word ^ pattern;
  return ~(((v & kLow7) + kLow7) | v | kLow7);
}

// Finds the first byte in [from, size) equal to `a`, `b` or `c`.
inline ScanResult scan_to_first_of(const unsigned char* bytes, std::size_t from, std::size_t size,
                                   unsigned char a, unsigned char b, unsigned char c) noexcept {
  using scan_detail::kHighBits;
  using scan_detail::kOnes;
  using scan_detail::zero_bytes;
  std::size_t end = from;
  std::uint64_t seen = 0;  // the bytes passed, or-ed together
  if constexpr (std::endian::native == std::endian::little) {
    // On little-endian words the lowest matching byte is the first match.
    const std::uint64_t wa = kOnes * a;
    const std::uint64_t wb = kOnes * b;
    const std::uint64_t wc = kOnes * c;
    while (size - end >= 8) {
      std::uint64_t word;
      std::memcpy(&word, bytes + end, sizeof word);
      const std::uint64_t hits = zero_bytes(word ^ wa) | zero_bytes(word ^ wb) | zero_bytes(word ^ wc);
      if (hits != 0) {
        const int before = std::countr_zero(hits) / 8;
        seen |= word & ((std::uint64_t{1} << (8 * before)) - 1);
        return {end + static_cast<std::size_t>(before), (seen & kHighBits) != 0};
      }
      seen |= word;
      end += 8;
    }
  }
  while (end < size && bytes[end] != a && bytes[end] != b && bytes[end] != c) {
    seen |= bytes[end];
    ++end;
  }
  return {end, (seen & kHighBits) != 0};
}

}  // namespace vestle
