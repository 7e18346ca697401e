// Rows copied as they stand: a bit-mask scan over quotes, delimiters and line breaks.
#include "vestle/verbatim_rows.h"

#include <bit>
#include <cstring>

#include "parser/byte_scan.h"
#include "parser/line_break.h"
#include "parser/utf8.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vestle {
namespace {

constexpr std::size_t kBlock = 64;

}  // namespace

bool VerbatimRowScanner::usable(unsigned char delimiter, unsigned char quote) noexcept {
  const auto plain = [](unsigned char b) { return b < 0x80 && b != kLf && b != kCr; };
  return plain(delimiter) && plain(quote) && delimiter != quote;
}

VerbatimRowScanner::VerbatimRowScanner(unsigned char delimiter, unsigned char quote) noexcept
    : delimiter_(delimiter), quote_(quote) {}

void VerbatimRowScanner::load_block(std::size_t base) noexcept {
  block_base_ = base;
  block_valid_ = true;
  std::uint64_t stops = 0;
  if (size_ - base >= kBlock) {
#if defined(__SSE2__)
    const __m128i q = _mm_set1_epi8(static_cast<char>(quote_));
    const __m128i d = _mm_set1_epi8(static_cast<char>(delimiter_));
    const __m128i lf = _mm_set1_epi8(static_cast<char>(kLf));
    const __m128i cr = _mm_set1_epi8(static_cast<char>(kCr));
    for (std::size_t i = 0; i < kBlock; i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes_ + base + i));
      const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, q), _mm_cmpeq_epi8(v, d)),
                                       _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)));
      stops |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hit))) << i;
    }
    block_stops_ = stops;
    return;
#endif
  }
  const std::size_t count = size_ - base < kBlock ? size_ - base : kBlock;
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char b = bytes_[base + i];
    if (b == quote_ || b == delimiter_ || b == kLf || b == kCr) stops |= std::uint64_t{1} << i;
  }
  block_stops_ = stops;
}

[[gnu::always_inline]] inline std::size_t VerbatimRowScanner::next_stop(std::size_t at) noexcept {
  for (;;) {
    if (at >= size_) return size_;
    const std::size_t base = at & ~(kBlock - 1);
    if (!block_valid_ || base != block_base_) load_block(base);
    const std::uint64_t ahead = block_stops_ & (~std::uint64_t{0} << (at - base));
    if (ahead != 0) return base + static_cast<std::size_t>(std::countr_zero(ahead));
    at = base + kBlock;
  }
}

VerbatimRowScanner::Run VerbatimRowScanner::scan(std::string_view window, std::size_t from,
                                                 std::size_t fields,
                                                 std::size_t max_row_bytes) noexcept {
  // The buffer behind a window is reused: what was classified for an earlier
  // call may describe other bytes at the same address.
  bytes_ = reinterpret_cast<const unsigned char*>(window.data());
  size_ = window.size();
  block_valid_ = false;
  Run run{from, 0, 0};
  for (;;) {
    const Row row = scan_row(run.end, fields);
    if (row.end == 0) {
      run.window_ended = row.window_ended;
      return run;
    }
    if (row.end - run.end >= max_row_bytes) return run;
    ++run.rows;
    run.lines += 1 + row.lf_inside;
    run.end = row.end;
  }
}

VerbatimRowScanner::Row VerbatimRowScanner::scan_row(std::size_t from, std::size_t fields) noexcept {
  Row row;
  constexpr Row kWindowEnded{0, 0, true};
  std::size_t seen = 0;  // fields finished
  std::size_t at = from;
  for (;;) {
    // At the start of a field.
    if (at >= size_) return kWindowEnded;
    if (bytes_[at] != quote_) {
      at = next_stop(at);
      if (at >= size_) return kWindowEnded;
      const unsigned char b = bytes_[at];
      ++seen;
      if (b == delimiter_) {
        ++at;
        continue;
      }
      if (b != kLf) return {};  // a quote inside the field, or CR LF
      // A blank line is a row of one empty field, which is written as two quotes.
      if (at == from) return {};
      row.end = at + 1;
      break;
    }
    // A quoted field: it must need its quotes.
    bool needs_quotes = false;
    std::size_t lf_inside = 0;
    ++at;
    for (;;) {
      at = next_stop(at);
      if (at + 1 >= size_) return kWindowEnded;  // the quote or what follows it is not in the window
      const unsigned char b = bytes_[at];
      if (b != quote_) {
        needs_quotes = true;
        if (b == kLf) ++lf_inside;
        ++at;
        continue;
      }
      const unsigned char next = bytes_[at + 1];
      if (next == quote_) {
        needs_quotes = true;
        at += 2;
        continue;
      }
      // Quotes around a row's lone empty field are what the writer puts there.
      const bool lone_empty_field = at == from + 1 && next == kLf;
      if ((!needs_quotes && !lone_empty_field) || (next != delimiter_ && next != kLf)) return {};
      at += 1;  // at the delimiter or LF that closes the field
      break;
    }
    row.lf_inside += lf_inside;
    ++seen;
    if (bytes_[at] == delimiter_) {
      ++at;
      continue;
    }
    row.end = at + 1;
    break;
  }
  if (fields != 0 && seen != fields) return {};
  const std::string_view text(reinterpret_cast<const char*>(bytes_) + from, row.end - from);
  if (skip_ascii(bytes_, from, row.end) != row.end && valid_utf8_prefix(text) != text.size()) {
    return {};
  }
  return row;
}

}  // namespace vestle
