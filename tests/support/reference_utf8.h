// A second, deliberately plain UTF-8 decoder that tests and fuzz targets check the engine's text against.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vestle::reference {

// Length of the well-formed sequence at `i`, or 0 with `subpart` set to the
// length of the maximal ill-formed subpart there (at least 1).
inline std::size_t reference_sequence_at(std::string_view s, std::size_t i, std::size_t& subpart) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  subpart = 1;
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char second_lo = 0x80;
  unsigned char second_hi = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead == 0xE0) {
    length = 3;
    second_lo = 0xA0;
  } else if ((lead >= 0xE1 && lead <= 0xEC) || lead == 0xEE || lead == 0xEF) {
    length = 3;
  } else if (lead == 0xED) {
    length = 3;
    second_hi = 0x9F;
  } else if (lead == 0xF0) {
    length = 4;
    second_lo = 0x90;
  } else if (lead >= 0xF1 && lead <= 0xF3) {
    length = 4;
  } else if (lead == 0xF4) {
    length = 4;
    second_hi = 0x8F;
  } else {
    return 0;
  }
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char lo = k == 1 ? second_lo : 0x80;
    const unsigned char hi = k == 1 ? second_hi : 0xBF;
    if (i + k >= s.size() || byte(i + k) < lo || byte(i + k) > hi) {
      subpart = k;
      return 0;
    }
  }
  return length;
}

inline bool reference_is_utf8(std::string_view s) {
  for (std::size_t i = 0, subpart = 0; i < s.size();) {
    const std::size_t length = reference_sequence_at(s, i, subpart);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

// Each maximal ill-formed subpart becomes one U+FFFD.
inline std::string reference_lossy(std::string_view s) {
  std::string out;
  for (std::size_t i = 0, subpart = 0; i < s.size();) {
    const std::size_t length = reference_sequence_at(s, i, subpart);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      i += subpart;
    } else {
      out.append(s.substr(i, length));
      i += length;
    }
  }
  return out;
}

}  // namespace vestle::reference
