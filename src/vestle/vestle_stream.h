// The streaming repair: rows are parsed, reconciled and written as they complete.
#pragma once

#include <cstddef>
#include <functional>

#include "error/io_error.h"
#include "error/vestle_error.h"
#include "vestle/buffered_writer.h"
#include "vestle/chunked_input.h"
#include "vestle/quarantine_spool.h"
#include "vestle/vestle_options.h"
#include "vestle/vestle_outcome.h"

namespace vestle {

struct StreamSettings {
  // Bytes asked of the input file per read.
  std::size_t chunk_size = std::size_t{256} << 10;
  // Input held from its start while the format is being settled; past it,
  // a regular file is read a second time instead.
  std::size_t prefix_limit = std::size_t{16} << 20;
};

// Called once the format is settled, before the first row is written; may
// read the rest of the input first (when the output is about to overwrite
// it). Returns the writer of the repaired file.
using OpenOutput = std::function<Result<BufferedWriter*, IoError>(ChunkedInput&)>;

// Settles delimiter and column count on the first rows of `input`, then
// parses, reconciles and writes every row as soon as its end has been read.
// Rows set aside go to `quarantine` when one is given. Output bytes, set-aside
// lines and statistics are those of vestle_slice over the whole input
// followed by the writers; memory holds the window of input, one window's
// rows and the bounded spool, whatever the size of the input. The input is
// read before the output is opened, at least one chunk of it.
[[nodiscard]] Result<VestleStats, IoError> vestle_stream(ChunkedInput& input,
                                                         const VestleOptions& options,
                                                         const OpenOutput& open_output,
                                                         QuarantineSpool* quarantine,
                                                         const StreamSettings& settings = {});

}  // namespace vestle
