// VestleSummary: the read-only Python report of one repair run.
#pragma once

#include <cstddef>
#include <string>

#include "binding/python_api.h"
#include "repair/outcome.h"

namespace vestle::binding {

// The six values of a summary, owned by the summary (or the reader keeping them).
struct SummaryValues {
  std::size_t total_rows = 0;
  std::size_t vestled_rows = 0;
  std::size_t repaired_rows = 0;
  std::size_t quarantined_rows = 0;
  std::string detected_delimiter;  // UTF-8 text of the delimiter character
  std::size_t inferred_columns = 0;

  [[nodiscard]] static SummaryValues from_stats(const VestleStats& stats);
};

// The class, created on first use; borrowed, nullptr with an exception set on failure.
[[nodiscard]] PyTypeObject* summary_type() noexcept;

// A new VestleSummary holding a copy of `values`; nullptr with an exception set.
[[nodiscard]] PyObject* new_summary(const SummaryValues& values);

}  // namespace vestle::binding
