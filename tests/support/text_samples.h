// Test inputs built from pieces of text: one piece many times over, or
// bytes drawn at random from an alphabet.
#pragma once

#include <cstddef>
#include <random>
#include <string>
#include <string_view>

namespace vestle {

inline std::string repeated(std::string_view text, int times) {
  std::string out;
  out.reserve(text.size() * static_cast<std::size_t>(times > 0 ? times : 0));
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// Up to `max_length` bytes, each drawn from `alphabet`.
inline std::string random_text(std::mt19937& rng, std::string_view alphabet, std::size_t max_length) {
  std::uniform_int_distribution<std::size_t> length(0, max_length);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::string out(length(rng), '\0');
  for (char& byte : out) byte = alphabet[pick(rng)];
  return out;
}

}  // namespace vestle
