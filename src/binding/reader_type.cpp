// VestleReader: construction, iteration, length, summary and the context manager.
#include "binding/reader_type.h"

#include <atomic>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "binding/argument_binder.h"
#include "binding/borrow_flag.h"
#include "binding/entry_guard.h"
#include "binding/error_conversion.h"
#include "binding/native_instance.h"
#include "binding/owned_ref.h"
#include "binding/process_type.h"
#include "binding/summary_type.h"
#include "binding/text_objects.h"
#include "stream/repaired_rows.h"
#include "writer/written_rows.h"

namespace vestle::binding {
namespace {

struct ReaderObject {
  PyObject_HEAD
  BorrowFlag borrow;
  // Filled at construction; the memory of rows already handed out is given
  // back as the cursor passes them, and those rows are never read again.
  RepairedRows repaired;
  SummaryValues summary;
  std::size_t cursor;  // offset of the next row; changed only under the exclusive borrow
  FieldList scratch;   // a row's fields on their way to Python, while scratch_in_use
  std::atomic<bool> scratch_in_use;
};

static_assert(std::is_nothrow_move_constructible_v<RepairedRows>);

ReaderObject* as_reader(PyObject* self) noexcept { return reinterpret_cast<ReaderObject*>(self); }

// Memory of rows handed out is given back in steps of this many bytes: the
// cursor never goes back, so it is of no further use.
constexpr std::size_t kReleaseEvery = std::size_t{1} << 20;

PyObject* new_row_list(const FieldList& row) {
  OwnedRef list(PyList_New(static_cast<Py_ssize_t>(row.size())));
  if (!list) {
    return nullptr;
  }
  for (std::size_t i = 0; i < row.size(); ++i) {
    PyObject* field = row.is_ascii(i) ? new_ascii_str(row[i]) : new_str(row[i]);
    if (field == nullptr) {
      return nullptr;
    }
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), field);
  }
  return list.release();
}

// The reader's field list while it is free, else one of the call's own: a
// row can be handed out while another is being built, from another thread or
// from Python code the allocator ran. The reader's own is kept from row to
// row, so that a row costs no allocation.
class RowScratch {
 public:
  explicit RowScratch(ReaderObject& reader) noexcept
      : kept_(reader.scratch_in_use.exchange(true, std::memory_order_acquire) ? nullptr : &reader) {}
  RowScratch(const RowScratch&) = delete;
  RowScratch& operator=(const RowScratch&) = delete;
  ~RowScratch() {
    if (kept_ == nullptr) return;
    // A long row's storage is not worth keeping.
    if (kept_->scratch.capacity() > kKeepUpTo) kept_->scratch = FieldList();
    kept_->scratch_in_use.store(false, std::memory_order_release);
  }

  [[nodiscard]] FieldList& get() noexcept { return kept_ != nullptr ? kept_->scratch : own_; }

 private:
  static constexpr std::size_t kKeepUpTo = std::size_t{64} << 10;

  ReaderObject* kept_;
  FieldList own_;
};

// Repairs the whole file into memory; read failures raise the matching
// OSError subclass.
std::optional<RepairedRows> repair_file(const std::string& path, const VestleOptions& options) {
  Result<RepairedRows, IoError> repaired = repair_into_memory(path, options);
  if (!repaired) {
    raise_io_error(repaired.error());
    return std::nullopt;
  }
  return std::move(repaired).value();
}

// --- GC and lifetime ---

void reader_dealloc(PyObject* self) {
  dealloc_native_instance(self, [](PyObject* instance) {
    ReaderObject* reader = as_reader(instance);
    std::destroy_at(&reader->summary);
    std::destroy_at(&reader->scratch);
    std::destroy_at(&reader->repaired);
    std::destroy_at(&reader->borrow);
  });
}

// --- construction ---

constexpr ParameterList kNewParameters{"VestleReader.__new__()", kReaderParameterNames, 1};

PyObject* reader_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    PyObject* slots[kReaderParameterCount] = {};
    if (!bind_arguments(kNewParameters, args, kwargs, slots)) {
      return nullptr;
    }
    return new_reader_from_arguments(type, slots);
  });
}

// --- iteration and length ---

PyObject* reader_iter(PyObject* self) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    SharedBorrow borrow(as_reader(self)->borrow);
    return borrow ? Py_NewRef(self) : nullptr;
  });
}

// The cursor step and the copy of the row are exclusive; the list is built
// from the copy after the borrow is released.
PyObject* reader_next(PyObject* self) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    ReaderObject* reader = as_reader(self);
    ExclusiveBorrow borrow(reader->borrow);
    if (!borrow) {
      return nullptr;
    }
    RepairedRows& repaired = reader->repaired;
    const std::string_view text = repaired.text.view();
    if (reader->cursor >= text.size()) {
      return nullptr;  // end of iteration, no exception set
    }
    // A copy: building the list may run Python code that reads rows too.
    RowScratch scratch(*reader);
    FieldList& row = scratch.get();
    const std::size_t next = WrittenRowReader(repaired.delimiter, repaired.quote)
                                 .read_row(text, reader->cursor, row);
    if (next / kReleaseEvery != reader->cursor / kReleaseEvery) repaired.text.release_before(next);
    reader->cursor = next;
    borrow.release();
    return new_row_list(row);
  });
}

Py_ssize_t reader_length(PyObject* self) {
  return guarded<Py_ssize_t>(-1, [&]() -> Py_ssize_t {
    SharedBorrow borrow(as_reader(self)->borrow);
    if (!borrow) {
      return -1;
    }
    return static_cast<Py_ssize_t>(as_reader(self)->repaired.stats.vestled_rows);
  });
}

// --- summary and context manager ---

PyObject* reader_get_summary(PyObject* self, void* /*closure*/) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    SummaryValues values;
    {
      SharedBorrow borrow(as_reader(self)->borrow);
      if (!borrow) {
        return nullptr;
      }
      values = as_reader(self)->summary;
    }
    return new_summary(values);
  });
}

PyObject* reader_enter(PyObject* self, PyObject* /*unused*/) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    SharedBorrow borrow(as_reader(self)->borrow);
    return borrow ? Py_NewRef(self) : nullptr;
  });
}

constexpr const char* kExitParameterNames[] = {"_exc_type", "_exc_val", "_exc_tb"};
constexpr ParameterList kExitParameters{"VestleReader.__exit__()", kExitParameterNames, 0};

// Never suppresses the exception leaving the block.
PyObject* reader_exit(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                      PyObject* kwnames) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    PyObject* slots[std::size(kExitParameterNames)] = {};
    if (!bind_arguments(kExitParameters, args, nargsf, kwnames, slots)) {
      return nullptr;
    }
    SharedBorrow borrow(as_reader(self)->borrow);
    return borrow ? Py_NewRef(Py_False) : nullptr;
  });
}

PyGetSetDef reader_getset[] = {
    {"summary", reader_get_summary, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef reader_methods[] = {
    {"__enter__", reader_enter, METH_NOARGS, "__enter__($self)\n--\n\n"},
    {"__exit__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(reader_exit)),
     METH_FASTCALL | METH_KEYWORDS,
     "__exit__($self, _exc_type=None, _exc_val=None, _exc_tb=None)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot reader_slots[] = {
    {Py_tp_doc, const_cast<char*>("VestleReader" VESTLE_READER_SIGNATURE
                                  "\n--\n\nIn-memory streaming reader iterating over vestled rows.")},
    {Py_tp_traverse, reinterpret_cast<void*>(traverse_type_only)},
    {Py_tp_clear, reinterpret_cast<void*>(clear_nothing)},
    {Py_tp_dealloc, reinterpret_cast<void*>(reader_dealloc)},
    {Py_tp_getset, reader_getset},
    {Py_tp_methods, reader_methods},
    {Py_tp_new, reinterpret_cast<void*>(reader_new)},
    {Py_tp_iter, reinterpret_cast<void*>(reader_iter)},
    {Py_tp_iternext, reinterpret_cast<void*>(reader_next)},
    {Py_mp_length, reinterpret_cast<void*>(reader_length)},
    {0, nullptr},
};

// Reads `path`, repairs it in memory and returns a new reader; read failures
// raise the matching OSError subclass.
PyObject* new_reader_impl(PyTypeObject* type, const std::string& path,
                          const VestleOptions& options) {
  std::optional<RepairedRows> repaired = repair_file(path, options);
  if (!repaired) {
    return nullptr;
  }
  SummaryValues summary = SummaryValues::from_stats(repaired->stats);
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) {
    return nullptr;
  }
  // Moves cannot throw, so the object is fully built once allocated.
  ReaderObject* reader = as_reader(self);
  new (&reader->borrow) BorrowFlag();
  new (&reader->repaired) RepairedRows(std::move(*repaired));
  new (&reader->summary) SummaryValues(std::move(summary));
  reader->cursor = 0;
  new (&reader->scratch) FieldList();
  new (&reader->scratch_in_use) std::atomic<bool>(false);
  return self;
}

PyType_Spec reader_spec = {
    "builtins.VestleReader",
    static_cast<int>(sizeof(ReaderObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
    reader_slots,
};

ProcessType reader_class(&reader_spec);

}  // namespace

PyTypeObject* reader_type() noexcept { return reader_class.get(); }

PyObject* new_reader_from_arguments(PyTypeObject* type, std::span<PyObject* const> slots) {
  std::string path;
  VestleOptions options;
  if (!convert_path(slots[0], kReaderParameterNames[0], path) ||
      !convert_options(slots.subspan<1, kOptionCount>(), options)) {
    return nullptr;
  }
  return new_reader_impl(type, path, options);
}

}  // namespace vestle::binding
