// Fuzz target for the format heuristics: delimiter sniffing and column count inference.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "heuristics/column_count.h"
#include "heuristics/delimiter_score.h"
#include "heuristics/delimiter_sniffer.h"
#include "heuristics/field_count_tally.h"
#include "parser/resilient_parser.h"
#include "parser/row_store.h"
#include "support/reference_blank_line.h"

namespace {

// Field counts of the first non-blank rows, as the inference sees them.
std::vector<std::size_t> leading_field_counts(std::string_view csv, unsigned char delimiter,
                                              unsigned char quote_char) {
  vestle::ResilientParser parser(csv, delimiter, quote_char, /*repair_quotes=*/true);
  vestle::RowStore rows;
  std::vector<std::size_t> counts;
  while (counts.size() < vestle::kRowsCounted && parser.next_row(rows)) {
    const vestle::RowView row = rows.last_row();
    if (!vestle::reference::reference_is_blank_row(row)) counts.push_back(row.size());
  }
  return counts;
}

std::size_t frequency(const std::vector<std::size_t>& counts, std::size_t value) {
  std::size_t n = 0;
  for (const std::size_t c : counts) n += c == value ? 1 : 0;
  return n;
}

void check_sniff(std::string_view csv, unsigned char quote_char) {
  const unsigned char chosen = vestle::sniff_delimiter(csv, quote_char);
  FUZZ_CHECK(vestle::sniff_delimiter(csv, quote_char) == chosen);
  // The chosen candidate scores highest; an equal score keeps the earlier candidate.
  bool seen_chosen = false;
  const double best = vestle::score_delimiter(csv, chosen, quote_char);
  FUZZ_CHECK(best >= 0.0);
  for (const unsigned char candidate : vestle::kDelimiterCandidates) {
    if (candidate == chosen) {
      seen_chosen = true;
      continue;
    }
    const double score = vestle::score_delimiter(csv, candidate, quote_char);
    FUZZ_CHECK(seen_chosen ? score <= best : score < best);
  }
  FUZZ_CHECK(seen_chosen);
}

void check_column_count(std::string_view csv, unsigned char delimiter, unsigned char quote_char) {
  const std::size_t columns = vestle::infer_column_count(csv, delimiter, quote_char);
  FUZZ_CHECK(vestle::infer_column_count(csv, delimiter, quote_char) == columns);
  const std::vector<std::size_t> counts = leading_field_counts(csv, delimiter, quote_char);
  if (counts.empty()) {
    FUZZ_CHECK(columns == 0);
    return;
  }
  // The answer is one of the counts, and none is more frequent.
  const std::size_t mode_frequency = frequency(counts, columns);
  FUZZ_CHECK(mode_frequency > 0);
  for (const std::size_t c : counts) FUZZ_CHECK(frequency(counts, c) <= mode_frequency);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vestle::fuzz::FuzzInput in(data, size);
  const unsigned char delimiter = in.take_byte();
  const unsigned char quote_char = in.take_byte();
  const std::string_view csv = in.rest();

  check_sniff(csv, quote_char);
  check_column_count(csv, delimiter, quote_char);
  return 0;
}
