// Compact storage for parsed rows: one text arena plus per-field end offsets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "memory/huge_page_allocator.h"

namespace vestle {

class RowStore;

// Read-only view of one stored row. Valid while the store is not modified.
class RowView {
 public:
  RowView() = default;

  [[nodiscard]] std::size_t size() const noexcept { return field_count_; }
  [[nodiscard]] bool empty() const noexcept { return field_count_ == 0; }
  [[nodiscard]] inline std::string_view operator[](std::size_t i) const noexcept;
  // The row's text bytes, all fields back to back without separators.
  [[nodiscard]] inline std::string_view text() const noexcept;

 private:
  friend class RowStore;
  const RowStore* store_ = nullptr;
  std::size_t row_ = 0;
  std::size_t field_count_ = 0;
};

// Rows as UTF-8 texts stored back to back in one arena. A field costs its
// text plus one offset (4 bytes, or 8 once a single row's text passes 4 GiB);
// a row costs two offsets. Empty fields cost no text storage.
//
// Building happens at the end of the store only: bytes are appended to the
// open field, `finish_field` closes it (repairing ill-formed UTF-8 to U+FFFD),
// `finish_row` closes the row. `merge_tail`, `append_empty_fields` and
// `pop_row` act on the last finished row.
class RowStore {
 public:
  // Every row the parser makes is kept, blank lines included.
  static constexpr bool kDropsEmptyLines = false;
  static constexpr bool kTakesCheckpoints = false;

  RowStore() = default;
  // `narrow_limit` is the largest row text kept with 32-bit offsets; tests
  // lower it to exercise the wide representation.
  explicit RowStore(std::uint64_t narrow_limit)
      : narrow_limit_(narrow_limit < UINT32_MAX ? narrow_limit : UINT32_MAX) {}

  [[nodiscard]] std::size_t row_count() const noexcept { return row_text_begin_.size() - 1; }
  [[nodiscard]] inline RowView row(std::size_t i) const noexcept;
  [[nodiscard]] RowView last_row() const noexcept { return row(row_count() - 1); }
  // Bytes held by the store's buffers (capacity, not size).
  [[nodiscard]] std::size_t memory_bytes() const noexcept;

  void reserve_text(std::size_t bytes) { text_.reserve(bytes); }
  // Room for `rows` more rows holding `fields` more fields in all.
  void reserve_more(std::size_t rows, std::size_t fields);
  [[nodiscard]] std::size_t field_total() const noexcept {
    return wide_ ? wide_field_ends_.size() : narrow_field_ends_.size();
  }
  // Rows and fields that fit before the offset vectors have to grow.
  [[nodiscard]] std::size_t row_capacity() const noexcept { return row_text_begin_.capacity() - 1; }
  [[nodiscard]] std::size_t field_capacity() const noexcept {
    return wide_ ? wide_field_ends_.capacity() : narrow_field_ends_.capacity();
  }
  // Gives the memory of rows [0, `end`) back to the system; for a reader that
  // never looks at those rows again. The rows must not be read afterwards.
  void release_rows_before(std::size_t end) noexcept;
  // Drops every row; keeps the buffers' capacity.
  void clear() noexcept;

  // --- building ---
  void append_bytes(const char* data, std::size_t size) { text_.append(data, size); }
  // Closes the open field; its bytes become text by lossy UTF-8 decoding.
  void finish_field();
  // Closes an open field that the caller knows holds only bytes below 0x80,
  // which are text as they are.
  [[gnu::always_inline]] void finish_ascii_field() { close_field(); }
  // Closes the row; bytes of a field not yet finished are dropped.
  [[gnu::always_inline]] void finish_row() {
    if (text_.size() != open_field_begin_) text_.resize(open_field_begin_);
    row_text_begin_.push_back(text_.size());
    row_field_begin_.push_back(field_total());
  }

  // The next four need an empty open row (no bytes or fields since the last
  // `finish_row`).
  // Appends `count` empty fields to the last finished row.
  void append_empty_fields(std::size_t count);
  // Joins fields [first, size) of the last finished row into one field, with
  // `separator` between neighbours; nothing happens with fewer than two.
  void merge_tail(std::size_t first, std::string_view separator);
  // Copies a row (from any store, this one included) as a new finished row.
  void append_row(RowView row);
  // Drops the last finished row; nothing happens when there is none.
  void pop_row() noexcept;

  // True once field ends are stored with 64 bits.
  [[nodiscard]] bool is_wide() const noexcept { return wide_; }

 private:
  friend class RowView;
  [[nodiscard]] std::uint64_t field_end(std::size_t field_index) const noexcept {
    return wide_ ? wide_field_ends_[field_index] : narrow_field_ends_[field_index];
  }
  [[nodiscard]] bool open_row_is_empty() const noexcept;
  void push_field_end(std::uint64_t end_in_row) {
    if (!wide_ && end_in_row <= narrow_limit_) {
      narrow_field_ends_.push_back(static_cast<std::uint32_t>(end_in_row));
    } else {
      push_wide_field_end(end_in_row);
    }
  }
  void push_wide_field_end(std::uint64_t end_in_row);
  [[gnu::always_inline]] void close_field() {
    push_field_end(text_.size() - row_text_begin_.back());
    open_field_begin_ = text_.size();
  }
  void truncate_field_ends(std::size_t count) noexcept;
  void widen();

  template <typename T>
  using Vector = std::vector<T, HugePageAllocator<T>>;
  using Text = std::basic_string<char, std::char_traits<char>, HugePageAllocator<char>>;

  std::uint64_t narrow_limit_ = UINT32_MAX;
  Text text_;
  // Start of the open (or next) row's text / fields; one entry per finished
  // row plus one for the row under construction.
  Vector<std::uint64_t> row_text_begin_{0};
  Vector<std::uint64_t> row_field_begin_{0};
  // Field ends relative to the row's text start; wide once any row's text
  // passes `narrow_limit_`.
  Vector<std::uint32_t> narrow_field_ends_;
  Vector<std::uint64_t> wide_field_ends_;
  bool wide_ = false;
  std::size_t open_field_begin_ = 0;  // arena offset of the open field
};

std::string_view RowView::operator[](std::size_t i) const noexcept {
  const std::size_t first_field = static_cast<std::size_t>(store_->row_field_begin_[row_]);
  const std::uint64_t begin = i == 0 ? 0 : store_->field_end(first_field + i - 1);
  const std::uint64_t end = store_->field_end(first_field + i);
  const std::uint64_t row_begin = store_->row_text_begin_[row_];
  return {store_->text_.data() + row_begin + begin, static_cast<std::size_t>(end - begin)};
}

std::string_view RowView::text() const noexcept {
  if (store_ == nullptr) return {};
  const std::uint64_t begin = store_->row_text_begin_[row_];
  const std::uint64_t end = store_->row_text_begin_[row_ + 1];
  return {store_->text_.data() + begin, static_cast<std::size_t>(end - begin)};
}

RowView RowStore::row(std::size_t i) const noexcept {
  RowView view;
  view.store_ = this;
  view.row_ = i;
  view.field_count_ = static_cast<std::size_t>(row_field_begin_[i + 1] - row_field_begin_[i]);
  return view;
}

// Copies a stored row into owned strings (for tests and slow paths).
[[nodiscard]] std::vector<std::string> to_strings(RowView row);

}  // namespace vestle
