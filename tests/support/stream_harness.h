// Runs one input through the streaming repair and through the in-memory
// reference (vestle_slice followed by the writers), for comparison. Input and
// output files live in memory; a quarantine spool that spills writes to /tmp,
// as the engine's does.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "support/memory_files.h"
#include "vestle/buffered_writer.h"
#include "vestle/chunked_input.h"
#include "vestle/csv_writers.h"
#include "vestle/quarantine_spool.h"
#include "vestle/vestle_slice.h"
#include "vestle/vestle_stream.h"

namespace vestle::testing {

// Read sizes that put window ends at every kind of place: inside every
// multi-byte sequence, and past many rows at once.
inline constexpr std::size_t kChunkSizes[] = {1, 2, 3, 7, 64, 4096};
// Long-row thresholds that send every row, the rows past a window's worth,
// and only rows beyond any small input through the long-row path, with
// reader buffers that put their edges everywhere in the first two.
struct LongRowShape {
  std::size_t threshold;
  std::size_t buffer;
  void apply(StreamSettings& settings) const {
    settings.long_row_threshold = threshold;
    settings.long_row_buffer = buffer;
  }
};
inline constexpr LongRowShape kLongRowShapes[] = {
    {1, 1}, {64, 7}, {StreamSettings{}.long_row_threshold, StreamSettings{}.long_row_buffer}};

struct RepairBytes {
  std::string output;
  std::string quarantine;
  VestleStats stats;
  bool failed = false;
};

inline RepairBytes reference_repair(std::string_view input, const VestleOptions& options) {
  MemoryFiles files;
  RepairBytes result;
  const VestleOutcome outcome = vestle_slice(input, options);
  result.stats = outcome.stats;
  {
    BufferedWriter out(PosixFile(files.open("out", O_CREAT, 0), files));
    result.failed |= !write_rows(out, outcome.rows, outcome.stats.detected_delimiter,
                                 options.quote_char);
    result.failed |= !out.flush();
    BufferedWriter quarantine(PosixFile(files.open("quarantine", O_CREAT, 0), files));
    result.failed |= !write_quarantine(quarantine, outcome.quarantine,
                                       outcome.stats.detected_delimiter);
    result.failed |= !quarantine.flush();
  }
  result.output = files.files["out"];
  result.quarantine = files.files["quarantine"];
  return result;
}

struct StreamShape {
  StreamSettings settings;
  std::size_t read_limit = static_cast<std::size_t>(-1);
  std::size_t quarantine_memory = QuarantineSpool::kDefaultMemoryLimit;
  bool seekable = true;
};

inline RepairBytes streamed_repair(std::string_view input, const VestleOptions& options,
                                   const StreamShape& shape) {
  MemoryFiles files;
  files.files["in"] = std::string(input);
  files.read_limit = shape.read_limit;
  files.seekable = shape.seekable;
  RepairBytes result;
  PosixFile in(files.open("in", O_RDONLY, 0), files);
  ChunkedInput chunks(in, shape.settings.chunk_size);
  QuarantineSpool spool(shape.quarantine_memory);
  StreamingRepair repair(chunks, options, &spool, shape.settings);
  BufferedWriter out(PosixFile(files.open("out", O_CREAT, 0), files));
  if (!repair.settle_format() || !repair.write_rows(out)) {
    result.failed = true;
    return result;
  }
  result.stats = repair.stats();
  result.failed |= !out.flush();
  {
    BufferedWriter quarantine(PosixFile(files.open("quarantine", O_CREAT, 0), files));
    result.failed |= !spool.write_to(quarantine);
    result.failed |= !quarantine.flush();
  }
  result.output = files.files["out"];
  result.quarantine = files.files["quarantine"];
  return result;
}

}  // namespace vestle::testing
