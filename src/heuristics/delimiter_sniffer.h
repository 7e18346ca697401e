// Guesses the delimiter of a CSV text among ",", ";", tab and "|".
#pragma once

#include <string_view>

namespace vestle {

inline constexpr unsigned char kDefaultQuoteChar = '"';

// Scores each candidate on up to 50 non-blank rows and returns the best.
// `quote_char` is the double quote everywhere except inside a repair run that
// was given another quote character.
[[nodiscard]] unsigned char sniff_delimiter(std::string_view sample,
                                            unsigned char quote_char = kDefaultQuoteChar);

}  // namespace vestle
