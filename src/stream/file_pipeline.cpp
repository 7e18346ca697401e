// The file pipeline: stream the input through the repair into the output, then the quarantine.
#include "stream/file_pipeline.h"

#include <optional>
#include <utility>
#include <vector>

#include "io/chunked_input.h"
#include "io/io_sizes.h"
#include "io/output_file.h"
#include "io/spill_files.h"
#include "stream/quarantine_spool.h"
#include "stream/streaming_repair.h"

namespace vestle {

Result<VestleStats> vestle_file(const std::string& input_path, const std::string& output_path,
                                const std::optional<std::string>& quarantine_path,
                                const VestleOptions& options) {
  return vestle_file(input_path, output_path, quarantine_path, options, system_file_ops());
}

Result<VestleStats> vestle_file(const std::string& input_path, const std::string& output_path,
                                const std::optional<std::string>& quarantine_path,
                                const VestleOptions& options, FileOps& ops) {
  Result<PosixFile, IoError> opened = PosixFile::open_read(input_path, ops);
  if (!opened) return VestleError(opened.error());
  // Stays open until the run ends; its close is silent.
  PosixFile input = std::move(opened).value();

  // Files that must survive a failed write: the input, then the output.
  std::vector<FileId> keep_intact;
  if (std::optional<FileId> id = file_id(input)) keep_intact.push_back(*id);

  // Read before any file is created: a missing, unreadable or directory
  // input creates nothing.
  const StreamSettings settings;
  ChunkedInput chunks(input, settings.chunk_size);
  const SpillFiles spill_files(output_path, ops);
  std::optional<QuarantineSpool> spool;
  if (quarantine_path) spool.emplace(kQuarantineMemory, spill_files);
  StreamingRepair repair(chunks, options, spool ? &*spool : nullptr, settings, spill_files);
  if (Result<Done, IoError> settled = repair.settle_format(); !settled) {
    return VestleError(settled.error());
  }

  // A file that replaces the input (or the output) waits in its temporary
  // until every file of the run is complete, so no failure can cost rows.
  // Where no temporary can be made, the input is read whole before the
  // output overwrites it.
  PendingReplacements replacements;
  Result<WrittenFile, IoError> output = write_whole_file(
      output_path, keep_intact, ops,
      [&](BufferedWriter& writer) { return repair.write_rows(writer); },
      [&] { return chunks.read_rest(); });
  if (!output) return VestleError(output.error());
  if (const std::optional<FileId>& id = output.value().id) keep_intact.push_back(*id);
  replacements.add(std::move(output.value().replacement));

  if (spool) {
    Result<WrittenFile, IoError> quarantine = write_whole_file(
        *quarantine_path, keep_intact, ops,
        [&](BufferedWriter& writer) { return spool->write_to(writer); });
    if (!quarantine) return VestleError(quarantine.error());
    replacements.add(std::move(quarantine.value().replacement));
  }
  // The input's own name goes last: should another name of it fail to be
  // replaced, the input is still as it was.
  if (Result<Done, IoError> committed = replacements.commit_all(replacement_target(input_path));
      !committed) {
    return VestleError(committed.error());
  }
  return repair.stats();
}

}  // namespace vestle
