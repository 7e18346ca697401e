// Fuzz target for vestle_slice: fuzz-chosen options, outcome checked row by row against the parser.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "fuzz_options.h"
#include "parser/resilient_parser.h"
#include "parser/row_store.h"
#include "parser/utf8.h"
#include "vestle/vestle_outcome.h"
#include "vestle/vestle_slice.h"

namespace {

bool same_fields(vestle::RowView row, vestle::RowView other, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (row[i] != other[i]) return false;
  }
  return true;
}

void check_empty_input(const vestle::VestleOutcome& outcome) {
  const vestle::VestleStats& s = outcome.stats;
  FUZZ_CHECK(s.detected_delimiter == ',');
  FUZZ_CHECK(s.total_rows == 0 && s.vestled_rows == 0 && s.repaired_rows == 0);
  FUZZ_CHECK(s.quarantined_rows == 0 && s.inferred_columns == 0);
  FUZZ_CHECK(outcome.rows.row_count() == 0 && outcome.quarantine.size() == 0);
}

// Replays the parse and says, for each parsed row, where it must have gone and in what shape.
void check_rows(std::string_view csv, const vestle::VestleOptions& options,
                const vestle::VestleOutcome& outcome) {
  const vestle::VestleStats& stats = outcome.stats;
  const std::size_t n = stats.inferred_columns;
  const unsigned char d = stats.detected_delimiter;
  const vestle::ByteText separator = vestle::byte_text(d);
  vestle::ResilientParser parser(csv, d, options.quote_char, options.repair_quotes);
  vestle::RowStore parsed;
  std::size_t kept = 0;
  std::size_t set_aside = 0;
  std::size_t repaired = 0;
  while (parser.next_row(parsed)) {
    const vestle::RowView row = parsed.last_row();
    const std::size_t k = row.size();
    const bool too_few = n != 0 && k < n && !options.fill_ragged_rows;
    const bool extra = n != 0 && k > n && !options.merge_overflow;
    if (too_few || extra) {
      FUZZ_CHECK(set_aside < outcome.quarantine.size());
      const vestle::QuarantineRecord record = outcome.quarantine.record(set_aside++);
      FUZZ_CHECK(record.raw_fields.size() == k && same_fields(record.raw_fields, row, k));
      FUZZ_CHECK(record.line == parser.line_number());
      const std::string reason = std::string(too_few ? "Row has too few columns (expected "
                                                     : "Row has extra columns (expected ") +
                                 std::to_string(n) + ")";
      FUZZ_CHECK(record.reason == reason);
      continue;
    }
    FUZZ_CHECK(kept < outcome.rows.row_count());
    const vestle::RowView out = outcome.rows.row(kept++);
    if (n == 0 || k == n) {
      FUZZ_CHECK(out.size() == k && same_fields(out, row, k));
    } else if (k < n) {
      ++repaired;
      FUZZ_CHECK(out.size() == n && same_fields(out, row, k));
      for (std::size_t i = k; i < n; ++i) FUZZ_CHECK(out[i].empty());
    } else {
      ++repaired;
      FUZZ_CHECK(out.size() == n && same_fields(out, row, n - 1));
      std::string merged(row[n - 1]);
      for (std::size_t i = n; i < k; ++i) merged.append(separator.view()).append(row[i]);
      FUZZ_CHECK(out[n - 1] == merged);
    }
  }
  FUZZ_CHECK(kept == outcome.rows.row_count());
  FUZZ_CHECK(set_aside == outcome.quarantine.size());
  FUZZ_CHECK(repaired == stats.repaired_rows);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vestle::fuzz::FuzzInput in(data, size);
  const vestle::VestleOptions options = vestle::fuzz::take_options(in);
  const std::string_view csv = in.rest();

  const vestle::VestleOutcome outcome = vestle::vestle_slice(csv, options);
  const vestle::VestleStats& stats = outcome.stats;
  if (csv.empty()) {
    check_empty_input(outcome);
    return 0;
  }
  FUZZ_CHECK(stats.total_rows == stats.vestled_rows + stats.quarantined_rows);
  FUZZ_CHECK(stats.vestled_rows == outcome.rows.row_count());
  FUZZ_CHECK(stats.quarantined_rows == outcome.quarantine.size());
  FUZZ_CHECK(stats.repaired_rows <= stats.vestled_rows);
  if (options.delimiter) {
    FUZZ_CHECK(stats.detected_delimiter == *options.delimiter);
  } else {
    const unsigned char d = stats.detected_delimiter;
    FUZZ_CHECK(d == ',' || d == ';' || d == '\t' || d == '|');
  }
  if (options.expected_columns) FUZZ_CHECK(stats.inferred_columns == *options.expected_columns);
  if (stats.inferred_columns != 0) {
    for (std::size_t i = 0; i < outcome.rows.row_count(); ++i) {
      FUZZ_CHECK(outcome.rows.row(i).size() == stats.inferred_columns);
    }
  }
  check_rows(csv, options, outcome);
  return 0;
}
