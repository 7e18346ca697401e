// Score of one delimiter candidate: how consistently and how widely it splits rows.
#pragma once

#include <cstddef>
#include <string_view>

#include "heuristics/field_count_tally.h"

namespace vestle {

// Non-blank rows a delimiter candidate is scored on.
inline constexpr std::size_t kRowsScored = 50;

// 0 for fewer than 2 rows or when no row has 2 or more fields; otherwise
// (f / n) * max(1, ln m) for the mode m among the counts of 2 or more fields,
// its frequency f and the n rows tallied (single-field rows included).
[[nodiscard]] double score_field_counts(const FieldCountTally& tally) noexcept;

// Scores `delimiter` on the first 50 non-blank rows of `sample`, parsed with
// `quote_char` and quote repair on.
[[nodiscard]] double score_delimiter(std::string_view sample, unsigned char delimiter,
                                     unsigned char quote_char);

}  // namespace vestle
