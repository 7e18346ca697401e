// Unicode White_Space: the characters a blank line may be made of.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vestle {

inline constexpr char32_t kWhiteSpace[] = {
    0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085, 0x00A0, 0x1680, 0x2000,
    0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A,
    0x2028, 0x2029, 0x202F, 0x205F, 0x3000};

[[nodiscard]] constexpr bool is_white_space(char32_t code_point) noexcept {
  for (const char32_t c : kWhiteSpace) {
    if (c == code_point) return true;
  }
  return false;
}

// The UTF-8 encoding of one White_Space character; all lie below U+10000.
struct WhiteSpaceBytes {
  unsigned char bytes[3] = {};
  std::uint8_t size = 0;
};

[[nodiscard]] constexpr WhiteSpaceBytes utf8_of_white_space(char32_t c) noexcept {
  if (c < 0x80) return {{static_cast<unsigned char>(c)}, 1};
  if (c < 0x800) {
    return {{static_cast<unsigned char>(0xC0 | (c >> 6)), static_cast<unsigned char>(0x80 | (c & 0x3F))},
            2};
  }
  return {{static_cast<unsigned char>(0xE0 | (c >> 12)),
           static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F)),
           static_cast<unsigned char>(0x80 | (c & 0x3F))},
          3};
}

inline constexpr std::array<WhiteSpaceBytes, std::size(kWhiteSpace)> kWhiteSpaceBytes = [] {
  std::array<WhiteSpaceBytes, std::size(kWhiteSpace)> all{};
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = utf8_of_white_space(kWhiteSpace[i]);
  return all;
}();

// What a byte can be in the UTF-8 text of White_Space: a whole character, the
// first byte of a longer one, or neither.
enum class WhiteSpaceLead : std::uint8_t { Neither, Whole, First };

inline constexpr std::array<WhiteSpaceLead, 256> kWhiteSpaceLead = [] {
  std::array<WhiteSpaceLead, 256> lead{};
  for (const WhiteSpaceBytes& w : kWhiteSpaceBytes) {
    lead[w.bytes[0]] = w.size == 1 ? WhiteSpaceLead::Whole : WhiteSpaceLead::First;
  }
  return lead;
}();

}  // namespace vestle
