// How often each field count occurs among the rows a heuristic has looked at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>


namespace vestle {

// Kept in first-seen order, so ties between equally frequent counts go to the
// count met first. The heuristics look at 100 rows at most, so a linear search
// beats hashing.
class FieldCountTally {
 public:
  // One field count and how many rows had it.
  struct Entry {
    std::size_t field_count;
    std::int32_t frequency;
  };

  void add(std::size_t field_count) {
    ++rows_;
    for (Entry& entry : entries_) {
      if (entry.field_count == field_count) {
        ++entry.frequency;
        return;
      }
    }
    entries_.push_back(Entry{field_count, 1});
  }

  // Rows added since the last clear.
  [[nodiscard]] std::size_t rows() const noexcept { return rows_; }

  // The most frequent count of at least `min_field_count` fields, the first
  // met among equals; none when no such count was added.
  [[nodiscard]] std::optional<Entry> mode(std::size_t min_field_count) const noexcept {
    std::optional<Entry> best;
    for (const Entry& entry : entries_) {
      if (entry.field_count >= min_field_count && (!best || entry.frequency > best->frequency)) {
        best = entry;
      }
    }
    return best;
  }

 private:
  std::vector<Entry> entries_;
  std::size_t rows_ = 0;
};

// Tallies the field counts of the first `row_limit` non-blank rows of `data`,
// tokenised with quote repair on.
[[nodiscard]] FieldCountTally tally_field_counts(std::string_view data, unsigned char delimiter,
                                                 unsigned char quote_char, std::size_t row_limit);

}  // namespace vestle
