// The streaming repair: settle the format on a prefix, then one pass of windows.
#include "vestle/vestle_stream.h"

#include <optional>

#include "parser/byte_scan.h"
#include "parser/resilient_parser.h"
#include "parser/row_store.h"
#include "vestle/csv_writers.h"
#include "vestle/row_reconciler.h"
#include "vestle/verbatim_rows.h"

namespace vestle {

StreamingRepair::StreamingRepair(ChunkedInput& input, const VestleOptions& options,
                                 QuarantineSpool* quarantine, const StreamSettings& settings)
    : input_(input),
      options_(options),
      quarantine_(quarantine),
      settings_(settings),
      inference_(options.delimiter, options.expected_columns, options.quote_char) {}

Result<Done, IoError> StreamingRepair::settle_format() {
  std::optional<bool> can_restart;
  bool restart = false;
  for (;;) {
    if (Result<Done, IoError> more = input_.extend(); !more) return more;
    if (inference_.advance(input_.window(), input_.window_offset(), input_.at_end())) break;
    if (input_.window().size() < settings_.prefix_limit) continue;
    if (!can_restart) can_restart = input_.can_restart();
    // A pipe cannot be read twice: it keeps what the heuristics still need.
    if (!*can_restart) continue;
    input_.discard(static_cast<std::size_t>(inference_.needed_from() - input_.window_offset()));
    restart = true;
  }
  empty_input_ = input_.at_end() && input_.window_offset() == 0 && input_.window().empty();
  if (restart) return input_.restart();
  return Done{};
}

Result<Done, IoError> StreamingRepair::write_rows(BufferedWriter& output) {
  if (empty_input_) return Done{};  // comma and all counts 0, whatever the options say
  const unsigned char delimiter = inference_.delimiter();
  const std::size_t columns = inference_.columns();
  stats_.detected_delimiter = delimiter;
  stats_.inferred_columns = columns;
  RowReconciler reconciler(options_, columns, delimiter);

  RowWriter row_writer(delimiter, options_.quote_char);
  std::optional<VerbatimRowScanner> verbatim;
  if (VerbatimRowScanner::usable(delimiter, options_.quote_char)) {
    verbatim.emplace(delimiter, options_.quote_char);
  }
  RowStore rows;
  ParsePoint resume;  // in the input: where the next window's first row starts
  for (;;) {
    const std::string_view window = input_.window();
    const std::uint64_t window_offset = input_.window_offset();
    const bool at_end = input_.at_end();
    const auto start = static_cast<std::size_t>(resume.offset - window_offset);
    const std::string_view rest = window.substr(start);
    ResilientParser parser(rest, delimiter, options_.quote_char, options_.repair_quotes,
                           resume.line_number, resume.offset == 0);
    ParsePoint stop;  // in `rest`: where this window's rows end
    for (;;) {
      if (verbatim) {
        // Rows already in output form go out as one piece, straight from the input.
        const std::size_t from = parser.position();
        const VerbatimRowScanner::Run run = verbatim->scan(rest, from, columns);
        if (run.rows != 0) {
          stats_.total_rows += run.rows;
          stats_.vestled_rows += run.rows;
          if (Result<Done, IoError> written = output.write(rest.substr(from, run.end - from));
              !written) {
            return written;
          }
          parser.skip_to(ParsePoint{run.end, parser.line_number() + run.lines});
        }
        // A long row that may still qualify is not parsed field by field at
        // every window it outgrows.
        if (run.window_ended && !at_end) {
          stop = ParsePoint{parser.position(), parser.line_number()};
          break;
        }
      }
      if (!at_end && !has_line_break(reinterpret_cast<const unsigned char*>(rest.data()),
                                     parser.position(), rest.size())) {
        // The row cannot end in this window: parse it once it can.
        stop = ParsePoint{parser.position(), parser.line_number()};
        break;
      }
      rows.clear();
      const bool row = parser.next_row(rows);
      if (!row || (!at_end && parser.position() == rest.size())) {
        // The window is used up, or its last row may go on beyond it.
        stop = parser.resume_point();
        break;
      }
      ++stats_.total_rows;
      if (const std::optional<QuarantineReason> reason =
              reconciler.reconcile(rows, stats_.repaired_rows)) {
        ++stats_.quarantined_rows;
        if (quarantine_ != nullptr) {
          quarantine_->add(rows.last_row(), *reason, columns, parser.line_number(), delimiter);
        }
        continue;
      }
      ++stats_.vestled_rows;
      if (Result<Done, IoError> written = row_writer.write(output, rows.last_row()); !written) {
        return written;
      }
    }
    if (at_end) return Done{};
    resume = ParsePoint{window_offset + start + stop.offset, stop.line_number};
    input_.discard(static_cast<std::size_t>(resume.offset - window_offset));
    if (Result<Done, IoError> more = input_.extend(); !more) return more;
  }
}

}  // namespace vestle
