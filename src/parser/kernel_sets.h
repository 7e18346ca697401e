// What the kernel files share: each kernel's table and the UTF-8 validation steps.
#pragma once

#include <cstddef>

#include "parser/cpu_kernels.h"

namespace vestle::kernel_sets {

extern const KernelTable kScalar;
extern const KernelTable kSse2;
// Present only where the compiler can target them (x86-64 with GCC or Clang).
extern const KernelTable* const kAvx2;
extern const KernelTable* const kAvx512bw;

// The reference validation, a character at a time after a word-at-a-time
// skip over ASCII; and the same with a sixteen-byte skip.
[[nodiscard]] std::size_t valid_utf8_prefix_scalar(const unsigned char* bytes,
                                                   std::size_t size) noexcept;
[[nodiscard]] std::size_t valid_utf8_prefix_sse2(const unsigned char* bytes,
                                                 std::size_t size) noexcept;

// Validation 64 bytes a block. `first_block_with_error` checks `count`
// blocks in place (it may read the 3 bytes before them) and gives the index
// of the first that holds the end of an ill-formed sequence, or one cut
// short by what follows it; `count` when none does. The input's first and
// last blocks are checked as copies, with zeros before and after, so that a
// character left open at the end is an error too. From the character that
// the first block with an error may complete, the reference decides, so the
// result is the reference's. Inputs shorter than a block take the SSE2 form.
using Utf8BlocksCheck = std::size_t (*)(const unsigned char* blocks, std::size_t count) noexcept;
[[nodiscard]] std::size_t valid_utf8_prefix_in_blocks(const unsigned char* bytes, std::size_t size,
                                                      Utf8BlocksCheck first_block_with_error) noexcept;

}  // namespace vestle::kernel_sets
