// Row storage in one text arena with per-field end offsets.
#include "parser/row_store.h"

#include <cassert>
#include <cstring>

#include "parser/utf8.h"

namespace vestle {

std::size_t RowStore::memory_bytes() const noexcept {
  return text_.capacity() + row_text_begin_.capacity() * sizeof(std::uint64_t) +
         row_field_begin_.capacity() * sizeof(std::uint64_t) +
         narrow_field_ends_.capacity() * sizeof(std::uint32_t) +
         wide_field_ends_.capacity() * sizeof(std::uint64_t);
}

void RowStore::clear() noexcept {
  text_.clear();
  row_text_begin_.clear();
  row_text_begin_.push_back(0);  // capacity is at least 1: cannot throw
  row_field_begin_.clear();
  row_field_begin_.push_back(0);
  narrow_field_ends_.clear();
  wide_field_ends_.clear();
  open_field_begin_ = 0;
  // A wide store stays wide: offsets of either width describe any row.
}

void RowStore::reserve_more(std::size_t rows, std::size_t fields) {
  row_text_begin_.reserve(row_text_begin_.size() + rows);
  row_field_begin_.reserve(row_field_begin_.size() + rows);
  if (wide_) {
    wide_field_ends_.reserve(wide_field_ends_.size() + fields);
  } else {
    narrow_field_ends_.reserve(narrow_field_ends_.size() + fields);
  }
}

void RowStore::release_rows_before(std::size_t end) noexcept {
  if (end == 0 || end > row_count()) return;
  release_pages(text_.data(), text_.capacity(), 0, static_cast<std::size_t>(row_text_begin_[end]));
  const auto fields = static_cast<std::size_t>(row_field_begin_[end]);
  if (wide_) {
    release_pages(wide_field_ends_.data(), wide_field_ends_.capacity() * sizeof(std::uint64_t), 0,
                  fields * sizeof(std::uint64_t));
  } else {
    release_pages(narrow_field_ends_.data(), narrow_field_ends_.capacity() * sizeof(std::uint32_t),
                  0, fields * sizeof(std::uint32_t));
  }
  // row(i) for i >= end reads entries i and i + 1 of the row vectors.
  release_pages(row_text_begin_.data(), row_text_begin_.capacity() * sizeof(std::uint64_t), 0,
                end * sizeof(std::uint64_t));
  release_pages(row_field_begin_.data(), row_field_begin_.capacity() * sizeof(std::uint64_t), 0,
                end * sizeof(std::uint64_t));
}

void RowStore::push_wide_field_end(std::uint64_t end_in_row) {
  if (!wide_) widen();
  wide_field_ends_.push_back(end_in_row);
}

void RowStore::widen() {
  wide_field_ends_.assign(narrow_field_ends_.begin(), narrow_field_ends_.end());
  Vector<std::uint32_t>().swap(narrow_field_ends_);
  wide_ = true;
}

void RowStore::truncate_field_ends(std::size_t count) noexcept {
  if (wide_) {
    wide_field_ends_.resize(count);
  } else {
    narrow_field_ends_.resize(count);
  }
}

void RowStore::finish_field() {
  const std::string_view field(text_.data() + open_field_begin_, text_.size() - open_field_begin_);
  const std::size_t valid = valid_utf8_prefix(field);
  if (valid != field.size()) {
    // Only the tail from the first ill-formed byte is copied and re-decoded.
    std::string repaired;
    append_lossy_utf8(field.substr(valid), repaired);
    text_.resize(open_field_begin_ + valid);
    text_.append(repaired);
  }
  close_field();
}

void RowStore::append_empty_fields(std::size_t count) {
  assert(row_count() > 0 && open_row_is_empty());
  const std::size_t last = row_count() - 1;
  const std::uint64_t row_length = row_text_begin_[last + 1] - row_text_begin_[last];
  for (std::size_t i = 0; i < count; ++i) push_field_end(row_length);
  row_field_begin_.back() += count;
}

void RowStore::merge_tail(std::size_t first, std::string_view separator) {
  assert(row_count() > 0 && open_row_is_empty());
  const std::size_t last = row_count() - 1;
  const std::size_t fields_begin = static_cast<std::size_t>(row_field_begin_[last]);
  const std::size_t field_count = static_cast<std::size_t>(row_field_begin_[last + 1]) - fields_begin;
  if (first + 1 >= field_count) return;  // zero or one field: nothing to join

  const std::size_t joined = field_count - first;
  const std::size_t grow = (joined - 1) * separator.size();
  const std::size_t row_begin = static_cast<std::size_t>(row_text_begin_[last]);
  const std::size_t old_end = text_.size();
  text_.resize(old_end + grow);

  // Fields only move towards the end, so moving them last to first never
  // overwrites a field that still has to move.
  char* base = text_.data() + row_begin;
  std::size_t write_end = old_end + grow - row_begin;
  for (std::size_t i = field_count; i-- > first;) {
    const std::size_t end = static_cast<std::size_t>(field_end(fields_begin + i));
    const std::size_t begin = i == 0 ? 0 : static_cast<std::size_t>(field_end(fields_begin + i - 1));
    const std::size_t length = end - begin;
    write_end -= length;
    if (write_end != begin) std::memmove(base + write_end, base + begin, length);
    if (i != first) {
      write_end -= separator.size();
      std::memcpy(base + write_end, separator.data(), separator.size());
    }
  }

  const std::uint64_t row_length = old_end + grow - row_begin;
  truncate_field_ends(fields_begin + first);
  push_field_end(row_length);
  row_field_begin_.back() = field_total();
  row_text_begin_.back() += grow;
  open_field_begin_ = text_.size();
}

void RowStore::append_row(RowView source) {
  assert(open_row_is_empty());
  const std::string_view text = source.text();
  const std::size_t count = source.size();
  if (source.store_ == this) {
    // Copying a row of this store: the source may move when the arena grows.
    const std::size_t offset = static_cast<std::size_t>(text.data() - text_.data());
    text_.reserve(text_.size() + text.size());
    text_.append(text_.data() + offset, text.size());
  } else {
    text_.append(text.data(), text.size());
  }
  if (count > 0) {
    const std::size_t source_first = static_cast<std::size_t>(source.store_->row_field_begin_[source.row_]);
    for (std::size_t i = 0; i < count; ++i) push_field_end(source.store_->field_end(source_first + i));
  }
  open_field_begin_ = text_.size();
  row_text_begin_.push_back(text_.size());
  row_field_begin_.push_back(field_total());
}

void RowStore::pop_row() noexcept {
  if (row_count() == 0) return;
  row_text_begin_.pop_back();
  row_field_begin_.pop_back();
  text_.resize(static_cast<std::size_t>(row_text_begin_.back()));
  truncate_field_ends(static_cast<std::size_t>(row_field_begin_.back()));
  open_field_begin_ = text_.size();
}

bool RowStore::open_row_is_empty() const noexcept {
  return text_.size() == row_text_begin_.back() && field_total() == row_field_begin_.back();
}

std::vector<std::string> to_strings(RowView row) {
  std::vector<std::string> fields;
  fields.reserve(row.size());
  for (std::size_t i = 0; i < row.size(); ++i) fields.emplace_back(row[i]);
  return fields;
}

}  // namespace vestle
