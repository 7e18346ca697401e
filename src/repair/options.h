// Options of one repair run, filled by the caller.
#pragma once

#include <cstddef>
#include <optional>

#include "parser/quote_char.h"

namespace vestle {

struct VestleOptions {
  std::optional<unsigned char> delimiter;  // absent: sniffed
  unsigned char quote_char = kDefaultQuoteChar;
  bool fill_ragged_rows = true;
  bool merge_overflow = true;
  std::optional<std::size_t> expected_columns;  // absent: inferred; 0 keeps rows as parsed
  bool repair_quotes = true;
};

}  // namespace vestle
