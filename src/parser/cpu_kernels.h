// The byte-classifying kernels, one set per instruction set, chosen once per process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vestle {

// The build targets SSE2; the wider sets are compiled for their own targets
// and used only where the processor has them.
enum class Kernel : unsigned char { Scalar, Sse2, Avx2, Avx512bw };

inline constexpr Kernel kAllKernels[] = {Kernel::Scalar, Kernel::Sse2, Kernel::Avx2,
                                         Kernel::Avx512bw};

[[nodiscard]] std::string_view kernel_name(Kernel kernel) noexcept;
[[nodiscard]] std::optional<Kernel> kernel_named(std::string_view name) noexcept;
// Whether this processor (and this build) can run `kernel`.
[[nodiscard]] bool cpu_supports(Kernel kernel) noexcept;
// The widest kernel this processor runs: what every process uses unless a
// test forces another.
[[nodiscard]] Kernel best_kernel() noexcept;

// One 64-byte block as bit masks, bit i for byte i.
struct BlockClasses {
  std::uint64_t quote;
  std::uint64_t delimiter;
  std::uint64_t lf;
  std::uint64_t cr;
  std::uint64_t high;  // bytes from 0x80 up
};

// Quotes that may close a quoted field (the next byte is a blank, the
// delimiter or a line break) and line breaks, of the 64 bytes at a block;
// the byte after the block is read too.
struct CandidateMasks {
  std::uint64_t quotes;
  std::uint64_t breaks;
};

// The entry points of one kernel.
struct KernelTable {
  Kernel kernel;
  // Bit i set where byte i of the 64 at `block` equals a, b, c or d.
  std::uint64_t (*block_mask_of4)(const unsigned char* block, unsigned char a, unsigned char b,
                                  unsigned char c, unsigned char d) noexcept;
  // Offset of the first byte in [from, size) that equals a, b, c or d, or `size`.
  std::size_t (*find_first_of4)(const unsigned char* bytes, std::size_t from, std::size_t size,
                                unsigned char a, unsigned char b, unsigned char c,
                                unsigned char d) noexcept;
  // Offset of the first byte in [from, size) other than `c`, or `size`.
  std::size_t (*skip_byte_run)(const unsigned char* bytes, std::size_t from, std::size_t size,
                               unsigned char c) noexcept;
  void (*classify_block)(const unsigned char* block, unsigned char quote, unsigned char delimiter,
                         BlockClasses& out) noexcept;
  CandidateMasks (*closing_quote_candidates)(const unsigned char* block, unsigned char delimiter,
                                             unsigned char quote) noexcept;
  // Length of the longest well-formed UTF-8 prefix of the `size` bytes at `bytes`.
  std::size_t (*valid_utf8_prefix)(const unsigned char* bytes, std::size_t size) noexcept;
};

namespace kernel_detail {
extern const KernelTable* active;
// Whether the scalar kernel is in use: the inline scans ask it on every call.
extern bool scalar;
}  // namespace kernel_detail

// The kernel in use. Before the process has looked at its processor it is
// the SSE2 one, which every x86-64 runs.
[[nodiscard]] inline const KernelTable& kernels() noexcept { return *kernel_detail::active; }

// Tests and benchmarks only: runs `kernel` from now on in this process.
// Refuses (false, nothing changed) a kernel the processor lacks.
[[nodiscard]] bool force_kernel_for_testing(Kernel kernel) noexcept;

}  // namespace vestle
