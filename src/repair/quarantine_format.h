// The quarantine file's format, in one place: its header, why a row was set
// aside, and how each line is laid out.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "parser/row_store.h"
#include "parser/utf8.h"

namespace vestle {

enum class QuarantineReason { TooFewColumns, ExtraColumns };

// "Row has too few columns (expected N)" / "Row has extra columns (expected N)".
[[nodiscard]] std::string quarantine_reason_text(QuarantineReason reason,
                                                 std::size_t expected_columns);

// The quarantine file's first line.
inline constexpr std::string_view kQuarantineHeader = "line,reason,raw_content\n";

// Appends `text` with every double quote doubled.
void append_doubling_quotes(std::string& out, std::string_view text);

// The start of a quarantine line, up to the opening quote of the raw
// content: the line number and the reason in double quotes.
void append_quarantine_line_start(std::string& line, std::size_t line_number,
                                  std::string_view reason);
// What ends a quarantine line after the raw content.
inline constexpr std::string_view kQuarantineLineEnd = "\"\n";

// Appends one quarantine line to `line`: the line number, the reason and the
// raw fields joined by `separator`, the last two in double quotes with inner
// double quotes doubled, then LF.
void append_quarantine_line(std::string& line, std::size_t line_number, std::string_view reason,
                            RowView raw_fields, const ByteText& separator);

}  // namespace vestle
