// Conversion of engine errors into Python exceptions with exactly one str argument.
#include "binding/error_conversion.h"

#include <cerrno>
#include <string>

#include "binding/owned_ref.h"

namespace vestle::binding {
namespace {

PyObject* class_for_errno(int code) noexcept {
  switch (code) {
    case ENOENT: return PyExc_FileNotFoundError;
    case EPERM:
    case EACCES: return PyExc_PermissionError;
    case ECONNREFUSED: return PyExc_ConnectionRefusedError;
    case ECONNRESET: return PyExc_ConnectionResetError;
    case ECONNABORTED: return PyExc_ConnectionAbortedError;
    case EPIPE: return PyExc_BrokenPipeError;
    case EEXIST: return PyExc_FileExistsError;
    case EAGAIN: return PyExc_BlockingIOError;  // EWOULDBLOCK is the same number
    case ENOTDIR: return PyExc_NotADirectoryError;
    case EISDIR: return PyExc_IsADirectoryError;
    case ETIMEDOUT: return PyExc_TimeoutError;
    case EINTR: return PyExc_InterruptedError;
    case ENOMEM: return PyExc_MemoryError;
    default: return PyExc_OSError;
  }
}

// A single str argument keeps errno, strerror and filename at None.
void raise_with_text(PyObject* type, const IoError& error) {
  const std::string text = error.text();
  OwnedRef message(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()),
                                        "replace"));
  if (message) {
    PyErr_SetObject(type, message.get());
  }
}

PyObject* io_error_class(const IoError& error) noexcept {
  switch (error.kind()) {
    case IoErrorKind::Os: return class_for_errno(error.os_error());
    case IoErrorKind::OutOfMemory: return PyExc_MemoryError;
    case IoErrorKind::WriteZero:
    case IoErrorKind::Other: break;
  }
  return PyExc_OSError;
}

}  // namespace

void raise_vestle_error(const VestleError& error) {
  switch (error.kind()) {
    case VestleError::Kind::Io: raise_with_text(PyExc_OSError, error.io()); return;
  }
}

void raise_io_error(const IoError& error) { raise_with_text(io_error_class(error), error); }

}  // namespace vestle::binding
