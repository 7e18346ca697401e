// The quarantine file as tests expect it, spelled here on its own rather than
// taken from the writer it checks.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vestle::testing {

inline const std::string kQuarantineHeaderLine = "line,reason,raw_content\n";

inline std::string too_few_columns(std::size_t expected) {
  return "Row has too few columns (expected " + std::to_string(expected) + ")";
}

inline std::string extra_columns(std::size_t expected) {
  return "Row has extra columns (expected " + std::to_string(expected) + ")";
}

// One line: the line number, then the reason and the raw content, each in
// double quotes with the double quotes inside doubled.
inline std::string quarantine_line(std::size_t line, std::string_view reason,
                                   std::string_view raw) {
  const auto quoted = [](std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
      out += c;
      if (c == '"') out += '"';
    }
    return out + "\"";
  };
  return std::to_string(line) + "," + quoted(reason) + "," + quoted(raw) + "\n";
}

}  // namespace vestle::testing
