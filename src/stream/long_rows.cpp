// The two passes over a long row and the sinks that count, write or set it aside.
#include "stream/long_rows.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "parser/byte_scan.h"
#include "parser/line_break.h"
#include "parser/utf8.h"
#include "repair/quarantine_format.h"
#include "writer/csv_writers.h"
#include "writer/quote_doubling.h"

namespace vestle {
namespace {

// The texts that make a field need quotes: the delimiter, the quote, LF, CR.
class QuoteTriggers {
 public:
  QuoteTriggers(ByteText delimiter, ByteText quote) noexcept
      : delimiter_(delimiter), quote_(quote) {
    for (const ByteText& text : {delimiter, quote}) {
      kind_[static_cast<unsigned char>(text.bytes[0])] = text.size == 1 ? kAlways : kLead;
    }
    kind_[kLf] = kind_[kCr] = kAlways;
  }

  // `text` is made of whole characters, so a two-byte text never straddles
  // two of them.
  [[nodiscard]] bool in(std::string_view text) const noexcept {
    if (text.size() <= 16) return in_short(text);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const auto delimiter_lead = static_cast<unsigned char>(delimiter_.bytes[0]);
    const auto quote_lead = static_cast<unsigned char>(quote_.bytes[0]);
    for (std::size_t at = find_first_of4(bytes, 0, text.size(), kLf, kCr, delimiter_lead,
                                         quote_lead);
         at < text.size();
         at = find_first_of4(bytes, at + 1, text.size(), kLf, kCr, delimiter_lead, quote_lead)) {
      const std::string_view rest = text.substr(at);
      if (bytes[at] == kLf || bytes[at] == kCr || rest.starts_with(delimiter_.view()) ||
          rest.starts_with(quote_.view())) {
        return true;
      }
    }
    return false;
  }

 private:
  // 0: no trigger.
  static constexpr std::uint8_t kAlways = 1;
  static constexpr std::uint8_t kLead = 2;  // of a two-byte delimiter or quote text

  [[nodiscard]] bool in_short(std::string_view text) const noexcept {
    for (std::size_t i = 0; i < text.size(); ++i) {
      const std::uint8_t kind = kind_[static_cast<unsigned char>(text[i])];
      if (kind == kAlways) return true;
      if (kind == kLead) {
        const std::string_view rest = text.substr(i);
        if (rest.starts_with(delimiter_.view()) || rest.starts_with(quote_.view())) return true;
      }
    }
    return false;
  }

  ByteText delimiter_;
  ByteText quote_;
  std::array<std::uint8_t, 256> kind_{};
};

// Counts a row's fields.
struct FieldCounter {
  std::size_t fields = 0;

  void append_bytes(const char* /*data*/, std::size_t /*size*/) noexcept {}
  void finish_field() noexcept { ++fields; }
  void whole_field(const char* /*data*/, std::size_t /*size*/) noexcept { ++fields; }
  [[nodiscard]] std::size_t plain_field_room() const noexcept { return SIZE_MAX; }
  void plain_fields(const char* /*data*/, std::size_t /*size*/, std::size_t count) noexcept {
    fields += count;
  }
  void finish_row() noexcept {}
};

// Reads the rest of one field, from where a writer stopped, and tells
// whether its text needs quotes.
class FieldQuoteProbe {
 public:
  FieldQuoteProbe(const Utf8Repairer& decoder, const QuoteTriggers& triggers) noexcept
      : decoder_(decoder), triggers_(triggers) {}

  // Only the field's own bytes count: the parser may hand over more fields
  // before it looks at `wants_stop` again.
  void append_bytes(const char* data, std::size_t size) {
    if (ended_) return;
    decoder_.feed(std::string_view(data, size), [this](std::string_view text) { look_at(text); });
  }
  void finish_field() {
    if (ended_) return;
    decoder_.finish([this](std::string_view text) { look_at(text); });
    ended_ = true;
  }
  void finish_row() noexcept { ended_ = true; }
  [[nodiscard]] bool wants_stop() const noexcept { return found_ || ended_; }
  [[nodiscard]] bool found() const noexcept { return found_; }

 private:
  void look_at(std::string_view text) noexcept {
    if (!found_ && triggers_.in(text)) found_ = true;
  }

  Utf8Repairer decoder_;
  const QuoteTriggers& triggers_;
  bool found_ = false;
  bool ended_ = false;
};

// How a row is laid out in the output, from its field count and fate.
struct RowLayout {
  std::size_t fields = 0;
  std::size_t merged_from = SIZE_MAX;  // fields from here on form the last column
  std::size_t padding = 0;             // empty fields added at the end
};

// Writes a row's line to the output as the parser hands over its fields:
// the line that RowWriter writes for the reconciled row. A field's text is
// held until its end shows whether it needs quotes; past a bound the writer
// stops the parser, and its caller settles that with a FieldQuoteProbe.
// Merged fields form one field that always needs quotes (it holds the
// delimiter), so they are written as they come.
class LongRowWriter {
 public:
  static constexpr std::size_t kHeldLimit = std::size_t{64} << 10;

  LongRowWriter(BufferedWriter& out, const QuoteTriggers& triggers, ByteText delimiter,
                ByteText quote, const RowLayout& layout)
      : out_(out), triggers_(triggers), delimiter_(delimiter), quote_(quote), layout_(layout) {
    if (layout_.merged_from == 0) put(quote_.view());
  }

  void append_bytes(const char* data, std::size_t size) {
    decoder_.feed(std::string_view(data, size), [this](std::string_view text) { take(text); });
  }
  // Plain fields, each with its delimiter, are written as they stand: they
  // need no quotes, and inside the merged field there is no quote to double.
  // The delimiter after the last of them must not open the merged field.
  [[nodiscard]] std::size_t plain_field_room() const noexcept {
    if (decided_ || !held_.empty() || !decoder_.idle()) return 0;
    const std::size_t end = field_ >= layout_.merged_from
                                 ? layout_.fields - 1
                                 : std::min(layout_.merged_from, layout_.fields) - 1;
    return field_ < end ? end - field_ : 0;
  }
  void plain_fields(const char* data, std::size_t size, std::size_t count) {
    put(std::string_view(data, size));
    field_ += count;
  }
  void whole_field(const char* data, std::size_t size) {
    // Plain ASCII without a quote needs no quotes (the delimiter and line
    // breaks cannot be inside): written as it stands.
    if (field_ < layout_.merged_from && !decided_ && held_.empty() && decoder_.idle()) {
      const char quote = quote_.bytes[0];
      unsigned char high = 0;
      bool has_quote = false;
      for (std::size_t i = 0; i < size; ++i) {
        high |= static_cast<unsigned char>(data[i]);
        has_quote |= data[i] == quote;
      }
      if (high < 0x80 && !has_quote) {
        put(std::string_view(data, size));
        end_field();
        return;
      }
    }
    append_bytes(data, size);
    finish_field();
  }
  void finish_field() {
    decoder_.finish([this](std::string_view text) { take(text); });
    if (field_ < layout_.merged_from) {
      if (!decided_) {
        // A row of one empty field is written as two quotes, not as a blank line.
        const bool lone_empty = layout_.fields == 1 && layout_.padding == 0 && held_.empty();
        decide(lone_empty || triggers_.in(held_));
      }
      if (quoted_) put(quote_.view());
      decided_ = false;
      quoted_ = false;
    }
    end_field();
  }
  // What follows a field: the separator, or the close of the merged field.
  void end_field() {
    const std::size_t next = field_ + 1;
    if (next < layout_.fields) {
      if (next <= layout_.merged_from) put(delimiter_.view());
      if (next == layout_.merged_from) put(quote_.view());
      if (next > layout_.merged_from) put_doubling(delimiter_.view());
    } else if (field_ >= layout_.merged_from) {
      put(quote_.view());
    }
    field_ = next;
  }
  void finish_row() {
    for (std::size_t i = 0; i < layout_.padding; ++i) put(delimiter_.view());
    put("\n");
  }
  [[nodiscard]] bool wants_stop() const noexcept { return stop_; }

  // Where the open field's decoding stands, for a probe that reads on from
  // where the writer stopped.
  [[nodiscard]] const Utf8Repairer& decoder() const noexcept { return decoder_; }
  // After a stop: the probe found (or not) what calls for quotes in the
  // rest of the open field.
  void decide_after_probe(bool found_in_rest) { decide(found_in_rest || held_has_trigger_); }
  // Settles whether the open field is quoted and writes what it held.
  void decide(bool quoted) {
    held_has_trigger_ = false;
    decided_ = true;
    quoted_ = quoted;
    if (quoted) {
      put(quote_.view());
      put_doubling(held_);
    } else {
      put(held_);
    }
    held_.clear();
    stop_ = failed_;
  }

  [[nodiscard]] bool failed() const noexcept { return failed_; }
  [[nodiscard]] const IoError& error() const noexcept { return error_; }

 private:
  void take(std::string_view text) {
    if (field_ >= layout_.merged_from) {
      put_doubling(text);
    } else if (decided_) {
      if (quoted_) {
        put_doubling(text);
      } else {
        put(text);
      }
    } else if (stop_) {
      // Waiting for the probe: what comes before it starts is looked at here.
      held_.append(text);
      if (triggers_.in(text)) held_has_trigger_ = true;
    } else {
      held_.append(text);
      if (held_.size() >= kHeldLimit) {
        if (triggers_.in(held_)) {
          decide(true);
        } else {
          stop_ = true;
        }
      }
    }
  }
  void put(std::string_view text) {
    if (failed_) return;
    if (text.size() <= 8) {
      // Separators, quotes and tiny fields: copied without a call.
      if (char* room = out_.room_for(text.size())) {
        for (const char c : text) *room++ = c;
        out_.commit(text.size());
        return;
      }
    }
    if (Result<Done, IoError> written = out_.write(text); !written) {
      error_ = written.error();
      failed_ = true;
      stop_ = true;
    }
  }
  // Within quotes every quote text is doubled.
  void put_doubling(std::string_view text) {
    if (quote_.size == 1) {
      // Written in place, as RowWriter does, a slice at a time.
      constexpr std::size_t kSlice = 1024;
      const char quote = quote_.bytes[0];
      while (!text.empty() && !failed_) {
        const std::string_view slice = text.substr(0, kSlice);
        char* room = out_.room_for(2 * slice.size());
        if (room == nullptr) {
          if (Result<Done, IoError> emptied = out_.make_room(); !emptied) {
            error_ = emptied.error();
            failed_ = stop_ = true;
            return;
          }
          room = out_.room_for(2 * slice.size());
          if (room == nullptr) break;  // a buffer too small for a slice
        }
        char* out = copy_doubling(room, slice.data(), slice.size(), quote);
        out_.commit(static_cast<std::size_t>(out - room));
        text.remove_prefix(slice.size());
      }
      if (text.empty() || failed_) return;
    }
    const std::string_view quote = quote_.view();
    std::size_t start = 0;
    for (std::size_t at = text.find(quote); at != std::string_view::npos;
         at = text.find(quote, start)) {
      const std::size_t through = at + quote.size();
      put(text.substr(start, through - start));
      put(quote);
      start = through;
    }
    put(text.substr(start));
  }

  BufferedWriter& out_;
  const QuoteTriggers& triggers_;
  ByteText delimiter_;
  ByteText quote_;
  RowLayout layout_;
  Utf8Repairer decoder_;
  std::size_t field_ = 0;
  std::string held_;
  bool decided_ = false;
  bool quoted_ = false;
  bool stop_ = false;
  bool held_has_trigger_ = false;  // in text held after the stop
  bool failed_ = false;
  IoError error_ = IoError::of_kind(IoErrorKind::Other);
};

// Writes a set-aside row's quarantine line to the spool in pieces: the raw
// fields joined by the delimiter text, double quotes doubled.
class SetAsideWriter {
 public:
  static constexpr std::size_t kPieceSize = std::size_t{64} << 10;

  SetAsideWriter(QuarantineSpool& spool, ByteText delimiter, std::size_t fields,
                 std::size_t line_number, std::string_view reason)
      : spool_(spool), delimiter_(delimiter), fields_(fields) {
    append_quarantine_line_start(piece_, line_number, reason);
  }

  void append_bytes(const char* data, std::size_t size) {
    decoder_.feed(std::string_view(data, size), [this](std::string_view text) { take(text); });
  }
  void finish_field() {
    decoder_.finish([this](std::string_view text) { take(text); });
    if (++field_ < fields_) take(delimiter_.view());
  }
  // Plain fields, each with its delimiter: ASCII text, so no decoding.
  [[nodiscard]] std::size_t plain_field_room() const noexcept {
    return decoder_.idle() && field_ + 1 < fields_ ? fields_ - 1 - field_ : 0;
  }
  void plain_fields(const char* data, std::size_t size, std::size_t count) {
    take(std::string_view(data, size));
    field_ += count;
  }
  void finish_row() {
    piece_.append(kQuarantineLineEnd);
    spool_.add_piece(piece_, /*ends_line=*/true);
  }

 private:
  void take(std::string_view text) {
    append_doubling_quotes(piece_, text);
    if (piece_.size() >= kPieceSize) {
      spool_.add_piece(piece_, /*ends_line=*/false);
      piece_.clear();
    }
  }

  QuarantineSpool& spool_;
  ByteText delimiter_;
  std::size_t fields_;
  std::size_t field_ = 0;
  Utf8Repairer decoder_;
  std::string piece_;
};

}  // namespace

LongRowRepair::LongRowRepair(RereadableInput& input, const VestleOptions& options,
                             unsigned char delimiter, std::size_t columns,
                             std::size_t buffer_size)
    : delimiter_(delimiter),
      quote_char_(options.quote_char),
      reconciler_(options, columns, delimiter),
      reader_(input, buffer_size),
      lookahead_(input, buffer_size),
      probe_reader_(input, buffer_size),
      probe_lookahead_(input, buffer_size),
      parser_(reader_, lookahead_, delimiter, options.quote_char, options.repair_quotes) {}

Result<LongRowRepair::RowEnd, IoError> LongRowRepair::repair(std::uint64_t offset,
                                                             std::size_t line_number,
                                                             BufferedWriter& output,
                                                             QuarantineSpool* quarantine,
                                                             VestleStats& stats,
                                                             const CountedRow* counted) {
  parser_.start_row(offset, line_number);
  if (Result<Done, IoError> skipped = parser_.skip_byte_order_mark(); !skipped) {
    return skipped.error();
  }
  offset = parser_.position();
  // Only an input that is a byte-order mark has no row here.
  Result<bool, IoError> has_row = reader_.load(offset);
  if (!has_row) return has_row.error();
  if (!has_row.value()) return RowEnd{offset, line_number};

  FieldCounter counter;
  RowEnd end;
  if (counted != nullptr) {
    counter.fields = counted->fields;
    end = RowEnd{counted->next_row.offset, counted->next_row.line_number};
  } else {
    if (Result<LongRowParser::Pause, IoError> ran = parser_.run(counter); !ran) {
      return ran.error();
    }
    end = RowEnd{parser_.position(), parser_.line_number()};
  }

  ++stats.total_rows;
  const RowDecision decision = reconciler_.decide(counter.fields);
  if (decision.fate == RowFate::SetAside) {
    ++stats.quarantined_rows;
    if (quarantine != nullptr) {
      Result<Done, IoError> kept = set_aside(offset, line_number, counter.fields,
                                             end.line_number, decision.reason, *quarantine);
      if (!kept) return kept.error();
    }
    return end;
  }
  ++stats.vestled_rows;
  if (decision.repaired()) ++stats.repaired_rows;
  if (Result<Done, IoError> written =
          write_row(offset, line_number, counter.fields, decision.fate, output);
      !written) {
    return written.error();
  }
  return end;
}

Result<Done, IoError> LongRowRepair::write_row(std::uint64_t offset, std::size_t line_number,
                                               std::size_t fields, RowFate fate,
                                               BufferedWriter& output) {
  const std::size_t columns = reconciler_.columns();
  RowLayout layout{fields};
  if (fate == RowFate::Pad) layout.padding = columns - fields;
  if (fate == RowFate::Merge) layout.merged_from = columns - 1;
  const QuoteTriggers triggers(byte_text(delimiter_), byte_text(quote_char_));

  parser_.start_row(offset, line_number);
  LongRowWriter writer(output, triggers, byte_text(delimiter_), byte_text(quote_char_), layout);
  for (;;) {
    Result<LongRowParser::Pause, IoError> paused = parser_.run(writer);
    if (!paused) return paused.error();
    if (writer.failed()) return writer.error();
    if (paused.value() == LongRowParser::Pause::RowEnded) return Done{};
    // The open field outgrew what the writer holds: read on to its end.
    LongRowParser probe = parser_.reading_through(probe_reader_, probe_lookahead_);
    FieldQuoteProbe look(writer.decoder(), triggers);
    if (Result<LongRowParser::Pause, IoError> probed = probe.run(look); !probed) {
      return probed.error();
    }
    writer.decide_after_probe(look.found());
  }
}

Result<Done, IoError> LongRowRepair::set_aside(std::uint64_t offset, std::size_t line_number,
                                               std::size_t fields, std::size_t line_after,
                                               QuarantineReason reason,
                                               QuarantineSpool& quarantine) {
  parser_.start_row(offset, line_number);
  SetAsideWriter writer(quarantine, byte_text(delimiter_), fields, line_after,
                        quarantine_reason_text(reason, reconciler_.columns()));
  if (Result<LongRowParser::Pause, IoError> read = parser_.run(writer); !read) return read.error();
  return Done{};
}

}  // namespace vestle
