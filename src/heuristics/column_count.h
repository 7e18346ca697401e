// Infers the expected number of columns of a CSV text.
#pragma once

#include <cstddef>
#include <string_view>

#include "parser/quote_char.h"

namespace vestle {

class FieldCountTally;

// Non-blank rows the column count is inferred from.
inline constexpr std::size_t kRowsCounted = 100;

// The most frequent field count of `tally`, the first met among equals; 0
// when it is empty.
[[nodiscard]] std::size_t column_count_of(const FieldCountTally& tally) noexcept;

// The most frequent field count among the first 100 non-blank rows; 0 when
// there is none.
[[nodiscard]] std::size_t infer_column_count(std::string_view data, unsigned char delimiter,
                                             unsigned char quote_char = kDefaultQuoteChar);

}  // namespace vestle
