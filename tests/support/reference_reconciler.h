// A plain rendering of what the repair does with each parsed row once delimiter and column count
// are settled: kept as is, padded, merged, or set aside with its reason and line. The oracle that
// the in-memory repair's unit tests and fuzz target compare vestle_slice against.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "parser/resilient_parser.h"
#include "parser/row_store.h"
#include "repair/options.h"
#include "support/quarantine_lines.h"

namespace vestle::reference {

struct SetAsideRow {
  std::vector<std::string> fields;
  std::string reason;
  std::size_t line = 0;  // the parser's line number right after the row
  bool operator==(const SetAsideRow&) const = default;
};

struct ReferenceOutcome {
  std::vector<std::vector<std::string>> kept;
  std::vector<SetAsideRow> set_aside;
  std::size_t repaired = 0;  // kept rows that were padded or merged
};

// The delimiter byte stands for the code point of the same value, so merged fields are joined
// by its UTF-8 form: two bytes from 0x80 on.
inline std::string reference_separator(unsigned char delimiter) {
  if (delimiter < 0x80) return std::string(1, static_cast<char>(delimiter));
  return {static_cast<char>(0xC0 | (delimiter >> 6)), static_cast<char>(0x80 | (delimiter & 0x3F))};
}

// `delimiter` and `columns` are the settled ones; the options' own delimiter and expected
// column count are not read, so that the heuristics stay out of what is checked here.
inline ReferenceOutcome reference_reconcile(std::string_view input, const VestleOptions& options,
                                            unsigned char delimiter, std::size_t columns) {
  ReferenceOutcome out;
  const std::string separator = reference_separator(delimiter);
  const std::string too_few = testing::too_few_columns(columns);
  const std::string extra = testing::extra_columns(columns);
  ResilientParser parser(input, delimiter, options.quote_char, options.repair_quotes);
  RowStore store;
  while (parser.next_row(store)) {
    std::vector<std::string> row = to_strings(store.last_row());
    store.clear();
    if (columns == 0 || row.size() == columns) {
      out.kept.push_back(std::move(row));
    } else if (row.size() < columns && options.fill_ragged_rows) {
      row.resize(columns);
      out.kept.push_back(std::move(row));
      ++out.repaired;
    } else if (row.size() < columns) {
      out.set_aside.push_back({std::move(row), too_few, parser.line_number()});
    } else if (options.merge_overflow) {
      std::string& last = row[columns - 1];
      for (std::size_t i = columns; i < row.size(); ++i) last += separator + row[i];
      row.resize(columns);
      out.kept.push_back(std::move(row));
      ++out.repaired;
    } else {
      out.set_aside.push_back({std::move(row), extra, parser.line_number()});
    }
  }
  return out;
}

}  // namespace vestle::reference
