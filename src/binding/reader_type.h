// VestleReader: repairs a file in memory and hands out its rows as lists of str.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "binding/argument_converters.h"
#include "binding/python_api.h"
#include "repair/options.h"

namespace vestle::binding {

// Parameters of the constructor and of `open`: the path, then the options.
inline constexpr const char* kReaderPathNames[] = {"file_path"};
inline constexpr auto kReaderParameterNames = names_then_options(kReaderPathNames);
inline constexpr std::size_t kReaderParameterCount = std::size(kReaderParameterNames);

// The parenthesised parameter list shared by the class and `open` docs.
#define VESTLE_READER_SIGNATURE                                                      \
  "(file_path, delimiter=None, quote_char=\"\\\"\", fill_ragged_rows=True, "       \
  "merge_overflow=True, expected_columns=None, repair_quotes=True)"

// The class, created on first use; borrowed, nullptr with an exception set on failure.
[[nodiscard]] PyTypeObject* reader_type() noexcept;

// Converts bound slots (nullptr = not passed, in kReaderParameterNames order),
// reads and repairs the file, and returns a new reader of class `type`.
[[nodiscard]] PyObject* new_reader_from_arguments(PyTypeObject* type,
                                                  std::span<PyObject* const> slots);

}  // namespace vestle::binding
