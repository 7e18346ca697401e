// UTF-8 helpers: validation and lossy decoding of field bytes, encoding of a
// code point, and the text of a delimiter byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vestle {

// True when `bytes` is well-formed UTF-8.
[[nodiscard]] bool is_valid_utf8(std::string_view bytes) noexcept;

// Length of the longest prefix of `bytes` made of whole well-formed
// sequences, up to the first ill-formed byte.
[[nodiscard]] std::size_t valid_utf8_prefix(std::string_view bytes) noexcept;

// True when every byte is below 0x80.
[[nodiscard]] bool is_ascii(std::string_view bytes) noexcept;

// Appends `bytes` to `out`, replacing each maximal ill-formed subpart by one
// U+FFFD (EF BF BD). `bytes` must not point into `out`.
void append_lossy_utf8(std::string_view bytes, std::string& out);

// The UTF-8 encoding of a code point below U+10000: `size` bytes of `bytes`.
struct EncodedChar {
  unsigned char bytes[3];
  unsigned char size;
};
[[nodiscard]] constexpr EncodedChar encode_utf8(char32_t code_point) noexcept {
  if (code_point < 0x80) return {{static_cast<unsigned char>(code_point), 0, 0}, 1};
  if (code_point < 0x800) {
    return {{static_cast<unsigned char>(0xC0 | (code_point >> 6)),
             static_cast<unsigned char>(0x80 | (code_point & 0x3F)), 0},
            2};
  }
  return {{static_cast<unsigned char>(0xE0 | (code_point >> 12)),
           static_cast<unsigned char>(0x80 | ((code_point >> 6) & 0x3F)),
           static_cast<unsigned char>(0x80 | (code_point & 0x3F))},
          3};
}

// Text of the character whose code point equals `byte`: one byte below 0x80,
// two bytes from 0x80 to 0xFF.
struct ByteText {
  char bytes[2];
  unsigned char size;
  [[nodiscard]] std::string_view view() const noexcept { return {bytes, size}; }
};
[[nodiscard]] ByteText byte_text(unsigned char byte) noexcept;

}  // namespace vestle
