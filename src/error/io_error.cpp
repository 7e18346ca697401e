// Text of an I/O error: the C library's description of an errno, or a fixed text.
#include "error/io_error.h"

#include <string.h>  // strerror_r lives in the global namespace only

#include <string>

namespace vestle {
namespace {

// strerror_r comes in two shapes: the XSI one returns int and fills the
// buffer, the GNU one returns a char* that may point elsewhere. One overload
// per result type takes whichever the headers declare.
[[maybe_unused]] const char* description_from(int result, const char* buffer) noexcept {
  return result == 0 && buffer[0] != '\0' ? buffer : nullptr;
}
[[maybe_unused]] const char* description_from(const char* result, const char* /*buffer*/) noexcept {
  return result != nullptr && result[0] != '\0' ? result : nullptr;
}

std::string os_error_text(int code) {
  char buffer[256];
  buffer[0] = '\0';
  const char* description = description_from(::strerror_r(code, buffer, sizeof buffer), buffer);
  std::string text = description != nullptr ? std::string(description)
                                            : "Unknown error " + std::to_string(code);
  text += " (os error ";
  text += std::to_string(code);
  text += ')';
  return text;
}

const char* kind_description(IoErrorKind kind) noexcept {
  switch (kind) {
    case IoErrorKind::Os:
      return "operating system error";
    case IoErrorKind::WriteZero:
      return "write zero";
    case IoErrorKind::OutOfMemory:
      return "out of memory";
    case IoErrorKind::Other:
      break;
  }
  return "other error";
}

}  // namespace

std::string IoError::text() const {
  if (kind_ == IoErrorKind::Os) return os_error_text(os_error_);
  if (message_ != nullptr) return message_;
  return kind_description(kind_);
}

}  // namespace vestle
