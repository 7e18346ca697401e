// Result of the in-memory repair: kept rows, set-aside rows, statistics.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "parser/row_store.h"
#include "repair/quarantine_format.h"

namespace vestle {

struct VestleStats {
  unsigned char detected_delimiter = ',';  // code point of the delimiter character
  std::size_t total_rows = 0;
  std::size_t vestled_rows = 0;
  std::size_t repaired_rows = 0;
  std::size_t quarantined_rows = 0;
  std::size_t inferred_columns = 0;

  friend bool operator==(const VestleStats&, const VestleStats&) = default;
};

// One rejected row: its fields as parsed, why, and the parser's line number
// read right after the row.
struct QuarantineRecord {
  RowView raw_fields;
  std::string reason;
  std::size_t line = 0;
};

// Rejected rows, stored compactly; records are materialised on access.
class Quarantine {
 public:
  [[nodiscard]] std::size_t size() const noexcept { return entries_.size(); }
  [[nodiscard]] bool empty() const noexcept { return entries_.empty(); }
  [[nodiscard]] QuarantineRecord record(std::size_t i) const;

  void add(RowView raw_fields, QuarantineReason reason, std::size_t expected_columns,
           std::size_t line);

 private:
  struct Entry {
    QuarantineReason reason;
    std::size_t expected_columns;
    std::size_t line;
  };
  RowStore raw_fields_;
  std::vector<Entry> entries_;
};

struct VestleOutcome {
  RowStore rows;
  Quarantine quarantine;
  VestleStats stats;
};

}  // namespace vestle
