// The streaming repair: rows are parsed, reconciled and written as they complete.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "error/io_error.h"
#include "error/vestle_error.h"
#include "heuristics/format_inference.h"
#include "io/buffered_writer.h"
#include "io/chunked_input.h"
#include "io/io_sizes.h"
#include "io/spill_files.h"
#include "parser/resilient_parser.h"
#include "repair/options.h"
#include "repair/outcome.h"
#include "stream/long_rows.h"
#include "stream/quarantine_spool.h"

namespace vestle {

struct StreamSettings {
  // Bytes asked of the input file per read.
  std::size_t chunk_size = kReadChunk;
  // Input held from its start while the format is being settled; past it,
  // a regular file is read a second time instead.
  std::size_t prefix_limit = std::size_t{16} << 20;
  // A row of this many bytes or more is not held: a regular file is read
  // twice over it (LongRowRepair). At least 1.
  std::size_t long_row_threshold = std::size_t{1} << 20;
  // Bytes each reader of a long row buffers. At least 1.
  std::size_t long_row_buffer = kLongRowReadBuffer;
};

// Repairs an input that arrives through a ChunkedInput in two steps: settle
// the delimiter and the column count on its first rows, then parse,
// reconcile and write every row as soon as its end has been read. Output
// bytes, set-aside lines and statistics are those of vestle_slice over the
// whole input followed by the writers. Memory holds the window of input, one
// row shorter than the long-row threshold and the quarantine spool, whatever
// the size of the input or of its rows. Where an input that cannot be read
// twice (a pipe) would need to be, it is kept in a spill file from then on.
class StreamingRepair {
 public:
  // Rows set aside go to `quarantine` when one is given. A pipe that must
  // be read again is kept in a file of `spill_files`.
  StreamingRepair(ChunkedInput& input, const VestleOptions& options, QuarantineSpool* quarantine,
                  const StreamSettings& settings = {},
                  const SpillFiles& spill_files = tmp_spill_files());
  ~StreamingRepair();

  // Reads until delimiter and column count are settled, at least one chunk,
  // and leaves the input ready for the rows.
  [[nodiscard]] Result<Done, IoError> settle_format();
  // After settle_format: writes every repaired row to `output`.
  [[nodiscard]] Result<Done, IoError> write_rows(BufferedWriter& output);

  [[nodiscard]] const VestleStats& stats() const noexcept { return stats_; }

 private:
  struct RowTools;
  struct WindowStop;
  struct RowCounter;

  // Counts through the file the rows that the format's passes have waited
  // on for too long; true when any was counted.
  [[nodiscard]] Result<bool, IoError> count_long_rows();

  // Repairs the rows of the window from `resume` on, up to one that goes on
  // past the window, is long, or the end of the input.
  [[nodiscard]] Result<WindowStop, IoError> repair_window(ParsePoint resume, RowTools& tools,
                                                          BufferedWriter& output);
  // The run of blank lines where the parser stands in `rest`, written in bulk.
  [[nodiscard]] Result<Done, IoError> repair_blank_lines(std::string_view rest,
                                                         ResilientParser& parser, RowTools& tools,
                                                         BufferedWriter& output);
  // The row the parser just read, ending before `line_number`: reconciled,
  // then written or set aside.
  [[nodiscard]] Result<Done, IoError> repair_row(std::size_t line_number, RowTools& tools,
                                                 BufferedWriter& output);
  // The row that starts at `start` through the file; returns where the next starts.
  [[nodiscard]] Result<ParsePoint, IoError> repair_long_row(ParsePoint start, RowTools& tools,
                                                            BufferedWriter& output);
  // The counted long row that starts at `start`, if there is one; asked of
  // row starts in input order.
  [[nodiscard]] static const CountedRow* counted_row(ParsePoint start, RowTools& tools) noexcept;
  // Whether a row of `length` bytes so far takes the long-row path.
  [[nodiscard]] bool is_long(std::size_t length) const noexcept {
    return length >= settings_.long_row_threshold;
  }
  // Makes the input one that can be read again: a pipe is spooled.
  [[nodiscard]] Result<Done, IoError> make_rereadable();

  ChunkedInput& input_;
  VestleOptions options_;
  QuarantineSpool* quarantine_;
  StreamSettings settings_;
  const SpillFiles& spill_files_;
  FormatInference inference_;
  std::unique_ptr<RowCounter> row_counter_;  // made at the first long row
  // The long rows the passes counted, by delimiter, in input order for each:
  // the repair need not count them again. Their number is bounded by the
  // rows the heuristics look at, but for blank rows, which they pass over.
  static constexpr std::size_t kCountedRowsKept = 1024;
  std::vector<std::pair<unsigned char, CountedRow>> counted_rows_;
  bool empty_input_ = false;
  VestleStats stats_;
};

}  // namespace vestle
