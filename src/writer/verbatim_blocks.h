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

VESTLE_BLOCKS_TARGET inline std::uint64_t prefix_xor_here(std::uint64_t bits) noexcept {
#if defined(VESTLE_BLOCKS_WIDE)
  return x86::prefix_xor_clmul(bits);
#else
  return prefix_xor_words(bits);
#endif
}

// Without popcnt, std::popcount is a library call that costs more than these
// few operations.
VESTLE_BLOCKS_TARGET inline std::size_t count_here(std::uint64_t bits) noexcept {
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

// What a block hands on to the next.
struct BlockCarry {
  std::uint64_t inside = 0;       // all ones when a quoted stretch goes on
  std::uint64_t quote = 0;        // 1 when the block ended with a quote
  std::uint64_t field_start = 1;  // 1 when a field starts at the next block
  std::uint64_t plain_run = 0;    // 1 when the addition below carries on
};

// `valid` bytes (at most 64) at `block`; `next` is the byte after them, or
// -1 when the window ends there.
VESTLE_BLOCKS_TARGET inline BlockRows classify_rows(const unsigned char* block, std::size_t valid,
                                                    int next, unsigned char quote,
                                                    unsigned char delimiter,
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
  carry.inside = (inside >> 63) != 0 ? ~std::uint64_t{0} : 0;
  const std::uint64_t opening = c.quote & inside;   // or the second of a doubled pair
  const std::uint64_t closing = c.quote & ~inside;  // or the first of a doubled pair
  const std::uint64_t delimiters = c.delimiter & ~inside;
  const std::uint64_t row_ends = c.lf & ~inside;
  const std::uint64_t field_starts = ((delimiters | row_ends) << 1) | carry.field_start;
  carry.field_start = (delimiters | row_ends) >> 63;
  const std::uint64_t after_quote = (c.quote << 1) | carry.quote;
  carry.quote = c.quote >> 63;
  const std::uint64_t last = std::uint64_t{1} << 63;
  const std::uint64_t before_quote = (c.quote >> 1) | (next == quote ? last : 0);
  const std::uint64_t before_field_end = ((c.delimiter | c.lf) >> 1) | before_quote |
                                         (next == delimiter || next == kLf ? last : 0);
  // A quoted field needs its quotes when it holds a delimiter, CR, LF or a
  // doubled quote. The sum carries from its opening quote through the bytes
  // that need none and stops at the first that does, or at the closing quote.
  const std::uint64_t plain = inside & ~(c.delimiter | c.lf | c.cr);
  const std::uint64_t sum = plain + (opening & field_starts);
  const std::uint64_t total = sum + carry.plain_run;
  carry.plain_run = (sum < plain || total < sum) ? 1 : 0;
  const std::uint64_t unneeded_quotes = total & ~plain & closing & ~before_quote;
  const std::uint64_t unusual = (opening & ~field_starts & ~after_quote) |
                                (closing & ~before_field_end) | unneeded_quotes |
                                (c.cr & ~inside);
  return {row_ends, delimiters, c.lf & inside, c.high, unusual};
}

VESTLE_BLOCKS_TARGET VerbatimRowScanner::Run scan_run_here(const Scan& scan, std::size_t from,
                                                           ByteScan by_bytes, void* context,
                                                           bool& has_high) noexcept {
  VerbatimRowScanner::Run run{from, 0, 0};
  has_high = false;
  // The row being read: where it starts, its delimiters and quoted LFs so far.
  std::size_t row_start = from;
  std::size_t delimiters = 0;
  std::size_t quoted_lf = 0;
  bool unusual = false;
  bool high = false;
  BlockCarry carry;
  std::size_t base = from;
  for (;;) {
    bool decide_by_bytes = base >= scan.size;  // no LF ends the row in the window
    if (!decide_by_bytes) {
      const std::size_t valid = scan.size - base < kBlock ? scan.size - base : kBlock;
      const unsigned char* block = scan.bytes + base;
      unsigned char last_block[kBlock] = {};
      if (valid < kBlock) {
        std::memcpy(last_block, block, valid);
        block = last_block;
      }
      const int next = base + kBlock < scan.size ? scan.bytes[base + kBlock] : -1;
      const BlockRows rows = classify_rows(block, valid, next, scan.quote, scan.delimiter, carry);
      std::uint64_t row_bits = row_start > base ? ~std::uint64_t{0} << (row_start - base)
                                                : ~std::uint64_t{0};
      for (std::uint64_t ends = rows.row_ends;; ends &= ends - 1) {
        // The bits of the row up to its LF, or to the block's end.
        const std::uint64_t upto = ends != 0 ? (ends ^ (ends - 1)) : ~std::uint64_t{0};
        const std::uint64_t part = row_bits & upto;
        delimiters += count_here(rows.delimiters & part);
        if ((rows.quoted_lf & part) != 0) quoted_lf += count_here(rows.quoted_lf & part);
        unusual = unusual || (rows.unusual & part) != 0;
        high = high || (rows.high & part) != 0;
        if (ends == 0) break;
        const std::size_t row_end = base + static_cast<std::size_t>(std::countr_zero(ends)) + 1;
        if (unusual || row_end - 1 == row_start ||
            (scan.fields != 0 && delimiters + 1 != scan.fields) ||
            (high && row_end > scan.valid_utf8_end)) {
          decide_by_bytes = true;
          break;
        }
        if (row_end - row_start >= scan.max_row_bytes) return run;
        ++run.rows;
        run.lines += 1 + quoted_lf;
        run.end = row_end;
        has_high = has_high || high;
        row_start = row_end;
        delimiters = 0;
        quoted_lf = 0;
        unusual = false;
        high = false;
        row_bits = row_end - base >= kBlock ? 0 : ~std::uint64_t{0} << (row_end - base);
      }
      if (!decide_by_bytes) {
        base += kBlock;
        continue;
      }
    }
    const ByteVerdict row = by_bytes(context, row_start);
    if (row.kind != ByteVerdict::Kind::Qualifies) {
      run.window_ended = row.kind == ByteVerdict::Kind::WindowEnded;
      return run;
    }
    if (row.end - row_start >= scan.max_row_bytes) return run;
    ++run.rows;
    run.lines += 1 + row.lf_inside;
    run.end = row.end;
    // The masks start afresh after it.
    row_start = row.end;
    base = row.end;
    delimiters = 0;
    quoted_lf = 0;
    unusual = false;
    high = false;
    carry = BlockCarry{};
  }
}

}  // namespace
}  // namespace vestle::verbatim_kernels
