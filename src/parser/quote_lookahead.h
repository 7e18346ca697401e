// Decides whether a quote inside a quoted field closes it (stray-quote repair).
#pragma once

#include <cstddef>
#include <string_view>

#include "parser/byte_scan.h"
#include "parser/line_break.h"

namespace vestle {

// With quote repair on, a quote followed by ordinary text closes its field
// only when no later quote on the same line is followed, after blanks, by the
// delimiter, a line break or the end of the input.
//
// Whether such a later quote exists from offset j on depends on j alone, so
// the last search is remembered: every query inside an already scanned range
// is answered at once. Queries come with rising offsets, which keeps the total
// work linear in the input, even for a long line full of stray quotes.
class QuoteLookahead {
 public:
  QuoteLookahead(std::string_view input, unsigned char delimiter, unsigned char quote_char) noexcept
      : input_(input),
        delimiter_(delimiter),
        quote_char_(quote_char),
        candidates_(delimiter, quote_char) {}

  // `p` is the offset just after a quote inside a quoted field whose next
  // byte is not a quote. Only reads the input.
  [[nodiscard]] bool is_closing_quote(std::size_t p) noexcept {
    // Most stray quotes are followed by text inside the last search's range.
    if (has_search_ && p >= search_from_ && p <= search_to_ && p < input_.size()) {
      const auto b = static_cast<unsigned char>(input_[p]);
      if (!is_blank(b) && !ends_field_with(b)) return !search_found_;
    }
    return closes_after_search(p);
  }

  // Right after `is_closing_quote` said false: the offset of the quote that
  // makes the better end. Every quote between the one under test and this
  // one is stray as well (or doubled), so none of them needs a query.
  [[nodiscard]] std::size_t better_quote() const noexcept { return search_to_; }

 private:
  // A run of blanks [from, to) with `to` the first non-blank offset (or the end).
  struct BlankRun {
    std::size_t from = 1;
    std::size_t to = 0;  // empty: matches nothing
  };

  [[nodiscard]] bool is_blank(unsigned char b) const noexcept {
    return (b == ' ' || b == '\t') && b != delimiter_;
  }
  [[nodiscard]] bool ends_field_with(unsigned char b) const noexcept {
    return b == delimiter_ || is_line_break(b);
  }
  // True at the end of the input or at a delimiter, LF or CR.
  [[nodiscard]] bool ends_field_at(std::size_t i) const noexcept {
    return i >= input_.size() || ends_field_with(static_cast<unsigned char>(input_[i]));
  }
  [[nodiscard]] bool closes_after_search(std::size_t p) noexcept;
  [[nodiscard]] std::size_t skip_blanks(std::size_t i, BlankRun& memo) const noexcept;
  // Is the quote at k followed, after blanks, by what ends a field?
  [[nodiscard]] bool quote_qualifies(std::size_t k) noexcept;
  // Is there a quote at k >= j on j's line that ends a field after blanks?
  [[nodiscard]] bool better_quote_from(std::size_t j) noexcept;

  std::string_view input_;
  unsigned char delimiter_;
  unsigned char quote_char_;
  ClosingQuoteCandidates candidates_;

  // The last search: it started at `search_from_` and either found its first
  // qualifying quote at `search_to_`, or met none before the line end at
  // `search_to_`. Valid for every start in [search_from_, search_to_].
  bool has_search_ = false;
  std::size_t search_from_ = 0;
  std::size_t search_to_ = 0;
  bool search_found_ = false;

  BlankRun after_candidate_;  // blanks right after the quote under test
  BlankRun after_later_;      // blanks after quotes met by the search
};

}  // namespace vestle
