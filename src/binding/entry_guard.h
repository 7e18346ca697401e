// Runs the body of a Python entry point so that no C++ exception reaches the interpreter.
#pragma once

#include <exception>
#include <new>
#include <utility>

#include "binding/python_api.h"

namespace vestle::binding {

// Sets `type(message)` unless an exception is already being raised: the first
// error explains the failure better than whatever unwound after it.
inline void raise_if_clear(PyObject* type, const char* message) noexcept {
  if (PyErr_Occurred() == nullptr) {
    PyErr_SetString(type, message);
  }
}

// Calls `body()` and returns its result; when a C++ exception escapes it, sets
// MemoryError (for std::bad_alloc) or RuntimeError and returns `failure`.
template <class Result, class Body>
[[nodiscard]] Result guarded(Result failure, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (const std::bad_alloc&) {
    if (PyErr_Occurred() == nullptr) {
      PyErr_NoMemory();
    }
  } catch (const std::exception& error) {
    raise_if_clear(PyExc_RuntimeError, error.what());
  } catch (...) {
    raise_if_clear(PyExc_RuntimeError, "unexpected internal error");
  }
  return failure;
}

}  // namespace vestle::binding
