// The verbatim rows' mask scan built for AVX-512BW: classification, prefix XOR
// and bit counts inline, each one instruction or a few.
#include "parser/block_classes_x86.h"
#include "vestle/verbatim_kernels.h"

#if defined(VESTLE_HAS_X86_KERNELS)

#include <cstddef>
#include <cstdint>

#define VESTLE_BLOCKS_TARGET VESTLE_TARGET_AVX512

namespace vestle::verbatim_kernels {
namespace {

VESTLE_BLOCKS_TARGET inline BlockClasses classify_here(const unsigned char* block,
                                                       unsigned char quote,
                                                       unsigned char delimiter) noexcept {
  return x86::classify_block_avx512(block, quote, delimiter);
}

VESTLE_BLOCKS_TARGET inline std::uint64_t prefix_xor_here(std::uint64_t bits) noexcept {
  return x86::prefix_xor_clmul(bits);
}

VESTLE_BLOCKS_TARGET inline std::size_t count_here(std::uint64_t bits) noexcept {
  return static_cast<std::size_t>(__builtin_popcountll(bits));
}

}  // namespace
}  // namespace vestle::verbatim_kernels

#include "vestle/verbatim_blocks.h"

namespace vestle::verbatim_kernels {
const ScanRun kScanRunAvx512 = scan_run_here;
}  // namespace vestle::verbatim_kernels

#else

namespace vestle::verbatim_kernels {
const ScanRun kScanRunAvx512 = nullptr;
}  // namespace vestle::verbatim_kernels

#endif
