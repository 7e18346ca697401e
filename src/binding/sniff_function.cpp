// sniff(sample): the most likely delimiter of a text sample.
#include <string_view>

#include "binding/argument_binder.h"
#include "binding/argument_converters.h"
#include "binding/entry_guard.h"
#include "binding/module_functions.h"
#include "heuristics/delimiter_sniffer.h"
#include "parser/utf8.h"

namespace vestle::binding {
namespace {

constexpr const char* kParameterNames[] = {"sample"};
constexpr ParameterList kParameters{"sniff()", kParameterNames, 1};

PyObject* sniff_impl(std::string_view sample) {
  const ByteText text = byte_text(sniff_delimiter(sample));
  return PyUnicode_FromStringAndSize(text.bytes, text.size);
}

PyObject* sniff(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    PyObject* slots[std::size(kParameterNames)] = {};
    std::string_view sample;
    if (!bind_arguments(kParameters, args, nargsf, kwnames, slots) ||
        !convert_text(slots[0], kParameterNames[0], sample)) {
      return nullptr;
    }
    return sniff_impl(sample);
  });
}

PyMethodDef sniff_def = {
    "sniff", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(sniff)),
    METH_FASTCALL | METH_KEYWORDS,
    "sniff(sample)\n--\n\nDetects the most likely delimiter from a CSV string sample."};

}  // namespace

PyMethodDef* sniff_method_def() noexcept { return &sniff_def; }

}  // namespace vestle::binding
