// One converter per kind of argument, from Python values to engine values.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "binding/python_api.h"
#include "repair/options.h"

namespace vestle::binding {

// Every converter takes a borrowed value, nullptr when the parameter was not
// passed: then `out` keeps its default and nothing is examined. On failure it
// raises (the note "while processing '<name>'" attached) and returns false.

// str (or subclass) -> its UTF-8 text.
[[nodiscard]] bool convert_path(PyObject* value, const char* name, std::string& out);
// None or str -> absent or UTF-8 text.
[[nodiscard]] bool convert_optional_path(PyObject* value, const char* name,
                                         std::optional<std::string>& out);
// str -> view of its UTF-8 text, valid while `value` lives.
[[nodiscard]] bool convert_text(PyObject* value, const char* name, std::string_view& out);
// None or str -> absent (None, "") or the first byte of the UTF-8 text.
[[nodiscard]] bool convert_delimiter(PyObject* value, const char* name,
                                     std::optional<unsigned char>& out);
// str -> the first byte of the UTF-8 text; "" gives the double quote.
[[nodiscard]] bool convert_quote_char(PyObject* value, const char* name, unsigned char& out);
// bool, or a NumPy boolean scalar read through its truth value.
[[nodiscard]] bool convert_flag(PyObject* value, const char* name, bool& out);
// None or an integer (via __index__) that fits an unsigned machine word.
[[nodiscard]] bool convert_column_count(PyObject* value, const char* name,
                                        std::optional<std::size_t>& out);

// Names of the option parameters shared by vestle_file, open and VestleReader,
// in parameter order; they always come last in those parameter lists.
inline constexpr const char* kOptionNames[] = {
    "delimiter",     "quote_char",       "fill_ragged_rows",
    "merge_overflow", "expected_columns", "repair_quotes",
};
inline constexpr std::size_t kOptionCount = std::size(kOptionNames);

// The parameter names of a function that takes `leading` and then the options.
template <std::size_t N>
constexpr std::array<const char*, N + kOptionCount> names_then_options(
    const char* const (&leading)[N]) {
  std::array<const char*, N + kOptionCount> names{};
  for (std::size_t i = 0; i < N; ++i) names[i] = leading[i];
  for (std::size_t i = 0; i < kOptionCount; ++i) names[N + i] = kOptionNames[i];
  return names;
}

// Converts the option slots (in the order of kOptionNames) into `options`,
// stopping at the first failure.
[[nodiscard]] bool convert_options(std::span<PyObject* const, kOptionCount> slots,
                                   VestleOptions& options);

}  // namespace vestle::binding
