// The verbatim rows' mask scan built for AVX-512BW: classification, prefix XOR
// and bit counts inline, each one instruction or a few. Blocks of several rows
// are checked with one bit deposit, fast on every processor with AVX-512
// (some with AVX2 alone run it in microcode, so that build goes row by row).
#include "parser/block_classes_x86.h"
#include "writer/verbatim_kernels.h"

#if defined(VESTLE_HAS_X86_KERNELS)

#define VESTLE_BLOCKS_TARGET VESTLE_TARGET_AVX512
#define VESTLE_BLOCKS_CLASSIFY x86::classify_block_avx512
#define VESTLE_BLOCKS_WIDE
#define VESTLE_BLOCKS_PDEP
#define VESTLE_BLOCKS_BATCH_AVX512
#include "writer/verbatim_blocks.h"

const vestle::verbatim_kernels::ScanRun vestle::verbatim_kernels::kScanRunAvx512 = scan_run_here;

#else

const vestle::verbatim_kernels::ScanRun vestle::verbatim_kernels::kScanRunAvx512 = nullptr;

#endif
