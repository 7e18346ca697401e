// Fuzz target for vestle_slice: fuzz-chosen options, outcome checked row by row against the
// model, and the rows written and split back as the reader keeps them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "fuzz_options.h"
#include "parser/row_store.h"
#include "repair/outcome.h"
#include "repair/slice.h"
#include "support/reference_reconciler.h"
#include "support/stream_harness.h"

namespace {

bool same_fields(vestle::RowView row, const std::vector<std::string>& want) {
  if (row.size() != want.size()) return false;
  for (std::size_t i = 0; i < want.size(); ++i) {
    if (row[i] != want[i]) return false;
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

// The outcome against the plain model, row by row, over the delimiter and column count the
// run settled, which the caller checks against the options.
void check_rows(std::string_view csv, const vestle::VestleOptions& options,
                const vestle::VestleOutcome& outcome) {
  const vestle::VestleStats& stats = outcome.stats;
  const vestle::reference::ReferenceOutcome model = vestle::reference::reference_reconcile(
      csv, options, stats.detected_delimiter, stats.inferred_columns);
  FUZZ_CHECK(outcome.rows.row_count() == model.kept.size());
  for (std::size_t i = 0; i < model.kept.size(); ++i) {
    FUZZ_CHECK(same_fields(outcome.rows.row(i), model.kept[i]));
  }
  FUZZ_CHECK(outcome.quarantine.size() == model.set_aside.size());
  for (std::size_t i = 0; i < model.set_aside.size(); ++i) {
    const vestle::QuarantineRecord record = outcome.quarantine.record(i);
    const vestle::reference::SetAsideRow& want = model.set_aside[i];
    FUZZ_CHECK(same_fields(record.raw_fields, want.fields));
    FUZZ_CHECK(record.reason == want.reason);
    FUZZ_CHECK(record.line == want.line);
  }
  FUZZ_CHECK(stats.repaired_rows == model.repaired);
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
  // The rows as the reader keeps them (written) split back into these rows.
  FUZZ_CHECK(vestle::testing::rows_read_back_mismatch(csv, options).empty());
  return 0;
}
