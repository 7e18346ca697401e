// What becomes of one parsed row once the column count is settled.
#pragma once

#include <cstddef>
#include <optional>

#include "parser/row_store.h"
#include "parser/utf8.h"
#include "vestle/vestle_options.h"
#include "vestle/vestle_outcome.h"

namespace vestle {

// Passes, pads or merges a row in place, or says why it is set aside.
class RowReconciler {
 public:
  RowReconciler(const VestleOptions& options, std::size_t columns, unsigned char delimiter) noexcept
      : columns_(columns),
        fill_ragged_rows_(options.fill_ragged_rows),
        merge_overflow_(options.merge_overflow),
        separator_(byte_text(delimiter)) {}

  // Acts on the last row of `rows` and counts a padded or merged row in
  // `repaired_rows`. A row to set aside is left as it is: the caller moves it.
  [[gnu::always_inline]] std::optional<QuarantineReason> reconcile(RowStore& rows,
                                                                   std::size_t& repaired_rows) {
    const std::size_t width = rows.last_row().size();
    if (columns_ == 0 || width == columns_) return std::nullopt;
    if (width < columns_) {
      if (!fill_ragged_rows_) return QuarantineReason::TooFewColumns;
      rows.append_empty_fields(columns_ - width);
    } else {
      if (!merge_overflow_) return QuarantineReason::ExtraColumns;
      rows.merge_tail(columns_ - 1, separator_.view());
    }
    ++repaired_rows;
    return std::nullopt;
  }

 private:
  std::size_t columns_;
  bool fill_ragged_rows_;
  bool merge_overflow_;
  ByteText separator_;
};

}  // namespace vestle
