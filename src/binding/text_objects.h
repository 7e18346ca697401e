// Building str objects from the engine's UTF-8 texts.
#pragma once

#include <string_view>

#include "binding/python_api.h"

namespace vestle::binding {

// A new str holding `utf8` (valid UTF-8, as the engine's repaired text always
// is; other bytes give some str, never a read out of bounds). The object is
// always freshly allocated, never one of the interpreter's shared
// one-character strings, so two calls give distinct objects. Pure ASCII is
// copied without decoding.
[[nodiscard]] PyObject* new_str(std::string_view utf8);
// The same for text already known to be ASCII.
[[nodiscard]] PyObject* new_ascii_str(std::string_view ascii);

}  // namespace vestle::binding
