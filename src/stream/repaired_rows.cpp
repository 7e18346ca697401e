// Running the streaming repair, or the in-memory one, into a growing buffer.
#include "stream/repaired_rows.h"

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "heuristics/delimiter_sniffer.h"
#include "io/buffered_writer.h"
#include "io/chunked_input.h"
#include "io/io_sizes.h"
#include "io/posix_file.h"
#include "io/read_file.h"
#include "repair/slice.h"
#include "stream/streaming_repair.h"
#include "writer/csv_writers.h"
#include "writer/written_rows.h"

namespace vestle {
namespace {

// Whether every delimiter the run may use splits back with the run's quote.
bool run_reads_back(const VestleOptions& options) {
  if (options.delimiter) return rows_read_back(*options.delimiter, options.quote_char);
  for (const unsigned char candidate : kDelimiterCandidates) {
    if (!rows_read_back(candidate, options.quote_char)) return false;
  }
  return true;
}

// Address space for the text: the input's size and some room for padding.
// Only written pages take memory; the buffer grows past this if need be.
std::size_t expected_text_size(PosixFile& input) {
  Result<struct stat, IoError> status = input.status();
  if (!status || !S_ISREG(status.value().st_mode) || status.value().st_size <= 0) return 0;
  const auto size = static_cast<std::uintmax_t>(status.value().st_size);
  if (size > SIZE_MAX / 2) return 0;
  return static_cast<std::size_t>(size + size / 4);
}

// Runs `write` into `text` through a write buffer, then flushes it.
template <typename Write>
Result<Done, IoError> write_into(GrowingBuffer& text, Write&& write) {
  BufferedWriter writer(text, kMemoryWriteBuffer);
  if (Result<Done, IoError> written = write(writer); !written) return written;
  return writer.flush();
}

Result<RepairedRows, IoError> repair_streaming(PosixFile& input, const VestleOptions& options) {
  RepairedRows repaired;
  if (!repaired.text.reserve(expected_text_size(input))) {
    return IoError::of_kind(IoErrorKind::OutOfMemory);
  }
  const StreamSettings settings;
  ChunkedInput chunks(input, settings.chunk_size);
  StreamingRepair repair(chunks, options, /*quarantine=*/nullptr, settings);
  if (Result<Done, IoError> settled = repair.settle_format(); !settled) return settled.error();
  if (Result<Done, IoError> written = write_into(
          repaired.text, [&](BufferedWriter& writer) { return repair.write_rows(writer); });
      !written) {
    return written.error();
  }
  repaired.delimiter = repair.stats().detected_delimiter;
  repaired.quote = options.quote_char;
  repaired.stats = repair.stats();
  return repaired;
}

Result<RepairedRows, IoError> repair_whole(PosixFile& input, const VestleOptions& options) {
  VestleOutcome outcome;
  {
    Result<FileBytes, IoError> bytes = read_to_end(input);
    if (!bytes) return bytes.error();
    outcome = vestle_slice(bytes.value().view(), options);
  }
  RepairedRows repaired;
  if (Result<Done, IoError> written =
          write_into(repaired.text,
                     [&](BufferedWriter& writer) {
                       return write_rows(writer, outcome.rows, repaired.delimiter, repaired.quote);
                     });
      !written) {
    return written.error();
  }
  repaired.stats = outcome.stats;
  return repaired;
}

}  // namespace

Result<RepairedRows, IoError> repair_into_memory(const std::string& path,
                                                 const VestleOptions& options) {
  Result<PosixFile, IoError> opened = PosixFile::open_read(path, system_file_ops());
  if (!opened) return opened.error();
  PosixFile input = std::move(opened).value();
  return run_reads_back(options) ? repair_streaming(input, options) : repair_whole(input, options);
}

}  // namespace vestle
