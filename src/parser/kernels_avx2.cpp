// The AVX2 kernel: 32 bytes a vector, compiled for that target alone.
#include "parser/kernel_sets.h"

#include "parser/block_classes_x86.h"

#if defined(VESTLE_HAS_X86_KERNELS)

#include <bit>
#include <cstddef>
#include <cstdint>

#include "parser/line_break.h"
#include "parser/utf8_lookup.h"

#define VESTLE_AVX2 VESTLE_TARGET_AVX2

namespace vestle::kernel_sets {
namespace {

VESTLE_AVX2 inline __m256i load32(const unsigned char* at) noexcept {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

VESTLE_AVX2 inline __m256i splat(unsigned char byte) noexcept {
  return _mm256_set1_epi8(static_cast<char>(byte));
}

VESTLE_AVX2 inline std::uint64_t bits64(__m256i low, __m256i high) noexcept {
  return std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(low))} |
         std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(high))} << 32;
}

VESTLE_AVX2 inline __m256i equal_any(__m256i v, __m256i a, __m256i b, __m256i c,
                                     __m256i d) noexcept {
  return _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(v, a), _mm256_cmpeq_epi8(v, b)),
                         _mm256_or_si256(_mm256_cmpeq_epi8(v, c), _mm256_cmpeq_epi8(v, d)));
}

VESTLE_AVX2 std::size_t find_first_of4_avx2(const unsigned char* bytes, std::size_t from,
                                             std::size_t size, unsigned char a, unsigned char b,
                                             unsigned char c, unsigned char d) noexcept {
  const __m256i va = splat(a);
  const __m256i vb = splat(b);
  const __m256i vc = splat(c);
  const __m256i vd = splat(d);
  std::size_t i = from;
  for (; size - i >= 32; i += 32) {
    const auto hits = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(equal_any(load32(bytes + i), va, vb, vc, vd)));
    if (hits != 0) return i + static_cast<std::size_t>(std::countr_zero(hits));
  }
  while (i < size && bytes[i] != a && bytes[i] != b && bytes[i] != c && bytes[i] != d) ++i;
  return i;
}

VESTLE_AVX2 std::size_t skip_byte_run_avx2(const unsigned char* bytes, std::size_t from,
                                            std::size_t size, unsigned char c) noexcept {
  const __m256i vc = splat(c);
  std::size_t i = from;
  for (; size - i >= 32; i += 32) {
    const auto same =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(load32(bytes + i), vc)));
    if (same != 0xFFFFFFFF) return i + static_cast<std::size_t>(std::countr_one(same));
  }
  while (i < size && bytes[i] == c) ++i;
  return i;
}

VESTLE_AVX2 std::uint64_t block_mask_of4_avx2(const unsigned char* block, unsigned char a,
                                              unsigned char b, unsigned char c,
                                              unsigned char d) noexcept {
  const __m256i va = splat(a);
  const __m256i vb = splat(b);
  const __m256i vc = splat(c);
  const __m256i vd = splat(d);
  return bits64(equal_any(load32(block), va, vb, vc, vd),
                equal_any(load32(block + 32), va, vb, vc, vd));
}

VESTLE_AVX2 void classify_block_avx2(const unsigned char* block, unsigned char quote,
                                     unsigned char delimiter, BlockClasses& out) noexcept {
  out = x86::classify_block_avx2(block, quote, delimiter);
}

VESTLE_AVX2 CandidateMasks closing_quote_candidates_avx2(const unsigned char* block,
                                                         unsigned char delimiter,
                                                         unsigned char quote) noexcept {
  const __m256i vlf = splat(kLf);
  const __m256i vcr = splat(kCr);
  const __m256i vdelimiter = splat(delimiter);
  const __m256i vspace = splat(' ');
  const __m256i vtab = splat('\t');
  const __m256i vquote = splat(quote);
  __m256i quotes[2];
  __m256i breaks[2];
  for (int half = 0; half < 2; ++half) {
    const __m256i here = load32(block + 32 * half);
    const __m256i next = load32(block + 32 * half + 1);
    breaks[half] = _mm256_or_si256(_mm256_cmpeq_epi8(here, vlf), _mm256_cmpeq_epi8(here, vcr));
    const __m256i next_ends = _mm256_or_si256(equal_any(next, vlf, vcr, vdelimiter, vspace),
                                              _mm256_cmpeq_epi8(next, vtab));
    quotes[half] = _mm256_and_si256(_mm256_cmpeq_epi8(here, vquote), next_ends);
  }
  return {bits64(quotes[0], quotes[1]), bits64(breaks[0], breaks[1])};
}

VESTLE_AVX2 inline __m256i table32(const std::uint8_t (&table)[16]) noexcept {
  return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(table)));
}

// Error bits of the 32 bytes at `at` against the 3 before each.
VESTLE_AVX2 inline __m256i utf8_errors32(const unsigned char* at) noexcept {
  using namespace utf8_lookup;
  const __m256i low_nibble = _mm256_set1_epi8(0x0F);
  const __m256i input = load32(at);
  const __m256i prev1 = load32(at - 1);
  const __m256i byte_1_high = _mm256_shuffle_epi8(
      table32(kByte1High), _mm256_and_si256(_mm256_srli_epi16(prev1, 4), low_nibble));
  const __m256i byte_1_low =
      _mm256_shuffle_epi8(table32(kByte1Low), _mm256_and_si256(prev1, low_nibble));
  const __m256i byte_2_high = _mm256_shuffle_epi8(
      table32(kByte2High), _mm256_and_si256(_mm256_srli_epi16(input, 4), low_nibble));
  const __m256i special = _mm256_and_si256(_mm256_and_si256(byte_1_high, byte_1_low), byte_2_high);
  const __m256i third = _mm256_subs_epu8(load32(at - 2), splat(kThirdByteBias));
  const __m256i fourth = _mm256_subs_epu8(load32(at - 3), splat(kFourthByteBias));
  const __m256i must_continue = _mm256_and_si256(_mm256_or_si256(third, fourth), splat(0x80));
  return _mm256_xor_si256(must_continue, special);
}

VESTLE_AVX2 std::size_t first_utf8_error_block_avx2(const unsigned char* blocks,
                                                    std::size_t count) noexcept {
  for (std::size_t k = 0; k < count; ++k) {
    const unsigned char* block = blocks + 64 * k;
    // ASCII after ASCII holds no error: nothing to look up.
    const bool ascii_before = ((block[-1] | block[-2] | block[-3]) & 0x80) == 0;
    const __m256i either = _mm256_or_si256(load32(block), load32(block + 32));
    if (ascii_before && _mm256_movemask_epi8(either) == 0) continue;
    const __m256i errors = _mm256_or_si256(utf8_errors32(block), utf8_errors32(block + 32));
    if (_mm256_testz_si256(errors, errors) == 0) return k;
  }
  return count;
}

std::size_t valid_utf8_prefix_avx2(const unsigned char* bytes, std::size_t size) noexcept {
  return valid_utf8_prefix_in_blocks(bytes, size, first_utf8_error_block_avx2);
}

const KernelTable kTable{Kernel::Avx2,
                         block_mask_of4_avx2,
                         find_first_of4_avx2,
                         skip_byte_run_avx2,
                         classify_block_avx2,
                         closing_quote_candidates_avx2,
                         valid_utf8_prefix_avx2};

}  // namespace

const KernelTable* const kAvx2 = &kTable;

}  // namespace vestle::kernel_sets

#else

namespace vestle::kernel_sets {
const KernelTable* const kAvx2 = nullptr;
}  // namespace vestle::kernel_sets

#endif
