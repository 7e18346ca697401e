// A heap type created on first use and kept for the life of the process.
#pragma once

#include <atomic>

#include "binding/owned_ref.h"
#include "binding/python_api.h"

namespace vestle::binding {

// Threads racing on first use may each build the type; one wins and the
// others drop theirs, so no lock is held while the interpreter runs.
class ProcessType {
 public:
  explicit ProcessType(PyType_Spec* spec) noexcept : spec_(spec) {}

  // Borrowed; nullptr with an exception set when creation fails.
  [[nodiscard]] PyTypeObject* get() noexcept {
    if (PyObject* existing = type_.load(std::memory_order_acquire)) {
      return reinterpret_cast<PyTypeObject*>(existing);
    }
    OwnedRef created(PyType_FromSpec(spec_));
    if (!created) {
      return nullptr;
    }
    PyObject* expected = nullptr;
    if (type_.compare_exchange_strong(expected, created.get(), std::memory_order_acq_rel)) {
      return reinterpret_cast<PyTypeObject*>(created.release());
    }
    return reinterpret_cast<PyTypeObject*>(expected);
  }

 private:
  PyType_Spec* spec_;
  std::atomic<PyObject*> type_{nullptr};
};

}  // namespace vestle::binding
