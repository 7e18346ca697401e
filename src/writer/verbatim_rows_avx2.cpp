// The verbatim rows' mask scan built for AVX2: classification, prefix XOR
// and bit counts inline, each one instruction or a few.
#include "parser/block_classes_x86.h"
#include "writer/verbatim_kernels.h"

#if defined(VESTLE_HAS_X86_KERNELS)

#define VESTLE_BLOCKS_TARGET VESTLE_TARGET_AVX2
#define VESTLE_BLOCKS_CLASSIFY x86::classify_block_avx2
#define VESTLE_BLOCKS_WIDE
#define VESTLE_BLOCKS_BATCH_AVX2
#include "writer/verbatim_blocks.h"

const vestle::verbatim_kernels::ScanRun vestle::verbatim_kernels::kScanRunAvx2 = scan_run_here;

#else

const vestle::verbatim_kernels::ScanRun vestle::verbatim_kernels::kScanRunAvx2 = nullptr;

#endif
