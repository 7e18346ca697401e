// A whole file's repaired rows, kept in memory as the text the file pipeline writes.
#pragma once

#include <string>

#include "error/io_error.h"
#include "error/vestle_error.h"
#include "memory/growing_buffer.h"
#include "repair/options.h"
#include "repair/outcome.h"

namespace vestle {

struct RepairedRows {
  // The repaired rows, one line each, as RowWriter writes them with the
  // delimiter and quote below; WrittenRowReader splits them again.
  GrowingBuffer text;
  unsigned char delimiter = ',';
  unsigned char quote = '"';
  VestleStats stats;
};

// Repairs the file at `path` as vestle_file does, streaming through one
// reused window, but keeps the rows in memory instead of writing a file; set
// aside rows are only counted. Memory holds the repaired text and the
// window. Where the run's delimiter and quote could not be split back apart
// (see rows_read_back), the file is read whole and repaired in memory
// instead, and its rows kept with a comma and a double quote.
[[nodiscard]] Result<RepairedRows, IoError> repair_into_memory(const std::string& path,
                                                               const VestleOptions& options);

}  // namespace vestle
