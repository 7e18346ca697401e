// Repairs a CSV file on disk into an output file and an optional quarantine file.
#pragma once

#include <optional>
#include <string>

#include "error/vestle_error.h"
#include "vestle/vestle_options.h"
#include "vestle/vestle_outcome.h"

namespace vestle {

[[nodiscard]] Result<VestleStats> vestle_file(const std::string& input_path,
                                              const std::string& output_path,
                                              const std::optional<std::string>& quarantine_path,
                                              const VestleOptions& options);

}  // namespace vestle
