// Writers of the repaired CSV file and the quarantine CSV file.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "error/io_error.h"
#include "error/vestle_error.h"
#include "io/buffered_writer.h"
#include "parser/row_store.h"
#include "parser/utf8.h"
#include "repair/outcome.h"
#include "repair/quarantine_format.h"

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

// The header, then a line per record as append_quarantine_line lays it out,
// the raw fields joined by the delimiter text. Stops at the first failed write.
[[nodiscard]] Result<Done, IoError> write_quarantine(BufferedWriter& out,
                                                     const Quarantine& records,
                                                     unsigned char delimiter);

}  // namespace vestle
