// Method definitions of the module-level functions, registered by the module body.
#pragma once

#include "binding/python_api.h"

namespace vestle::binding {

// Each points at a definition with static storage, as function objects require.
[[nodiscard]] PyMethodDef* sniff_method_def() noexcept;
[[nodiscard]] PyMethodDef* vestle_file_method_def() noexcept;
[[nodiscard]] PyMethodDef* open_method_def() noexcept;

}  // namespace vestle::binding
