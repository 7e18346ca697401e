// vestle_file(input_path, output_path, ...): repairs one CSV file into another.
#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "binding/argument_binder.h"
#include "binding/argument_converters.h"
#include "binding/entry_guard.h"
#include "binding/error_conversion.h"
#include "binding/module_functions.h"
#include "binding/summary_type.h"
#include "stream/file_pipeline.h"

namespace vestle::binding {
namespace {

constexpr const char* kPathNames[] = {"input_path", "output_path", "quarantine_path"};
constexpr std::size_t kPathCount = std::size(kPathNames);
constexpr auto kParameterNames = names_then_options(kPathNames);
constexpr ParameterList kParameters{"vestle_file()", kParameterNames, 2};

// Every engine failure becomes plain OSError here, unlike the reader.
PyObject* vestle_file_impl(const std::string& input_path, const std::string& output_path,
                           const std::optional<std::string>& quarantine_path,
                           const VestleOptions& options) {
  auto stats = vestle_file(input_path, output_path, quarantine_path, options);
  if (!stats) {
    raise_vestle_error(stats.error());
    return nullptr;
  }
  return new_summary(SummaryValues::from_stats(stats.value()));
}

PyObject* vestle_file_function(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf,
                               PyObject* kwnames) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    PyObject* slots[std::size(kParameterNames)] = {};
    if (!bind_arguments(kParameters, args, nargsf, kwnames, slots)) {
      return nullptr;
    }
    std::string input_path;
    std::string output_path;
    std::optional<std::string> quarantine_path;
    VestleOptions options;
    if (!convert_path(slots[0], kParameterNames[0], input_path) ||
        !convert_path(slots[1], kParameterNames[1], output_path) ||
        !convert_optional_path(slots[2], kParameterNames[2], quarantine_path) ||
        !convert_options(std::span<PyObject* const>(slots).subspan<kPathCount, kOptionCount>(),
                         options)) {
      return nullptr;
    }
    return vestle_file_impl(input_path, output_path, quarantine_path, options);
  });
}

PyMethodDef vestle_file_def = {
    "vestle_file", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(vestle_file_function)),
    METH_FASTCALL | METH_KEYWORDS,
    "vestle_file(input_path, output_path, quarantine_path=None, delimiter=None, "
    "quote_char=\"\\\"\", fill_ragged_rows=True, merge_overflow=True, expected_columns=None, "
    "repair_quotes=True)\n--\n\n"
    "Vestles a corrupted CSV file and writes a clean, standard RFC-4180 file.\n"
    "\n"
    "Args:\n"
    "    input_path: Path to the corrupted CSV file.\n"
    "    output_path: Path where the repaired CSV file will be written.\n"
    "    quarantine_path: Optional path to write unrecoverable / quarantined rows.\n"
    "    delimiter: Optional single-character delimiter (e.g. \",\" or \";\"). If None, "
    "auto-sniffed.\n"
    "    quote_char: Optional single-character quote enclosure (default '\"').\n"
    "    fill_ragged_rows: If True, pads short rows with empty strings. Default True.\n"
    "    merge_overflow: If True, merges extra tokens into the last column. Default True.\n"
    "    expected_columns: Optional explicit column count. If None, inferred automatically.\n"
    "    repair_quotes: If True, disambiguates and repairs stray internal quotes. Default True."};

}  // namespace

PyMethodDef* vestle_file_method_def() noexcept { return &vestle_file_def; }

}  // namespace vestle::binding
