// Delimiter and column count from the first complete rows of a windowed input.
#include "heuristics/format_inference.h"

#include <algorithm>

#include "heuristics/column_count.h"
#include "heuristics/delimiter_score.h"
#include "heuristics/delimiter_sniffer.h"
#include "parser/byte_scan.h"
#include "parser/field_count_sink.h"

namespace vestle {

FormatInference::FormatInference(std::optional<unsigned char> delimiter,
                                 std::optional<std::size_t> columns, unsigned char quote_char)
    : given_delimiter_(delimiter),
      given_columns_(columns),
      quote_char_(quote_char),
      rows_scored_(delimiter ? 0 : kRowsScored),
      rows_counted_(columns ? 0 : kRowsCounted) {
  if (!delimiter) {
    for (const unsigned char candidate : kDelimiterCandidates) {
      passes_.emplace_back(candidate);
    }
  } else if (!columns) {
    passes_.emplace_back(*delimiter);
  }
}

bool FormatInference::advance(std::string_view window, std::uint64_t window_offset, bool at_end) {
  for (Pass& pass : passes_) {
    if (!pass.done) advance_pass(pass, window, window_offset, at_end);
  }
  return settled();
}

bool FormatInference::line_break_after(std::string_view window, std::uint64_t window_offset,
                                       std::size_t start) noexcept {
  const std::uint64_t from = window_offset + start;
  const std::uint64_t end = window_offset + window.size();
  const bool known = no_line_break_.from <= from && from <= no_line_break_.to;
  const std::uint64_t scan_from = known ? no_line_break_.to : from;
  if (scan_from >= end) return false;
  if (has_line_break(reinterpret_cast<const unsigned char*>(window.data()),
                     static_cast<std::size_t>(scan_from - window_offset), window.size())) {
    return true;
  }
  no_line_break_ = Span{known ? no_line_break_.from : from, end};
  return false;
}

void FormatInference::advance_pass(Pass& pass, std::string_view window,
                                   std::uint64_t window_offset, bool at_end) {
  // A pass whose open row was counted past the window goes on beyond it.
  if (pass.resume.offset > window_offset + window.size()) return;
  const auto start = static_cast<std::size_t>(pass.resume.offset - window_offset);
  const std::string_view rest = window.substr(start);
  // Without a line break the row cannot end in this window: nothing to do yet.
  if (!at_end && !line_break_after(window, window_offset, start)) return;
  const std::uint64_t rest_offset = window_offset + start;
  ResilientParser parser(
      rest, pass.delimiter, quote_char_, /*repair_quotes=*/true,
      {.line_number = pass.resume.line_number,
       .at_input_start = pass.resume.offset == 0 && !pass.inside_row});
  FieldCountSink sink;
  bool resuming = pass.inside_row.has_value();
  for (;;) {
    const bool got_row =
        resuming ? parser.resume_row(sink, *pass.inside_row) : parser.next_row(sink);
    if (!at_end && (!got_row || parser.position() == rest.size())) {
      wait_for_more(pass, parser, got_row, resuming, rest_offset);
      return;
    }
    resuming = false;
    pass.inside_row.reset();
    if (!got_row || tally(pass, sink)) break;
  }
  pass.done = true;
}

void FormatInference::wait_for_more(Pass& pass, const ResilientParser& parser, bool got_row,
                                    bool resuming, std::uint64_t rest_offset) {
  if (got_row && parser.checkpoint()) {
    // Inside the row, past its last checkpoint.
    const RowCheckpoint& checkpoint = *parser.checkpoint();
    if (!resuming) {
      const ParsePoint start = parser.resume_point();
      pass.row_start = ParsePoint{rest_offset + start.offset, start.line_number};
    }
    pass.resume = ParsePoint{rest_offset + checkpoint.offset, checkpoint.line_number};
    pass.inside_row = checkpoint;
  } else if (!resuming) {
    // At the start of the row (or of the empty lines before it).
    const ParsePoint point = parser.resume_point();
    pass.resume = ParsePoint{rest_offset + point.offset, point.line_number};
    pass.inside_row.reset();
  }  // else: no later checkpoint, the last one still holds
}

bool FormatInference::tally(Pass& pass, const FieldCountSink& row) const {
  if (row.row_is_blank()) return false;
  if (pass.scored.rows() < rows_scored_) pass.scored.add(row.field_count());
  if (pass.counted.rows() < rows_counted_) pass.counted.add(row.field_count());
  return pass.scored.rows() >= rows_scored_ && pass.counted.rows() >= rows_counted_;
}

std::optional<FormatInference::OpenRow> FormatInference::open_row(std::size_t pass) const {
  const Pass& p = passes_[pass];
  if (p.done) return std::nullopt;
  return OpenRow{p.delimiter, p.inside_row ? p.row_start : p.resume};
}

void FormatInference::count_open_row(std::size_t pass, const FieldCountSink& counts,
                                     ParsePoint next_row) {
  Pass& p = passes_[pass];
  p.inside_row.reset();
  p.resume = next_row;
  if (tally(p, counts)) p.done = true;
}

bool FormatInference::settled() const noexcept {
  return std::all_of(passes_.begin(), passes_.end(), [](const Pass& pass) { return pass.done; });
}

std::uint64_t FormatInference::needed_from() const noexcept {
  std::uint64_t from = UINT64_MAX;
  for (const Pass& pass : passes_) {
    if (!pass.done) from = std::min<std::uint64_t>(from, pass.resume.offset);
  }
  return from;
}

const FormatInference::Pass& FormatInference::pass_for(unsigned char delimiter) const noexcept {
  const auto pass = std::find_if(passes_.begin(), passes_.end(),
                                 [&](const Pass& p) { return p.delimiter == delimiter; });
  return pass != passes_.end() ? *pass : passes_.front();
}

unsigned char FormatInference::delimiter() const noexcept {
  if (given_delimiter_) return *given_delimiter_;
  // best_candidate takes the scores in kDelimiterCandidates order.
  double scores[kDelimiterCandidateCount];
  for (std::size_t i = 0; i < kDelimiterCandidateCount; ++i) {
    scores[i] = score_field_counts(pass_for(kDelimiterCandidates[i]).scored);
  }
  return best_candidate(scores);
}

std::size_t FormatInference::columns() const noexcept {
  if (given_columns_) return *given_columns_;
  return column_count_of(pass_for(delimiter()).counted);
}

}  // namespace vestle
