// An I/O failure: an errno, or a kind with a fixed message.
#pragma once

#include <string>

namespace vestle {

enum class IoErrorKind {
  Os,           // carries an errno
  WriteZero,    // a write accepted zero bytes
  OutOfMemory,  // allocation failed while doing I/O
  Other,
};

class IoError {
 public:
  [[nodiscard]] static IoError from_errno(int code) noexcept { return IoError(IoErrorKind::Os, code, nullptr); }
  // `message` must be a string literal (it is not copied).
  [[nodiscard]] static IoError with_message(IoErrorKind kind, const char* message) noexcept {
    return IoError(kind, 0, message);
  }
  [[nodiscard]] static IoError of_kind(IoErrorKind kind) noexcept { return IoError(kind, 0, nullptr); }

  [[nodiscard]] IoErrorKind kind() const noexcept { return kind_; }
  // The errno for `IoErrorKind::Os`, else 0.
  [[nodiscard]] int os_error() const noexcept { return os_error_; }
  // "<strerror text> (os error N)", the fixed message, or the kind's description.
  [[nodiscard]] std::string text() const;

 private:
  IoError(IoErrorKind kind, int os_error, const char* message) noexcept
      : kind_(kind), os_error_(os_error), message_(message) {}

  IoErrorKind kind_;
  int os_error_;
  const char* message_;
};

}  // namespace vestle
