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

// Validation a block of 64 bytes at a time by `block_has_error`, which may
// read the 3 bytes before its block (the bytes before the input read as
// ASCII) and reports any ill-formed sequence ending in the block, or cut
// short by what follows it. The first block with an error is decided by the
// reference from the character before it on, so the result is the
// reference's.
using Utf8BlockCheck = bool (*)(const unsigned char* block) noexcept;
[[nodiscard]] std::size_t valid_utf8_prefix_in_blocks(const unsigned char* bytes, std::size_t size,
                                                      Utf8BlockCheck block_has_error) noexcept;

}  // namespace vestle::kernel_sets
