// The streaming repair: settle the format on a prefix, then one pass of windows.
#include "vestle/vestle_stream.h"

#include <optional>

#include "heuristics/format_inference.h"
#include "parser/resilient_parser.h"
#include "parser/row_store.h"
#include "vestle/csv_writers.h"
#include "vestle/row_reconciler.h"
#include "vestle/verbatim_rows.h"

namespace vestle {
namespace {

// Reads until delimiter and column count are settled. Returns whether the
// input has to be read again from its start (the prefix grew too long to hold).
Result<bool, IoError> settle_format(ChunkedInput& input, FormatInference& inference,
                                    const StreamSettings& settings) {
  std::optional<bool> can_restart;
  bool restart = false;
  for (;;) {
    if (Result<Done, IoError> more = input.extend(); !more) return more.error();
    if (inference.advance(input.window(), input.window_offset(), input.at_end())) return restart;
    if (input.window().size() < settings.prefix_limit) continue;
    if (!can_restart) can_restart = input.can_restart();
    // A pipe cannot be read twice: it keeps what the heuristics still need.
    if (!*can_restart) continue;
    input.discard(static_cast<std::size_t>(inference.needed_from() - input.window_offset()));
    restart = true;
  }
}

}  // namespace

Result<VestleStats, IoError> vestle_stream(ChunkedInput& input, const VestleOptions& options,
                                           const OpenOutput& open_output,
                                           QuarantineSpool* quarantine,
                                           const StreamSettings& settings) {
  FormatInference inference(options.delimiter, options.expected_columns, options.quote_char);
  Result<bool, IoError> settled = settle_format(input, inference, settings);
  if (!settled) return settled.error();
  const bool empty_input = input.at_end() && input.window_offset() == 0 && input.window().empty();
  if (settled.value()) {
    if (Result<Done, IoError> restarted = input.restart(); !restarted) return restarted.error();
  }

  Result<BufferedWriter*, IoError> opened = open_output(input);
  if (!opened) return opened.error();
  BufferedWriter& output = *opened.value();

  VestleStats stats;
  if (empty_input) return stats;  // comma and all counts 0, whatever the options say
  const unsigned char delimiter = inference.delimiter();
  const std::size_t columns = inference.columns();
  stats.detected_delimiter = delimiter;
  stats.inferred_columns = columns;
  RowReconciler reconciler(options, columns, delimiter);

  RowWriter row_writer(delimiter, options.quote_char);
  std::optional<VerbatimRowScanner> verbatim;
  if (VerbatimRowScanner::usable(delimiter, options.quote_char)) {
    verbatim.emplace(delimiter, options.quote_char);
  }
  RowStore rows;
  ParsePoint resume;  // in the input: where the next window's first row starts
  for (;;) {
    const std::string_view window = input.window();
    const std::uint64_t window_offset = input.window_offset();
    const bool at_end = input.at_end();
    const auto start = static_cast<std::size_t>(resume.offset - window_offset);
    const std::string_view rest = window.substr(start);
    ResilientParser parser(rest, delimiter, options.quote_char, options.repair_quotes,
                           resume.line_number, resume.offset == 0);
    for (;;) {
      if (verbatim) {
        const VerbatimRowScanner::Row row = verbatim->scan(rest, parser.position(), columns);
        if (row.end != 0) {
          const std::size_t from = parser.position();
          ++stats.total_rows;
          ++stats.vestled_rows;
          if (Result<Done, IoError> written = output.write(rest.substr(from, row.end - from));
              !written) {
            return written.error();
          }
          parser.skip_to(ParsePoint{row.end, parser.line_number() + 1 + row.lf_inside});
          continue;
        }
      }
      rows.clear();
      const bool row = parser.next_row(rows);
      if (!at_end && row && parser.position() == rest.size()) break;  // may go on beyond the window
      if (!row) break;
      ++stats.total_rows;
      if (const std::optional<QuarantineReason> reason =
              reconciler.reconcile(rows, stats.repaired_rows)) {
        ++stats.quarantined_rows;
        if (quarantine != nullptr) {
          quarantine->add(rows.last_row(), *reason, columns, parser.line_number(), delimiter);
        }
        continue;
      }
      ++stats.vestled_rows;
      if (Result<Done, IoError> written = row_writer.write(output, rows.last_row()); !written) {
        return written.error();
      }
    }
    if (at_end) return stats;
    const ParsePoint point = parser.resume_point();
    resume = ParsePoint{window_offset + start + point.offset, point.line_number};
    input.discard(static_cast<std::size_t>(resume.offset - window_offset));
    if (Result<Done, IoError> more = input.extend(); !more) return more.error();
  }
}

}  // namespace vestle
