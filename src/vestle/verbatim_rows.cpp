// Rows copied as they stand: a bit-mask scan over quotes, delimiters and line breaks.
#include "vestle/verbatim_rows.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "parser/byte_scan.h"
#include "parser/cpu_kernels.h"
#include "parser/line_break.h"
#include "parser/utf8.h"

namespace vestle {
namespace {

constexpr std::size_t kBlock = 64;

// Bit i set where an odd number of bits at i and below are set: with the
// quote mask, the bytes from an opening quote up to its closing quote.
constexpr std::uint64_t prefix_xor(std::uint64_t bits) noexcept {
  bits ^= bits << 1;
  bits ^= bits << 2;
  bits ^= bits << 4;
  bits ^= bits << 8;
  bits ^= bits << 16;
  bits ^= bits << 32;
  return bits;
}

// The SSE2 baseline has no population count instruction, and the library
// call std::popcount becomes there costs more than these few operations.
constexpr std::size_t count_bits(std::uint64_t bits) noexcept {
  bits -= (bits >> 1) & 0x5555555555555555ULL;
  bits = (bits & 0x3333333333333333ULL) + ((bits >> 2) & 0x3333333333333333ULL);
  bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
  return static_cast<std::size_t>((bits * 0x0101010101010101ULL) >> 56);
}

// What one block says about the rows in it, as bit masks.
struct BlockRows {
  std::uint64_t row_ends;    // LF outside quotes
  std::uint64_t delimiters;  // outside quotes
  std::uint64_t lf;          // every LF: each one is a line
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
BlockRows classify_rows(const unsigned char* block, std::size_t valid, int next,
                        unsigned char quote, unsigned char delimiter, BlockCarry& carry) noexcept {
  BlockClasses c{};
  kernels().classify_block(block, quote, delimiter, c);
  if (valid < kBlock) {
    const std::uint64_t in_window = (std::uint64_t{1} << valid) - 1;
    c.quote &= in_window;
    c.delimiter &= in_window;
    c.lf &= in_window;
    c.cr &= in_window;
    c.high &= in_window;
  }
  const std::uint64_t inside = prefix_xor(c.quote) ^ carry.inside;
  carry.inside = (inside >> 63) != 0 ? ~std::uint64_t{0} : 0;
  const std::uint64_t opening = c.quote & inside;  // or the second of a doubled pair
  const std::uint64_t closing = c.quote & ~inside;  // or the first of a doubled pair
  const std::uint64_t delimiters = c.delimiter & ~inside;
  const std::uint64_t row_ends = c.lf & ~inside;
  const std::uint64_t field_starts = ((delimiters | row_ends) << 1) | carry.field_start;
  carry.field_start = (delimiters | row_ends) >> 63;
  const std::uint64_t after_quote = (c.quote << 1) | carry.quote;
  carry.quote = c.quote >> 63;
  const auto is = [&](unsigned char b) { return next == b ? std::uint64_t{1} << 63 : 0; };
  const std::uint64_t before_quote = (c.quote >> 1) | is(quote);
  const std::uint64_t before_field_end =
      ((c.delimiter | c.lf) >> 1) | is(delimiter) | is(kLf) | before_quote;
  // A quoted field needs its quotes when it holds a delimiter, CR, LF or a
  // doubled quote. The sum carries from its opening quote through the bytes
  // that need none and stops at the first that does, or at the closing quote.
  const std::uint64_t plain = inside & ~(c.delimiter | c.lf | c.cr);
  const std::uint64_t starts = opening & field_starts;
  const std::uint64_t sum = plain + starts;
  const std::uint64_t total = sum + carry.plain_run;
  carry.plain_run = (sum < plain || total < sum) ? 1 : 0;
  const std::uint64_t stopped = total & ~plain;
  const std::uint64_t unneeded_quotes = stopped & closing & ~before_quote;
  const std::uint64_t unusual = (opening & ~field_starts & ~after_quote) |
                                (closing & ~before_field_end) | unneeded_quotes |
                                (c.cr & ~inside);
  return {row_ends, delimiters, c.lf, c.high, unusual};
}

}  // namespace

bool VerbatimRowScanner::usable(unsigned char delimiter, unsigned char quote) noexcept {
  const auto plain = [](unsigned char b) { return b < 0x80 && b != kLf && b != kCr; };
  return plain(delimiter) && plain(quote) && delimiter != quote;
}

VerbatimRowScanner::VerbatimRowScanner(unsigned char delimiter, unsigned char quote) noexcept
    : delimiter_(delimiter), quote_(quote) {}

// The quotes, delimiters and line breaks of one window, classified a block
// of 64 bytes at a time as the scan reaches it.
class VerbatimRowScanner::Stops {
 public:
  Stops(std::string_view window, unsigned char delimiter, unsigned char quote) noexcept
      : bytes_(reinterpret_cast<const unsigned char*>(window.data())),
        size_(window.size()),
        delimiter_(delimiter),
        quote_(quote) {}

  [[nodiscard]] const unsigned char* bytes() const noexcept { return bytes_; }
  [[nodiscard]] std::size_t size() const noexcept { return size_; }

  // Next quote, delimiter, CR or LF at or after `at`, or the window's size.
  [[nodiscard]] std::size_t next(std::size_t at) noexcept {
    for (;;) {
      if (at >= size_) return size_;
      const std::size_t base = at & ~(kBlock - 1);
      if (base != block_base_) load(base);
      const std::uint64_t ahead = block_stops_ & (~std::uint64_t{0} << (at - base));
      if (ahead != 0) return base + static_cast<std::size_t>(std::countr_zero(ahead));
      at = base + kBlock;
    }
  }

 private:
  void load(std::size_t base) noexcept {
    block_base_ = base;
    if (size_ - base >= kBlock) {
      block_stops_ = block_mask_of4(bytes_ + base, quote_, delimiter_, kLf, kCr);
      return;
    }
    // The window's last, partial block.
    std::uint64_t stops = 0;
    for (std::size_t i = 0; i < size_ - base; ++i) {
      const unsigned char b = bytes_[base + i];
      if (b == quote_ || b == delimiter_ || b == kLf || b == kCr) stops |= std::uint64_t{1} << i;
    }
    block_stops_ = stops;
  }

  const unsigned char* bytes_;
  std::size_t size_;
  unsigned char delimiter_;
  unsigned char quote_;
  std::size_t block_base_ = SIZE_MAX;  // none classified yet
  std::uint64_t block_stops_ = 0;
};

VerbatimRowScanner::Run VerbatimRowScanner::scan(std::string_view window, std::size_t from,
                                                 std::size_t fields,
                                                 std::size_t max_row_bytes) const noexcept {
  Stops stops(window, delimiter_, quote_);
  bool has_high = false;
  const Run run = scan_blocks(stops, from, fields, max_row_bytes, SIZE_MAX, has_high);
  if (!has_high) return run;
  // The run's text is validated at once; its rows end with LF, so each row
  // that ends by the end of the valid prefix is valid. The run then stops at
  // the first row that does not.
  const std::size_t valid_end = from + valid_utf8_prefix(window.substr(from, run.end - from));
  if (valid_end == run.end) return run;
  return scan_blocks(stops, from, fields, max_row_bytes, valid_end, has_high);
}

VerbatimRowScanner::Run VerbatimRowScanner::scan_blocks(Stops& stops, std::size_t from,
                                                        std::size_t fields,
                                                        std::size_t max_row_bytes,
                                                        std::size_t valid_utf8_end,
                                                        bool& has_high) const noexcept {
  const unsigned char* bytes = stops.bytes();
  const std::size_t size = stops.size();
  Run run{from, 0, 0};
  has_high = false;
  // The row being read: where it starts, its delimiters and LFs so far.
  std::size_t row_start = from;
  std::size_t delimiters = 0;
  std::size_t lines = 0;  // LFs inside its quoted fields
  bool unusual = false;
  bool high = false;
  BlockCarry carry;
  std::size_t base = from;
  // The row at `row_start` decided by the byte scan; false when it ends the
  // run. After it the masks start afresh.
  const auto take_by_bytes = [&] {
    const Row row = scan_row(stops, row_start, fields);
    if (row.verdict != Verdict::Qualifies) {
      run.window_ended = row.verdict == Verdict::WindowEnded;
      return false;
    }
    if (row.end - row_start >= max_row_bytes) return false;
    ++run.rows;
    run.lines += 1 + row.lf_inside;
    run.end = row.end;
    row_start = row.end;
    base = row.end;
    delimiters = 0;
    lines = 0;
    unusual = false;
    high = false;
    carry = BlockCarry{};
    return true;
  };
  for (;;) {
    if (base >= size) {
      // No LF ends the row in the window (by the masks).
      if (!take_by_bytes()) return run;
      continue;
    }
    const std::size_t valid = size - base < kBlock ? size - base : kBlock;
    const unsigned char* block = bytes + base;
    unsigned char last_block[kBlock] = {};
    if (valid < kBlock) {
      std::memcpy(last_block, block, valid);
      block = last_block;
    }
    const int next = base + kBlock < size ? bytes[base + kBlock] : -1;
    const BlockRows rows = classify_rows(block, valid, next, quote_, delimiter_, carry);
    std::uint64_t row_bits = row_start > base ? ~std::uint64_t{0} << (row_start - base)
                                              : ~std::uint64_t{0};
    bool restarted = false;
    for (std::uint64_t ends = rows.row_ends;; ends &= ends - 1) {
      // The bits of the row up to its LF, or to the block's end.
      const std::uint64_t upto = ends != 0 ? ((ends & (~ends + 1)) << 1) - 1 : ~std::uint64_t{0};
      const std::uint64_t part = row_bits & upto;
      delimiters += count_bits(rows.delimiters & part);
      if (const std::uint64_t quoted_lf = rows.lf & ~rows.row_ends & part; quoted_lf != 0) {
        lines += count_bits(quoted_lf);
      }
      unusual = unusual || (rows.unusual & part) != 0;
      high = high || (rows.high & part) != 0;
      if (ends == 0) break;
      const std::size_t row_end = base + static_cast<std::size_t>(std::countr_zero(ends)) + 1;
      const bool qualifies = !unusual && row_end - 1 != row_start &&
                             (fields == 0 || delimiters + 1 == fields) &&
                             (!high || row_end <= valid_utf8_end);
      if (!qualifies) {
        if (!take_by_bytes()) return run;
        restarted = true;
        break;
      }
      if (row_end - row_start >= max_row_bytes) return run;
      ++run.rows;
      run.lines += 1 + lines;
      run.end = row_end;
      has_high = has_high || high;
      row_start = row_end;
      delimiters = 0;
      lines = 0;
      unusual = false;
      high = false;
      row_bits = row_end - base >= kBlock ? 0 : ~std::uint64_t{0} << (row_end - base);
    }
    if (!restarted) base += kBlock;
  }
}

VerbatimRowScanner::Row VerbatimRowScanner::scan_row(Stops& stops, std::size_t from,
                                                     std::size_t fields) const noexcept {
  constexpr Row kDoesNot{Verdict::DoesNot};
  constexpr Row kWindowEnded{Verdict::WindowEnded};
  const unsigned char* bytes = stops.bytes();
  const std::size_t size = stops.size();
  Row row{Verdict::Qualifies};
  std::size_t seen = 0;  // fields finished
  std::size_t at = from;
  for (;;) {
    // At the start of a field.
    if (at >= size) return kWindowEnded;
    if (bytes[at] != quote_) {
      at = stops.next(at);
      if (at >= size) return kWindowEnded;
      const unsigned char b = bytes[at];
      ++seen;
      if (b == delimiter_) {
        ++at;
        continue;
      }
      if (b != kLf) return kDoesNot;  // a quote inside the field, or CR LF
      // A blank line is a row of one empty field, which is written as two quotes.
      if (at == from) return kDoesNot;
      row.end = at + 1;
      break;
    }
    // A quoted field: it must need its quotes.
    bool needs_quotes = false;
    std::size_t lf_inside = 0;
    ++at;
    for (;;) {
      at = stops.next(at);
      if (at + 1 >= size) return kWindowEnded;  // the quote or what follows it is not in the window
      const unsigned char b = bytes[at];
      if (b != quote_) {
        needs_quotes = true;
        if (b == kLf) ++lf_inside;
        ++at;
        continue;
      }
      const unsigned char next = bytes[at + 1];
      if (next == quote_) {
        needs_quotes = true;
        at += 2;
        continue;
      }
      // Quotes around a row's lone empty field are what the writer puts there.
      const bool lone_empty_field = at == from + 1 && next == kLf;
      if ((!needs_quotes && !lone_empty_field) || (next != delimiter_ && next != kLf)) {
        return kDoesNot;
      }
      at += 1;  // at the delimiter or LF that closes the field
      break;
    }
    row.lf_inside += lf_inside;
    ++seen;
    if (bytes[at] == delimiter_) {
      ++at;
      continue;
    }
    row.end = at + 1;
    break;
  }
  if (fields != 0 && seen != fields) return kDoesNot;
  const std::string_view text(reinterpret_cast<const char*>(bytes) + from, row.end - from);
  if (skip_ascii(bytes, from, row.end) != row.end && valid_utf8_prefix(text) != text.size()) {
    return kDoesNot;
  }
  return row;
}

}  // namespace vestle
