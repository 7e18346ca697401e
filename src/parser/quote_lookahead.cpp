// The closing-quote look-ahead with its cached search.
#include "parser/quote_lookahead.h"

#include <bit>
#include <cstdint>

#include "parser/byte_scan.h"
#include "parser/line_break.h"

namespace vestle {

std::size_t QuoteLookahead::skip_blanks(std::size_t i, BlankRun& memo) const noexcept {
  // Inside a known run every offset leads to the same first non-blank.
  if (i >= memo.from && i <= memo.to) return memo.to;
  std::size_t j = i;
  while (j < input_.size() && is_blank(static_cast<unsigned char>(input_[j]))) ++j;
  memo = {i, j};
  return j;
}

bool QuoteLookahead::quote_qualifies(std::size_t k) noexcept {
  std::size_t m = k + 1;
  if (m < input_.size() && is_blank(static_cast<unsigned char>(input_[m]))) {
    m = skip_blanks(m, after_later_);
  }
  return ends_field_at(m);
}

bool QuoteLookahead::better_quote_from(std::size_t j) noexcept {
  if (has_search_ && j >= search_from_ && j <= search_to_) return search_found_;

  const auto* bytes = reinterpret_cast<const unsigned char*>(input_.data());
  const std::size_t size = input_.size();
  std::size_t k = j;
  bool found = false;
  bool line_ended = false;
  // One block of `width` bytes at k, as bit masks with `bits` bits a byte:
  // tries the quotes that may qualify before the block's first line break,
  // lowest first, then moves k to the quote found, the break, or the next block.
  const auto step = [&](std::uint64_t quotes, std::uint64_t breaks, std::size_t width,
                        int bits) {
    if (breaks != 0) quotes &= (breaks & (~breaks + 1)) - 1;  // only those before the break
    for (; quotes != 0; quotes &= quotes - 1) {
      const std::size_t at = k + static_cast<std::size_t>(std::countr_zero(quotes) / bits);
      if (quote_qualifies(at)) {
        k = at;
        found = true;
        return;
      }
    }
    if (breaks != 0) {
      k += static_cast<std::size_t>(std::countr_zero(breaks) / bits);
      line_ended = true;
    } else {
      k += width;
    }
  };
  // A block per step: a quote may qualify only when the byte after it is a
  // blank, the delimiter or a line break.
  while (!found && !line_ended && size - k >= 65) {
    const ClosingQuoteCandidates::Masks masks = candidates_.block64(bytes + k);
    step(masks.quotes, masks.breaks, 64, 1);
  }
#if defined(__SSE2__)
  while (sse2_enabled() && !found && !line_ended && size - k >= 17) {
    const ClosingQuoteCandidates::Masks masks = candidates_.block16(bytes + k);
    step(masks.quotes, masks.breaks, 16, 1);
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    // Eight bytes per step, the same test.
    while (!found && !line_ended && size - k >= 9) {
      const ClosingQuoteCandidates::Masks masks = candidates_.word8(bytes + k);
      step(masks.quotes, masks.breaks, 8, 8);
    }
  }
  // The rest byte by byte; never looks past the line, and a quote byte that
  // is also LF or CR ends the line as well.
  for (; !found && !line_ended && k < size; ++k) {
    const auto b = bytes[k];
    if (b == kLf || b == kCr) break;
    if (b == quote_char_ && quote_qualifies(k)) {
      found = true;
      break;
    }
  }
  has_search_ = true;
  search_from_ = j;
  search_to_ = k;
  search_found_ = found;
  return found;
}

bool QuoteLookahead::closes_after_search(std::size_t p) noexcept {
  const std::size_t j = skip_blanks(p, after_candidate_);
  // Followed (after blanks) by the delimiter, a line break or the end.
  if (ends_field_at(j)) return true;
  // Followed by text: closes unless a later quote on the line ends better.
  return !better_quote_from(j);
}

}  // namespace vestle
