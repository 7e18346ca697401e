// Field-count tally over the first rows of a text, shared by both heuristics.
#include "heuristics/field_count_tally.h"

#include "parser/resilient_parser.h"

namespace vestle {

FieldCountTally tally_field_counts(std::string_view data, unsigned char delimiter,
                                   unsigned char quote_char, std::size_t row_limit) {
  ResilientParser parser(data, delimiter, quote_char, /*repair_quotes=*/true);
  // One row at a time: the store is cleared after each, keeping its buffers.
  RowStore scratch;
  FieldCountTally tally;
  while (tally.rows() < row_limit && parser.next_row(scratch)) {
    if (const RowView row = scratch.last_row(); !is_blank_row(row)) {
      tally.add(row.size());
    }
    scratch.clear();
  }
  return tally;
}

}  // namespace vestle
