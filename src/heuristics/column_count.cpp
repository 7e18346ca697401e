// Infers the expected number of columns of a CSV text.
#include "heuristics/column_count.h"

#include "heuristics/field_count_tally.h"

namespace vestle {
namespace {

constexpr std::size_t kRowsCounted = 100;

}  // namespace

std::size_t infer_column_count(std::string_view data, unsigned char delimiter,
                               unsigned char quote_char) {
  const FieldCountTally tally = tally_field_counts(data, delimiter, quote_char, kRowsCounted);
  // Unlike the sniffer, a single column is a valid answer here.
  const auto mode = tally.mode(1);
  return mode ? mode->field_count : 0;
}

}  // namespace vestle
