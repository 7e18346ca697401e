// Quote doubling: eight bytes a word, or sixteen a vector spread by a byte shuffle.
#include "writer/quote_doubling.h"

#include <cstdint>
#include <cstring>

#include "parser/block_classes_x86.h"
#include "parser/byte_scan.h"
#include "parser/cpu_kernels.h"

namespace vestle {
namespace {

char* copy_doubling_words(char* out, const char* in, std::size_t size, char quote) noexcept {
  const std::uint64_t quotes = scan_detail::kOnes * static_cast<unsigned char>(quote);
  const char* const end = in + size;
  // Plain locals: a byte stored through `out` could otherwise alias them.
  const auto put = [quote](char* to, char c) noexcept {
    *to++ = c;
    if (c == quote) *to++ = quote;
    return to;
  };
  while (end - in >= 8) {
    std::uint64_t word;
    std::memcpy(&word, in, 8);
    if (scan_detail::zero_bytes(word ^ quotes) == 0) {
      std::memcpy(out, &word, 8);
      out += 8;
    } else {
      for (int k = 0; k < 8; ++k) out = put(out, in[k]);
    }
    in += 8;
  }
  for (; in != end; ++in) out = put(out, *in);
  return out;
}

#if defined(VESTLE_HAS_X86_KERNELS)

// For each pattern of quotes among eight bytes (bit k: byte k is one), the
// shuffle that spreads the eight into 8 + count: each byte once, a quote twice.
struct Spreads {
  alignas(16) std::uint8_t index[256][16];
};

constexpr Spreads make_spreads() noexcept {
  Spreads spreads{};
  for (unsigned pattern = 0; pattern < 256; ++pattern) {
    unsigned at = 0;
    for (unsigned k = 0; k < 8; ++k) {
      spreads.index[pattern][at++] = static_cast<std::uint8_t>(k);
      if ((pattern >> k) & 1) spreads.index[pattern][at++] = static_cast<std::uint8_t>(k);
    }
    while (at < 16) spreads.index[pattern][at++] = 0x80;  // zero: past what is kept
  }
  return spreads;
}

constexpr Spreads kSpreads = make_spreads();

// The eight bytes at the bottom of `eight` spread for their quote `pattern`.
VESTLE_TARGET_AVX2 inline __m128i spread(__m128i eight, unsigned pattern) noexcept {
  return _mm_shuffle_epi8(
      eight, _mm_load_si128(reinterpret_cast<const __m128i*>(kSpreads.index[pattern])));
}

// Each store writes sixteen bytes, of which the next store overwrites what
// is not kept; every store ends within twice the bytes read so far, so the
// room for twice `size` holds them.
VESTLE_TARGET_AVX2 char* copy_doubling_shuffled(char* out, const char* in, std::size_t size,
                                                char quote) noexcept {
  const __m128i quotes = _mm_set1_epi8(quote);
  const char* const end = in + size;
  while (end - in >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const auto pattern = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, quotes)));
    if (pattern == 0) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
      out += 16;
    } else {
      const unsigned low = pattern & 0xFF;
      const unsigned high = pattern >> 8;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), spread(bytes, low));
      out += 8 + __builtin_popcount(low);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), spread(_mm_srli_si128(bytes, 8), high));
      out += 8 + __builtin_popcount(high);
    }
    in += 16;
  }
  return copy_doubling_words(out, in, static_cast<std::size_t>(end - in), quote);
}

#endif

}  // namespace

char* copy_doubling(char* out, const char* in, std::size_t size, char quote) noexcept {
#if defined(VESTLE_HAS_X86_KERNELS)
  // Built for AVX2, which every processor with AVX-512BW has too (its
  // kernel's code assumes as much).
  const Kernel kernel = kernels().kernel;
  if (size >= 16 && (kernel == Kernel::Avx2 || kernel == Kernel::Avx512bw)) {
    return copy_doubling_shuffled(out, in, size, quote);
  }
#endif
  return copy_doubling_words(out, in, size, quote);
}

}  // namespace vestle
