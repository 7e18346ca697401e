// Writers of the repaired CSV file and the quarantine CSV file.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "error/io_error.h"
#include "error/vestle_error.h"
#include "parser/row_store.h"
#include "parser/utf8.h"
#include "vestle/buffered_writer.h"
#include "vestle/vestle_outcome.h"

namespace vestle {

// The field as written in the repaired file: enclosed in `quote` (with every
// inner `quote` doubled) when it contains the quote text, the delimiter text,
// LF or CR; unchanged otherwise. Both bytes count as characters (U+0000..U+00FF).
[[nodiscard]] std::string quote_field(std::string_view field, unsigned char delimiter,
                                      unsigned char quote);

// Writes rows one at a time as lines of the repaired file: quoted fields
// joined by the delimiter text, then LF. A row of one empty field is written
// as two quotes, so that it does not read back as a blank line.
class RowWriter {
 public:
  RowWriter(unsigned char delimiter, unsigned char quote);
  RowWriter(const RowWriter&) = delete;
  RowWriter& operator=(const RowWriter&) = delete;
  ~RowWriter();

  [[nodiscard]] Result<Done, IoError> write(BufferedWriter& out, const RowView& row);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The line RowWriter writes for a row of `fields` empty fields.
[[nodiscard]] std::string empty_row_line(std::size_t fields, unsigned char delimiter,
                                         unsigned char quote);

// One line per row, as RowWriter writes it. Stops at the first failed write.
[[nodiscard]] Result<Done, IoError> write_rows(BufferedWriter& out, const RowStore& rows,
                                               unsigned char delimiter, unsigned char quote);

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

// The header, then per record: the line number,
// the reason and the raw fields joined by the delimiter text, the last two
// in double quotes with inner double quotes doubled. Stops at the first
// failed write.
[[nodiscard]] Result<Done, IoError> write_quarantine(BufferedWriter& out,
                                                     const Quarantine& records,
                                                     unsigned char delimiter);

}  // namespace vestle
