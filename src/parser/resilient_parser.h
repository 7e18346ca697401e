// The tolerant CSV tokenizer: splits any byte sequence into rows, never fails.
#pragma once

#include <cstddef>
#include <string_view>

#include "parser/quote_lookahead.h"
#include "parser/row_store.h"

namespace vestle {

class ResilientParser {
 public:
  // Borrows `input`; skips a leading UTF-8 byte-order mark.
  ResilientParser(std::string_view input, unsigned char delimiter, unsigned char quote_char,
                  bool repair_quotes) noexcept;

  // Appends the next row (at least one field) to `out` and returns true, or
  // returns false once the input is exhausted (and on every later call).
  bool next_row(RowStore& out);

  // 1-based; counts row-ending line breaks and LFs inside quoted fields.
  [[nodiscard]] std::size_t line_number() const noexcept { return line_number_; }
  // Offset of the next byte to read; for progress estimates.
  [[nodiscard]] std::size_t position() const noexcept { return position_; }

 private:
  enum class State { FieldStart, Unquoted, Quoted, AfterQuote };

  [[nodiscard]] unsigned char byte_at(std::size_t i) const noexcept {
    return static_cast<unsigned char>(input_[i]);
  }

  // The open field's bytes are copied to the store lazily: bytes taken into
  // the field only extend the pending span [span_begin_, position_) of the
  // input, which is flushed when a byte is skipped or the field finishes.
  void take_byte(unsigned char b) noexcept {
    if (b >= 0x80) field_has_high_byte_ = true;
    ++position_;
  }
  // Takes the bytes from `position_` up to the next byte equal to one of the
  // three stops, or to the end of the input.
  void take_run(unsigned char stop_a, unsigned char stop_b, unsigned char stop_c) noexcept;
  void skip_bytes(RowStore& out, std::size_t count);
  void flush_span(RowStore& out);
  void finish_field(RowStore& out);
  void end_line(RowStore& out);
  void end_of_input(RowStore& out);

  std::string_view input_;
  std::size_t position_ = 0;
  std::size_t line_number_ = 1;
  unsigned char delimiter_;
  unsigned char quote_char_;
  bool repair_quotes_;
  // State of the open field; both are reset when it finishes, so nothing of
  // a row outlives the call that built it.
  std::size_t span_begin_ = 0;
  bool field_has_high_byte_ = false;  // only such fields need UTF-8 decoding
  QuoteLookahead lookahead_;
};

}  // namespace vestle
