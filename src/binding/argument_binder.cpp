// Argument binding and the TypeError texts of binding failures.
#include "binding/argument_binder.h"

#include <string>

namespace vestle::binding {
namespace {

void raise_too_many_positional(const ParameterList& parameters, std::size_t given) {
  const std::size_t max = parameters.names.size();
  const char* verb = given == 1 ? "was" : "were";
  if (parameters.required == max) {
    PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zu %s given",
                 parameters.display_name, max, given, verb);
  } else {
    PyErr_Format(PyExc_TypeError, "%s takes from %zu to %zu positional arguments but %zu %s given",
                 parameters.display_name, parameters.required, max, given, verb);
  }
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
std::string quoted_list(std::span<const char* const> names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i != 0) {
      if (names.size() > 2) {
        text += ',';
      }
      text += i + 1 == names.size() ? " and " : " ";
    }
    text += '\'';
    text += names[i];
    text += '\'';
  }
  return text;
}

void raise_missing(const ParameterList& parameters, std::span<PyObject* const> slots) {
  const char* missing[16];
  std::size_t count = 0;
  for (std::size_t i = 0; i < parameters.required && count < std::size(missing); ++i) {
    if (slots[i] == nullptr) {
      missing[count++] = parameters.names[i];
    }
  }
  const std::string list = quoted_list({missing, count});
  PyErr_Format(PyExc_TypeError, "%s missing %zu required positional %s: %s",
               parameters.display_name, count, count == 1 ? "argument" : "arguments",
               list.c_str());
}

// Places one keyword argument; raises on an unknown or duplicate name.
bool bind_keyword(const ParameterList& parameters, PyObject* key, PyObject* value,
                  std::span<PyObject*> slots) {
  if (PyUnicode_Check(key)) {
    for (std::size_t i = 0; i < parameters.names.size(); ++i) {
      if (PyUnicode_CompareWithASCIIString(key, parameters.names[i]) != 0) {
        continue;
      }
      if (slots[i] != nullptr) {
        PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%U'",
                     parameters.display_name, key);
        return false;
      }
      slots[i] = value;
      return true;
    }
  }
  // Keys are str when the call machinery built them; show anything else by str().
  PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'",
               parameters.display_name, key);
  return false;
}

// Positional arguments first: too many is reported before any keyword problem.
bool bind_positional(const ParameterList& parameters, PyObject* const* values,
                     std::size_t count, std::span<PyObject*> slots) {
  if (count > parameters.names.size()) {
    raise_too_many_positional(parameters, count);
    return false;
  }
  for (std::size_t i = 0; i < count; ++i) {
    slots[i] = values[i];
  }
  return true;
}

bool check_required(const ParameterList& parameters, std::span<PyObject* const> slots) {
  for (std::size_t i = 0; i < parameters.required; ++i) {
    if (slots[i] == nullptr) {
      raise_missing(parameters, slots);
      return false;
    }
  }
  return true;
}

}  // namespace

bool bind_arguments(const ParameterList& parameters, PyObject* const* args, Py_ssize_t nargsf,
                    PyObject* kwnames, std::span<PyObject*> slots) {
  const auto positional = static_cast<std::size_t>(PyVectorcall_NARGS(nargsf));
  if (!bind_positional(parameters, args, positional, slots)) {
    return false;
  }
  if (kwnames != nullptr) {
    const Py_ssize_t keywords = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < keywords; ++i) {
      if (!bind_keyword(parameters, PyTuple_GET_ITEM(kwnames, i),
                        args[static_cast<Py_ssize_t>(positional) + i], slots)) {
        return false;
      }
    }
  }
  return check_required(parameters, slots);
}

bool bind_arguments(const ParameterList& parameters, PyObject* args, PyObject* kwargs,
                    std::span<PyObject*> slots) {
  const auto positional = static_cast<std::size_t>(PyTuple_GET_SIZE(args));
  if (!bind_positional(parameters, &PyTuple_GET_ITEM(args, 0), positional, slots)) {
    return false;
  }
  if (kwargs != nullptr) {
    // The call machinery builds this dict for this call alone; nothing else
    // can see it while it is walked.
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      if (!bind_keyword(parameters, key, value, slots)) {
        return false;
      }
    }
  }
  return check_required(parameters, slots);
}

}  // namespace vestle::binding
