// The streaming repair: settle the format on a prefix, then one pass of windows.
#include "stream/streaming_repair.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "parser/byte_scan.h"
#include "parser/field_count_sink.h"
#include "parser/line_break.h"
#include "parser/row_store.h"
#include "parser/white_space.h"
#include "repair/row_reconciler.h"
#include "stream/long_rows.h"
#include "stream/watched_input.h"
#include "writer/csv_writers.h"
#include "writer/verbatim_rows.h"

namespace vestle {

// What the rows of a run are repaired with, once the format is settled.
struct StreamingRepair::RowTools {
  RowTools(const VestleOptions& options, unsigned char delimiter, std::size_t columns)
      : delimiter(delimiter),
        columns(columns),
        reconciler(options, columns, delimiter),
        writer(delimiter, options.quote_char) {
    if (VerbatimRowScanner::usable(delimiter, options.quote_char)) {
      verbatim.emplace(delimiter, options.quote_char);
    }
    // A blank line is an LF that is neither quote nor delimiter: a row of one
    // empty field, and all of them in a run become the same line.
    const RowDecision blank = reconciler.decide(1);
    if (blank.fate != RowFate::SetAside && options.quote_char != kLf && delimiter != kLf) {
      const std::string line = empty_row_line(blank.fate == RowFate::Pad ? columns : 1, delimiter,
                                              options.quote_char);
      blank_line_size = line.size();
      while (blank_lines.size() < 4096) blank_lines += line;
      blank_repaired = blank.repaired();
    }
  }

  unsigned char delimiter;
  std::size_t columns;
  RowReconciler reconciler;
  RowWriter writer;
  std::optional<VerbatimRowScanner> verbatim;
  RowStore row;  // the row being repaired
  std::optional<LongRowRepair> long_rows;  // made at the first long row
  // The long rows the format's passes counted as this run splits them, in
  // input order; those before `next_counted` start before the rows to come.
  std::vector<CountedRow> counted;
  std::size_t next_counted = 0;
  // The lines of a run of blank lines, when they are written (not set aside).
  std::string blank_lines;
  std::size_t blank_line_size = 0;
  bool blank_repaired = false;
};

// Reads a long row of the format's passes through the file.
struct StreamingRepair::RowCounter {
  RowCounter(RereadableInput& input, std::size_t buffer_size)
      : watched(input), reader(watched, buffer_size), lookahead(watched, buffer_size) {}

  WatchedInput watched;
  FileCursor reader;
  FileCursor lookahead;
};

// Where the rows of one window stopped, as an input offset and line.
struct StreamingRepair::WindowStop {
  enum class Kind { InputEnded, RowGoesOn, LongRow };
  Kind kind;
  ParsePoint next_row;
};

StreamingRepair::StreamingRepair(ChunkedInput& input, const VestleOptions& options,
                                 QuarantineSpool* quarantine, const StreamSettings& settings,
                                 const SpillFiles& spill_files)
    : input_(input),
      options_(options),
      quarantine_(quarantine),
      settings_(settings),
      spill_files_(spill_files),
      inference_(options.delimiter, options.expected_columns, options.quote_char) {}

StreamingRepair::~StreamingRepair() = default;

Result<Done, IoError> StreamingRepair::settle_format() {
  bool read_again = false;  // the prefix was cut short: the rows start from the top
  for (;;) {
    if (Result<Done, IoError> more = input_.extend(); !more) return more;
    if (inference_.advance(input_.window(), input_.window_offset(), input_.at_end())) break;
    Result<bool, IoError> counted = count_long_rows();
    if (!counted) return counted.error();
    if (counted.value()) {
      read_again = true;
      if (inference_.settled()) break;
      if (Result<Done, IoError> resumed = input_.resume_at(inference_.needed_from()); !resumed) {
        return resumed;
      }
      continue;
    }
    if (input_.window().size() < settings_.prefix_limit) continue;
    // Past the limit the prefix is read again; a pipe is spooled for that.
    if (Result<Done, IoError> rereadable = make_rereadable(); !rereadable) return rereadable;
    input_.discard(static_cast<std::size_t>(inference_.needed_from() - input_.window_offset()));
    read_again = true;
  }
  empty_input_ = input_.at_end() && input_.window_offset() == 0 && input_.window().empty();
  if (read_again) return input_.restart();
  return Done{};
}

Result<bool, IoError> StreamingRepair::count_long_rows() {
  const std::uint64_t window_end = input_.window_offset() + input_.window().size();
  struct Waiting {
    std::size_t pass;
    FormatInference::OpenRow row;
  };
  std::vector<Waiting> waiting;
  for (std::size_t pass = 0; pass < inference_.pass_count(); ++pass) {
    const std::optional<FormatInference::OpenRow> row = inference_.open_row(pass);
    if (row && row->start.offset < window_end && is_long(window_end - row->start.offset)) {
      waiting.push_back({pass, *row});
    }
  }
  if (waiting.empty()) return false;
  if (Result<Done, IoError> rereadable = make_rereadable(); !rereadable) {
    return rereadable.error();
  }
  if (!row_counter_) {
    row_counter_ = std::make_unique<RowCounter>(input_.rereadable(), settings_.long_row_buffer);
  }
  const auto same_row_start = [](const FormatInference::OpenRow& a,
                               const FormatInference::OpenRow& b) {
    return a.start.offset == b.start.offset && a.start.line_number == b.start.line_number;
  };
  while (!waiting.empty()) {
    const Waiting lead = waiting.front();
    // The row is read once for the passes whose row starts where this one's
    // does, watching for their delimiters and the quote.
    unsigned char watched[WatchedInput::kMaxWatched];
    std::size_t alike = 0;
    for (const Waiting& other : waiting) {
      if (same_row_start(other.row, lead.row) && alike + 1 < std::size(watched)) {
        watched[alike++] = other.row.delimiter;
      }
    }
    std::size_t watched_count = alike;
    if (std::find(watched, watched + alike, options_.quote_char) == watched + alike) {
      watched[watched_count++] = options_.quote_char;
    }
    row_counter_->watched.watch(watched, alike > 1 ? watched_count : 0);
    row_counter_->reader.clear();
    row_counter_->lookahead.clear();
    // The heuristics tokenise with quote repair on, whatever the run asks.
    LongRowParser parser(row_counter_->reader, row_counter_->lookahead, lead.row.delimiter,
                         options_.quote_char, /*repair_quotes=*/true);
    parser.start_row(lead.row.start.offset, lead.row.start.line_number);
    if (Result<Done, IoError> skipped = parser.skip_byte_order_mark(); !skipped) {
      return skipped.error();
    }
    const ParsePoint start{static_cast<std::size_t>(parser.position()), parser.line_number()};
    FieldCountSink counts;
    if (Result<LongRowParser::Pause, IoError> read = parser.run(counts); !read) {
      return read.error();
    }
    const std::uint64_t row_end = parser.position();
    const ParsePoint next_row{static_cast<std::size_t>(row_end), parser.line_number()};
    const auto unseen = [&](unsigned char byte) {
      return alike > 1 && row_counter_->watched.first_seen(byte) >= row_end;
    };
    // Another pass whose delimiter the row does not hold splits it as this
    // one does when the row does not hold this one's either. When it holds
    // no quote, the other pass's row is one field up to the first line
    // break, where this one's ended too; not blank when this one's
    // delimiter, which the row then holds, is not white space.
    const bool split_alike = unseen(lead.row.delimiter);
    const bool one_field = unseen(options_.quote_char) &&
                           kWhiteSpaceLead[lead.row.delimiter] == WhiteSpaceLead::Neither;
    FieldCountSink one_field_counts;
    one_field_counts.append_bytes(reinterpret_cast<const char*>(&lead.row.delimiter), 1);
    one_field_counts.finish_field();
    one_field_counts.finish_row();
    std::erase_if(waiting, [&](const Waiting& other) {
      const FieldCountSink* result = nullptr;
      if (other.pass == lead.pass) {
        result = &counts;
      } else if (same_row_start(other.row, lead.row) && unseen(other.row.delimiter)) {
        if (split_alike) {
          result = &counts;
        } else if (one_field) {
          result = &one_field_counts;
        }
      }
      if (result == nullptr) return false;
      inference_.count_open_row(other.pass, *result, next_row);
      // A row at the end of the input past a byte-order mark is empty.
      if (next_row.offset > start.offset && counted_rows_.size() < kCountedRowsKept) {
        counted_rows_.push_back({other.row.delimiter, {start, next_row, result->field_count()}});
      }
      return true;
    });
  }
  return true;
}

Result<Done, IoError> StreamingRepair::write_rows(BufferedWriter& output) {
  if (empty_input_) return Done{};  // comma and all counts 0, whatever the options say
  stats_.detected_delimiter = inference_.delimiter();
  stats_.inferred_columns = inference_.columns();
  RowTools tools(options_, stats_.detected_delimiter, stats_.inferred_columns);
  // The format's passes split rows with quote repair on, and so does this
  // run only when it asks for it.
  for (const auto& [delimiter, row] : counted_rows_) {
    if (delimiter == tools.delimiter && options_.repair_quotes) tools.counted.push_back(row);
  }

  ParsePoint resume;  // in the input: where the next window's first row starts
  for (;;) {
    Result<WindowStop, IoError> stop = repair_window(resume, tools, output);
    if (!stop) return stop.error();
    resume = stop.value().next_row;
    switch (stop.value().kind) {
      case WindowStop::Kind::InputEnded:
        return Done{};
      case WindowStop::Kind::LongRow: {
        Result<ParsePoint, IoError> after = repair_long_row(resume, tools, output);
        if (!after) return after.error();
        resume = after.value();
        break;
      }
      case WindowStop::Kind::RowGoesOn:
        input_.discard(static_cast<std::size_t>(resume.offset - input_.window_offset()));
        if (Result<Done, IoError> more = input_.extend(); !more) return more;
        break;
    }
  }
}

Result<Done, IoError> StreamingRepair::make_rereadable() {
  if (input_.can_restart()) return Done{};
  Result<PosixFile, IoError> spill = spill_files_.create();
  if (!spill) return spill.error();
  return input_.spool_into(std::move(spill).value());
}

Result<StreamingRepair::WindowStop, IoError> StreamingRepair::repair_window(
    ParsePoint resume, RowTools& tools, BufferedWriter& output) {
  const std::string_view rest =
      input_.window().substr(static_cast<std::size_t>(resume.offset - input_.window_offset()));
  const bool at_end = input_.at_end();
  ResilientParser parser(
      rest, tools.delimiter, options_.quote_char, options_.repair_quotes,
      {.line_number = resume.line_number, .at_input_start = resume.offset == 0});
  // `point` is in `rest`; the row there starts again in a longer window,
  // unless it is long already, or known to be.
  const auto row_goes_on = [&](ParsePoint point) {
    const ParsePoint in_input{resume.offset + point.offset, point.line_number};
    if (is_long(rest.size() - point.offset) || counted_row(in_input, tools) != nullptr) {
      return WindowStop{WindowStop::Kind::LongRow, in_input};
    }
    return WindowStop{WindowStop::Kind::RowGoesOn, in_input};
  };
  for (;;) {
    if (tools.verbatim) {
      // Rows already in output form go out as one piece, straight from the input.
      const std::size_t from = parser.position();
      const VerbatimRowScanner::Run run =
          tools.verbatim->scan(rest, from, tools.columns, settings_.long_row_threshold);
      if (run.rows != 0) {
        stats_.total_rows += run.rows;
        stats_.vestled_rows += run.rows;
        if (Result<Done, IoError> written = output.write(rest.substr(from, run.end - from));
            !written) {
          return written.error();
        }
        parser.skip_to(ParsePoint{run.end, parser.line_number() + run.lines});
      }
      // A long row that may still qualify is not parsed field by field at
      // every window it outgrows.
      if (run.window_ended && !at_end) {
        return row_goes_on(ParsePoint{parser.position(), parser.line_number()});
      }
    }
    const ParsePoint row_start{parser.position(), parser.line_number()};
    if (!at_end && !has_line_break(reinterpret_cast<const unsigned char*>(rest.data()),
                                   row_start.offset, rest.size())) {
      return row_goes_on(row_start);  // the row cannot end in this window
    }
    if (tools.blank_line_size != 0 && row_start.offset < rest.size() &&
        rest[row_start.offset] == '\n' && !is_long(1)) {
      if (Result<Done, IoError> written = repair_blank_lines(rest, parser, tools, output);
          !written) {
        return written.error();
      }
      continue;
    }
    tools.row.clear();
    const bool got_row = parser.next_row(tools.row);
    if (!got_row && at_end) {
      return WindowStop{WindowStop::Kind::InputEnded, {resume.offset + rest.size(), 0}};
    }
    if (!got_row || (!at_end && parser.position() == rest.size())) {
      // The window is used up, or its last row may go on beyond it.
      return row_goes_on(parser.resume_point());
    }
    if (is_long(parser.position() - row_start.offset)) {
      return WindowStop{WindowStop::Kind::LongRow,
                        {resume.offset + row_start.offset, row_start.line_number}};
    }
    if (Result<Done, IoError> repaired = repair_row(parser.line_number(), tools, output);
        !repaired) {
      return repaired.error();
    }
  }
}

Result<Done, IoError> StreamingRepair::repair_blank_lines(std::string_view rest,
                                                         ResilientParser& parser,
                                                         RowTools& tools,
                                                         BufferedWriter& output) {
  const std::size_t from = parser.position();
  const std::size_t rows =
      skip_byte_run(reinterpret_cast<const unsigned char*>(rest.data()), from, rest.size(), kLf) -
      from;
  stats_.total_rows += rows;
  stats_.vestled_rows += rows;
  if (tools.blank_repaired) stats_.repaired_rows += rows;
  parser.skip_to(ParsePoint{from + rows, parser.line_number() + rows});
  const std::size_t per_block = tools.blank_lines.size() / tools.blank_line_size;
  for (std::size_t left = rows; left != 0;) {
    const std::size_t now = left < per_block ? left : per_block;
    const std::string_view lines(tools.blank_lines.data(), now * tools.blank_line_size);
    if (Result<Done, IoError> written = output.write(lines); !written) return written;
    left -= now;
  }
  return Done{};
}

Result<Done, IoError> StreamingRepair::repair_row(std::size_t line_number, RowTools& tools,
                                                  BufferedWriter& output) {
  ++stats_.total_rows;
  const RowDecision decision = tools.reconciler.reconcile(tools.row);
  if (decision.repaired()) ++stats_.repaired_rows;
  if (decision.fate == RowFate::SetAside) {
    ++stats_.quarantined_rows;
    if (quarantine_ != nullptr) {
      quarantine_->add(tools.row.last_row(), decision.reason, tools.columns, line_number,
                       tools.delimiter);
    }
    return Done{};
  }
  ++stats_.vestled_rows;
  return tools.writer.write(output, tools.row.last_row());
}

const CountedRow* StreamingRepair::counted_row(ParsePoint start, RowTools& tools) noexcept {
  std::size_t& next = tools.next_counted;
  while (next < tools.counted.size() && tools.counted[next].start.offset < start.offset) ++next;
  if (next == tools.counted.size()) return nullptr;
  const CountedRow& row = tools.counted[next];
  return row.start.offset == start.offset && row.start.line_number == start.line_number ? &row
                                                                                       : nullptr;
}

Result<ParsePoint, IoError> StreamingRepair::repair_long_row(ParsePoint start, RowTools& tools,
                                                             BufferedWriter& output) {
  if (Result<Done, IoError> rereadable = make_rereadable(); !rereadable) {
    return rereadable.error();
  }
  if (!tools.long_rows) {
    tools.long_rows.emplace(input_.rereadable(), options_, tools.delimiter, tools.columns,
                            settings_.long_row_buffer);
  }
  Result<LongRowRepair::RowEnd, IoError> end = tools.long_rows->repair(
      start.offset, start.line_number, output, quarantine_, stats_, counted_row(start, tools));
  if (!end) return end.error();
  if (Result<Done, IoError> resumed = input_.resume_at(end.value().offset); !resumed) {
    return resumed.error();
  }
  return ParsePoint{static_cast<std::size_t>(end.value().offset), end.value().line_number};
}

}  // namespace vestle
