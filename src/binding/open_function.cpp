// open(file_path, ...): a second way to construct a VestleReader.
#include "binding/argument_binder.h"
#include "binding/entry_guard.h"
#include "binding/module_functions.h"
#include "binding/reader_type.h"

namespace vestle::binding {
namespace {

constexpr ParameterList kParameters{"open()", kReaderParameterNames, 1};

PyObject* open_reader(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    PyObject* slots[kReaderParameterCount] = {};
    if (!bind_arguments(kParameters, args, nargsf, kwnames, slots)) {
      return nullptr;
    }
    PyTypeObject* type = reader_type();
    return type == nullptr ? nullptr : new_reader_from_arguments(type, slots);
  });
}

PyMethodDef open_def = {
    "open", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(open_reader)),
    METH_FASTCALL | METH_KEYWORDS,
    "open" VESTLE_READER_SIGNATURE
    "\n--\n\nConvenience function to open and stream a vestled CSV file."};

}  // namespace

PyMethodDef* open_method_def() noexcept { return &open_def; }

}  // namespace vestle::binding
