// Owning smart pointer for a strong Python reference.
#pragma once

#include <utility>

#include "binding/python_api.h"

namespace vestle::binding {

// Holds one strong reference and drops it on scope exit, so early returns and
// unwinding never leak.
class OwnedRef {
 public:
  OwnedRef() noexcept = default;
  // Takes ownership of a new reference (nullptr allowed).
  explicit OwnedRef(PyObject* object) noexcept : object_(object) {}
  OwnedRef(const OwnedRef&) = delete;
  OwnedRef& operator=(const OwnedRef&) = delete;
  OwnedRef(OwnedRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  OwnedRef& operator=(OwnedRef&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(object_);
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  ~OwnedRef() { Py_XDECREF(object_); }

  [[nodiscard]] PyObject* get() const noexcept { return object_; }
  [[nodiscard]] explicit operator bool() const noexcept { return object_ != nullptr; }
  // Hands the reference to the caller.
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

 private:
  PyObject* object_ = nullptr;
};

}  // namespace vestle::binding
