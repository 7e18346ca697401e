// Infers the expected number of columns of a CSV text.
#include "heuristics/column_count.h"

#include "heuristics/field_count_tally.h"

namespace vestle {

std::size_t column_count_of(const FieldCountTally& tally) noexcept {
  // Unlike the sniffer, a single column is a valid answer here.
  const auto mode = tally.mode(1);
  return mode ? mode->field_count : 0;
}

std::size_t infer_column_count(std::string_view data, unsigned char delimiter,
                               unsigned char quote_char) {
  return column_count_of(tally_field_counts(data, delimiter, quote_char, kRowsCounted));
}

}  // namespace vestle
