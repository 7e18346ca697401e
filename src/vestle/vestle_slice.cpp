// The in-memory repair: settle delimiter and column count, reconcile rows.
#include "vestle/vestle_slice.h"

#include <cstddef>

#include "heuristics/column_count.h"
#include "heuristics/delimiter_sniffer.h"
#include "parser/resilient_parser.h"
#include "parser/row_store.h"
#include "parser/utf8.h"

namespace vestle {

VestleOutcome vestle_slice(std::string_view input, const VestleOptions& options) {
  VestleOutcome outcome;
  VestleStats& stats = outcome.stats;
  if (input.empty()) {
    return outcome;  // comma and all counts 0, whatever the options say
  }

  // The heuristics get the run's quote character, so a file quoted with
  // another character is not split inside its quoted fields.
  const unsigned char delimiter =
      options.delimiter ? *options.delimiter : sniff_delimiter(input, options.quote_char);
  const std::size_t columns = options.expected_columns
                                  ? *options.expected_columns
                                  : infer_column_count(input, delimiter, options.quote_char);
  const ByteText separator = byte_text(delimiter);

  RowStore& rows = outcome.rows;
  // Decoded text is about the size of the input; one reservation avoids
  // regrowing (and briefly doubling) the arena.
  rows.reserve_text(input.size());
  ResilientParser parser(input, delimiter, options.quote_char, options.repair_quotes);
  while (parser.next_row(rows)) {
    ++stats.total_rows;
    const std::size_t width = rows.last_row().size();
    if (columns == 0 || width == columns) {
      continue;
    }
    if (width < columns) {
      if (options.fill_ragged_rows) {
        rows.append_empty_fields(columns - width);
        ++stats.repaired_rows;
        continue;
      }
      outcome.quarantine.add(rows.last_row(), QuarantineReason::TooFewColumns, columns,
                             parser.line_number());
      rows.pop_row();
      continue;
    }
    if (options.merge_overflow) {
      rows.merge_tail(columns - 1, separator.view());
      ++stats.repaired_rows;
      continue;
    }
    outcome.quarantine.add(rows.last_row(), QuarantineReason::ExtraColumns, columns,
                           parser.line_number());
    rows.pop_row();
  }

  stats.detected_delimiter = delimiter;
  stats.vestled_rows = rows.row_count();
  stats.quarantined_rows = outcome.quarantine.size();
  stats.inferred_columns = columns;
  return outcome;
}

}  // namespace vestle
