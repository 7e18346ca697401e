// Binds positional and keyword arguments of a call to a fixed parameter list.
#pragma once

#include <cstddef>
#include <span>

#include "binding/python_api.h"

namespace vestle::binding {

// The parameters of one callable: all may be passed by position or keyword;
// the first `required` must be passed.
struct ParameterList {
  const char* display_name;  // "sniff()", "VestleReader.__new__()", ...
  std::span<const char* const> names;
  std::size_t required;
};

// Fills `slots` (one per parameter, in order) with borrowed references;
// nullptr marks a parameter that was not passed. On a binding error raises
// TypeError and returns false. `slots.size()` must equal the parameter count.

// Vectorcall form: `args` holds the positional values then the keyword
// values named by the tuple `kwnames` (nullptr when there are none).
[[nodiscard]] bool bind_arguments(const ParameterList& parameters, PyObject* const* args,
                                  Py_ssize_t nargsf, PyObject* kwnames,
                                  std::span<PyObject*> slots);

// Tuple-and-dict form, as `tp_new` receives them (`kwargs` may be nullptr).
[[nodiscard]] bool bind_arguments(const ParameterList& parameters, PyObject* args,
                                  PyObject* kwargs, std::span<PyObject*> slots);

}  // namespace vestle::binding
