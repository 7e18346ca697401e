// The kernel table of each instruction set, and the choice among them.
#include "parser/cpu_kernels.h"

#include "parser/byte_scan.h"
#include "parser/kernel_sets.h"

namespace vestle {
namespace kernel_sets {
namespace {

void classify_block_words(const unsigned char* block, unsigned char quote, unsigned char delimiter,
                          BlockClasses& out) noexcept {
  out.quote = block_mask_of4_words(block, quote, quote, quote, quote);
  out.delimiter = block_mask_of4_words(block, delimiter, delimiter, delimiter, delimiter);
  out.lf = block_mask_of4_words(block, kLf, kLf, kLf, kLf);
  out.cr = block_mask_of4_words(block, kCr, kCr, kCr, kCr);
  out.high = block_high_bits_words(block);
}

CandidateMasks closing_quote_candidates_words(const unsigned char* block, unsigned char delimiter,
                                              unsigned char quote) noexcept {
  const ClosingQuoteCandidates candidates(delimiter, quote);
  CandidateMasks masks{0, 0};
  for (std::size_t i = 0; i < 64; i += 8) {
    const CandidateMasks word = candidates.word8(block + i);
    masks.quotes |= scan_detail::gather_high_bits(word.quotes) << i;
    masks.breaks |= scan_detail::gather_high_bits(word.breaks) << i;
  }
  return masks;
}

#if defined(__SSE2__)

std::uint64_t equal_mask_sse2(const unsigned char* block, unsigned char byte) noexcept {
  const __m128i pattern = _mm_set1_epi8(static_cast<char>(byte));
  std::uint64_t mask = 0;
  for (std::size_t i = 0; i < 64; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i));
    mask |= std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, pattern)))} << i;
  }
  return mask;
}

void classify_block_sse2(const unsigned char* block, unsigned char quote, unsigned char delimiter,
                         BlockClasses& out) noexcept {
  out.quote = equal_mask_sse2(block, quote);
  out.delimiter = equal_mask_sse2(block, delimiter);
  out.lf = equal_mask_sse2(block, kLf);
  out.cr = equal_mask_sse2(block, kCr);
  out.high = block_high_bits_sse2(block);
}

CandidateMasks closing_quote_candidates_sse2(const unsigned char* block, unsigned char delimiter,
                                             unsigned char quote) noexcept {
  const ClosingQuoteCandidates candidates(delimiter, quote);
  CandidateMasks masks{0, 0};
  for (std::size_t i = 0; i < 64; i += 16) {
    const CandidateMasks part = candidates.block16(block + i);
    masks.quotes |= part.quotes << i;
    masks.breaks |= part.breaks << i;
  }
  return masks;
}

#endif  // __SSE2__

}  // namespace

const KernelTable kScalar{Kernel::Scalar,
                          block_mask_of4_words,
                          find_first_of4_words,
                          skip_byte_run_words,
                          classify_block_words,
                          closing_quote_candidates_words,
                          valid_utf8_prefix_scalar};
#if defined(__SSE2__)
const KernelTable kSse2{Kernel::Sse2,
                        block_mask_of4_sse2,
                        find_first_of4_sse2,
                        skip_byte_run_sse2,
                        classify_block_sse2,
                        closing_quote_candidates_sse2,
                        valid_utf8_prefix_sse2};
#else
const KernelTable kSse2{Kernel::Sse2, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
#endif

}  // namespace kernel_sets

namespace {

const KernelTable* table_of(Kernel kernel) noexcept {
  switch (kernel) {
    case Kernel::Scalar:
      return &kernel_sets::kScalar;
    case Kernel::Sse2:
#if defined(__SSE2__)
      return &kernel_sets::kSse2;
#else
      return nullptr;
#endif
    case Kernel::Avx2:
      return kernel_sets::kAvx2;
    case Kernel::Avx512bw:
      return kernel_sets::kAvx512bw;
  }
  return nullptr;
}

}  // namespace

namespace kernel_detail {
#if defined(__SSE2__)
const KernelTable* active = &kernel_sets::kSse2;
bool scalar = false;
#else
const KernelTable* active = &kernel_sets::kScalar;
bool scalar = true;
#endif
}  // namespace kernel_detail

std::string_view kernel_name(Kernel kernel) noexcept {
  switch (kernel) {
    case Kernel::Scalar:
      return "scalar";
    case Kernel::Sse2:
      return "sse2";
    case Kernel::Avx2:
      return "avx2";
    case Kernel::Avx512bw:
      return "avx512bw";
  }
  return "?";
}

std::optional<Kernel> kernel_named(std::string_view name) noexcept {
  for (const Kernel kernel : kAllKernels) {
    if (kernel_name(kernel) == name) return kernel;
  }
  return std::nullopt;
}

#if defined(__x86_64__) || defined(__i386__)
namespace {
// The wide kernels also count, find and multiply bits with these
// (block_classes_x86.h); every processor with AVX2 has them.
bool has_bit_instructions() noexcept {
  return __builtin_cpu_supports("bmi") && __builtin_cpu_supports("popcnt") &&
         __builtin_cpu_supports("pclmul");
}
}  // namespace
#endif

bool cpu_supports(Kernel kernel) noexcept {
  if (table_of(kernel) == nullptr) return false;
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  switch (kernel) {
    case Kernel::Scalar:
      return true;
    case Kernel::Sse2:
      return __builtin_cpu_supports("sse2");
    case Kernel::Avx2:
      return __builtin_cpu_supports("avx2") && has_bit_instructions();
    case Kernel::Avx512bw:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("bmi2") && has_bit_instructions();
  }
  return false;
#else
  return kernel == Kernel::Scalar;
#endif
}

Kernel best_kernel() noexcept {
  for (const Kernel kernel : {Kernel::Avx512bw, Kernel::Avx2, Kernel::Sse2}) {
    if (cpu_supports(kernel)) return kernel;
  }
  return Kernel::Scalar;
}

bool force_kernel_for_testing(Kernel kernel) noexcept {
  if (!cpu_supports(kernel)) return false;
  kernel_detail::active = table_of(kernel);
  kernel_detail::scalar = kernel == Kernel::Scalar;
  return true;
}

namespace {

// The choice is made once, as the engine is loaded.
[[maybe_unused]] const bool kChosen = [] {
  kernel_detail::active = table_of(best_kernel());
  return true;
}();

}  // namespace

}  // namespace vestle
