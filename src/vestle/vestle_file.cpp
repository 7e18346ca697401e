// The file pipeline: read the input whole, repair it, write output and quarantine.
#include "vestle/vestle_file.h"

#include <utility>
#include <vector>

#include "vestle/csv_writers.h"
#include "vestle/output_file.h"
#include "vestle/read_file.h"
#include "vestle/vestle_slice.h"

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

  VestleOutcome outcome;
  {
    Result<FileBytes, IoError> bytes = read_to_end(input);
    if (!bytes) return VestleError(bytes.error());
    outcome = vestle_slice(bytes.value().view(), options);
  }  // the rows own their texts: the input bytes can go now
  const unsigned char delimiter = outcome.stats.detected_delimiter;

  // A file that replaces the input (or the output) waits in its temporary
  // until every file of the run is complete, so no failure can cost rows.
  PendingReplacements replacements;
  Result<WrittenFile, IoError> output =
      write_whole_file(output_path, keep_intact, ops, [&](BufferedWriter& writer) {
        return write_rows(writer, outcome.rows, delimiter, options.quote_char);
      });
  if (!output) return VestleError(output.error());
  if (const std::optional<FileId>& id = output.value().id) keep_intact.push_back(*id);
  replacements.add(std::move(output.value().replacement));

  if (quarantine_path) {
    Result<WrittenFile, IoError> quarantine =
        write_whole_file(*quarantine_path, keep_intact, ops, [&](BufferedWriter& writer) {
          return write_quarantine(writer, outcome.quarantine, delimiter);
        });
    if (!quarantine) return VestleError(quarantine.error());
    replacements.add(std::move(quarantine.value().replacement));
  }
  // The input's own name goes last: should another name of it fail to be
  // replaced, the input is still as it was.
  if (Result<Done, IoError> committed = replacements.commit_all(replacement_target(input_path));
      !committed) {
    return VestleError(committed.error());
  }
  return outcome.stats;
}

}  // namespace vestle
