// The tolerant CSV tokenizer: a four-state machine with quote repair.
#include "parser/resilient_parser.h"

#include <cstdint>

#include "parser/byte_scan.h"
#include "parser/line_break.h"

namespace vestle {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

ResilientParser::ResilientParser(std::string_view input, unsigned char delimiter,
                                 unsigned char quote_char, bool repair_quotes) noexcept
    : ResilientParser(input, delimiter, quote_char, repair_quotes, WindowStart{}) {}

ResilientParser::ResilientParser(std::string_view input, unsigned char delimiter,
                                 unsigned char quote_char, bool repair_quotes,
                                 const WindowStart& start) noexcept
    : input_(input),
      line_number_(start.line_number),
      delimiter_(delimiter),
      quote_char_(quote_char),
      repair_quotes_(repair_quotes),
      lookahead_(input, delimiter, quote_char),
      unquoted_stops_(delimiter, kLf, kCr),
      quoted_stops_(quote_char, kLf, kLf) {
  if (start.at_input_start && input.substr(0, 3) == kByteOrderMark) position_ = 3;
  row_start_ = ParsePoint{position_, line_number_};
}

ParsePoint ResilientParser::resume_point() const noexcept {
  ParsePoint point = row_start_;
  // Only a run of empty lines reaches the end without starting a row; its
  // last CR was taken as a line break of its own.
  if (point.offset == input_.size() && point.offset > 0 && byte_at(point.offset - 1) == kCr &&
      quote_char_ != kCr && delimiter_ != kCr) {
    --point.offset;
    --point.line_number;
  }
  return point;
}

[[gnu::always_inline]] inline void ResilientParser::take_run(const StopBytes& stops) noexcept {
  const ScanResult run =
      stops.scan(reinterpret_cast<const unsigned char*>(input_.data()), position_, input_.size());
  if (run.has_high_byte) field_has_high_byte_ = true;
  position_ = run.end;
}

template <typename Sink>
[[gnu::always_inline]] inline void ResilientParser::flush_span(Sink& out) {
  if (position_ == span_begin_) return;
  out.append_bytes(input_.data() + span_begin_, position_ - span_begin_);
  span_begin_ = position_;
}

template <typename Sink>
inline void ResilientParser::skip_bytes(Sink& out, std::size_t count) {
  flush_span(out);
  position_ += count;
  span_begin_ = position_;
}

template <typename Sink>
[[gnu::always_inline]] inline void ResilientParser::finish_field(Sink& out) {
  flush_span(out);
  if (field_has_high_byte_) {
    out.finish_field();
  } else {
    out.finish_ascii_field();
  }
  field_has_high_byte_ = false;
}

template <typename Sink>
[[gnu::always_inline]] inline void ResilientParser::end_field_at_delimiter(Sink& out) {
  finish_field(out);
  skip_bytes(out, 1);
  take_checkpoint(out, State::FieldStart);
}

template <typename Sink>
[[gnu::always_inline]] inline void ResilientParser::end_line(Sink& out) {
  finish_field(out);
  // CR LF is one line break; a lone CR or LF is one too.
  const bool crlf = byte_at(position_) == kCr && position_ + 1 < input_.size() &&
                    byte_at(position_ + 1) == kLf;
  skip_bytes(out, crlf ? 2 : 1);
  ++line_number_;
  out.finish_row();
}

void ResilientParser::skip_empty_lines() noexcept {
  const auto* bytes = reinterpret_cast<const unsigned char*>(input_.data());
  const std::size_t size = input_.size();
  // At the start of a row the quote and the delimiter are tested before line
  // breaks, so a line-break byte that is one of them does not end a line here.
  const bool lf_ends_line = quote_char_ != kLf && delimiter_ != kLf;
  const bool cr_ends_line = quote_char_ != kCr && delimiter_ != kCr;
  for (;;) {
    if (lf_ends_line) {
      // A run of LF is as many lines.
      const std::size_t run_end = skip_byte_run(bytes, position_, size, kLf);
      line_number_ += run_end - position_;
      position_ = run_end;
    }
    // Past the LFs, only a CR that ends a line goes on with the empty lines.
    if (position_ == size || bytes[position_] != kCr || !cr_ends_line) return;
    // CR LF is one line break.
    position_ += position_ + 1 < size && bytes[position_ + 1] == kLf ? 2 : 1;
    ++line_number_;
  }
}

template <typename Sink>
void ResilientParser::take_strays_before(Sink& out, std::size_t end) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(input_.data());
  // Stray quotes are data like the bytes around them; only a doubled quote
  // (which may end at `end` itself) drops a byte.
  while (position_ < end) {
    const ScanResult run = scan_to_pair(bytes, position_, end, quote_char_);
    if (run.has_high_byte) field_has_high_byte_ = true;
    position_ = run.end;
    if (position_ == end) break;
    take_byte(quote_char_);
    skip_bytes(out, 1);
  }
}

template <typename Sink>
inline void ResilientParser::take_checkpoint(Sink& out, State state) {
  if constexpr (Sink::kTakesCheckpoints) {
    // Every byte before the checkpoint, and the one after each of them that
    // a quote test read, lies inside the window; a look-ahead on this line
    // may have read past it.
    if (line_looked_ahead_ || position_ >= input_.size()) return;
    flush_span(out);
    checkpoint_ = RowCheckpoint{position_, line_number_, state, out};
  }
}

template <typename Sink>
[[gnu::always_inline]] inline bool ResilientParser::quote_closes_field(std::size_t after_quote) {
  // The look-ahead reads to the end of the line, which may lie past the window.
  if constexpr (Sink::kTakesCheckpoints) line_looked_ahead_ = true;
  return lookahead_.is_closing_quote(after_quote);
}

template <typename Sink>
bool ResilientParser::build_row(Sink& out) {
  if constexpr (Sink::kDropsEmptyLines) skip_empty_lines();
  row_start_ = ParsePoint{position_, line_number_};
  if (position_ >= input_.size()) return false;
  return run_row(out, State::FieldStart);
}

bool ResilientParser::resume_row(FieldCountSink& out, const RowCheckpoint& checkpoint) {
  out = checkpoint.sink;
  return run_row(out, checkpoint.state);
}

template <typename Sink>
bool ResilientParser::run_row(Sink& out, State state) {
  if constexpr (Sink::kTakesCheckpoints) {
    checkpoint_.reset();
    line_looked_ahead_ = false;
  }
  span_begin_ = position_;
  for (;;) {
    if (position_ == input_.size()) {
      // In FieldStart the input ended right after a delimiter, which leaves
      // an empty last field; in any other state the field keeps what was
      // read, an unclosed quoted field included.
      finish_field(out);
      out.finish_row();
      return true;
    }
    const unsigned char b = byte_at(position_);
    switch (state) {
      case State::FieldStart:
        // The quote is tested first: a byte that is quote and delimiter opens a field.
        if (b == quote_char_) {
          skip_bytes(out, 1);
          state = State::Quoted;
        } else if (b == delimiter_) {
          end_field_at_delimiter(out);
        } else if (is_line_break(b)) {
          end_line(out);  // an empty last field
          return true;
        } else {
          // b stops nothing: the run to the next delimiter or line break is field text.
          take_run(unquoted_stops_);
          state = State::Unquoted;
        }
        break;

      case State::Unquoted:
        if (b == delimiter_) {
          end_field_at_delimiter(out);
          state = State::FieldStart;
        } else if (is_line_break(b)) {
          end_line(out);
          return true;
        } else {
          // Ordinary bytes, quotes included, up to the next delimiter or line break.
          take_run(unquoted_stops_);
        }
        break;

      case State::Quoted:
        if (b == quote_char_) {
          if (position_ + 1 == input_.size()) {
            // A quote as the last byte of the input closes the field.
            skip_bytes(out, 1);
            state = State::AfterQuote;
          } else if (byte_at(position_ + 1) == quote_char_) {
            // A doubled quote stands for one quote character.
            take_byte(b);
            skip_bytes(out, 1);
          } else if (!repair_quotes_ || quote_closes_field<Sink>(position_ + 1)) {
            // The closing quote.
            skip_bytes(out, 1);
            state = State::AfterQuote;
          } else {
            // Stray quote: a later quote on this line makes a better end of
            // the field, so this one is data, and so is every quote before
            // that better one.
            take_byte(b);
            take_strays_before(out, lookahead_.better_quote());
          }
        } else if (b == kLf) {
          // Line breaks inside quotes are data; only LF is counted.
          ++line_number_;
          take_byte(b);
          if constexpr (Sink::kTakesCheckpoints) {
            // The look-ahead never reads past a line break.
            line_looked_ahead_ = false;
            take_checkpoint(out, State::Quoted);
          }
        } else {
          // Ordinary bytes, CR and delimiter included, up to the next quote or LF.
          take_run(quoted_stops_);
        }
        break;

      case State::AfterQuote:
        // The delimiter is tested before the blanks, so a tab delimiter ends the field.
        if (b == delimiter_) {
          end_field_at_delimiter(out);
          state = State::FieldStart;
        } else if (b == ' ' || b == '\t') {
          // Blanks right after a closing quote are dropped.
          skip_bytes(out, 1);
        } else if (is_line_break(b)) {
          end_line(out);
          return true;
        } else {
          // Text after a closing quote continues the same field as unquoted text.
          take_byte(b);
          state = State::Unquoted;
        }
        break;
    }
  }
}

bool ResilientParser::next_row(RowStore& out) { return build_row(out); }

bool ResilientParser::next_row(FieldCountSink& out) { return build_row(out); }

}  // namespace vestle
