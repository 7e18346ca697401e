// Field-count tally over the first rows of a text, shared by both heuristics.
#include "heuristics/field_count_tally.h"

#include "parser/resilient_parser.h"

namespace vestle {

FieldCountTally tally_field_counts(std::string_view data, unsigned char delimiter,
                                   unsigned char quote_char, std::size_t row_limit) {
  ResilientParser parser(data, delimiter, quote_char, /*repair_quotes=*/true);
  // Only counts and blankness are needed: no field text is kept or decoded.
  FieldCountSink sink;
  FieldCountTally tally;
  while (tally.rows() < row_limit && parser.next_row(sink)) {
    if (!sink.row_is_blank()) tally.add(sink.field_count());
  }
  return tally;
}

}  // namespace vestle
