// VestleReader: repairs a file in memory and hands out its rows as lists of str.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "binding/argument_converters.h"
#include "binding/python_api.h"
#include "vestle/vestle_options.h"

namespace vestle::binding {

// Parameters of the constructor and of `open`: the path, then the options.
inline constexpr const char* kReaderParameterNames[] = {
    "file_path",      "delimiter",        "quote_char",    "fill_ragged_rows",
    "merge_overflow", "expected_columns", "repair_quotes",
};
inline constexpr std::size_t kReaderParameterCount = std::size(kReaderParameterNames);
static_assert(kReaderParameterCount == 1 + kOptionCount);

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

// Reads `path`, repairs it in memory and returns a new reader; read failures
// raise the matching OSError subclass.
[[nodiscard]] PyObject* new_reader_impl(PyTypeObject* type, const std::string& path,
                                        const VestleOptions& options);

}  // namespace vestle::binding
