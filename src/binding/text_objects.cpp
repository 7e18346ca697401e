// str construction with an ASCII fast path and no shared one-character objects.
#include "binding/text_objects.h"

#include <cstdint>
#include <cstring>

#include "parser/byte_scan.h"


namespace vestle::binding {
namespace {

constexpr bool is_continuation(unsigned char byte) noexcept { return (byte & 0xC0) == 0x80; }

// Decodes `length` code points of UTF-8 into `out`. Each starts at a byte that
// is no continuation byte; continuation bytes beyond what a lead announces are
// skipped, so the count holds whatever the bytes are.
template <typename Char>
void decode_utf8(const unsigned char* in, std::size_t size, std::size_t length, Char* out) noexcept {
  std::size_t i = 0;
  for (std::size_t n = 0; n < length; ++n) {
    while (is_continuation(in[i])) ++i;
    const unsigned char lead = in[i++];
    std::uint32_t point = lead;
    if (lead >= 0xC0) {
      const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
      point = lead & (0x3Fu >> extra);
      for (int k = 0; k < extra && i < size && is_continuation(in[i]); ++k) {
        point = (point << 6) | (in[i++] & 0x3Fu);
      }
    }
    out[n] = static_cast<Char>(point);
  }
}

struct Width {
  std::size_t code_points;
  Py_UCS4 widest;  // 127, 0xFF, 0xFFFF or 0x10FFFF: the str kind the code points need
};

// Code points are the bytes that are no continuation bytes (10xxxxxx). The
// widest shows in the lead bytes: up to C3 they fit one byte, up to EF two
// (C4 starts at U+0100), beyond that four. Eight bytes a step, by their top
// bits: shifting a word left by k brings bit 7 - k of each byte to its top.
Width width_of(const unsigned char* bytes, std::size_t size) noexcept {
  using scan_detail::kOnes;
  constexpr std::uint64_t kTop = scan_detail::kHighBits;
  std::size_t continuations = 0;
  std::uint64_t high = 0;     // top bit set: a byte from 0x80 up
  std::uint64_t from_c4 = 0;  // top bit set: a lead from C4 up
  std::uint64_t from_f0 = 0;  // top bit set: a lead from F0 up
  const auto add = [&](std::uint64_t w) {
    const std::uint64_t lead = w & (w << 1) & kTop;  // 11xxxxxx
    // One bit a byte, summed by a multiply (a bit count may be a library call).
    continuations += static_cast<std::size_t>((((w & ~(w << 1) & kTop) >> 7) * kOnes) >> 56);
    high |= w;
    from_c4 |= lead & ((w << 2) | (w << 3) | (w << 4) | (w << 5));
    from_f0 |= lead & (w << 2) & (w << 3);
  };
  std::size_t i = 0;
  for (; size - i >= 8; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, bytes + i, sizeof w);
    add(w);
  }
  for (; i < size; ++i) add(bytes[i]);
  const Py_UCS4 widest = (from_f0 & kTop) != 0   ? 0x10FFFF
                         : (from_c4 & kTop) != 0 ? 0xFFFF
                         : (high & kTop) != 0    ? 0xFF
                                                 : 127;
  return {size - continuations, widest};
}

}  // namespace

PyObject* new_ascii_str(std::string_view ascii) {
  PyObject* text = PyUnicode_New(static_cast<Py_ssize_t>(ascii.size()), 127);
  if (text != nullptr && !ascii.empty()) {
    std::memcpy(PyUnicode_DATA(text), ascii.data(), ascii.size());
  }
  return text;
}

PyObject* new_str(std::string_view utf8) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
  const Width width = width_of(bytes, utf8.size());
  if (width.widest == 127) {
    return new_ascii_str(utf8);
  }
  const std::size_t length = width.code_points;
  PyObject* text = PyUnicode_New(static_cast<Py_ssize_t>(length), width.widest);
  if (text == nullptr) {
    return nullptr;
  }
  switch (PyUnicode_KIND(text)) {
    case PyUnicode_1BYTE_KIND:
      decode_utf8(bytes, utf8.size(), length, PyUnicode_1BYTE_DATA(text));
      break;
    case PyUnicode_2BYTE_KIND:
      decode_utf8(bytes, utf8.size(), length, PyUnicode_2BYTE_DATA(text));
      break;
    default:
      decode_utf8(bytes, utf8.size(), length, PyUnicode_4BYTE_DATA(text));
      break;
  }
  return text;
}

}  // namespace vestle::binding
