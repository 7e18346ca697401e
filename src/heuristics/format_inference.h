// Settles delimiter and column count on the first rows of an input that arrives in windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "heuristics/field_count_tally.h"
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

 private:
  struct Pass {
    unsigned char delimiter;
    FieldCountTally scored;   // the first rows, for the delimiter's score
    FieldCountTally counted;  // the first rows, for the column count
    ParsePoint resume;
    // Set when `resume` lies inside a row: a long row is counted as it
    // streams past rather than held whole.
    std::optional<RowCheckpoint> inside_row;
    bool done = false;
  };

  void advance_pass(Pass& pass, std::string_view window, std::uint64_t window_offset,
                    bool at_end) const;

  std::optional<unsigned char> given_delimiter_;
  std::optional<std::size_t> given_columns_;
  unsigned char quote_char_;
  std::size_t rows_scored_;   // 0 when the delimiter is given
  std::size_t rows_counted_;  // 0 when the column count is given
  std::vector<Pass> passes_;
};

}  // namespace vestle
