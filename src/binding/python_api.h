// The one include of the CPython C API, plus shims over version differences.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace vestle::binding {

// Takes the exception being raised (normalized), leaving none set; nullptr
// when no exception is set.
inline PyObject* take_raised_exception() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
  return PyErr_GetRaisedException();
#else
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) {
    return nullptr;
  }
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback != nullptr && value != nullptr) {
    PyException_SetTraceback(value, traceback);
  }
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  return value;
#endif
}

// Raises `exception` again; steals the reference.
inline void restore_raised_exception(PyObject* exception) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(exception);
#else
  if (exception == nullptr) {
    return;
  }
  PyObject* type = Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exception)));
  PyErr_Restore(type, exception, PyException_GetTraceback(exception));
#endif
}

}  // namespace vestle::binding
