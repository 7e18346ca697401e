// Guesses the delimiter of a CSV text among ",", ";", tab and "|".
#pragma once

#include <cstddef>
#include <iterator>
#include <string_view>

#include "parser/quote_char.h"

namespace vestle {

// The candidates in tie-break order: an equal score keeps the earlier one.
inline constexpr unsigned char kDelimiterCandidates[] = {',', ';', '\t', '|'};
inline constexpr std::size_t kDelimiterCandidateCount = std::size(kDelimiterCandidates);

// The candidate with the best of `scores` (one per candidate, in order).
[[nodiscard]] unsigned char best_candidate(const double (&scores)[kDelimiterCandidateCount]) noexcept;

// Scores each candidate on up to 50 non-blank rows and returns the best.
// `quote_char` is the double quote everywhere except inside a repair run that
// was given another quote character.
[[nodiscard]] unsigned char sniff_delimiter(std::string_view sample,
                                            unsigned char quote_char = kDefaultQuoteChar);

}  // namespace vestle
