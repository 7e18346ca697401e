// The AVX-512BW kernel: 64 bytes a vector, compiled for that target alone.
#include "parser/kernel_sets.h"

#include "parser/block_classes_x86.h"

#if defined(VESTLE_HAS_X86_KERNELS)

#include <bit>
#include <cstddef>
#include <cstdint>

#include "parser/line_break.h"
#include "parser/utf8_lookup.h"

#define VESTLE_AVX512 VESTLE_TARGET_AVX512

namespace vestle::kernel_sets {
namespace {

VESTLE_AVX512 inline __m512i load64(const unsigned char* at) noexcept {
  return _mm512_loadu_si512(at);
}

VESTLE_AVX512 inline __m512i splat(unsigned char byte) noexcept {
  return _mm512_set1_epi8(static_cast<char>(byte));
}

VESTLE_AVX512 inline std::uint64_t equal_bits(__m512i v, unsigned char byte) noexcept {
  return x86::equal_bits_avx512(v, byte);
}

VESTLE_AVX512 std::uint64_t block_mask_of4_avx512(const unsigned char* block, unsigned char a,
                                                  unsigned char b, unsigned char c,
                                                  unsigned char d) noexcept {
  const __m512i v = load64(block);
  return equal_bits(v, a) | equal_bits(v, b) | equal_bits(v, c) | equal_bits(v, d);
}

VESTLE_AVX512 std::size_t find_first_of4_avx512(const unsigned char* bytes, std::size_t from,
                                                 std::size_t size, unsigned char a,
                                                 unsigned char b, unsigned char c,
                                                 unsigned char d) noexcept {
  const __m512i va = splat(a);
  const __m512i vb = splat(b);
  const __m512i vc = splat(c);
  const __m512i vd = splat(d);
  std::size_t i = from;
  for (; size - i >= 64; i += 64) {
    const __m512i v = load64(bytes + i);
    const std::uint64_t hits = _mm512_cmpeq_epi8_mask(v, va) | _mm512_cmpeq_epi8_mask(v, vb) |
                               _mm512_cmpeq_epi8_mask(v, vc) | _mm512_cmpeq_epi8_mask(v, vd);
    if (hits != 0) return i + static_cast<std::size_t>(std::countr_zero(hits));
  }
  if (i == size) return size;
  // The last bytes by a masked load, which reads nothing past them.
  const __mmask64 left = _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(size - i));
  const __m512i v = _mm512_maskz_loadu_epi8(left, bytes + i);
  const std::uint64_t hits =
      _mm512_mask_cmpeq_epi8_mask(left, v, va) | _mm512_mask_cmpeq_epi8_mask(left, v, vb) |
      _mm512_mask_cmpeq_epi8_mask(left, v, vc) | _mm512_mask_cmpeq_epi8_mask(left, v, vd);
  return hits != 0 ? i + static_cast<std::size_t>(std::countr_zero(hits)) : size;
}

VESTLE_AVX512 std::size_t skip_byte_run_avx512(const unsigned char* bytes, std::size_t from,
                                                std::size_t size, unsigned char c) noexcept {
  const __m512i vc = splat(c);
  std::size_t i = from;
  for (; size - i >= 64; i += 64) {
    const std::uint64_t other = _mm512_cmpneq_epi8_mask(load64(bytes + i), vc);
    if (other != 0) return i + static_cast<std::size_t>(std::countr_zero(other));
  }
  if (i == size) return size;
  const __mmask64 left = _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(size - i));
  const std::uint64_t other =
      _mm512_mask_cmpneq_epi8_mask(left, _mm512_maskz_loadu_epi8(left, bytes + i), vc);
  return other != 0 ? i + static_cast<std::size_t>(std::countr_zero(other)) : size;
}

VESTLE_AVX512 void classify_block_avx512(const unsigned char* block, unsigned char quote,
                                         unsigned char delimiter, BlockClasses& out) noexcept {
  out = x86::classify_block_avx512(block, quote, delimiter);
}

VESTLE_AVX512 CandidateMasks closing_quote_candidates_avx512(const unsigned char* block,
                                                             unsigned char delimiter,
                                                             unsigned char quote) noexcept {
  const __m512i here = load64(block);
  const __m512i next = load64(block + 1);
  const std::uint64_t next_ends = equal_bits(next, kLf) | equal_bits(next, kCr) |
                                  equal_bits(next, delimiter) | equal_bits(next, ' ') |
                                  equal_bits(next, '\t');
  return {equal_bits(here, quote) & next_ends, equal_bits(here, kLf) | equal_bits(here, kCr)};
}

// A table in each of the four lanes, made at compile time (a broadcast
// instruction would do, but GCC 12 warns about its intrinsic).
struct LaneTables {
  alignas(64) std::uint8_t bytes[64];
};
constexpr LaneTables in_every_lane(const std::uint8_t (&table)[16]) noexcept {
  LaneTables lanes{};
  for (std::size_t i = 0; i < 64; ++i) lanes.bytes[i] = table[i % 16];
  return lanes;
}
constexpr LaneTables kByte1High64 = in_every_lane(utf8_lookup::kByte1High);
constexpr LaneTables kByte1Low64 = in_every_lane(utf8_lookup::kByte1Low);
constexpr LaneTables kByte2High64 = in_every_lane(utf8_lookup::kByte2High);

VESTLE_AVX512 inline __m512i table64(const LaneTables& table) noexcept {
  return _mm512_load_si512(table.bytes);
}

// Error bits of the 64 bytes of `input` against the 3 before each, the last
// of them the end of `before`; see utf8_lookup.h. The bytes before are taken
// from registers: loads at offsets 1 to 3 back would each cross a cache line.
VESTLE_AVX512 inline __m512i utf8_errors(__m512i input, __m512i before) noexcept {
  using namespace utf8_lookup;
  const __m512i low_nibble = splat(0x0F);
  // Lane i of `input` after lane i - 1, for the byte shifts within lanes.
  // (The masked form: GCC 12 warns about the plain one's undefined source.)
  const __m512i lanes_before = _mm512_maskz_alignr_epi64(0xFF, input, before, 6);
  const __m512i prev1 = _mm512_alignr_epi8(input, lanes_before, 15);
  const __m512i byte_1_high = _mm512_shuffle_epi8(
      table64(kByte1High64), _mm512_and_si512(_mm512_srli_epi16(prev1, 4), low_nibble));
  const __m512i byte_1_low =
      _mm512_shuffle_epi8(table64(kByte1Low64), _mm512_and_si512(prev1, low_nibble));
  const __m512i byte_2_high = _mm512_shuffle_epi8(
      table64(kByte2High64), _mm512_and_si512(_mm512_srli_epi16(input, 4), low_nibble));
  const __m512i special = _mm512_and_si512(_mm512_and_si512(byte_1_high, byte_1_low), byte_2_high);
  const __m512i third =
      _mm512_subs_epu8(_mm512_alignr_epi8(input, lanes_before, 14), splat(kThirdByteBias));
  const __m512i fourth =
      _mm512_subs_epu8(_mm512_alignr_epi8(input, lanes_before, 13), splat(kFourthByteBias));
  const __m512i must_continue = _mm512_and_si512(_mm512_or_si512(third, fourth), splat(0x80));
  return _mm512_xor_si512(must_continue, special);
}

VESTLE_AVX512 inline bool any_byte(__m512i bits) noexcept {
  return _mm512_test_epi8_mask(bits, bits) != 0;
}

// Four blocks a step, with one test of their errors together: a text of
// many characters has some in nearly every block, so the step that skips
// ASCII rarely applies.
VESTLE_AVX512 std::size_t first_utf8_error_block_avx512(const unsigned char* blocks,
                                                        std::size_t count) noexcept {
  constexpr std::uint64_t kLastThree = std::uint64_t{7} << 61;
  // The 3 bytes before the first block, at the top of a vector: a masked
  // load reads them alone, the last qword moves them to the top lane, and a
  // byte shift within it to its top.
  const __m512i three = _mm512_maskz_loadu_epi8(0x7, blocks - 3);
  __m512i before = _mm512_bslli_epi128(
      _mm512_maskz_alignr_epi64(0xFF, three, _mm512_setzero_si512(), 1), 5);
  std::size_t k = 0;
  for (; k + 4 <= count; k += 4) {
    const unsigned char* group = blocks + 64 * k;
    const __m512i b0 = load64(group);
    const __m512i b1 = load64(group + 64);
    const __m512i b2 = load64(group + 128);
    const __m512i b3 = load64(group + 192);
    const bool ascii = (_mm512_movepi8_mask(before) & kLastThree) == 0 &&
                       _mm512_movepi8_mask(_mm512_or_si512(_mm512_or_si512(b0, b1),
                                                           _mm512_or_si512(b2, b3))) == 0;
    if (!ascii) {
      const __m512i e0 = utf8_errors(b0, before);
      const __m512i e1 = utf8_errors(b1, b0);
      const __m512i e2 = utf8_errors(b2, b1);
      const __m512i e3 = utf8_errors(b3, b2);
      if (any_byte(_mm512_or_si512(_mm512_or_si512(e0, e1), _mm512_or_si512(e2, e3)))) {
        if (any_byte(e0)) return k;
        if (any_byte(e1)) return k + 1;
        return any_byte(e2) ? k + 2 : k + 3;
      }
    }
    before = b3;
  }
  for (; k < count; ++k) {
    const __m512i block = load64(blocks + 64 * k);
    if (any_byte(utf8_errors(block, before))) return k;
    before = block;
  }
  return count;
}

std::size_t valid_utf8_prefix_avx512(const unsigned char* bytes, std::size_t size) noexcept {
  return valid_utf8_prefix_in_blocks(bytes, size, first_utf8_error_block_avx512);
}

const KernelTable kTable{Kernel::Avx512bw,
                         block_mask_of4_avx512,
                         find_first_of4_avx512,
                         skip_byte_run_avx512,
                         classify_block_avx512,
                         closing_quote_candidates_avx512,
                         valid_utf8_prefix_avx512};

}  // namespace

const KernelTable* const kAvx512bw = &kTable;

}  // namespace vestle::kernel_sets

#else

namespace vestle::kernel_sets {
const KernelTable* const kAvx512bw = nullptr;
}  // namespace vestle::kernel_sets

#endif
