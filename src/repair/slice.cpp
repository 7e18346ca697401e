// The in-memory repair: settle delimiter and column count, reconcile rows.
#include "repair/slice.h"

#include <cstddef>
#include <optional>

#include "heuristics/column_count.h"
#include "heuristics/delimiter_sniffer.h"
#include "parser/resilient_parser.h"
#include "parser/row_store.h"
#include "repair/row_reconciler.h"

namespace vestle {
namespace {

constexpr std::size_t kProjectEveryRows = 4096;

// Reserves the offset vectors for the rest of the input, projected from the
// part parsed so far, so they neither regrow often nor end with doubling
// slack. Growth is at least an eighth, which keeps the copying linear.
void reserve_projected(RowStore& rows, std::size_t consumed, std::size_t input_size) {
  if (consumed == 0 || consumed >= input_size) return;
  const double scale = static_cast<double>(input_size) / static_cast<double>(consumed) * 1.03;
  const auto project = [scale](std::size_t seen, std::size_t capacity, std::size_t used) {
    const auto wanted = static_cast<std::size_t>(static_cast<double>(seen) * scale) + 64;
    if (wanted <= capacity) return std::size_t{0};
    const std::size_t total = wanted > capacity + capacity / 8 ? wanted : capacity + capacity / 8;
    return total - used;
  };
  const std::size_t more_rows = project(rows.row_count(), rows.row_capacity(), rows.row_count());
  const std::size_t more_fields = project(rows.field_total(), rows.field_capacity(), rows.field_total());
  if (more_rows > 0 || more_fields > 0) rows.reserve_more(more_rows, more_fields);
}

}  // namespace

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
  RowReconciler reconciler(options, columns, delimiter);

  RowStore& rows = outcome.rows;
  // Decoded text is about the size of the input; one reservation avoids
  // regrowing (and briefly doubling) the arena.
  rows.reserve_text(input.size());
  ResilientParser parser(input, delimiter, options.quote_char, options.repair_quotes);
  while (parser.next_row(rows)) {
    ++stats.total_rows;
    if (stats.total_rows % kProjectEveryRows == 0) {
      reserve_projected(rows, parser.position(), input.size());
    }
    const RowDecision decision = reconciler.reconcile(rows);
    if (decision.repaired()) ++stats.repaired_rows;
    if (decision.fate == RowFate::SetAside) {
      outcome.quarantine.add(rows.last_row(), decision.reason, columns, parser.line_number());
      rows.pop_row();
    }
  }

  stats.detected_delimiter = delimiter;
  stats.vestled_rows = rows.row_count();
  stats.quarantined_rows = outcome.quarantine.size();
  stats.inferred_columns = columns;
  return outcome;
}

}  // namespace vestle
