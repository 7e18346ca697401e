// Runs one input through the streaming repair and through the in-memory
// reference (vestle_slice followed by the writers), for comparison. Input and
// output files live in memory; a quarantine spool that spills writes to /tmp,
// as the engine's does.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "io/buffered_writer.h"
#include "io/chunked_input.h"
#include "io/io_sizes.h"
#include "memory/growing_buffer.h"
#include "parser/utf8.h"
#include "repair/slice.h"
#include "stream/quarantine_spool.h"
#include "stream/streaming_repair.h"
#include "support/memory_files.h"
#include "writer/csv_writers.h"
#include "writer/written_rows.h"

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
    BufferedWriter out(PosixFile(files.open("out", O_CREAT, 0), files), kFileWriteBuffer);
    result.failed |= !write_rows(out, outcome.rows, outcome.stats.detected_delimiter,
                                 options.quote_char);
    result.failed |= !out.flush();
    BufferedWriter quarantine(PosixFile(files.open("quarantine", O_CREAT, 0), files), kFileWriteBuffer);
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
  std::size_t quarantine_memory = kQuarantineMemory;
  bool seekable = true;
  // The rows go to memory, as the reader keeps them, instead of a file.
  bool into_memory = false;
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
  GrowingBuffer memory;
  // A small buffer in front of memory, so that pieces go straight through too.
  BufferedWriter out = shape.into_memory
                           ? BufferedWriter(memory, 16)
                           : BufferedWriter(PosixFile(files.open("out", O_CREAT, 0), files), kFileWriteBuffer);
  if (!repair.settle_format() || !repair.write_rows(out)) {
    result.failed = true;
    return result;
  }
  result.stats = repair.stats();
  result.failed |= !out.flush();
  if (shape.into_memory) files.files["out"] = std::string(memory.view());
  {
    BufferedWriter quarantine(PosixFile(files.open("quarantine", O_CREAT, 0), files), kFileWriteBuffer);
    result.failed |= !spool.write_to(quarantine);
    result.failed |= !quarantine.flush();
  }
  result.output = files.files["out"];
  result.quarantine = files.files["quarantine"];
  return result;
}

// Splits the rows of vestle_slice's repair, as written, back apart the way
// the reader does, and compares them with the repair's rows field by field.
// Where the run's delimiter and quote would not split back, the rows are
// written with a comma and a double quote, as the reader keeps them. Returns
// the first difference, or an empty string.
inline std::string rows_read_back_mismatch(std::string_view input, const VestleOptions& options) {
  const VestleOutcome outcome = vestle_slice(input, options);
  const RowStore& rows = outcome.rows;
  unsigned char delimiter = outcome.stats.detected_delimiter;
  unsigned char quote = options.quote_char;
  if (!rows_read_back(delimiter, quote)) {
    delimiter = ',';
    quote = '"';
  }
  GrowingBuffer memory;
  {
    BufferedWriter out(memory, 16);
    if (!write_rows(out, rows, delimiter, quote) || !out.flush()) return "the rows were not written";
  }
  const std::string_view written = memory.view();
  const WrittenRowReader reader(delimiter, quote);
  FieldList fields;
  std::size_t row = 0;
  for (std::size_t at = 0; at < written.size(); ++row) {
    at = reader.read_row(written, at, fields);
    const std::string where = "row " + std::to_string(row);
    if (row >= rows.row_count()) return where + " is one too many";
    if (fields.size() != rows.row(row).size()) return where + " has another field count";
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i] != rows.row(row)[i]) return where + ", field " + std::to_string(i) + " differs";
      if (fields.is_ascii(i) != is_ascii(fields[i])) {
        return where + ", field " + std::to_string(i) + " has the wrong ASCII flag";
      }
    }
  }
  if (row != rows.row_count()) return std::to_string(rows.row_count() - row) + " rows are missing";
  return "";
}

}  // namespace vestle::testing
