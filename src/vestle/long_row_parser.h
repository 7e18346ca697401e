// The tolerant tokenizer for one row of any length, read from a seekable file in pieces.
#pragma once

#include <cstddef>
#include <cstdint>

#include "error/io_error.h"
#include "error/vestle_error.h"
#include "parser/byte_scan.h"
#include "parser/line_break.h"
#include "parser/resilient_parser.h"
#include "vestle/file_cursor.h"

namespace vestle {

// Splits the row that starts at a given offset of a file into fields exactly
// as ResilientParser does over the whole input, while holding only what two
// cursors buffer: one reads the row forward, the other answers the quote
// look-ahead. The look-ahead asks whether a later quote on the same physical
// line is followed, after blanks, by the delimiter, a line break or the end
// of the input; the last such quote of the line answers that for every
// candidate, so each line is searched once.
//
// A parser is a plain value besides its cursors: a copy given other cursors
// can run ahead of it (to learn how a field ends) without disturbing it.
//
// A sink takes the field bytes as they are read (`append_bytes`), closes
// fields and the row (`finish_field`, `finish_row`) and can ask the parser
// to pause (`wants_stop`, when it has one) between two steps.
class LongRowParser {
 public:
  LongRowParser(FileCursor& reader, FileCursor& lookahead, unsigned char delimiter,
                unsigned char quote_char, bool repair_quotes) noexcept
      : reader_(&reader),
        lookahead_(&lookahead),
        delimiter_(delimiter),
        quote_char_(quote_char),
        repair_quotes_(repair_quotes),
        unquoted_stops_(delimiter, kLf, kCr),
        quoted_stops_(quote_char, kLf, kLf) {}

  // Starts a row at `offset`, where the parser has `line_number`; or goes
  // on inside one, in `state`, where no decision before depended on later
  // bytes (a RowCheckpoint).
  void start_row(std::uint64_t offset, std::size_t line_number,
                 ParserState state = ParserState::FieldStart) noexcept {
    position_ = offset;
    line_number_ = line_number;
    state_ = state;
  }
  // At the start of the input, passes a byte-order mark, which is never part
  // of the first row.
  [[nodiscard]] Result<Done, IoError> skip_byte_order_mark();
  // This parser, where it stands, reading through other cursors.
  [[nodiscard]] LongRowParser reading_through(FileCursor& reader,
                                              FileCursor& lookahead) const noexcept {
    LongRowParser copy = *this;
    copy.reader_ = &reader;
    copy.lookahead_ = &lookahead;
    return copy;
  }

  enum class Pause { RowEnded, SinkStopped };
  // Reads on until the row ends or the sink asks to stop.
  template <typename Sink>
  [[nodiscard]] Result<Pause, IoError> run(Sink& sink);

  // Past the row's line break once the row has ended.
  [[nodiscard]] std::uint64_t position() const noexcept { return position_; }
  [[nodiscard]] std::size_t line_number() const noexcept { return line_number_; }

 private:
  using State = ParserState;
  // A byte of the file, or one of these.
  static constexpr int kEnd = -1;
  static constexpr int kFailed = -2;

  // The last quote of a line that may end a quoted field, searched from
  // `from` to the line's end: valid for every look-ahead from `from` up to
  // `line_end`.
  struct LineSearch {
    bool valid = false;
    std::uint64_t from = 0;
    std::uint64_t line_end = 0;
    bool found = false;
    std::uint64_t last_ending_quote = 0;
  };

  [[nodiscard]] bool is_blank(int b) const noexcept {
    return (b == ' ' || b == '\t') && b != delimiter_;
  }
  [[nodiscard]] bool ends_field(int b) const noexcept {
    return b == kEnd || b == delimiter_ || b == kLf || b == kCr;
  }
  [[nodiscard]] int byte_at(FileCursor& cursor, std::uint64_t offset);
  // Whether the quote just before `after_quote` closes its field.
  [[nodiscard]] int quote_closes_field(std::uint64_t after_quote);
  [[nodiscard]] bool search_line(std::uint64_t from);
  template <typename Sink>
  [[nodiscard]] Result<Pause, IoError> end_line(Sink& sink, unsigned char line_break);
  template <typename Sink>
  void take_run(Sink& sink, const StopBytes& stops);
  [[nodiscard]] Result<Pause, IoError> failed() const { return error_; }

  FileCursor* reader_;
  FileCursor* lookahead_;
  unsigned char delimiter_;
  unsigned char quote_char_;
  bool repair_quotes_;
  StopBytes unquoted_stops_;
  StopBytes quoted_stops_;
  std::uint64_t position_ = 0;
  std::size_t line_number_ = 1;
  State state_ = State::FieldStart;
  LineSearch search_;
  IoError error_ = IoError::of_kind(IoErrorKind::Other);
};

template <typename Sink>
void LongRowParser::take_run(Sink& sink, const StopBytes& stops) {
  const unsigned char* bytes = reader_->data();
  const auto at = static_cast<std::size_t>(position_ - reader_->base());
  const std::size_t end = stops.scan(bytes, at, reader_->size()).end;
  sink.append_bytes(reinterpret_cast<const char*>(bytes) + at, end - at);
  position_ += end - at;
}

template <typename Sink>
Result<LongRowParser::Pause, IoError> LongRowParser::end_line(Sink& sink,
                                                              unsigned char line_break) {
  sink.finish_field();
  ++position_;
  if (line_break == kCr) {
    // CR LF is one line break.
    const int next = byte_at(*reader_, position_);
    if (next == kFailed) return failed();
    if (next == kLf) ++position_;
  }
  ++line_number_;
  sink.finish_row();
  return Pause::RowEnded;
}

template <typename Sink>
Result<LongRowParser::Pause, IoError> LongRowParser::run(Sink& sink) {
  for (;;) {
    if constexpr (requires { sink.wants_stop(); }) {
      if (sink.wants_stop()) return Pause::SinkStopped;
    }
    const int read = byte_at(*reader_, position_);
    if (read == kFailed) return failed();
    if (read == kEnd) {
      // The input ends the row; in FieldStart right after a delimiter, which
      // leaves an empty last field.
      sink.finish_field();
      sink.finish_row();
      return Pause::RowEnded;
    }
    const auto b = static_cast<unsigned char>(read);
    switch (state_) {
      case State::FieldStart:
        // The quote is tested first: a byte that is quote and delimiter opens a field.
        if (b == quote_char_) {
          ++position_;
          state_ = State::Quoted;
        } else if (b == delimiter_) {
          sink.finish_field();
          ++position_;
        } else if (is_line_break(b)) {
          return end_line(sink, b);
        } else {
          take_run(sink, unquoted_stops_);
          state_ = State::Unquoted;
        }
        break;

      case State::Unquoted:
        if (b == delimiter_) {
          sink.finish_field();
          ++position_;
          state_ = State::FieldStart;
        } else if (is_line_break(b)) {
          return end_line(sink, b);
        } else {
          take_run(sink, unquoted_stops_);
        }
        break;

      case State::Quoted:
        if (b == quote_char_) {
          const int next = byte_at(*lookahead_, position_ + 1);
          if (next == kFailed) return failed();
          if (next == quote_char_) {
            // A doubled quote stands for one quote character.
            sink.append_bytes(reinterpret_cast<const char*>(&quote_char_), 1);
            position_ += 2;
            break;
          }
          int closes = 1;  // a quote at the end of the input closes its field
          if (next != kEnd && repair_quotes_) closes = quote_closes_field(position_ + 1);
          if (closes == kFailed) return failed();
          if (closes == 0) {
            // Stray: a later quote on this line makes a better end of the field.
            sink.append_bytes(reinterpret_cast<const char*>(&quote_char_), 1);
          } else {
            state_ = State::AfterQuote;
          }
          ++position_;
        } else if (b == kLf) {
          // Line breaks inside quotes are data; only LF is counted.
          ++line_number_;
          sink.append_bytes("\n", 1);
          ++position_;
        } else {
          take_run(sink, quoted_stops_);
        }
        break;

      case State::AfterQuote:
        // The delimiter is tested before the blanks, so a tab delimiter ends the field.
        if (b == delimiter_) {
          sink.finish_field();
          ++position_;
          state_ = State::FieldStart;
        } else if (b == ' ' || b == '\t') {
          ++position_;  // blanks right after a closing quote are dropped
        } else if (is_line_break(b)) {
          return end_line(sink, b);
        } else {
          sink.append_bytes(reinterpret_cast<const char*>(&b), 1);
          ++position_;
          state_ = State::Unquoted;
        }
        break;
    }
  }
}

}  // namespace vestle
