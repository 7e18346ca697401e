// Score of one delimiter candidate: how consistently and how widely it splits rows.
#include "heuristics/delimiter_score.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace vestle {

double score_field_counts(const FieldCountTally& tally) noexcept {
  if (tally.rows() < 2) {
    return 0.0;
  }
  // A single field means the candidate split nothing, so it cannot be the mode.
  const auto mode = tally.mode(2);
  if (!mode) {
    return 0.0;
  }
  const double consistency = static_cast<double>(mode->frequency) / static_cast<double>(tally.rows());
  // More fields per row is stronger evidence, once there are 3 or more.
  const double width = std::max(1.0, std::log(static_cast<double>(mode->field_count)));
  return consistency * width;
}

double score_delimiter(std::string_view sample, unsigned char delimiter, unsigned char quote_char) {
  return score_field_counts(tally_field_counts(sample, delimiter, quote_char, kRowsScored));
}

}  // namespace vestle
