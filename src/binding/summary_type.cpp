// VestleSummary: six read-only values, to_dict and the text form.
#include "binding/summary_type.h"

#include <charconv>
#include <memory>
#include <new>
#include <utility>

#include "binding/borrow_flag.h"
#include "binding/entry_guard.h"
#include "binding/native_instance.h"
#include "binding/owned_ref.h"
#include "binding/process_type.h"
#include "binding/text_objects.h"
#include "parser/utf8.h"

namespace vestle::binding {
namespace {

struct SummaryObject {
  PyObject_HEAD
  BorrowFlag borrow;
  SummaryValues values;
};

SummaryObject* as_summary(PyObject* self) noexcept { return reinterpret_cast<SummaryObject*>(self); }

PyObject* new_count(std::size_t count) { return PyLong_FromSize_t(count); }

// Fresh str objects: two reads of the delimiter never share one.
PyObject* new_text(const std::string& text) { return new_str(text); }

// --- GC and lifetime ---

void summary_dealloc(PyObject* self) {
  dealloc_native_instance(self, [](PyObject* instance) {
    SummaryObject* summary = as_summary(instance);
    std::destroy_at(&summary->values);
    std::destroy_at(&summary->borrow);
  });
}

// --- attributes ---

template <std::size_t SummaryValues::*Field>
PyObject* get_count(PyObject* self, void* /*closure*/) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    SharedBorrow borrow(as_summary(self)->borrow);
    if (!borrow) {
      return nullptr;
    }
    return new_count(as_summary(self)->values.*Field);
  });
}

PyObject* get_detected_delimiter(PyObject* self, void* /*closure*/) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    SharedBorrow borrow(as_summary(self)->borrow);
    if (!borrow) {
      return nullptr;
    }
    return new_text(as_summary(self)->values.detected_delimiter);
  });
}

PyGetSetDef summary_getset[] = {
    {"total_rows", get_count<&SummaryValues::total_rows>, nullptr, nullptr, nullptr},
    {"vestled_rows", get_count<&SummaryValues::vestled_rows>, nullptr, nullptr, nullptr},
    {"repaired_rows", get_count<&SummaryValues::repaired_rows>, nullptr, nullptr, nullptr},
    {"quarantined_rows", get_count<&SummaryValues::quarantined_rows>, nullptr, nullptr, nullptr},
    {"detected_delimiter", get_detected_delimiter, nullptr, nullptr, nullptr},
    {"inferred_columns", get_count<&SummaryValues::inferred_columns>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// --- methods ---

bool set_item(PyObject* dict, const char* key, PyObject* new_value) {
  OwnedRef value(new_value);
  return value && PyDict_SetItemString(dict, key, value.get()) == 0;
}

PyObject* summary_to_dict(PyObject* self, PyObject* /*unused*/) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    SharedBorrow borrow(as_summary(self)->borrow);
    if (!borrow) {
      return nullptr;
    }
    const SummaryValues& values = as_summary(self)->values;
    OwnedRef dict(PyDict_New());
    if (!dict || !set_item(dict.get(), "total_rows", new_count(values.total_rows)) ||
        !set_item(dict.get(), "vestled_rows", new_count(values.vestled_rows)) ||
        !set_item(dict.get(), "repaired_rows", new_count(values.repaired_rows)) ||
        !set_item(dict.get(), "quarantined_rows", new_count(values.quarantined_rows)) ||
        !set_item(dict.get(), "detected_delimiter", new_text(values.detected_delimiter)) ||
        !set_item(dict.get(), "inferred_columns", new_count(values.inferred_columns))) {
      return nullptr;
    }
    return dict.release();
  });
}

void append_count(std::string& text, std::size_t count) {
  char digits[24];
  const auto end = std::to_chars(std::begin(digits), std::end(digits), count).ptr;
  text.append(digits, end);
}

// The delimiter goes in unescaped: a tab shows as a real tab.
PyObject* summary_repr(PyObject* self) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    SharedBorrow borrow(as_summary(self)->borrow);
    if (!borrow) {
      return nullptr;
    }
    const SummaryValues& values = as_summary(self)->values;
    std::string text = "<VestleSummary total_rows=";
    append_count(text, values.total_rows);
    text += " vestled_rows=";
    append_count(text, values.vestled_rows);
    text += " repaired_rows=";
    append_count(text, values.repaired_rows);
    text += " quarantined_rows=";
    append_count(text, values.quarantined_rows);
    text += " delimiter='";
    text += values.detected_delimiter;
    text += "' inferred_columns=";
    append_count(text, values.inferred_columns);
    text += '>';
    return new_text(text);
  });
}

PyMethodDef summary_methods[] = {
    {"to_dict", summary_to_dict, METH_NOARGS,
     "to_dict($self)\n--\n\nConverts the summary into a native Python dictionary."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot summary_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python-exposed summary of a vestle operation.")},
    {Py_tp_traverse, reinterpret_cast<void*>(traverse_type_only)},
    {Py_tp_clear, reinterpret_cast<void*>(clear_nothing)},
    {Py_tp_dealloc, reinterpret_cast<void*>(summary_dealloc)},
    {Py_tp_getset, summary_getset},
    {Py_tp_methods, summary_methods},
    {Py_tp_repr, reinterpret_cast<void*>(summary_repr)},
    {0, nullptr},
};

PyType_Spec summary_spec = {
    "builtins.VestleSummary",
    static_cast<int>(sizeof(SummaryObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    summary_slots,
};

ProcessType summary_class(&summary_spec);

}  // namespace

SummaryValues SummaryValues::from_stats(const VestleStats& stats) {
  SummaryValues values;
  values.total_rows = stats.total_rows;
  values.vestled_rows = stats.vestled_rows;
  values.repaired_rows = stats.repaired_rows;
  values.quarantined_rows = stats.quarantined_rows;
  values.detected_delimiter = std::string(byte_text(stats.detected_delimiter).view());
  values.inferred_columns = stats.inferred_columns;
  return values;
}

PyTypeObject* summary_type() noexcept { return summary_class.get(); }

PyObject* new_summary(const SummaryValues& values) {
  PyTypeObject* type = summary_type();
  if (type == nullptr) {
    return nullptr;
  }
  SummaryValues copy = values;  // may throw; nothing allocated on the Python side yet
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) {
    return nullptr;
  }
  SummaryObject* summary = as_summary(self);
  new (&summary->borrow) BorrowFlag();
  new (&summary->values) SummaryValues(std::move(copy));
  return self;
}

}  // namespace vestle::binding
