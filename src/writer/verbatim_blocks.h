// The mask scan of verbatim rows, compiled once per kernel. A kernel's source
// defines VESTLE_BLOCKS_TARGET (its target attribute, or nothing) and
// VESTLE_BLOCKS_CLASSIFY, the name of a function
//   BlockClasses classify(const unsigned char* block, unsigned char quote,
//                         unsigned char delimiter)
// built for that target; with VESTLE_BLOCKS_WIDE defined, prefix XOR and bit
// counts use the carry-less multiply and popcnt (block_classes_x86.h). Then
// it includes this file, once. Everything here has internal linkage, so no
// code built for one target can stand in for another's.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "parser/byte_scan.h"
#include "parser/cpu_kernels.h"
#include "parser/line_break.h"
#include "writer/verbatim_kernels.h"
#if defined(VESTLE_BLOCKS_WIDE)
#include "parser/block_classes_x86.h"
#endif

namespace vestle::verbatim_kernels {
namespace {

[[gnu::always_inline]] VESTLE_BLOCKS_TARGET inline std::uint64_t prefix_xor_here(
    std::uint64_t bits) noexcept {
#if defined(VESTLE_BLOCKS_WIDE)
  return x86::prefix_xor_clmul(bits);
#else
  return prefix_xor_words(bits);
#endif
}

// Without popcnt, std::popcount is a library call that costs more than these
// few operations.
[[gnu::always_inline]] VESTLE_BLOCKS_TARGET inline std::size_t count_here(
    std::uint64_t bits) noexcept {
#if defined(VESTLE_BLOCKS_WIDE)
  return static_cast<std::size_t>(__builtin_popcountll(bits));
#else
  bits -= (bits >> 1) & 0x5555555555555555ULL;
  bits = (bits & 0x3333333333333333ULL) + ((bits >> 2) & 0x3333333333333333ULL);
  bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
  return static_cast<std::size_t>((bits * 0x0101010101010101ULL) >> 56);
#endif
}

}  // namespace
}  // namespace vestle::verbatim_kernels

namespace vestle::verbatim_kernels {
namespace {

constexpr std::size_t kBlock = 64;

// What one block says about the rows in it, as bit masks.
struct BlockRows {
  std::uint64_t row_ends;    // LF outside quotes
  std::uint64_t delimiters;  // outside quotes
  std::uint64_t quoted_lf;   // LF inside quotes: a line, not a row end
  std::uint64_t high;
  std::uint64_t unusual;     // a row holding one of these is decided byte by byte
};

// Bit i set where bit i - 1 of the block's `bits` is, bit 0 from the
// previous block's top bit: one double shift.
inline std::uint64_t shifted_in(std::uint64_t bits, std::uint64_t previous) noexcept {
  return (bits << 1) | (previous >> 63);
}

// Adds with a carry in and out.
inline std::uint64_t add_carrying(std::uint64_t a, std::uint64_t b, std::uint64_t& carry) noexcept {
  const std::uint64_t partial = a + b;
  const std::uint64_t sum = partial + carry;
  carry = (partial < a || sum < partial) ? 1 : 0;
  return sum;
}

// What a block hands on to the next: its masks, whose top bits say what the
// byte before the next block was.
struct BlockCarry {
  std::uint64_t inside = 0;                       // all ones when a quoted stretch goes on
  std::uint64_t quotes = 0;
  std::uint64_t separators = std::uint64_t{1} << 63;  // delimiters and LFs: a field starts next
  std::uint64_t row_ends = std::uint64_t{1} << 63;    // a row starts next
  std::uint64_t closing = 0;
  std::uint64_t unneeded = 0;                     // closing quotes of fields that need none
  std::uint64_t plain_run = 0;                    // 1 when the addition below carries on
};

// `valid` bytes (at most 64) at `block`. What is wrong after a closing quote
// is marked on the byte after it, which is in the same row when the row ends
// in the window: so no block needs to look at the next.
VESTLE_BLOCKS_TARGET inline BlockRows classify_rows(const unsigned char* block, std::size_t valid,
                                                    unsigned char quote, unsigned char delimiter,
                                                    BlockCarry& carry) noexcept {
  BlockClasses c = VESTLE_BLOCKS_CLASSIFY(block, quote, delimiter);
  if (valid < kBlock) {
    const std::uint64_t in_window = (std::uint64_t{1} << valid) - 1;
    c.quote &= in_window;
    c.delimiter &= in_window;
    c.lf &= in_window;
    c.cr &= in_window;
    c.high &= in_window;
  }
  // From each opening quote up to its closing quote.
  const std::uint64_t inside = prefix_xor_here(c.quote) ^ carry.inside;
  const std::uint64_t opening = c.quote & inside;   // or the second of a doubled pair
  const std::uint64_t closing = c.quote & ~inside;  // or the first of a doubled pair
  const std::uint64_t row_ends = c.lf & ~inside;
  // The byte before an opening quote is outside quotes, so a delimiter or LF
  // there starts its field.
  const std::uint64_t separators = c.delimiter | c.lf;
  const std::uint64_t field_starts = shifted_in(separators, carry.separators);
  const std::uint64_t after_quote = shifted_in(c.quote, carry.quotes);
  // A quoted field needs its quotes when it holds a delimiter, CR, LF or a
  // doubled quote. The sum carries from its opening quote through the bytes
  // that need none and stops at the first that does, or at the closing quote.
  const std::uint64_t plain = inside & ~(separators | c.cr);
  const std::uint64_t total = add_carrying(plain, opening & field_starts, carry.plain_run);
  const std::uint64_t unneeded = total & ~plain & closing;  // unless a quote follows
  // A closing quote goes before a delimiter, LF or the quote that doubles it.
  const std::uint64_t after_unneeded = shifted_in(unneeded, carry.unneeded);
  const std::uint64_t not_after_closing =
      shifted_in(closing, carry.closing) & ~(c.quote | (separators & ~after_unneeded));
  const std::uint64_t unusual = (opening & ~(field_starts | after_quote)) | not_after_closing |
                                (c.cr & ~inside) |
                                (row_ends & shifted_in(row_ends, carry.row_ends));  // a blank line
  carry.inside = (inside >> 63) != 0 ? ~std::uint64_t{0} : 0;
  carry.quotes = c.quote;
  carry.separators = separators;
  carry.row_ends = row_ends;
  carry.closing = closing;
  carry.unneeded = unneeded;
  return {row_ends, c.delimiter & ~inside, c.lf & inside, c.high, unusual};
}

// The row being read: where it starts and what its bytes so far hold.
struct RowSoFar {
  std::size_t start;
  std::size_t delimiters = 0;
  std::size_t quoted_lf = 0;
  bool unusual = false;
  bool high = false;
};

// Bit k set at k * fields, for k * fields below 64 (bit 0 alone for rows
// wider than a block): where row ends fall among delimiters and row ends.
inline std::uint64_t every_nth_bit(std::size_t fields) noexcept {
  if (fields == 0) return 0;
  std::uint64_t bits = 0;
  for (std::size_t at = 0; at < kBlock; at += fields) bits |= std::uint64_t{1} << at;
  return bits;
}

// Whether each row that ends in the block (`ends`) has `fields` fields (at
// least one), given the block's delimiters up to its last row end and those
// the first row brought from earlier blocks. A block without row ends passes.
[[gnu::always_inline]] VESTLE_BLOCKS_TARGET inline bool rows_have_width(
    std::uint64_t ends, std::uint64_t delimiters, std::size_t carried, std::size_t fields,
    std::uint64_t nth_bits) noexcept {
#if defined(VESTLE_BLOCKS_PDEP)
  // Among delimiters and row ends in order, a row end every `fields` places,
  // the first after the delimiters carried in: that pattern, deposited on
  // them, is the row ends. Too many carried in wraps `shift` past the block,
  // where no row end may be.
  const std::size_t shift = fields - 1 - carried;
  const std::uint64_t pattern = shift < kBlock ? nth_bits << shift : 0;
  return _pdep_u64(pattern, delimiters | ends) == ends;
#else
  (void)nth_bits;
  std::uint64_t before = 0;  // bits of the rows already counted
  for (; ends != 0; ends &= ends - 1) {
    const std::uint64_t upto = ends ^ (ends - 1);
    if (carried + count_here(delimiters & upto & ~before) + 1 != fields) return false;
    carried = 0;
    before = upto;
  }
  return true;
#endif
}

#if defined(VESTLE_BLOCKS_BATCH_AVX512) || defined(VESTLE_BLOCKS_BATCH_AVX2)
#define VESTLE_BLOCKS_BATCH 1
// A batch of blocks classified at once, one block's mask to each 64-bit
// lane of a vector. The vector type's own operators stand in for the
// intrinsics that g++ 12 warns about.
#if defined(VESTLE_BLOCKS_BATCH_AVX512)
constexpr std::size_t kBatchBlocks = 8;
using Lanes = __v8du;

VESTLE_BLOCKS_TARGET inline Lanes as_lanes(__m512i vector) noexcept { return (Lanes)vector; }
VESTLE_BLOCKS_TARGET inline __m512i as_vector(Lanes lanes) noexcept { return (__m512i)lanes; }
VESTLE_BLOCKS_TARGET inline Lanes load_lanes(const std::uint64_t* from) noexcept {
  return as_lanes(_mm512_load_si512(from));
}
VESTLE_BLOCKS_TARGET inline void store_lanes(std::uint64_t* to, Lanes lanes) noexcept {
  _mm512_store_si512(to, as_vector(lanes));
}
// Lane j of the result is lane j - 1 of `lanes`, and lane 0 is `first`. In
// the masked form, as g++ 12 warns about the plain one's own code.
VESTLE_BLOCKS_TARGET inline Lanes lanes_before(Lanes lanes, std::uint64_t first) noexcept {
  return as_lanes(_mm512_mask_alignr_epi64(as_vector(lanes), 0xFF, as_vector(lanes),
                                           _mm512_set1_epi64(static_cast<long long>(first)), 7));
}
VESTLE_BLOCKS_TARGET inline unsigned nonzero_lanes(Lanes lanes) noexcept {
  return _mm512_test_epi64_mask(as_vector(lanes), as_vector(lanes));
}
VESTLE_BLOCKS_TARGET inline unsigned all_ones_lanes(Lanes lanes) noexcept {
  return _mm512_cmpeq_epi64_mask(as_vector(lanes), _mm512_set1_epi64(-1));
}
// The lanes where `a` is below `b`, unsigned.
VESTLE_BLOCKS_TARGET inline unsigned below_lanes(Lanes a, Lanes b) noexcept {
  return _mm512_cmplt_epu64_mask(as_vector(a), as_vector(b));
}
// All ones in the lanes whose bit is set in `lanes`, else zero.
VESTLE_BLOCKS_TARGET inline Lanes lanes_where(unsigned lanes) noexcept {
  return as_lanes(_mm512_maskz_mov_epi64(static_cast<__mmask8>(lanes), _mm512_set1_epi64(-1)));
}
// `values` plus one in the lanes whose bit is set in `lanes`.
VESTLE_BLOCKS_TARGET inline Lanes plus_one_where(Lanes values, unsigned lanes) noexcept {
  return as_lanes(_mm512_mask_sub_epi64(as_vector(values), static_cast<__mmask8>(lanes),
                                        as_vector(values), _mm512_set1_epi64(-1)));
}
// The lanes whose top bit is set.
VESTLE_BLOCKS_TARGET inline unsigned top_bits(Lanes lanes) noexcept {
  return _mm512_test_epi64_mask(as_vector(lanes),
                                _mm512_set1_epi64(static_cast<long long>(std::uint64_t{1} << 63)));
}
#else
constexpr std::size_t kBatchBlocks = 4;
using Lanes = __v4du;

VESTLE_BLOCKS_TARGET inline Lanes as_lanes(__m256i vector) noexcept { return (Lanes)vector; }
VESTLE_BLOCKS_TARGET inline __m256i as_vector(Lanes lanes) noexcept { return (__m256i)lanes; }
VESTLE_BLOCKS_TARGET inline Lanes load_lanes(const std::uint64_t* from) noexcept {
  return as_lanes(_mm256_load_si256(reinterpret_cast<const __m256i*>(from)));
}
VESTLE_BLOCKS_TARGET inline void store_lanes(std::uint64_t* to, Lanes lanes) noexcept {
  _mm256_store_si256(reinterpret_cast<__m256i*>(to), as_vector(lanes));
}
VESTLE_BLOCKS_TARGET inline Lanes lanes_before(Lanes lanes, std::uint64_t first) noexcept {
  const __m256i rotated = _mm256_permute4x64_epi64(as_vector(lanes), 0x93);  // 3, 0, 1, 2
  return as_lanes(
      _mm256_blend_epi32(rotated, _mm256_set1_epi64x(static_cast<long long>(first)), 0x03));
}
VESTLE_BLOCKS_TARGET inline unsigned sign_lanes(__m256i lanes) noexcept {
  return static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(lanes)));
}
VESTLE_BLOCKS_TARGET inline unsigned nonzero_lanes(Lanes lanes) noexcept {
  return ~sign_lanes(_mm256_cmpeq_epi64(as_vector(lanes), _mm256_setzero_si256())) & 0xF;
}
VESTLE_BLOCKS_TARGET inline unsigned all_ones_lanes(Lanes lanes) noexcept {
  return sign_lanes(_mm256_cmpeq_epi64(as_vector(lanes), _mm256_set1_epi64x(-1)));
}
VESTLE_BLOCKS_TARGET inline unsigned below_lanes(Lanes a, Lanes b) noexcept {
  const Lanes sign = {std::uint64_t{1} << 63, std::uint64_t{1} << 63, std::uint64_t{1} << 63,
                      std::uint64_t{1} << 63};
  return sign_lanes(_mm256_cmpgt_epi64(as_vector(b ^ sign), as_vector(a ^ sign)));
}
VESTLE_BLOCKS_TARGET inline Lanes lanes_where(unsigned lanes) noexcept {
  const Lanes bit = {1, 2, 4, 8};
  const Lanes chosen = Lanes{lanes, lanes, lanes, lanes} & bit;
  return as_lanes(_mm256_cmpeq_epi64(as_vector(chosen), as_vector(bit)));
}
VESTLE_BLOCKS_TARGET inline Lanes plus_one_where(Lanes values, unsigned lanes) noexcept {
  return values - lanes_where(lanes);  // all ones is minus one
}
VESTLE_BLOCKS_TARGET inline unsigned top_bits(Lanes lanes) noexcept {
  return sign_lanes(as_vector(lanes));
}
#endif

// Bit i of each lane set where bit i - 1 is; bit 0 of lane j from the top
// bit of lane j - 1, and of lane 0 from `previous`.
VESTLE_BLOCKS_TARGET inline Lanes shifted_in_lanes(Lanes bits, std::uint64_t previous) noexcept {
  return (bits << 1) | (lanes_before(bits, previous) >> 63);
}

// classify_rows' masks of a batch, a block to a lane, and what each block
// hands on to the next.
struct BatchRows {
  alignas(64) std::uint64_t quote[kBatchBlocks];
  alignas(64) std::uint64_t delimiter[kBatchBlocks];
  alignas(64) std::uint64_t lf[kBatchBlocks];
  alignas(64) std::uint64_t cr[kBatchBlocks];
  alignas(64) std::uint64_t high[kBatchBlocks];
  alignas(64) std::uint64_t row_ends[kBatchBlocks];
  alignas(64) std::uint64_t delimiters[kBatchBlocks];
  alignas(64) std::uint64_t quoted_lf[kBatchBlocks];
  alignas(64) std::uint64_t unusual[kBatchBlocks];
  alignas(64) std::uint64_t separators[kBatchBlocks];
  alignas(64) std::uint64_t closing[kBatchBlocks];
  alignas(64) std::uint64_t unneeded[kBatchBlocks];
  unsigned unusual_blocks;    // bit j: block j has unusual bytes
  unsigned quoted_lf_blocks;  // bit j: block j has LFs inside quotes
  unsigned inside_at_end;     // bit j: block j ends inside quotes
  unsigned plain_run_out;     // bit j: the plain-run addition carries out of block j

  [[nodiscard]] BlockRows block(std::size_t j) const noexcept {
    return {row_ends[j], delimiters[j], quoted_lf[j], high[j], unusual[j]};
  }
  // Block j, known to have no unusual bytes: a constant the compiler folds.
  [[nodiscard]] BlockRows usual_block(std::size_t j) const noexcept {
    return {row_ends[j], delimiters[j], quoted_lf[j], high[j], 0};
  }
  [[nodiscard]] BlockCarry carry_after(std::size_t j) const noexcept {
    return {((inside_at_end >> j) & 1) != 0 ? ~std::uint64_t{0} : 0,
            quote[j],
            separators[j],
            row_ends[j],
            closing[j],
            unneeded[j],
            (plain_run_out >> j) & 1};
  }
};

// The byte classes of the full blocks of a batch at `blocks`.
VESTLE_BLOCKS_TARGET inline void compare_batch(const unsigned char* blocks, unsigned char quote,
                                               unsigned char delimiter, BatchRows& out) noexcept {
  for (std::size_t j = 0; j < kBatchBlocks; ++j) {
    const BlockClasses c = VESTLE_BLOCKS_CLASSIFY(blocks + j * kBlock, quote, delimiter);
    out.quote[j] = c.quote;
    out.delimiter[j] = c.delimiter;
    out.lf[j] = c.lf;
    out.cr[j] = c.cr;
    out.high[j] = c.high;
  }
}

// classify_rows of a compared batch, lane by lane: the same masks, and each
// lane's carry into the next.
VESTLE_BLOCKS_TARGET inline void classify_batch(const BlockCarry& carry, BatchRows& out) noexcept {
  constexpr unsigned kAllLanes = (1U << kBatchBlocks) - 1;
  // The masks come back as lanes through memory, cheaper than lane inserts
  // once the stores are done: a batch is compared one ahead.
  const Lanes q = load_lanes(out.quote);
  const Lanes d = load_lanes(out.delimiter);
  const Lanes lf = load_lanes(out.lf);
  const Lanes cr = load_lanes(out.cr);
  // Prefix XOR within each lane, then flipped in the lanes that start inside
  // quotes: after an odd number of quotes in the lanes before.
  Lanes inside = q ^ (q << 1);
  inside ^= inside << 2;
  inside ^= inside << 4;
  inside ^= inside << 8;
  inside ^= inside << 16;
  inside ^= inside << 32;
  unsigned starts_inside = (top_bits(inside) << 1) | static_cast<unsigned>(carry.inside & 1);
  for (unsigned shift = 1; shift < kBatchBlocks; shift *= 2) starts_inside ^= starts_inside << shift;
  inside ^= lanes_where(starts_inside & kAllLanes);
  out.inside_at_end = top_bits(inside);
  const Lanes opening = q & inside;
  const Lanes closing = q & ~inside;
  const Lanes row_ends = lf & ~inside;
  const Lanes separators = d | lf;
  const Lanes field_starts = shifted_in_lanes(separators, carry.separators);
  const Lanes after_quote = shifted_in_lanes(q, carry.quotes);
  const Lanes plain = inside & ~(separators | cr);
  // classify_rows' addition over the whole batch: the lanes' sums, then a
  // carry into each lane that the one before makes, or passes on when all ones.
  const Lanes sum = plain + (opening & field_starts);
  const unsigned made = below_lanes(sum, plain);
  const unsigned passed_on = all_ones_lanes(sum);
  const unsigned injected = (made << 1) | static_cast<unsigned>(carry.plain_run);
  const unsigned carried_in = ((injected + passed_on) ^ passed_on) | injected;
  out.plain_run_out = (carried_in >> 1) & kAllLanes;
  const Lanes total = plus_one_where(sum, carried_in & kAllLanes);
  const Lanes unneeded = total & ~plain & closing;
  const Lanes after_unneeded = shifted_in_lanes(unneeded, carry.unneeded);
  const Lanes not_after_closing =
      shifted_in_lanes(closing, carry.closing) & ~(q | (separators & ~after_unneeded));
  const Lanes blank_lines = row_ends & shifted_in_lanes(row_ends, carry.row_ends);
  const Lanes unusual = (opening & ~(field_starts | after_quote)) | not_after_closing |
                        (cr & ~inside) | blank_lines;
  store_lanes(out.row_ends, row_ends);
  store_lanes(out.delimiters, d & ~inside);
  store_lanes(out.quoted_lf, lf & inside);
  store_lanes(out.unusual, unusual);
  store_lanes(out.separators, separators);
  store_lanes(out.closing, closing);
  store_lanes(out.unneeded, unneeded);
  out.unusual_blocks = nonzero_lanes(unusual);
  out.quoted_lf_blocks = nonzero_lanes(lf & inside);
}
#endif

// Takes block after block, from `base`, as long as every row that ends in
// one qualifies by its masks alone: nothing unusual, each row's width, none
// too long (checked only when `kLongRows`: a window can hold a row that
// long), none past the valid UTF-8. Then no branch depends on where rows
// end. With AVX2 and AVX-512 the blocks are classified four or eight at a
// time, each a lane of the vector unit. Returns true when it stopped at a
// block it classified: `stopped` holds that block's masks, `carry` is past
// it, and `row` and `run` are as the row-by-row scan keeps them before it.
// Not inlined, so that its few values stay in registers.
template <bool kLongRows>
[[gnu::noinline]] VESTLE_BLOCKS_TARGET bool take_ordinary_blocks(
    const Scan& scan, std::uint64_t nth_bits, std::size_t& base_io, BlockCarry& carry_io,
    RowSoFar& row, VerbatimRowScanner::Run& run, bool& has_high, BlockRows& stopped) noexcept {
  // A row after the first in a block is shorter than a block.
  if (row.unusual || (kLongRows && scan.max_row_bytes <= 2 * kBlock)) return false;
  const unsigned char* const bytes = scan.bytes;
  const std::size_t limit = scan.size < scan.valid_utf8_end ? scan.size : scan.valid_utf8_end;
  const std::size_t fields = scan.fields;
  BlockCarry carry = carry_io;
  std::size_t base = base_io;
  std::size_t row_start = row.start;
  std::size_t delimiters = row.delimiters;
  std::size_t quoted_lf = row.quoted_lf;
  std::uint64_t high = 0;  // any high byte: a row that has none is only validated for nothing
  std::size_t rows = 0;
  std::size_t extra_lines = 0;
  // Takes the block at `base` when its rows qualify. Selected by masks, not
  // branches: where rows end is what the data decides.
  const auto take = [&](const BlockRows& b) VESTLE_BLOCKS_TARGET __attribute__((always_inline)) {
    const std::uint64_t ends = b.row_ends;
    const bool some_end = ends != 0;
    const std::uint64_t ended = std::uint64_t{0} - std::uint64_t{some_end};  // all ones or none
    // `| 1` spares a branch for a block without row ends, whose result goes unused.
    const std::size_t leading = static_cast<std::size_t>(std::countl_zero(ends | 1));
    const std::uint64_t through_last = (~std::uint64_t{0} >> leading) & ended;
    const std::uint64_t after = ~through_last;
    bool fits = fields == 0 ||
                rows_have_width(ends, b.delimiters & through_last, delimiters, fields, nth_bits);
    if constexpr (kLongRows) {
      const std::size_t first_end = base + static_cast<std::size_t>(std::countr_zero(ends)) + 1;
      fits = fits && first_end - row_start < scan.max_row_bytes;
    }
    if ((b.unusual != 0) | (some_end & !fits)) return false;
    rows += count_here(ends);
    // LFs inside quotes are lines too; few rows have them.
    if ((b.quoted_lf | quoted_lf) != 0) [[unlikely]] {
      extra_lines += (quoted_lf + count_here(b.quoted_lf & through_last)) & ended;
      quoted_lf = count_here(b.quoted_lf & after) + (quoted_lf & ~ended);
    }
    row_start = some_end ? base + kBlock - leading : row_start;
    delimiters = count_here(b.delimiters & after) + (delimiters & ~ended);
    high |= b.high;
    return true;
  };
  bool stopped_here = false;
#if defined(VESTLE_BLOCKS_BATCH)
  constexpr std::size_t kBatchBytes = kBatchBlocks * kBlock;
  BatchRows batches[2];
  std::size_t current = 0;
  bool next_compared = false;  // by the turn before
  while (!stopped_here && base + kBatchBytes <= limit) {
    if (!next_compared) compare_batch(bytes + base, scan.quote, scan.delimiter, batches[current]);
    next_compared = base + 2 * kBatchBytes <= limit;
    if (next_compared) {
      compare_batch(bytes + base + kBatchBytes, scan.quote, scan.delimiter, batches[current ^ 1]);
    }
    BatchRows& batch = batches[current];
    current ^= 1;
    classify_batch(carry, batch);
    const unsigned before_unusual = static_cast<unsigned>(
        std::countr_zero(batch.unusual_blocks | (1U << kBatchBlocks)));
    std::size_t j = 0;
    if (!kLongRows && fields != 0 && quoted_lf == 0 &&
        (batch.quoted_lf_blocks & ((1U << before_unusual) - 1)) == 0) {
      // The common case, with less to keep: rows of one line each, checked
      // for width alone. A block without row ends passes the check as it is.
      for (; j < before_unusual; ++j, base += kBlock) {
        const std::uint64_t ends = batch.row_ends[j];
        const std::uint64_t block_delimiters = batch.delimiters[j];
        const std::uint64_t ended = std::uint64_t{0} - std::uint64_t{ends != 0};
        const std::size_t leading = static_cast<std::size_t>(std::countl_zero(ends | 1));
        const std::uint64_t through_last = (~std::uint64_t{0} >> leading) & ended;
        if (!rows_have_width(ends, block_delimiters & through_last, delimiters, fields,
                             nth_bits)) {
          break;
        }
        rows += count_here(ends);
        row_start = ends != 0 ? base + kBlock - leading : row_start;
        delimiters = count_here(block_delimiters & ~through_last) + (delimiters & ~ended);
        high |= batch.high[j];
      }
      // Where it stopped early, the general loop decides the block.
    }
    for (; j < kBatchBlocks; ++j, base += kBlock) {
      if (j == before_unusual || !take(batch.usual_block(j))) {
        stopped = batch.block(j);
        stopped_here = true;
        break;
      }
    }
    carry = batch.carry_after(j < kBatchBlocks ? j : kBatchBlocks - 1);
  }
#endif
  for (; !stopped_here && base + kBlock <= limit; base += kBlock) {
    const BlockRows b = classify_rows(bytes + base, kBlock, scan.quote, scan.delimiter, carry);
    if (!take(b)) {
      stopped = b;
      stopped_here = true;
      break;
    }
  }
  carry_io = carry;
  base_io = base;
  run.rows += rows;
  run.lines += rows + extra_lines;
  run.end = rows != 0 ? row_start : run.end;
  const bool any_high = high != 0;
  row = RowSoFar{row_start, delimiters, quoted_lf, false, row.high || any_high};
  has_high = has_high || any_high;
  return stopped_here;
}

VESTLE_BLOCKS_TARGET VerbatimRowScanner::Run scan_run_here(const Scan& scan_in, std::size_t from,
                                                           ByteScan by_bytes, void* context,
                                                           bool& has_high) noexcept {
  // A copy the compiler can keep in registers across the byte scan's calls.
  const Scan scan = scan_in;
  const std::uint64_t nth_bits = every_nth_bit(scan.fields);
  const bool long_rows = scan.size - from >= scan.max_row_bytes;
  VerbatimRowScanner::Run run{from, 0, 0};
  has_high = false;
  RowSoFar row{from};
  BlockCarry carry;
  std::size_t base = from;
  for (;;) {
    BlockRows rows;
    const bool classified =
        long_rows ? take_ordinary_blocks<true>(scan, nth_bits, base, carry, row, run, has_high, rows)
                  : take_ordinary_blocks<false>(scan, nth_bits, base, carry, row, run, has_high,
                                                rows);
    bool decide_by_bytes = !classified && base >= scan.size;  // no LF ends the row in the window
    if (!decide_by_bytes) {
      if (!classified) {
        const std::size_t valid = scan.size - base < kBlock ? scan.size - base : kBlock;
        const unsigned char* block = scan.bytes + base;
        unsigned char last_block[kBlock];
        if (valid < kBlock) {
          std::memset(last_block, 0, kBlock);
          std::memcpy(last_block, block, valid);
          block = last_block;
        }
        rows = classify_rows(block, valid, scan.quote, scan.delimiter, carry);
      }
      // The open row starts at or before the block; later ones where the last ended.
      std::uint64_t row_bits = ~std::uint64_t{0};
      for (std::uint64_t ends = rows.row_ends;; ends &= ends - 1) {
        // The bits of the row up to its LF, or to the block's end.
        const std::uint64_t upto = ends != 0 ? (ends ^ (ends - 1)) : ~std::uint64_t{0};
        const std::uint64_t part = row_bits & upto;
        row.delimiters += count_here(rows.delimiters & part);
        if ((rows.quoted_lf & part) != 0) row.quoted_lf += count_here(rows.quoted_lf & part);
        row.unusual = row.unusual || (rows.unusual & part) != 0;
        row.high = row.high || (rows.high & part) != 0;
        if (ends == 0) break;
        const std::size_t row_end = base + static_cast<std::size_t>(std::countr_zero(ends)) + 1;
        // A blank line is among the unusual bytes.
        if (row.unusual || (scan.fields != 0 && row.delimiters + 1 != scan.fields) ||
            (row.high && row_end > scan.valid_utf8_end)) {
          decide_by_bytes = true;
          break;
        }
        if (row_end - row.start >= scan.max_row_bytes) return run;
        ++run.rows;
        run.lines += 1 + row.quoted_lf;
        run.end = row_end;
        has_high = has_high || row.high;
        row = RowSoFar{row_end};
        row_bits = row_end - base >= kBlock ? 0 : ~std::uint64_t{0} << (row_end - base);
      }
      if (!decide_by_bytes) {
        base += kBlock;
        continue;
      }
    }
    const ByteVerdict verdict = by_bytes(context, row.start);
    if (verdict.kind != ByteVerdict::Kind::Qualifies) {
      run.window_ended = verdict.kind == ByteVerdict::Kind::WindowEnded;
      return run;
    }
    if (verdict.end - row.start >= scan.max_row_bytes) return run;
    ++run.rows;
    run.lines += 1 + verdict.lf_inside;
    run.end = verdict.end;
    // The masks start afresh after it.
    row = RowSoFar{verdict.end};
    base = verdict.end;
    carry = BlockCarry{};
  }
}

}  // namespace
}  // namespace vestle::verbatim_kernels
