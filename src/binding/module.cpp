// The _csv_vestle_backend module: definition, execution slot and exported init function.
#include "binding/entry_guard.h"
#include "binding/module_functions.h"
#include "binding/owned_ref.h"
#include "binding/python_api.h"
#include "binding/reader_type.h"
#include "binding/summary_type.h"

namespace vestle::binding {
namespace {

constexpr const char* kVersion = VESTLE_VERSION;
constexpr const char* kModuleDoc =
    "High-performance, fault-tolerant CSV vestle and reconstruction engine.\n"
    "\n"
    "Rescues corrupted, broken, and malformed CSV files where strict parsers\n"
    "(Polars, DuckDB, Pandas) abort with ParserError.";
constexpr const char* kPublicNames[] = {"vestle_file", "sniff", "open", "VestleSummary",
                                        "VestleReader"};

// Adds `value` (a new reference, or nullptr after a failure) under `name`.
bool add_new(PyObject* module, const char* name, PyObject* value) {
  OwnedRef owned(value);
  return owned && PyModule_AddObjectRef(module, name, owned.get()) == 0;
}

bool add_borrowed(PyObject* module, const char* name, PyTypeObject* type) {
  return type != nullptr &&
         PyModule_AddObjectRef(module, name, reinterpret_cast<PyObject*>(type)) == 0;
}

PyObject* new_public_names() {
  OwnedRef names(PyList_New(static_cast<Py_ssize_t>(std::size(kPublicNames))));
  if (!names) {
    return nullptr;
  }
  for (std::size_t i = 0; i < std::size(kPublicNames); ++i) {
    PyObject* name = PyUnicode_FromString(kPublicNames[i]);
    if (name == nullptr) {
      return nullptr;
    }
    PyList_SET_ITEM(names.get(), static_cast<Py_ssize_t>(i), name);
  }
  return names.release();
}

// The module is the function's self; its name string makes `__module__`.
bool add_function(PyObject* module, PyObject* module_name, PyMethodDef* definition) {
  return add_new(module, definition->ml_name,
                 PyCMethod_New(definition, module, module_name, nullptr));
}

// Sets the attributes in order; the first failure fails the import.
int exec_module(PyObject* module) {
  return guarded<int>(-1, [&]() -> int {
    if (!PyModule_Check(module)) {
      PyErr_SetString(PyExc_TypeError, "_csv_vestle_backend can only execute on a module object");
      return -1;
    }
    OwnedRef module_name(PyModule_GetNameObject(module));
    const bool done = module_name &&
                      add_new(module, "__version__", PyUnicode_FromString(kVersion)) &&
                      add_new(module, "__doc__", PyUnicode_FromString(kModuleDoc)) &&
                      add_new(module, "__all__", new_public_names()) &&
                      add_function(module, module_name.get(), vestle_file_method_def()) &&
                      add_function(module, module_name.get(), sniff_method_def()) &&
                      add_function(module, module_name.get(), open_method_def()) &&
                      add_borrowed(module, "VestleSummary", summary_type()) &&
                      add_borrowed(module, "VestleReader", reader_type());
    return done ? 0 : -1;
  });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "_csv_vestle_backend",
    "The native _csv_vestle_backend Python module.",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace vestle::binding

PyMODINIT_FUNC PyInit__csv_vestle_backend() {
  return PyModuleDef_Init(&vestle::binding::module_definition);
}
