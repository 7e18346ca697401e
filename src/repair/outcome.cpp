// Result of the in-memory repair: kept rows, set-aside rows, statistics.
#include "repair/outcome.h"

#include <string>

namespace vestle {

QuarantineRecord Quarantine::record(std::size_t i) const {
  const Entry& entry = entries_[i];
  return QuarantineRecord{raw_fields_.row(i),
                          quarantine_reason_text(entry.reason, entry.expected_columns), entry.line};
}

void Quarantine::add(RowView raw_fields, QuarantineReason reason, std::size_t expected_columns,
                     std::size_t line) {
  raw_fields_.append_row(raw_fields);
  entries_.push_back(Entry{reason, expected_columns, line});
}

}  // namespace vestle
