// A blank line judged the plain way, by decoding its text: tests and fuzz
// targets check the parser's counting sink, which judges bytes as they arrive,
// against it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <string_view>

#include "parser/row_store.h"
#include "parser/white_space.h"
#include "support/reference_utf8.h"

namespace vestle::reference {

// The code point of the well-formed sequence of `length` bytes at `i`.
inline char32_t reference_code_point(std::string_view s, std::size_t i, std::size_t length) {
  static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  char32_t code_point = static_cast<unsigned char>(s[i]) & kLeadBits[length];
  for (std::size_t k = 1; k < length; ++k) {
    code_point = (code_point << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
  }
  return code_point;
}

// True when `text` is empty or decodes to White_Space only; an ill-formed
// byte would decode to U+FFFD, which is not.
inline bool reference_is_blank_text(std::string_view text) {
  for (std::size_t i = 0, subpart = 0; i < text.size();) {
    const std::size_t length = reference_sequence_at(text, i, subpart);
    if (length == 0 || std::ranges::find(kWhiteSpace, reference_code_point(text, i, length)) ==
                           std::end(kWhiteSpace)) {
      return false;
    }
    i += length;
  }
  return true;
}

// A row of one field that is blank text: a blank line, which the heuristics
// neither count nor let use up their row limit.
inline bool reference_is_blank_row(RowView row) {
  return row.size() == 1 && reference_is_blank_text(row[0]);
}

}  // namespace vestle::reference
