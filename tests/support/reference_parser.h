// A literal, unoptimised rendering of the tokenizer's rules, one byte per step: the oracle that
// the parser's unit tests and fuzz target compare ResilientParser against, row by row and line
// number by line number.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "support/reference_utf8.h"

namespace vestle::reference {

struct ReferenceRow {
  std::vector<std::string> fields;
  std::size_t line_after = 0;  // line number once the row has been returned
};

class ReferenceParser {
 public:
  ReferenceParser(std::string_view input, unsigned char delimiter, unsigned char quote_char,
                  bool repair_quotes)
      : in_(input), delimiter_(delimiter), quote_(quote_char), repair_(repair_quotes) {
    if (in_.size() >= 3 && in_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
  }

  // Every row up to the end of the input.
  std::vector<ReferenceRow> all_rows() {
    std::vector<ReferenceRow> rows;
    while (pos_ < in_.size()) rows.push_back(next_row());
    return rows;
  }

  std::size_t line_number() const { return line_; }

  // The closing-quote test for the quote just before offset `p`.
  bool is_closing_quote(std::size_t p) const {
    const std::size_t j = skip_blanks(p);
    if (ends_field_at(j)) return true;
    for (std::size_t k = j; k < in_.size() && !is_line_break(k); ++k) {
      if (at(k) == quote_ && ends_field_at(skip_blanks(k + 1))) return false;
    }
    return true;
  }

  // Whether the quote at `k` would end a field: after blanks comes the end
  // of input, the delimiter or a line break.
  bool quote_qualifies(std::size_t k) const { return ends_field_at(skip_blanks(k + 1)); }

 private:
  enum class State { FieldStart, Unquoted, Quoted, AfterQuote };

  unsigned char at(std::size_t i) const { return static_cast<unsigned char>(in_[i]); }
  bool is_line_break(std::size_t i) const { return at(i) == '\n' || at(i) == '\r'; }
  bool is_blank_not_delimiter(std::size_t i) const {
    return (at(i) == ' ' || at(i) == '\t') && at(i) != delimiter_;
  }
  // After a quote and its blanks: end of input, the delimiter or a line break.
  bool ends_field_at(std::size_t i) const {
    return i == in_.size() || at(i) == delimiter_ || is_line_break(i);
  }
  std::size_t skip_blanks(std::size_t i) const {
    while (i < in_.size() && is_blank_not_delimiter(i)) ++i;
    return i;
  }

  void consume_line_break() {
    if (at(pos_) == '\r' && pos_ + 1 < in_.size() && at(pos_ + 1) == '\n') ++pos_;
    ++pos_;
    ++line_;
  }

  void finish_field(std::vector<std::string>& row, std::string& field) {
    row.push_back(reference_lossy(field));
    field.clear();
  }

  ReferenceRow end_row_at_line_break(std::vector<std::string>& row, std::string& field) {
    consume_line_break();
    finish_field(row, field);
    return {row, line_};
  }

  ReferenceRow next_row() {
    std::vector<std::string> row;
    std::string field;
    State state = State::FieldStart;
    while (pos_ < in_.size()) {
      const unsigned char b = at(pos_);
      const char c = static_cast<char>(b);
      switch (state) {
        case State::FieldStart:
          if (b == quote_) {
            ++pos_, state = State::Quoted;
          } else if (b == delimiter_) {
            finish_field(row, field), ++pos_;
          } else if (is_line_break(pos_)) {
            return end_row_at_line_break(row, field);
          } else {
            field += c, ++pos_, state = State::Unquoted;
          }
          break;
        case State::Unquoted:
          if (b == delimiter_) {
            finish_field(row, field), ++pos_, state = State::FieldStart;
          } else if (is_line_break(pos_)) {
            return end_row_at_line_break(row, field);
          } else {
            field += c, ++pos_;
          }
          break;
        case State::Quoted:
          if (b == quote_ && pos_ + 1 == in_.size()) {
            ++pos_, state = State::AfterQuote;
          } else if (b == quote_ && at(pos_ + 1) == quote_) {
            field += c, pos_ += 2;
          } else if (b == quote_) {
            const bool closes = !repair_ || is_closing_quote(pos_ + 1);
            if (closes) {
              state = State::AfterQuote;
            } else {
              field += c;  // a stray quote is data
            }
            ++pos_;
          } else {
            if (b == '\n') ++line_;
            field += c, ++pos_;
          }
          break;
        case State::AfterQuote:
          if (b == delimiter_) {
            finish_field(row, field), ++pos_, state = State::FieldStart;
          } else if (b == ' ' || b == '\t') {
            ++pos_;
          } else if (is_line_break(pos_)) {
            return end_row_at_line_break(row, field);
          } else {
            field += c, ++pos_, state = State::Unquoted;
          }
          break;
      }
    }
    // End of input: whatever the state, the open field (perhaps empty) ends the row.
    finish_field(row, field);
    return {row, line_};
  }

  std::string_view in_;
  unsigned char delimiter_;
  unsigned char quote_;
  bool repair_;
  std::size_t pos_ = 0;
  std::size_t line_ = 1;
};

}  // namespace vestle::reference
