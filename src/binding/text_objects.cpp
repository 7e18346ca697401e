// str construction with an ASCII fast path and no shared one-character objects.
#include "binding/text_objects.h"

#include <cstring>

#include "binding/owned_ref.h"
#include "parser/utf8.h"

namespace vestle::binding {

PyObject* new_str(std::string_view utf8) {
  const auto size = static_cast<Py_ssize_t>(utf8.size());
  if (is_ascii(utf8)) {
    PyObject* text = PyUnicode_New(size, 127);
    if (text != nullptr && size != 0) {
      std::memcpy(PyUnicode_DATA(text), utf8.data(), utf8.size());
    }
    return text;
  }
  OwnedRef decoded(PyUnicode_DecodeUTF8(utf8.data(), size, nullptr));
  if (!decoded || PyUnicode_GET_LENGTH(decoded.get()) != 1) {
    return decoded.release();
  }
  // The decoder hands out a cached object for one Latin-1 character; copy it.
  const Py_UCS4 character = PyUnicode_READ_CHAR(decoded.get(), 0);
  PyObject* text = PyUnicode_New(1, character);
  if (text != nullptr) {
    PyUnicode_WRITE(PyUnicode_KIND(text), PyUnicode_DATA(text), 0, character);
  }
  return text;
}

}  // namespace vestle::binding
