// What becomes of one parsed row once the column count is settled.
#pragma once

#include <cstddef>
#include <optional>

#include "parser/row_store.h"
#include "parser/utf8.h"
#include "repair/options.h"
#include "repair/outcome.h"

namespace vestle {

// A row's fate depends on its field count alone.
enum class RowFate { Pass, Pad, Merge, SetAside };

struct RowDecision {
  RowFate fate = RowFate::Pass;
  QuarantineReason reason = QuarantineReason::TooFewColumns;  // when set aside

  [[nodiscard]] bool repaired() const noexcept {
    return fate == RowFate::Pad || fate == RowFate::Merge;
  }
};

// Passes, pads or merges a row in place, or says why it is set aside.
class RowReconciler {
 public:
  RowReconciler(const VestleOptions& options, std::size_t columns, unsigned char delimiter) noexcept
      : columns_(columns),
        fill_ragged_rows_(options.fill_ragged_rows),
        merge_overflow_(options.merge_overflow),
        separator_(byte_text(delimiter)) {}

  [[nodiscard]] std::size_t columns() const noexcept { return columns_; }

  [[nodiscard]] RowDecision decide(std::size_t width) const noexcept {
    if (columns_ == 0 || width == columns_) return {};
    if (width < columns_) {
      if (fill_ragged_rows_) return {RowFate::Pad};
      return {RowFate::SetAside, QuarantineReason::TooFewColumns};
    }
    if (merge_overflow_) return {RowFate::Merge};
    return {RowFate::SetAside, QuarantineReason::ExtraColumns};
  }

  // Decides on the last row of `rows` and pads or merges it there. A row to
  // set aside is left as it is: the caller moves it.
  [[gnu::always_inline]] RowDecision reconcile(RowStore& rows) {
    const RowDecision decision = decide(rows.last_row().size());
    if (decision.fate == RowFate::Pad) {
      rows.append_empty_fields(columns_ - rows.last_row().size());
    } else if (decision.fate == RowFate::Merge) {
      rows.merge_tail(columns_ - 1, separator_.view());
    }
    return decision;
  }

 private:
  std::size_t columns_;
  bool fill_ragged_rows_;
  bool merge_overflow_;
  ByteText separator_;
};

}  // namespace vestle
