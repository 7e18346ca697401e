// Text of the quarantine file: reason texts and line layout.
#include "repair/quarantine_format.h"

#include <charconv>

namespace vestle {

std::string quarantine_reason_text(QuarantineReason reason, std::size_t expected_columns) {
  std::string text = reason == QuarantineReason::TooFewColumns
                         ? "Row has too few columns (expected "
                         : "Row has extra columns (expected ";
  text += std::to_string(expected_columns);
  text += ')';
  return text;
}

void append_doubling_quotes(std::string& out, std::string_view text) {
  std::size_t start = 0;
  for (std::size_t at = text.find('"'); at != std::string_view::npos; at = text.find('"', start)) {
    out.append(text.substr(start, at + 1 - start));
    out.push_back('"');
    start = at + 1;
  }
  out.append(text.substr(start));
}

void append_quarantine_line_start(std::string& line, std::size_t line_number,
                                  std::string_view reason) {
  char digits[24];
  const auto converted = std::to_chars(digits, digits + sizeof digits, line_number);
  line.append(digits, converted.ptr);
  line.append(",\"");
  append_doubling_quotes(line, reason);
  line.append("\",\"");
}

void append_quarantine_line(std::string& line, std::size_t line_number, std::string_view reason,
                            RowView raw_fields, const ByteText& separator) {
  append_quarantine_line_start(line, line_number, reason);
  // Joined first, escaped as a whole: a delimiter that is itself a double
  // quote is doubled like any other.
  for (std::size_t f = 0; f < raw_fields.size(); ++f) {
    if (f > 0) append_doubling_quotes(line, separator.view());
    append_doubling_quotes(line, raw_fields[f]);
  }
  line.append(kQuarantineLineEnd);
}

}  // namespace vestle
