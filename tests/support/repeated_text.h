// Test inputs built from one piece of text written many times over.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vestle {

inline std::string repeated(std::string_view text, int times) {
  std::string out;
  out.reserve(text.size() * static_cast<std::size_t>(times > 0 ? times : 0));
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

}  // namespace vestle
