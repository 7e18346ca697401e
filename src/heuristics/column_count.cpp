// Infers the expected number of columns of a CSV text.
#include "heuristics/column_count.h"

#include "heuristics/field_count_tally.h"
#include "parser/resilient_parser.h"
#include "parser/row_store.h"

namespace vestle {
namespace {

constexpr std::size_t kRowsCounted = 100;

}  // namespace

std::size_t infer_column_count(std::string_view data, unsigned char delimiter,
                               unsigned char quote_char) {
  ResilientParser parser(data, delimiter, quote_char, /*repair_quotes=*/true);
  RowStore scratch;
  FieldCountTally tally;
  while (tally.rows() < kRowsCounted && parser.next_row(scratch)) {
    if (const RowView row = scratch.last_row(); !is_blank_row(row)) {
      tally.add(row.size());
    }
    scratch.clear();
  }
  // Unlike the sniffer, a single column is a valid answer here.
  const auto mode = tally.mode(1);
  return mode ? mode->field_count : 0;
}

}  // namespace vestle
