// The tolerant tokenizer for one row of any length, read from a seekable file in pieces.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "error/io_error.h"
#include "error/vestle_error.h"
#include "io/file_cursor.h"
#include "parser/byte_scan.h"
#include "parser/line_break.h"
#include "parser/resilient_parser.h"

namespace vestle {

// Splits the row that starts at a given offset of a file into fields exactly
// as ResilientParser does over the whole input, while holding only what two
// cursors buffer: one reads the row forward, the other answers the quote
// look-ahead. The look-ahead asks whether a later quote on the same physical
// line is followed, after blanks, by the delimiter, a line break or the end
// of the input; as in QuoteLookahead, the first such quote from an offset on
// answers for every offset up to it, so no byte is searched twice.
//
// A parser is a plain value besides its cursors: a copy given other cursors
// can run ahead of it (to learn how a field ends) without disturbing it.
//
// A sink takes the field bytes as they are read (`append_bytes`), closes
// fields and the row (`finish_field`, `finish_row`) and can ask the parser
// to pause (`wants_stop`, when it has one) between two steps. A sink with
// `whole_field` takes an unquoted field that is followed by the delimiter
// and lies in one buffer in one call, instead of the two; one with
// `plain_field_room` takes up to that many such fields at once
// (`plain_fields`) when they are ASCII and free of the quote.
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
        quoted_stops_(quote_char, kLf, kLf),
        candidates_(delimiter, quote_char) {}

  // Starts a row at `offset`, where the parser has `line_number`.
  void start_row(std::uint64_t offset, std::size_t line_number) noexcept {
    no_plain_stretch_before_ = 0;
    position_ = offset;
    line_number_ = line_number;
    state_ = State::FieldStart;
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

  // The last search: from `from` it found its first quote that may end a
  // field at `to`, or met none before the line's end at `to`. Valid for
  // every look-ahead from an offset in [from, to].
  struct LineSearch {
    bool valid = false;
    std::uint64_t from = 0;
    std::uint64_t to = 0;
    bool found = false;

    [[nodiscard]] bool covers(std::uint64_t offset) const noexcept {
      return valid && from <= offset && offset <= to;
    }
  };

  [[nodiscard]] bool is_blank(int b) const noexcept {
    return (b == ' ' || b == '\t') && b != delimiter_;
  }
  [[nodiscard]] bool ends_field(int b) const noexcept {
    return b == kEnd || b == delimiter_ || b == kLf || b == kCr;
  }
  [[nodiscard]] int byte_at(FileCursor& cursor, std::uint64_t offset);
  // 1 when the quote just before `after_quote` closes its field, 0 when it
  // is stray, kFailed when a read failed.
  [[nodiscard]] int quote_closes_field(std::uint64_t after_quote);
  // Searches the line from `from` for its first quote that may end a field
  // and remembers the answer; false when a read failed.
  [[nodiscard]] bool search_line(std::uint64_t from);
  // Skips whole words of `bytes` from `at` that hold no line break and no
  // quote that may end a field.
  [[nodiscard]] std::size_t skip_to_candidate(const unsigned char* bytes, std::size_t at,
                                              std::size_t size) const noexcept;
  template <typename Sink>
  [[nodiscard]] Result<Pause, IoError> end_line(Sink& sink, unsigned char line_break);
  // Fast paths over the buffered bytes; each stops where a byte needs the
  // general step (a quote whose next byte is not buffered, say).
  // `run_unquoted` is true when a line break ends the row at `position_`.
  template <typename Sink>
  [[nodiscard]] bool run_unquoted(Sink& sink);
  template <typename Sink>
  void run_quoted(Sink& sink);
  [[nodiscard]] Result<Pause, IoError> failed() const { return error_; }

  FileCursor* reader_;
  FileCursor* lookahead_;
  unsigned char delimiter_;
  unsigned char quote_char_;
  bool repair_quotes_;
  StopBytes unquoted_stops_;
  StopBytes quoted_stops_;
  ClosingQuoteCandidates candidates_;
  std::uint64_t no_plain_stretch_before_ = 0;
  std::uint64_t position_ = 0;
  std::size_t line_number_ = 1;
  State state_ = State::FieldStart;
  LineSearch search_;
  IoError error_ = IoError::of_kind(IoErrorKind::Other);
};

template <typename Sink>
bool LongRowParser::run_unquoted(Sink& sink) {
  const unsigned char* bytes = reader_->data();
  const std::uint64_t base = reader_->base();
  const std::size_t size = reader_->size();
  auto at = static_cast<std::size_t>(position_ - base);
  for (;;) {
    if constexpr (requires { sink.plain_field_room(); }) {
      if (state_ == State::FieldStart && base + at >= no_plain_stretch_before_ &&
          sink.plain_field_room() != 0) {
        // Short unquoted ASCII fields, up to the last delimiter before a
        // quote, a line break or a byte from 0x80 up, go over in one piece.
        const PlainStretch stretch = plain_stretch(bytes, at, size, delimiter_, quote_char_);
        const std::size_t fields = stretch.delimiters;
        if (fields != 0 && fields <= sink.plain_field_room()) {
          sink.plain_fields(reinterpret_cast<const char*>(bytes) + at, stretch.end - at, fields);
          at = stretch.end;
          position_ = base + at;
          if (at == size || bytes[at] == quote_char_) return false;
          continue;
        }
        no_plain_stretch_before_ = base + stretch.stop;  // field by field up to there
      }
    }
    // Field text runs to the delimiter or a line break; short fields are
    // common enough to look at a few bytes before the vector scan.
    std::size_t end = at;
    const std::size_t near = size - at < 8 ? size : at + 8;
    while (end < near && bytes[end] != delimiter_ && !is_line_break(bytes[end])) ++end;
    if (end == near && end < size) end = unquoted_stops_.scan(bytes, end, size).end;
    const char* const text = reinterpret_cast<const char*>(bytes) + at;
    if constexpr (requires { sink.whole_field(text, end - at); }) {
      // A field read from its start to its delimiter in one piece.
      if (state_ == State::FieldStart && end < size && bytes[end] == delimiter_) {
        sink.whole_field(text, end - at);
        at = end + 1;
        position_ = base + at;
        if (at == size || bytes[at] == quote_char_) return false;
        continue;
      }
    }
    if (end > at) {
      sink.append_bytes(text, end - at);
      state_ = State::Unquoted;
    }
    position_ = base + end;
    if (end == size || bytes[end] != delimiter_) return end < size;  // a line break ends the row
    sink.finish_field();
    at = end + 1;
    position_ = base + at;
    state_ = State::FieldStart;
    if (at == size || bytes[at] == quote_char_) return false;
  }
}

template <typename Sink>
void LongRowParser::run_quoted(Sink& sink) {
  const unsigned char* bytes = reader_->data();
  const std::uint64_t base = reader_->base();
  const std::size_t size = reader_->size();
  auto at = static_cast<std::size_t>(position_ - base);
  std::size_t span = at;  // field bytes from here to `at` are not handed over yet
  while (at < size) {
    at = quoted_stops_.scan(bytes, at, size).end;
    if (at == size) break;
    if (bytes[at] != quote_char_) {
      ++line_number_;  // an LF inside quotes is data
      ++at;
      continue;
    }
    if (at + 1 == size) break;
    const unsigned char next = bytes[at + 1];
    if (next == quote_char_) {
      // A doubled quote stands for one quote character.
      sink.append_bytes(reinterpret_cast<const char*>(bytes) + span, at + 1 - span);
      at += 2;
      span = at;
      continue;
    }
    if (repair_quotes_) {
      // Followed by text, inside the last search's range: the answer is known.
      if (is_blank(next) || ends_field(next) || !search_.covers(base + at + 1)) break;
      if (search_.found) {
        // Stray, and so is every quote before the one that makes the better
        // end, but for doubled ones: taken in bulk up to it (the byte after
        // each pair's first quote must be buffered).
        const auto better = static_cast<std::size_t>(
            std::min<std::uint64_t>(search_.to - base, size - 1));
        while (at < better) {
          const std::size_t pair = scan_to_pair(bytes, at, better, quote_char_).end;
          if (pair == better) break;
          sink.append_bytes(reinterpret_cast<const char*>(bytes) + span, pair + 1 - span);
          at = pair + 2;
          span = at;
        }
        at = std::max(at, better);
        continue;
      }
    }
    // The closing quote.
    sink.append_bytes(reinterpret_cast<const char*>(bytes) + span, at - span);
    position_ = base + at + 1;
    state_ = State::AfterQuote;
    return;
  }
  if (at > span) sink.append_bytes(reinterpret_cast<const char*>(bytes) + span, at - span);
  position_ = base + at;
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
      case State::Unquoted:
        // The quote is tested first: a byte that is quote and delimiter opens a field.
        if (state_ == State::FieldStart && b == quote_char_) {
          ++position_;
          state_ = State::Quoted;
        } else if (run_unquoted(sink)) {
          const auto line_break = reader_->data()[position_ - reader_->base()];
          return end_line(sink, line_break);
        }
        break;

      case State::Quoted:
        if (b != quote_char_ && b != kLf) {
          run_quoted(sink);
        } else if (b == quote_char_) {
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
        } else {
          // Line breaks inside quotes are data; only LF is counted.
          ++line_number_;
          sink.append_bytes("\n", 1);
          ++position_;
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
