// Repairs a CSV file on disk into an output file and an optional quarantine file.
#pragma once

#include <optional>
#include <string>

#include "error/vestle_error.h"
#include "io/posix_file.h"
#include "repair/options.h"
#include "repair/outcome.h"

namespace vestle {

// Reads the input a chunk at a time and writes each repaired row to the
// output as soon as it is complete, then, when a path is given, the
// quarantine file. Memory follows the longest row, not the input, except
// that a pipe holds the rows that settle the format, and an input that must
// be overwritten in place (its directory refuses a temporary) is read whole
// first. A file that names the input (or, for the quarantine, the output just
// written) is written to a temporary next to it and renamed over it only once
// every file of the run is complete, so a failure leaves it as it was.
[[nodiscard]] Result<VestleStats> vestle_file(const std::string& input_path,
                                              const std::string& output_path,
                                              const std::optional<std::string>& quarantine_path,
                                              const VestleOptions& options);
// The same through the given system calls (tests inject faults there).
[[nodiscard]] Result<VestleStats> vestle_file(const std::string& input_path,
                                              const std::string& output_path,
                                              const std::optional<std::string>& quarantine_path,
                                              const VestleOptions& options, FileOps& ops);

}  // namespace vestle
