// Argument converters: type checks, UTF-8 extraction and the note naming the parameter.
#include "binding/argument_converters.h"

#include <cstdint>

#include "binding/owned_ref.h"
#include "parser/quote_char.h"

namespace vestle::binding {
namespace {

// Attaches "while processing '<name>'" to the exception being raised, which
// stays the one raised. Always returns false, for `return fail(name);`.
bool fail(const char* name) {
  PyObject* exception = take_raised_exception();
  if (exception == nullptr) {
    return false;
  }
  OwnedRef note(PyUnicode_FromFormat("while processing '%s'", name));
  if (note) {
    OwnedRef added(PyObject_CallMethod(exception, "add_note", "(O)", note.get()));
  }
  // A failure to attach the note must not hide the conversion error.
  PyErr_Clear();
  restore_raised_exception(exception);
  return false;
}

bool fail_type_mismatch(PyObject* value, const char* expected, const char* name) {
  if (value == Py_None) {
    PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
  } else {
    OwnedRef type_name(PyType_GetQualName(Py_TYPE(value)));
    if (type_name) {
      PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", type_name.get(),
                   expected);
    }
  }
  return fail(name);
}

// UTF-8 of a str; raises UnicodeEncodeError for lone surrogates.
bool utf8_of(PyObject* value, const char* name, std::string_view& out) {
  if (!PyUnicode_Check(value)) {
    return fail_type_mismatch(value, "str", name);
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(value, &size);
  if (data == nullptr) {
    return fail(name);
  }
  out = std::string_view(data, static_cast<std::size_t>(size));
  return true;
}

bool type_attribute_is(PyTypeObject* type, const char* attribute, const char* expected) {
  OwnedRef text(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), attribute));
  if (!text) {
    PyErr_Clear();
    return false;
  }
  return PyUnicode_Check(text.get()) && PyUnicode_CompareWithASCIIString(text.get(), expected) == 0;
}

// NumPy's boolean scalar, recognised by name so NumPy need not be loaded.
bool is_numpy_bool(PyObject* value) {
  PyTypeObject* type = Py_TYPE(value);
  return type_attribute_is(type, "__module__", "numpy") &&
         (type_attribute_is(type, "__name__", "bool_") ||
          type_attribute_is(type, "__name__", "bool"));
}

// A path as UTF-8; a NUL inside would make the system open another file.
bool path_of(PyObject* value, const char* name, std::string_view& out) {
  if (!utf8_of(value, name, out)) {
    return false;
  }
  if (out.find('\0') != std::string_view::npos) {
    PyErr_SetString(PyExc_ValueError, "embedded null byte");
    return fail(name);
  }
  return true;
}

}  // namespace

bool convert_path(PyObject* value, const char* name, std::string& out) {
  if (value == nullptr) {
    return true;
  }
  std::string_view text;
  if (!path_of(value, name, text)) {
    return false;
  }
  out.assign(text);
  return true;
}

bool convert_optional_path(PyObject* value, const char* name, std::optional<std::string>& out) {
  if (value == nullptr || value == Py_None) {
    return true;
  }
  std::string path;
  if (!convert_path(value, name, path)) {
    return false;
  }
  out = std::move(path);
  return true;
}

bool convert_text(PyObject* value, const char* name, std::string_view& out) {
  return value == nullptr || utf8_of(value, name, out);
}

bool convert_delimiter(PyObject* value, const char* name, std::optional<unsigned char>& out) {
  if (value == nullptr || value == Py_None) {
    return true;
  }
  std::string_view text;
  if (!utf8_of(value, name, text)) {
    return false;
  }
  if (text.empty()) {
    out.reset();
  } else {
    out = static_cast<unsigned char>(text.front());
  }
  return true;
}

bool convert_quote_char(PyObject* value, const char* name, unsigned char& out) {
  if (value == nullptr) {
    return true;
  }
  std::string_view text;
  if (!utf8_of(value, name, text)) {
    return false;
  }
  out = text.empty() ? kDefaultQuoteChar : static_cast<unsigned char>(text.front());
  return true;
}

bool convert_flag(PyObject* value, const char* name, bool& out) {
  if (value == nullptr) {
    return true;
  }
  if (PyBool_Check(value)) {
    out = value == Py_True;
    return true;
  }
  if (value != Py_None && is_numpy_bool(value)) {
    const int truth = PyObject_IsTrue(value);
    if (truth < 0) {
      return fail(name);
    }
    out = truth != 0;
    return true;
  }
  return fail_type_mismatch(value, "bool", name);
}

bool convert_column_count(PyObject* value, const char* name, std::optional<std::size_t>& out) {
  if (value == nullptr || value == Py_None) {
    return true;
  }
  OwnedRef index(PyNumber_Index(value));
  if (!index) {
    return fail(name);
  }
  const unsigned long long count = PyLong_AsUnsignedLongLong(index.get());
  if (count == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_OverflowError)) {
      return fail(name);
    }
    // Negative values keep the interpreter's message; values that are too
    // large get ours.
    OwnedRef negative_error(take_raised_exception());
    int overflow = 0;
    const long long signed_value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (overflow < 0 || (overflow == 0 && signed_value < 0)) {
      restore_raised_exception(negative_error.release());
    } else {
      PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    }
    return fail(name);
  }
  if constexpr (sizeof(std::size_t) < sizeof(unsigned long long)) {
    if (count > SIZE_MAX) {
      PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
      return fail(name);
    }
  }
  out = static_cast<std::size_t>(count);
  return true;
}

bool convert_options(std::span<PyObject* const, kOptionCount> slots, VestleOptions& options) {
  return convert_delimiter(slots[0], kOptionNames[0], options.delimiter) &&
         convert_quote_char(slots[1], kOptionNames[1], options.quote_char) &&
         convert_flag(slots[2], kOptionNames[2], options.fill_ragged_rows) &&
         convert_flag(slots[3], kOptionNames[3], options.merge_overflow) &&
         convert_column_count(slots[4], kOptionNames[4], options.expected_columns) &&
         convert_flag(slots[5], kOptionNames[5], options.repair_quotes);
}

}  // namespace vestle::binding
