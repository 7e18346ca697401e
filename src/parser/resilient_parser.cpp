// The tolerant CSV tokenizer: a four-state machine with quote repair.
#include "parser/resilient_parser.h"

#include "parser/byte_scan.h"

namespace vestle {
namespace {

constexpr unsigned char kLf = 0x0A;
constexpr unsigned char kCr = 0x0D;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

constexpr bool is_line_break(unsigned char b) noexcept { return b == kLf || b == kCr; }

}  // namespace

ResilientParser::ResilientParser(std::string_view input, unsigned char delimiter,
                                 unsigned char quote_char, bool repair_quotes) noexcept
    : input_(input),
      delimiter_(delimiter),
      quote_char_(quote_char),
      repair_quotes_(repair_quotes),
      lookahead_(input, delimiter, quote_char) {
  if (input.substr(0, 3) == kByteOrderMark) position_ = 3;
}

inline void ResilientParser::take_run(unsigned char stop_a, unsigned char stop_b,
                                      unsigned char stop_c) noexcept {
  const ScanResult run = scan_to_first_of(reinterpret_cast<const unsigned char*>(input_.data()),
                                          position_, input_.size(), stop_a, stop_b, stop_c);
  if (run.has_high_byte) field_has_high_byte_ = true;
  position_ = run.end;
}

inline void ResilientParser::flush_span(RowStore& out) {
  if (position_ == span_begin_) return;
  out.append_bytes(input_.data() + span_begin_, position_ - span_begin_);
  span_begin_ = position_;
}

inline void ResilientParser::skip_bytes(RowStore& out, std::size_t count) {
  flush_span(out);
  position_ += count;
  span_begin_ = position_;
}

inline void ResilientParser::finish_field(RowStore& out) {
  flush_span(out);
  if (field_has_high_byte_) {
    out.finish_field();
  } else {
    out.finish_ascii_field();
  }
  field_has_high_byte_ = false;
}

inline void ResilientParser::end_line(RowStore& out) {
  finish_field(out);
  // CR LF is one line break; a lone CR or LF is one too.
  const bool crlf = byte_at(position_) == kCr && position_ + 1 < input_.size() &&
                    byte_at(position_ + 1) == kLf;
  skip_bytes(out, crlf ? 2 : 1);
  ++line_number_;
  out.finish_row();
}

void ResilientParser::end_of_input(RowStore& out) {
  // In FieldStart the input ended right after a delimiter, which leaves an
  // empty last field; in any other state the field keeps what was read, an
  // unclosed quoted field included. Either way the open field is finished.
  finish_field(out);
  out.finish_row();
}

bool ResilientParser::next_row(RowStore& out) {
  if (position_ >= input_.size()) return false;

  State state = State::FieldStart;
  span_begin_ = position_;
  for (;;) {
    if (position_ == input_.size()) {
      end_of_input(out);
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
          finish_field(out);
          skip_bytes(out, 1);
        } else if (is_line_break(b)) {
          end_line(out);  // an empty last field
          return true;
        } else {
          // b stops nothing: the run to the next delimiter or line break is field text.
          take_run(delimiter_, kLf, kCr);
          state = State::Unquoted;
        }
        break;

      case State::Unquoted:
        if (b == delimiter_) {
          finish_field(out);
          skip_bytes(out, 1);
          state = State::FieldStart;
        } else if (is_line_break(b)) {
          end_line(out);
          return true;
        } else {
          // Ordinary bytes, quotes included, up to the next delimiter or line break.
          take_run(delimiter_, kLf, kCr);
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
          } else if (!repair_quotes_ || lookahead_.is_closing_quote(position_ + 1)) {
            // The closing quote.
            skip_bytes(out, 1);
            state = State::AfterQuote;
          } else {
            // Stray quote: a later quote on this line makes a better end of
            // the field, so this one is data.
            take_byte(b);
          }
        } else if (b == kLf) {
          // Line breaks inside quotes are data; only LF is counted.
          ++line_number_;
          take_byte(b);
        } else {
          // Ordinary bytes, CR and delimiter included, up to the next quote or LF.
          take_run(quote_char_, kLf, kLf);
        }
        break;

      case State::AfterQuote:
        // The delimiter is tested before the blanks, so a tab delimiter ends the field.
        if (b == delimiter_) {
          finish_field(out);
          skip_bytes(out, 1);
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

}  // namespace vestle
