// Unicode White_Space: the characters a blank line may be made of.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "parser/utf8.h"

namespace vestle {

inline constexpr char32_t kWhiteSpace[] = {
    0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085, 0x00A0, 0x1680, 0x2000,
    0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A,
    0x2028, 0x2029, 0x202F, 0x205F, 0x3000};

// Their UTF-8 encodings; every one lies below U+10000.
inline constexpr std::array<EncodedChar, std::size(kWhiteSpace)> kWhiteSpaceBytes = [] {
  std::array<EncodedChar, std::size(kWhiteSpace)> all{};
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = encode_utf8(kWhiteSpace[i]);
  return all;
}();

// What a byte can be in the UTF-8 text of White_Space: a whole character, the
// first byte of a longer one, or neither.
enum class WhiteSpaceLead : std::uint8_t { Neither, Whole, First };

inline constexpr std::array<WhiteSpaceLead, 256> kWhiteSpaceLead = [] {
  std::array<WhiteSpaceLead, 256> lead{};
  for (const EncodedChar& w : kWhiteSpaceBytes) {
    lead[w.bytes[0]] = w.size == 1 ? WhiteSpaceLead::Whole : WhiteSpaceLead::First;
  }
  return lead;
}();

}  // namespace vestle
