// Reading back the rows RowWriter wrote.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "parser/line_break.h"

namespace vestle {

// Whether rows written with this delimiter and quote split back into the
// fields they were written from: both one ASCII byte, distinct, and neither a
// line break.
[[nodiscard]] constexpr bool rows_read_back(unsigned char delimiter, unsigned char quote) noexcept {
  const auto plain = [](unsigned char byte) { return byte < 0x80 && byte != kLf && byte != kCr; };
  return plain(delimiter) && plain(quote) && delimiter != quote;
}

// The fields of one row, copied out of the text they were read from, so that
// they outlive it. Its storage is kept from row to row.
class FieldList {
 public:
  [[nodiscard]] std::size_t size() const noexcept { return fields_.size(); }
  [[nodiscard]] std::string_view operator[](std::size_t i) const noexcept {
    return std::string_view(text_).substr(fields_[i].begin, fields_[i].end - fields_[i].begin);
  }
  // Whether field `i` is pure ASCII.
  [[nodiscard]] bool is_ascii(std::size_t i) const noexcept { return fields_[i].ascii; }
  // Bytes of storage held; a caller that keeps the list may drop it when large.
  [[nodiscard]] std::size_t capacity() const noexcept {
    return text_.capacity() + fields_.capacity() * sizeof(Span) +
           doubled_.capacity() * sizeof(std::size_t);
  }

 private:
  friend class WrittenRowReader;
  struct Span {
    std::size_t begin;
    std::size_t end;
    bool ascii;
  };

  // The row's text as written; a field with doubled quotes is unquoted
  // where it stands.
  std::string text_;
  std::vector<Span> fields_;
  std::vector<std::size_t> doubled_;  // fields whose quotes are still doubled
};

// Splits text in the form RowWriter writes, a row at a time: fields joined by
// the delimiter, a field in quotes (inner quotes doubled) when it holds a
// quote, a delimiter or a line break, LF after every row. The text is taken
// to be in that form and is not repaired; anything else still reads as some
// rows, never past the text's end.
class WrittenRowReader {
 public:
  // `rows_read_back(delimiter, quote)` must hold.
  WrittenRowReader(unsigned char delimiter, unsigned char quote) noexcept
      : delimiter_(delimiter), quote_(quote) {}

  // Reads the row that starts at `offset` (before the text's end) into
  // `fields`; returns where the next row starts. An empty line is a row of
  // no fields; two quotes alone, a row of one empty field.
  std::size_t read_row(std::string_view text, std::size_t offset, FieldList& fields) const;

 private:
  // Unquotes the fields listed in fields.doubled_, each where it stands.
  void undouble_quotes(FieldList& fields) const;

  unsigned char delimiter_;
  unsigned char quote_;
};

}  // namespace vestle
