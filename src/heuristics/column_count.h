// Infers the expected number of columns of a CSV text.
#pragma once

#include <cstddef>
#include <string_view>

#include "heuristics/delimiter_sniffer.h"

namespace vestle {

// The most frequent field count among the first 100 non-blank rows; 0 when
// there is none.
[[nodiscard]] std::size_t infer_column_count(std::string_view data, unsigned char delimiter,
                                             unsigned char quote_char = kDefaultQuoteChar);

}  // namespace vestle
