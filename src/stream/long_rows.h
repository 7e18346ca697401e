// Rows too long to hold: counted in one pass over the file, written in a second.
#pragma once

#include <cstddef>
#include <cstdint>

#include "error/io_error.h"
#include "error/vestle_error.h"
#include "io/buffered_writer.h"
#include "io/file_cursor.h"
#include "io/rereadable_input.h"
#include "parser/resilient_parser.h"
#include "repair/options.h"
#include "repair/outcome.h"
#include "repair/row_reconciler.h"
#include "stream/long_row_parser.h"
#include "stream/quarantine_spool.h"

namespace vestle {

// A row whose field count was found before it is repaired: it starts at
// `start` (past a byte-order mark) and the next row at `next_row`.
struct CountedRow {
  ParsePoint start;
  ParsePoint next_row;
  std::size_t fields = 0;
};

// Repairs one row of an input that can be read again, in memory that does not grow with the
// row, its fields or its lines, into the bytes the writers give for the row
// that vestle_slice makes of it. A row's fate depends on its field count
// alone, so a first pass counts the fields; a second pass reads the row again
// and writes it field by field, to the output or the quarantine spool. A
// field is quoted when its text holds the delimiter, the quote, CR or LF,
// which a field longer than a buffer shows only at its end: for such a
// field a copy of the parser reads ahead to find out, then the field is
// written.
class LongRowRepair {
 public:
  // Each of its four file cursors buffers `buffer_size` bytes.
  LongRowRepair(RereadableInput& input, const VestleOptions& options, unsigned char delimiter,
                std::size_t columns, std::size_t buffer_size);

  // Where the row ended: past its line break, and the line number there.
  struct RowEnd {
    std::uint64_t offset = 0;
    std::size_t line_number = 1;
  };
  // Repairs the row that starts at `offset` on `line_number` (at 0: after
  // a byte-order mark), counts it in `stats`, writes it to `output` or, when
  // set aside, to `quarantine` (when there is one). `counted`, when given,
  // is that row as this repair splits it: its fields are not counted again.
  [[nodiscard]] Result<RowEnd, IoError> repair(std::uint64_t offset, std::size_t line_number,
                                               BufferedWriter& output, QuarantineSpool* quarantine,
                                               VestleStats& stats,
                                               const CountedRow* counted = nullptr);

 private:
  [[nodiscard]] Result<Done, IoError> write_row(std::uint64_t offset, std::size_t line_number,
                                                std::size_t fields, RowFate fate,
                                                BufferedWriter& output);
  [[nodiscard]] Result<Done, IoError> set_aside(std::uint64_t offset, std::size_t line_number,
                                                std::size_t fields, std::size_t line_after,
                                                QuarantineReason reason,
                                                QuarantineSpool& quarantine);

  unsigned char delimiter_;
  unsigned char quote_char_;
  RowReconciler reconciler_;
  FileCursor reader_;
  FileCursor lookahead_;
  FileCursor probe_reader_;
  FileCursor probe_lookahead_;
  LongRowParser parser_;
};

}  // namespace vestle
