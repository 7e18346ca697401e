// The in-memory repair: settle delimiter and column count, reconcile rows.
#pragma once

#include <string_view>

#include "repair/options.h"
#include "repair/outcome.h"

namespace vestle {

// Never fails; `input` is the whole content of a CSV file, any bytes.
[[nodiscard]] VestleOutcome vestle_slice(std::string_view input, const VestleOptions& options);

}  // namespace vestle
