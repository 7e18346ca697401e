// Bulk searches over input bytes: sixteen at a time with SSE2, else a word at a
// time; the 64-byte classifiers go through the kernel chosen for the processor.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "parser/cpu_kernels.h"
#include "parser/line_break.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vestle {

struct ScanResult {
  std::size_t end;      // offset of the first match, or the size when none
  bool has_high_byte;   // a byte from 0x80 up lies before `end`
};

namespace scan_detail {

inline constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
inline constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// The high bit of each byte of `word`, gathered into eight bits in byte order.
constexpr std::uint64_t gather_high_bits(std::uint64_t word) noexcept {
  return (((word & kHighBits) >> 7) * 0x0102040810204080ULL) >> 56;
}

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

// Finds the first byte in [from, size) equal to `a`, `b` or `c`; eight
// bytes per step; without SSE2 the whole search, with it the tail the vector loop leaves.
inline ScanResult scan_to_first_of_words(const unsigned char* bytes, std::size_t from,
                                         std::size_t size, unsigned char a, unsigned char b,
                                         unsigned char c) noexcept {
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

// Finds the first k in [from, end) where bytes k and k + 1 both equal `c`;
// the byte at `end` must be readable. Eight bytes per step; without SSE2
// the whole search, with it the tail the vector loop leaves.
inline ScanResult scan_to_pair_words(const unsigned char* bytes, std::size_t from, std::size_t end,
                                     unsigned char c) noexcept {
  using scan_detail::kHighBits;
  using scan_detail::kOnes;
  std::size_t k = from;
  std::uint64_t seen = 0;
  if constexpr (std::endian::native == std::endian::little) {
    const std::uint64_t pattern = kOnes * c;
    // Bytes k + 1 .. k + 8 are read as well, so up to and including `end`.
    while (end - k >= 8) {
      std::uint64_t word;
      std::uint64_t next;
      std::memcpy(&word, bytes + k, sizeof word);
      std::memcpy(&next, bytes + k + 1, sizeof next);
      const std::uint64_t pairs = equal_bytes(word, pattern) & equal_bytes(next, pattern);
      if (pairs != 0) {
        const int before = std::countr_zero(pairs) / 8;
        seen |= word & ((std::uint64_t{1} << (8 * before)) - 1);
        return {k + static_cast<std::size_t>(before), (seen & kHighBits) != 0};
      }
      seen |= word;
      k += 8;
    }
  }
  while (k < end && !(bytes[k] == c && bytes[k + 1] == c)) {
    seen |= bytes[k];
    ++k;
  }
  return {k, (seen & kHighBits) != 0};
}

// Offset of the first byte in [from, size) equal to `a`, `b`, `c` or `d`,
// or `size`; eight bytes per step; without SSE2 the whole search, with it
// the tail the vector loop leaves.
inline std::size_t find_first_of4_words(const unsigned char* bytes, std::size_t from,
                                        std::size_t size, unsigned char a, unsigned char b,
                                        unsigned char c, unsigned char d) noexcept {
  using scan_detail::kOnes;
  std::size_t i = from;
  if constexpr (std::endian::native == std::endian::little) {
    for (; size - i >= 8; i += 8) {
      std::uint64_t word;
      std::memcpy(&word, bytes + i, sizeof word);
      const std::uint64_t hits = equal_bytes(word, kOnes * a) | equal_bytes(word, kOnes * b) |
                                 equal_bytes(word, kOnes * c) | equal_bytes(word, kOnes * d);
      if (hits != 0) return i + static_cast<std::size_t>(std::countr_zero(hits) / 8);
    }
  }
  while (i < size && bytes[i] != a && bytes[i] != b && bytes[i] != c && bytes[i] != d) ++i;
  return i;
}

// One bit per byte of the 64 bytes at `block`, set where the byte equals
// `a`, `b`, `c` or `d`; eight bytes per step.
inline std::uint64_t block_mask_of4_words(const unsigned char* block, unsigned char a,
                                          unsigned char b, unsigned char c,
                                          unsigned char d) noexcept {
  using scan_detail::kOnes;
  std::uint64_t mask = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (std::size_t i = 0; i < 64; i += 8) {
      std::uint64_t word;
      std::memcpy(&word, block + i, sizeof word);
      const std::uint64_t hits = equal_bytes(word, kOnes * a) | equal_bytes(word, kOnes * b) |
                                 equal_bytes(word, kOnes * c) | equal_bytes(word, kOnes * d);
      mask |= scan_detail::gather_high_bits(hits) << i;
    }
  } else {
    for (std::size_t i = 0; i < 64; ++i) {
      const unsigned char x = block[i];
      if (x == a || x == b || x == c || x == d) mask |= std::uint64_t{1} << i;
    }
  }
  return mask;
}

// One bit per byte of the 64 bytes at `block`, set where the byte is from
// 0x80 up; eight bytes per step.
inline std::uint64_t block_high_bits_words(const unsigned char* block) noexcept {
  std::uint64_t mask = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (std::size_t i = 0; i < 64; i += 8) {
      std::uint64_t word;
      std::memcpy(&word, block + i, sizeof word);
      mask |= scan_detail::gather_high_bits(word) << i;
    }
  } else {
    for (std::size_t i = 0; i < 64; ++i) {
      if (block[i] >= 0x80) mask |= std::uint64_t{1} << i;
    }
  }
  return mask;
}

// Bit i set where an odd number of the bits 0..i of `bits` are: over a
// quote mask, the bytes from an opening quote up to its closing one (a
// doubled quote toggles twice). Six shifts; the wide kernels multiply.
constexpr std::uint64_t prefix_xor_words(std::uint64_t bits) noexcept {
  bits ^= bits << 1;
  bits ^= bits << 2;
  bits ^= bits << 4;
  bits ^= bits << 8;
  bits ^= bits << 16;
  bits ^= bits << 32;
  return bits;
}

// Offset of the first byte from 0x80 up in [from, size), or `size`; eight
// bytes per step; without SSE2 the whole search, with it the tail the vector
// loop leaves.
inline std::size_t skip_ascii_words(const unsigned char* bytes, std::size_t from,
                                    std::size_t size) noexcept {
  std::size_t i = from;
  if constexpr (std::endian::native == std::endian::little) {
    for (; size - i >= 8; i += 8) {
      std::uint64_t word;
      std::memcpy(&word, bytes + i, sizeof word);
      const std::uint64_t high = word & scan_detail::kHighBits;
      if (high != 0) return i + static_cast<std::size_t>(std::countr_zero(high) / 8);
    }
  }
  while (i < size && bytes[i] < 0x80) ++i;
  return i;
}

// Offset of the first byte in [from, size) other than `c`, or `size`; eight
// bytes per step; without SSE2 the whole search, with it the tail the vector loop leaves.
inline std::size_t skip_byte_run_words(const unsigned char* bytes, std::size_t from,
                                       std::size_t size, unsigned char c) noexcept {
  const std::uint64_t pattern = scan_detail::kOnes * c;
  std::size_t i = from;
  for (; size - i >= 8; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes + i, sizeof word);
    if (word != pattern) break;
  }
  while (i < size && bytes[i] == c) ++i;
  return i;
}

#if defined(__SSE2__)

// Sixteen bytes per step, then the word form for the rest.
namespace scan_detail {

// The vector search with its patterns made by the caller: `va`, `vb`, `vc`
// hold `a`, `b`, `c` in every lane.
inline ScanResult scan_to_first_of_sse2(const unsigned char* bytes, std::size_t from,
                                        std::size_t size, __m128i va, __m128i vb, __m128i vc,
                                        unsigned char a, unsigned char b,
                                        unsigned char c) noexcept {
  std::size_t i = from;
  __m128i seen = _mm_setzero_si128();
  while (size - i >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
    const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)),
                                      _mm_cmpeq_epi8(v, vc));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
    if (mask != 0) {
      const int before = std::countr_zero(mask);
      const auto high = static_cast<unsigned>(_mm_movemask_epi8(v)) & ((1u << before) - 1);
      return {i + static_cast<std::size_t>(before), high != 0 || _mm_movemask_epi8(seen) != 0};
    }
    seen = _mm_or_si128(seen, v);
    i += 16;
  }
  const ScanResult rest = scan_to_first_of_words(bytes, i, size, a, b, c);
  return {rest.end, rest.has_high_byte || _mm_movemask_epi8(seen) != 0};
}

}  // namespace scan_detail

inline ScanResult scan_to_pair_sse2(const unsigned char* bytes, std::size_t from, std::size_t end,
                                    unsigned char c) noexcept {
  const __m128i vc = _mm_set1_epi8(static_cast<char>(c));
  std::size_t k = from;
  __m128i seen = _mm_setzero_si128();
  // Bytes k + 1 .. k + 16 are read as well, so up to and including `end`.
  while (end - k >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k + 1));
    const auto mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(v, vc), _mm_cmpeq_epi8(next, vc))));
    if (mask != 0) {
      const int before = std::countr_zero(mask);
      const auto high = static_cast<unsigned>(_mm_movemask_epi8(v)) & ((1u << before) - 1);
      return {k + static_cast<std::size_t>(before), high != 0 || _mm_movemask_epi8(seen) != 0};
    }
    seen = _mm_or_si128(seen, v);
    k += 16;
  }
  const ScanResult rest = scan_to_pair_words(bytes, k, end, c);
  return {rest.end, rest.has_high_byte || _mm_movemask_epi8(seen) != 0};
}

inline std::size_t find_first_of4_sse2(const unsigned char* bytes, std::size_t from,
                                       std::size_t size, unsigned char a, unsigned char b,
                                       unsigned char c, unsigned char d) noexcept {
  const __m128i va = _mm_set1_epi8(static_cast<char>(a));
  const __m128i vb = _mm_set1_epi8(static_cast<char>(b));
  const __m128i vc = _mm_set1_epi8(static_cast<char>(c));
  const __m128i vd = _mm_set1_epi8(static_cast<char>(d));
  std::size_t i = from;
  for (; size - i >= 16; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
    const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)),
                                      _mm_or_si128(_mm_cmpeq_epi8(v, vc), _mm_cmpeq_epi8(v, vd)));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
    if (mask != 0) return i + static_cast<std::size_t>(std::countr_zero(mask));
  }
  return find_first_of4_words(bytes, i, size, a, b, c, d);
}

inline std::uint64_t block_mask_of4_sse2(const unsigned char* block, unsigned char a,
                                         unsigned char b, unsigned char c,
                                         unsigned char d) noexcept {
  const __m128i va = _mm_set1_epi8(static_cast<char>(a));
  const __m128i vb = _mm_set1_epi8(static_cast<char>(b));
  const __m128i vc = _mm_set1_epi8(static_cast<char>(c));
  const __m128i vd = _mm_set1_epi8(static_cast<char>(d));
  std::uint64_t mask = 0;
  for (std::size_t i = 0; i < 64; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i));
    const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)),
                                      _mm_or_si128(_mm_cmpeq_epi8(v, vc), _mm_cmpeq_epi8(v, vd)));
    mask |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hits))) << i;
  }
  return mask;
}

inline std::uint64_t block_high_bits_sse2(const unsigned char* block) noexcept {
  std::uint64_t mask = 0;
  for (std::size_t i = 0; i < 64; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i));
    mask |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(v))) << i;
  }
  return mask;
}

inline std::size_t skip_ascii_sse2(const unsigned char* bytes, std::size_t from,
                                   std::size_t size) noexcept {
  std::size_t i = from;
  for (; size - i >= 16; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(v));
    if (mask != 0) return i + static_cast<std::size_t>(std::countr_zero(mask));
  }
  return skip_ascii_words(bytes, i, size);
}

inline std::size_t skip_byte_run_sse2(const unsigned char* bytes, std::size_t from,
                                      std::size_t size, unsigned char c) noexcept {
  const __m128i vc = _mm_set1_epi8(static_cast<char>(c));
  std::size_t i = from;
  for (; size - i >= 16; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
    const auto same = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, vc)));
    if (same != 0xFFFF) return i + static_cast<std::size_t>(std::countr_one(same));
  }
  return skip_byte_run_words(bytes, i, size, c);
}

#endif  // __SSE2__

// The bytes a search looks through itself before it hands the rest to the
// kernel table's search: a call costs more than a near find.
inline constexpr std::size_t kNearBytes = 64;

// False only under the scalar kernel, which tests force to check the word forms
// through the whole engine.
inline bool sse2_enabled() noexcept {
#if defined(__SSE2__)
  return !kernel_detail::scalar;
#else
  return false;
#endif
}

// Finds the first doubled `c` starting in [from, end); the byte at `end`
// must be readable.
inline ScanResult scan_to_pair(const unsigned char* bytes, std::size_t from, std::size_t end,
                               unsigned char c) noexcept {
#if defined(__SSE2__)
  if (sse2_enabled()) return scan_to_pair_sse2(bytes, from, end, c);
#endif
  return scan_to_pair_words(bytes, from, end, c);
}

// Offset of the first byte in [from, size) equal to `a`, `b`, `c` or `d`, or `size`.
inline std::size_t find_first_of4(const unsigned char* bytes, std::size_t from, std::size_t size,
                                  unsigned char a, unsigned char b, unsigned char c,
                                  unsigned char d) noexcept {
#if defined(__SSE2__)
  if (sse2_enabled()) {
    // Most finds are near and cost no call; a long way on (a big field, a
    // long row) goes in the kernel's widest steps.
    const std::size_t near = size - from > kNearBytes ? from + kNearBytes : size;
    const std::size_t found = find_first_of4_sse2(bytes, from, near, a, b, c, d);
    if (found != near || near == size) return found;
    return kernels().find_first_of4(bytes, near, size, a, b, c, d);
  }
#endif
  return find_first_of4_words(bytes, from, size, a, b, c, d);
}

// One bit per byte of the 64 bytes at `block`, set where the byte equals
// `a`, `b`, `c` or `d`.
inline std::uint64_t block_mask_of4(const unsigned char* block, unsigned char a, unsigned char b,
                                    unsigned char c, unsigned char d) noexcept {
  return kernels().block_mask_of4(block, a, b, c, d);
}

// Offset of the first byte from 0x80 up in [from, size), or `size`.
inline std::size_t skip_ascii(const unsigned char* bytes, std::size_t from, std::size_t size) noexcept {
#if defined(__SSE2__)
  if (sse2_enabled()) return skip_ascii_sse2(bytes, from, size);
#endif
  return skip_ascii_words(bytes, from, size);
}

// Offset of the first byte in [from, size) other than `c`, or `size`.
inline std::size_t skip_byte_run(const unsigned char* bytes, std::size_t from, std::size_t size,
                                 unsigned char c) noexcept {
#if defined(__SSE2__)
  if (sse2_enabled()) {
    // As find_first_of4: the first bytes here, a long run in the kernel.
    const std::size_t near = size - from > kNearBytes ? from + kNearBytes : size;
    const std::size_t end = skip_byte_run_sse2(bytes, from, near, c);
    if (end != near || near == size) return end;
    return kernels().skip_byte_run(bytes, near, size, c);
  }
#endif
  return skip_byte_run_words(bytes, from, size, c);
}

// Whether [from, size) holds an LF or a CR: a row can end nowhere else
// before the end of the input.
inline bool has_line_break(const unsigned char* bytes, std::size_t from, std::size_t size) noexcept {
  return find_first_of4(bytes, from, size, kLf, kCr, kLf, kCr) != size;
}

// A stretch of plain fields from `from`: the bytes before the first quote,
// CR, LF or byte from 0x80 up in [from, size) (`stop`, or `size`), and of
// them those through the last delimiter (`end`, `from` when there is none)
// with the number of delimiters there. One pass of the kernel's 64-byte
// classification, the last few bytes one at a time.
struct PlainStretch {
  std::size_t stop;
  std::size_t end;
  std::size_t delimiters;
};

inline PlainStretch plain_stretch(const unsigned char* bytes, std::size_t from, std::size_t size,
                                  unsigned char delimiter, unsigned char quote) noexcept {
  PlainStretch stretch{size, from, 0};
  std::size_t at = from;
  for (; size - at >= 64; at += 64) {
    BlockClasses c;
    kernels().classify_block(bytes + at, quote, delimiter, c);
    const std::uint64_t stops = c.quote | c.lf | c.cr | c.high;
    const std::uint64_t delimiters = c.delimiter & (stops - 1) & ~stops;  // before the first stop
    if (delimiters != 0) {
      stretch.delimiters += static_cast<std::size_t>(std::popcount(delimiters));
      stretch.end = at + 64 - static_cast<std::size_t>(std::countl_zero(delimiters));
    }
    if (stops != 0) {
      stretch.stop = at + static_cast<std::size_t>(std::countr_zero(stops));
      return stretch;
    }
  }
  for (; at < size; ++at) {
    const unsigned char b = bytes[at];
    if (b == quote || b == kLf || b == kCr || b >= 0x80) {
      stretch.stop = at;
      return stretch;
    }
    if (b == delimiter) {
      ++stretch.delimiters;
      stretch.end = at + 1;
    }
  }
  return stretch;
}

// The bytes a quote look-ahead looks for: line breaks, and quotes that may
// close a quoted field because the next byte is a blank, the delimiter or a
// line break. Masks of a block of 16 bytes (one bit a byte) or of a word of
// 8 (the high bit of each byte), or of 64 through the kernel; each reads the
// byte after its block too.
class ClosingQuoteCandidates {
 public:
  ClosingQuoteCandidates(unsigned char delimiter, unsigned char quote) noexcept
      : delimiter_(delimiter), quote_(quote)
#if defined(__SSE2__)
        ,
        vquote_(_mm_set1_epi8(static_cast<char>(quote))),
        vdelimiter_(_mm_set1_epi8(static_cast<char>(delimiter))),
        vlf_(_mm_set1_epi8(static_cast<char>(kLf))),
        vcr_(_mm_set1_epi8(static_cast<char>(kCr))),
        vspace_(_mm_set1_epi8(' ')),
        vtab_(_mm_set1_epi8('\t'))
#endif
  {
  }

  using Masks = CandidateMasks;

  // The 64 bytes at `at`, through the chosen kernel.
  [[nodiscard]] Masks block64(const unsigned char* at) const noexcept {
    return kernels().closing_quote_candidates(at, delimiter_, quote_);
  }

#if defined(__SSE2__)
  [[nodiscard]] Masks block16(const unsigned char* at) const noexcept {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 1));
    const __m128i breaks = _mm_or_si128(_mm_cmpeq_epi8(here, vlf_), _mm_cmpeq_epi8(here, vcr_));
    const __m128i next_ends = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(next, vlf_), _mm_cmpeq_epi8(next, vcr_)),
        _mm_or_si128(_mm_cmpeq_epi8(next, vdelimiter_),
                     _mm_or_si128(_mm_cmpeq_epi8(next, vspace_), _mm_cmpeq_epi8(next, vtab_))));
    const __m128i quotes = _mm_and_si128(_mm_cmpeq_epi8(here, vquote_), next_ends);
    return {static_cast<unsigned>(_mm_movemask_epi8(quotes)),
            static_cast<unsigned>(_mm_movemask_epi8(breaks))};
  }
#endif

  [[nodiscard]] Masks word8(const unsigned char* at) const noexcept {
    using scan_detail::kOnes;
    std::uint64_t here;
    std::uint64_t next;
    std::memcpy(&here, at, sizeof here);
    std::memcpy(&next, at + 1, sizeof next);
    const std::uint64_t breaks = equal_bytes(here, kOnes * kLf) | equal_bytes(here, kOnes * kCr);
    const std::uint64_t next_ends =
        equal_bytes(next, kOnes * kLf) | equal_bytes(next, kOnes * kCr) |
        equal_bytes(next, kOnes * delimiter_) | equal_bytes(next, kOnes * ' ') |
        equal_bytes(next, kOnes * '\t');
    return {equal_bytes(here, kOnes * quote_) & next_ends, breaks};
  }

 private:
  unsigned char delimiter_;
  unsigned char quote_;
#if defined(__SSE2__)
  __m128i vquote_;
  __m128i vdelimiter_;
  __m128i vlf_;
  __m128i vcr_;
  __m128i vspace_;
  __m128i vtab_;
#endif
};

// Three stop bytes fixed for a whole pass, with their search patterns made
// once. `scan` finds the first of them in [from, size).
class StopBytes {
 public:
  StopBytes(unsigned char a, unsigned char b, unsigned char c) noexcept
      : a_(a), b_(b), c_(c)
#if defined(__SSE2__)
        ,
        va_(_mm_set1_epi8(static_cast<char>(a))),
        vb_(_mm_set1_epi8(static_cast<char>(b))),
        vc_(_mm_set1_epi8(static_cast<char>(c)))
#endif
  {
  }

  [[nodiscard]] ScanResult scan(const unsigned char* bytes, std::size_t from,
                                std::size_t size) const noexcept {
#if defined(__SSE2__)
    if (sse2_) {
      return scan_detail::scan_to_first_of_sse2(bytes, from, size, va_, vb_, vc_, a_, b_, c_);
    }
#endif
    return scan_to_first_of_words(bytes, from, size, a_, b_, c_);
  }

 private:
  unsigned char a_;
  unsigned char b_;
  unsigned char c_;
  bool sse2_ = sse2_enabled();  // the kernel in use when the pass began
#if defined(__SSE2__)
  __m128i va_;
  __m128i vb_;
  __m128i vc_;
#endif
};

}  // namespace vestle
