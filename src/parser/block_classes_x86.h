// The 64-byte block classifiers of the wide kernels, inline for code compiled
// for the same target (the kernels' tables and the verbatim row scan).
#pragma once

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#include <immintrin.h>

#include <cstdint>

#include "parser/cpu_kernels.h"
#include "parser/line_break.h"

#define VESTLE_HAS_X86_KERNELS 1
// What a processor must have for each kernel; cpu_supports asks for all of it.
#define VESTLE_TARGET_AVX2 __attribute__((target("avx2,bmi,popcnt,pclmul")))
#define VESTLE_TARGET_AVX512 __attribute__((target("avx512f,avx512bw,bmi,bmi2,popcnt,pclmul")))

namespace vestle::x86 {

VESTLE_TARGET_AVX2 inline std::uint64_t equal_bits_avx2(__m256i low, __m256i high,
                                                        unsigned char byte) noexcept {
  const __m256i pattern = _mm256_set1_epi8(static_cast<char>(byte));
  return std::uint64_t{static_cast<std::uint32_t>(
             _mm256_movemask_epi8(_mm256_cmpeq_epi8(low, pattern)))} |
         std::uint64_t{static_cast<std::uint32_t>(
             _mm256_movemask_epi8(_mm256_cmpeq_epi8(high, pattern)))}
             << 32;
}

VESTLE_TARGET_AVX2 inline BlockClasses classify_block_avx2(const unsigned char* block,
                                                           unsigned char quote,
                                                           unsigned char delimiter) noexcept {
  const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block));
  const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 32));
  return {equal_bits_avx2(low, high, quote), equal_bits_avx2(low, high, delimiter),
          equal_bits_avx2(low, high, kLf), equal_bits_avx2(low, high, kCr),
          std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(low))} |
              std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(high))} << 32};
}

VESTLE_TARGET_AVX512 inline std::uint64_t equal_bits_avx512(__m512i bytes,
                                                            unsigned char byte) noexcept {
  return _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(static_cast<char>(byte)));
}

VESTLE_TARGET_AVX512 inline BlockClasses classify_block_avx512(const unsigned char* block,
                                                               unsigned char quote,
                                                               unsigned char delimiter) noexcept {
  const __m512i v = _mm512_loadu_si512(block);
  return {equal_bits_avx512(v, quote), equal_bits_avx512(v, delimiter), equal_bits_avx512(v, kLf),
          equal_bits_avx512(v, kCr), _mm512_movepi8_mask(v)};
}

// Bit i set where an odd number of the bits at i and below are set: a
// carry-less multiplication by all ones.
VESTLE_TARGET_AVX2 inline std::uint64_t prefix_xor_clmul(std::uint64_t bits) noexcept {
  const __m128i product = _mm_clmulepi64_si128(_mm_set_epi64x(0, static_cast<long long>(bits)),
                                               _mm_set1_epi8(-1), 0);
  return static_cast<std::uint64_t>(_mm_cvtsi128_si64(product));
}

}  // namespace vestle::x86

#endif
