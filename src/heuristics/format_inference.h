// Settles delimiter and column count on the first rows of an input that arrives in windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "heuristics/field_count_tally.h"
#include "parser/field_count_sink.h"
#include "parser/resilient_parser.h"

namespace vestle {

// Gives the answers that sniff_delimiter and infer_column_count give over the
// whole input, while seeing it only as a growing or sliding window: every
// pass tallies complete rows only, so a window that ends inside a row, a
// quoted field or a look-ahead's line changes no count. One pass per
// delimiter candidate serves both heuristics, since they tokenise alike.
class FormatInference {
 public:
  // Only what is absent is inferred; `quote_char` as for the heuristics.
  FormatInference(std::optional<unsigned char> delimiter, std::optional<std::size_t> columns,
                  unsigned char quote_char);

  // Goes on over `window`, the input from `window_offset` on up to what has
  // been read; `at_end` says the window holds the rest of the input. Returns
  // true once both answers are settled (always when `at_end`).
  bool advance(std::string_view window, std::uint64_t window_offset, bool at_end);

  [[nodiscard]] bool settled() const noexcept;
  // Input offset from which the unsettled passes still need the input.
  [[nodiscard]] std::uint64_t needed_from() const noexcept;

  // Once settled.
  [[nodiscard]] unsigned char delimiter() const noexcept;
  [[nodiscard]] std::size_t columns() const noexcept;

  // A row that a pass has begun and not yet seen the end of: the one that
  // starts at `start`. A caller that finds it too long to wait for counts it
  // by other means and hands in the result.
  struct OpenRow {
    unsigned char delimiter;
    ParsePoint start;
  };
  [[nodiscard]] std::size_t pass_count() const noexcept { return passes_.size(); }
  // None when the pass is done.
  [[nodiscard]] std::optional<OpenRow> open_row(std::size_t pass) const;
  // The pass's open row ended with `counts`; its next row starts at `next_row`.
  void count_open_row(std::size_t pass, const FieldCountSink& counts, ParsePoint next_row);

 private:
  struct Pass {
    explicit Pass(unsigned char candidate) noexcept : delimiter(candidate) {}

    unsigned char delimiter;
    FieldCountTally scored;   // the first rows, for the delimiter's score
    FieldCountTally counted;  // the first rows, for the column count
    ParsePoint resume;
    // Set when `resume` lies inside a row: a long row is counted as it
    // streams past rather than held whole.
    std::optional<RowCheckpoint> inside_row;
    ParsePoint row_start;  // of the row `inside_row` is in
    bool done = false;
  };

  void advance_pass(Pass& pass, std::string_view window, std::uint64_t window_offset,
                    bool at_end);
  // Whether the window holds a line break from `start` on.
  [[nodiscard]] bool line_break_after(std::string_view window, std::uint64_t window_offset,
                                      std::size_t start) noexcept;
  // The window ended inside the row the parser was building, or before it:
  // where the pass goes on once the window is longer.
  static void wait_for_more(Pass& pass, const ResilientParser& parser, bool got_row,
                            bool resuming, std::uint64_t rest_offset);
  // Counts a complete row; true once the pass has all the rows it needs.
  [[nodiscard]] bool tally(Pass& pass, const FieldCountSink& row) const;
  // The pass over `delimiter`, which has one.
  [[nodiscard]] const Pass& pass_for(unsigned char delimiter) const noexcept;

  std::optional<unsigned char> given_delimiter_;
  std::optional<std::size_t> given_columns_;
  unsigned char quote_char_;
  std::size_t rows_scored_;   // 0 when the delimiter is given
  std::size_t rows_counted_;  // 0 when the column count is given
  std::vector<Pass> passes_;
  // Input offsets [from, to) known to hold no line break: the passes that
  // wait on one long row do not look through it again whenever the window
  // grows.
  struct Span {
    std::uint64_t from = 0;
    std::uint64_t to = 0;
  };
  Span no_line_break_;
};

}  // namespace vestle
