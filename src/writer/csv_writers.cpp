// Field quoting and the line formats of the repaired and quarantine files.
#include "writer/csv_writers.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "parser/byte_scan.h"
#include "parser/line_break.h"
#include "parser/utf8.h"
#include "writer/quote_doubling.h"

namespace vestle {
namespace {

// Writes fields as they appear in the repaired file. Each field is scanned
// once, copying as it goes; only a field that needs quotes is written again.
class FieldQuoter {
 public:
  FieldQuoter(unsigned char delimiter, unsigned char quote)
      : delimiter_(byte_text(delimiter)), quote_(byte_text(quote)) {
    mark(delimiter_);
    mark(quote_);
    trigger_[kLf] = kAlways;
    trigger_[kCr] = kAlways;
  }

  // Most bytes a field of `size` bytes can take once written.
  [[nodiscard]] std::size_t bound(std::size_t size) const noexcept {
    return 2 * size + 2 * quote_.size;
  }

  // Most bytes a row can take once written, LF included.
  [[nodiscard]] std::size_t row_bound(const RowView& row) const noexcept {
    return bound(row.text().size()) + row.size() * (2 * 2 + delimiter_.size) + 1;
  }

  // Writes the row's line (fields, separators, LF) at `out`, which has room
  // for `row_bound(row)` bytes; returns the end of what was written. The
  // row's text is scanned once, a word at a time, for bytes that may call
  // for quotes; fields without one are copied whole.
  char* put_row(char* out, const RowView& row) const noexcept {
    const std::string_view text = row.text();
    if (text.empty()) return put_empty_row(out, row.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t candidate = 0;  // first possible trigger at or after the field
    bool scanned = false;
    for (std::size_t f = 0, fields = row.size(); f < fields; ++f) {
      if (f > 0) out = put_text(out, delimiter_);
      const std::string_view field = row[f];
      const auto begin = static_cast<std::size_t>(field.data() - text.data());
      const std::size_t end = begin + field.size();
      if (!scanned || candidate < begin) {
        candidate = next_candidate(bytes, begin, text.size());
        scanned = true;
      }
      bool quote = false;
      while (candidate < end) {
        const std::uint8_t trigger = trigger_[bytes[candidate]];
        if (trigger == kAlways ||
            (trigger == kLeadByte && is_two_byte_trigger(text.data() + candidate, text.data() + end))) {
          quote = true;
          break;
        }
        candidate = next_candidate(bytes, candidate + 1, text.size());
      }
      if (quote) {
        out = put_quoted(out, field);
      } else {
        std::memcpy(out, field.data(), field.size());
        out += field.size();
      }
    }
    *out++ = '\n';
    return out;
  }

  // Bytes `put_empty_row` writes for a row of `fields` empty fields.
  [[nodiscard]] std::size_t empty_row_size(std::size_t fields) const noexcept {
    if (fields == 1) return 2 * quote_.size + 1;
    return (fields > 1 ? (fields - 1) * delimiter_.size : 0) + 1;
  }

  // A row whose fields are all empty (a blank line, or one filled to width):
  // only delimiters and LF. A lone empty field is written as two quotes,
  // since an empty line is no record at all to most CSV readers.
  char* put_empty_row(char* out, std::size_t fields) const noexcept {
    if (fields == 1) {
      out = put_text(out, quote_);
      out = put_text(out, quote_);
    }
    for (std::size_t f = 1; f < fields; ++f) out = put_text(out, delimiter_);
    *out++ = '\n';
    return out;
  }

  // Writes the field at `out`, which has room for `bound(field.size())`
  // bytes; returns the end of what was written. The byte-at-a-time
  // statement of the rule that `put_row` must agree with.
  char* put(char* out, std::string_view field) const noexcept {
    const char* p = field.data();
    const std::size_t n = field.size();
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint8_t trigger = trigger_[static_cast<unsigned char>(p[i])];
      if (trigger != kNone && (trigger == kAlways || is_two_byte_trigger(p + i, p + n))) {
        return put_quoted(out, field);
      }
      out[i] = p[i];
    }
    return out + n;
  }

 private:
  static constexpr std::uint8_t kNone = 0;
  static constexpr std::uint8_t kAlways = 1;
  static constexpr std::uint8_t kLeadByte = 2;

  // At the lead byte of a two-byte delimiter or quote: fields are valid
  // UTF-8, so the following byte settles which character this is.
  bool is_two_byte_trigger(const char* at, const char* end) const noexcept {
    return at + 1 != end && (starts_with(at, delimiter_) || starts_with(at, quote_));
  }

  // Offset of the first byte in [from, size) that is LF, CR or the first
  // byte of the delimiter or quote text, or `size`.
  std::size_t next_candidate(const unsigned char* bytes, std::size_t from,
                             std::size_t size) const noexcept {
    return find_first_of4(bytes, from, size, kLf, kCr, delimiter_lead_, quote_lead_);
  }

  static bool starts_with(const char* at, const ByteText& text) noexcept {
    return text.size == 2 && at[0] == text.bytes[0] && at[1] == text.bytes[1];
  }

  static char* put_text(char* out, const ByteText& text) noexcept {
    out[0] = text.bytes[0];
    if (text.size == 2) out[1] = text.bytes[1];
    return out + text.size;
  }

  char* put_quoted(char* out, std::string_view field) const noexcept {
    if (quote_.size == 1) {
      const char quote = quote_.bytes[0];
      *out++ = quote;
      out = copy_doubling(out, field.data(), field.size(), quote);
      *out++ = quote;
      return out;
    }
    out = put_text(out, quote_);
    const std::string_view quote = quote_.view();
    std::size_t start = 0;
    for (std::size_t at = field.find(quote); at != std::string_view::npos;
         at = field.find(quote, start)) {
      const std::size_t through = at + quote.size();
      std::memcpy(out, field.data() + start, through - start);
      out = put_text(out + (through - start), quote_);
      start = through;
    }
    std::memcpy(out, field.data() + start, field.size() - start);
    return put_text(out + (field.size() - start), quote_);
  }

  void mark(const ByteText& text) noexcept {
    const auto lead = static_cast<unsigned char>(text.bytes[0]);
    if (text.size == 1) {
      trigger_[lead] = kAlways;
    } else if (trigger_[lead] != kAlways) {
      trigger_[lead] = kLeadByte;
    }
  }

  ByteText delimiter_;
  ByteText quote_;
  unsigned char delimiter_lead_ = static_cast<unsigned char>(delimiter_.bytes[0]);
  unsigned char quote_lead_ = static_cast<unsigned char>(quote_.bytes[0]);
  std::array<std::uint8_t, 256> trigger_{};
};

// A line under assembly; keeps its storage from line to line.
class LineBuffer {
 public:
  // Room for at least `size` bytes; the content is not kept.
  char* reserve(std::size_t size) {
    if (size > capacity_) {
      capacity_ = size > 2 * capacity_ ? size : 2 * capacity_;
      data_ = std::make_unique_for_overwrite<char[]>(capacity_);
    }
    return data_.get();
  }
  [[nodiscard]] std::string_view view(const char* end) const noexcept {
    return {data_.get(), static_cast<std::size_t>(end - data_.get())};
  }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t capacity_ = 0;
};

}  // namespace

std::string quote_field(std::string_view field, unsigned char delimiter, unsigned char quote) {
  const FieldQuoter quoter(delimiter, quote);
  std::string out(quoter.bound(field.size()), '\0');
  out.resize(static_cast<std::size_t>(quoter.put(out.data(), field) - out.data()));
  return out;
}

struct RowWriter::State {
  State(unsigned char delimiter, unsigned char quote) : quoter(delimiter, quote) {}
  FieldQuoter quoter;
  LineBuffer line;
};

RowWriter::RowWriter(unsigned char delimiter, unsigned char quote)
    : state_(std::make_unique<State>(delimiter, quote)) {}

RowWriter::~RowWriter() = default;

Result<Done, IoError> RowWriter::write(BufferedWriter& out, const RowView& row) {
  const FieldQuoter& quoter = state_->quoter;
  if (row.text().empty()) {
    // Blank lines come in long runs in some files: kept short and inline.
    if (char* room = out.room_for(quoter.empty_row_size(row.size()))) {
      out.commit(static_cast<std::size_t>(quoter.put_empty_row(room, row.size()) - room));
      return Done{};
    }
  }
  // Every field doubled and quoted, separators, LF: the line fits.
  const std::size_t bound = quoter.row_bound(row);
  if (char* room = out.room_for(bound)) {
    // Assembled in place: the writer would have copied the line there.
    out.commit(static_cast<std::size_t>(quoter.put_row(room, row) - room));
    return Done{};
  }
  char* const begin = state_->line.reserve(bound);
  return out.write(state_->line.view(quoter.put_row(begin, row)));
}

std::string empty_row_line(std::size_t fields, unsigned char delimiter, unsigned char quote) {
  const FieldQuoter quoter(delimiter, quote);
  std::string line(quoter.empty_row_size(fields), '\0');
  line.resize(static_cast<std::size_t>(quoter.put_empty_row(line.data(), fields) - line.data()));
  return line;
}

Result<Done, IoError> write_rows(BufferedWriter& out, const RowStore& rows,
                                 unsigned char delimiter, unsigned char quote) {
  RowWriter writer(delimiter, quote);
  for (std::size_t r = 0, count = rows.row_count(); r < count; ++r) {
    Result<Done, IoError> written = writer.write(out, rows.row(r));
    if (!written) return written;
  }
  return Done{};
}

Result<Done, IoError> write_quarantine(BufferedWriter& out, const Quarantine& records,
                                       unsigned char delimiter) {
  Result<Done, IoError> header = out.write(kQuarantineHeader);
  if (!header) return header;
  const ByteText separator = byte_text(delimiter);
  std::string line;  // reused: quarantined rows are few, the format simple
  for (std::size_t i = 0, count = records.size(); i < count; ++i) {
    const QuarantineRecord record = records.record(i);
    line.clear();
    append_quarantine_line(line, record.line, record.reason, record.raw_fields, separator);
    Result<Done, IoError> written = out.write(line);
    if (!written) return written;
  }
  return Done{};
}

}  // namespace vestle
