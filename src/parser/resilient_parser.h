// The tolerant CSV tokenizer: splits any byte sequence into rows, never fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "parser/byte_scan.h"
#include "parser/field_count_sink.h"
#include "parser/quote_lookahead.h"
#include "parser/row_store.h"

namespace vestle {

// A place between two rows of an input: where the next row starts and the
// line number the parser has there.
struct ParsePoint {
  std::size_t offset = 0;
  std::size_t line_number = 1;
};

// Where the tokenizer stands inside a row.
enum class ParserState : std::uint8_t { FieldStart, Unquoted, Quoted, AfterQuote };

// A place inside a row where a counting pass over a window may stop and go
// on once the window is longer: nothing the parser decided before it depends
// on later bytes. `state` is the parser's state there, `sink` the counts so far.
struct RowCheckpoint {
  std::size_t offset = 0;
  std::size_t line_number = 1;
  ParserState state = ParserState::FieldStart;
  FieldCountSink sink;
};

class ResilientParser {
 public:
  // Borrows `input`; skips a leading UTF-8 byte-order mark.
  ResilientParser(std::string_view input, unsigned char delimiter, unsigned char quote_char,
                  bool repair_quotes) noexcept;
  // Where a window of a longer input starts: at a row boundary where the
  // parser stood at `line_number`; the byte-order mark is skipped only at
  // the input's start.
  struct WindowStart {
    std::size_t line_number = 1;
    bool at_input_start = true;
  };
  // Goes on with a longer input at a row boundary: `input` starts there.
  ResilientParser(std::string_view input, unsigned char delimiter, unsigned char quote_char,
                  bool repair_quotes, const WindowStart& start) noexcept;

  // Appends the next row (at least one field) to `out` and returns true, or
  // returns false once the input is exhausted (and on every later call).
  bool next_row(RowStore& out);
  // The same row, but only its field count and blankness are kept.
  bool next_row(FieldCountSink& out);
  // Goes on with the row a parser over an earlier window left at
  // `checkpoint`; this parser's input starts at the checkpoint.
  bool resume_row(FieldCountSink& out, const RowCheckpoint& checkpoint);
  // The last checkpoint of the row the last call built, if it had one: a
  // counting pass whose row reached the window's end resumes there rather
  // than at the row's start, so a long row need not be held whole.
  [[nodiscard]] const std::optional<RowCheckpoint>& checkpoint() const noexcept {
    return checkpoint_;
  }

  // 1-based; counts row-ending line breaks and LFs inside quoted fields.
  [[nodiscard]] std::size_t line_number() const noexcept { return line_number_; }
  // Offset of the next byte to read; between rows, where the next row starts.
  [[nodiscard]] std::size_t position() const noexcept { return position_; }

  // For an input that is only a window of a longer one. A row that reached
  // the end of the window may go on beyond it; a row that ended with a line
  // break before the window's last byte is final, since nothing the parser
  // decides looks past the line break that ends the row. After `next_row`
  // returned false, or returned a row that reached the window's end, this
  // is where the parse resumes once the window is longer: the start of that
  // row after the empty lines passed over, less a lone CR that ends the
  // window, which may be the first half of a CR LF.
  [[nodiscard]] ParsePoint resume_point() const noexcept;
  // Moves on to `point`, a row boundary further on, when the rows before it
  // were read by other means.
  void skip_to(ParsePoint point) noexcept {
    position_ = point.offset;
    line_number_ = point.line_number;
    row_start_ = point;
  }

 private:
  using State = ParserState;

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
  // stops, or to the end of the input.
  void take_run(const StopBytes& stops) noexcept;
  // Passes the line breaks at `position_`, each of which would be a row of
  // one empty field; for sinks that drop such rows anyway.
  void skip_empty_lines() noexcept;
  // Takes a quoted field's bytes up to `end`, where every quote is stray
  // or doubled (the look-ahead found the first qualifying quote at `end`).
  template <typename Sink>
  void take_strays_before(Sink& out, std::size_t end);
  // One state machine for every sink: a sink takes field bytes
  // (`append_bytes`) and closes fields and rows; a sink whose
  // `kDropsEmptyLines` is true never sees a row that is a bare line break.
  template <typename Sink>
  bool build_row(Sink& out);
  template <typename Sink>
  bool run_row(Sink& out, State state);
  // Where a row may be resumed by a counting pass: after an LF inside a
  // quoted field, or at a field's start on a line where no look-ahead ran.
  template <typename Sink>
  void take_checkpoint(Sink& out, State state);
  template <typename Sink>
  bool quote_closes_field(std::size_t after_quote);
  template <typename Sink>
  void skip_bytes(Sink& out, std::size_t count);
  template <typename Sink>
  void flush_span(Sink& out);
  template <typename Sink>
  void finish_field(Sink& out);
  // The delimiter at the current byte ends the field; the next one starts after it.
  template <typename Sink>
  void end_field_at_delimiter(Sink& out);
  template <typename Sink>
  void end_line(Sink& out);

  std::string_view input_;
  std::size_t position_ = 0;
  std::size_t line_number_ = 1;
  ParsePoint row_start_;  // of the last row begun
  unsigned char delimiter_;
  unsigned char quote_char_;
  bool repair_quotes_;
  // State of the open field; both are reset when it finishes, so nothing of
  // a row outlives the call that built it.
  std::size_t span_begin_ = 0;
  bool field_has_high_byte_ = false;  // only such fields need UTF-8 decoding
  bool line_looked_ahead_ = false;  // a look-ahead ran on the current line of the row
  std::optional<RowCheckpoint> checkpoint_;
  QuoteLookahead lookahead_;
  StopBytes unquoted_stops_;  // what ends a run of field text outside quotes
  StopBytes quoted_stops_;    // and inside quotes
};

}  // namespace vestle
