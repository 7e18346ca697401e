// Field quoting and the line formats of the repaired and quarantine files.
#include "vestle/csv_writers.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>

#include "parser/utf8.h"

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
    trigger_['\n'] = kAlways;
    trigger_['\r'] = kAlways;
  }

  [[nodiscard]] const ByteText& delimiter() const noexcept { return delimiter_; }

  // Most bytes a field of `size` bytes can take once written.
  [[nodiscard]] std::size_t bound(std::size_t size) const noexcept {
    return 2 * size + 2 * quote_.size;
  }

  // Writes the field at `out`, which has room for `bound(field.size())`
  // bytes; returns the end of what was written.
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
      for (const char c : field) {
        *out++ = c;
        if (c == quote) *out++ = quote;
      }
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

// Appends `text` with every double quote doubled.
void append_doubling_quotes(std::string& out, std::string_view text) {
  std::size_t start = 0;
  for (std::size_t at = text.find('"'); at != std::string_view::npos; at = text.find('"', start)) {
    out.append(text.substr(start, at + 1 - start));
    out.push_back('"');
    start = at + 1;
  }
  out.append(text.substr(start));
}

}  // namespace

std::string quote_field(std::string_view field, unsigned char delimiter, unsigned char quote) {
  const FieldQuoter quoter(delimiter, quote);
  std::string out(quoter.bound(field.size()), '\0');
  out.resize(static_cast<std::size_t>(quoter.put(out.data(), field) - out.data()));
  return out;
}

Result<Done, IoError> write_rows(BufferedWriter& out, const RowStore& rows,
                                 unsigned char delimiter, unsigned char quote) {
  const FieldQuoter quoter(delimiter, quote);
  const ByteText& separator = quoter.delimiter();
  LineBuffer line;
  for (std::size_t r = 0, count = rows.row_count(); r < count; ++r) {
    const RowView row = rows.row(r);
    const std::size_t fields = row.size();
    // Every field doubled and quoted, separators, LF: the line fits.
    char* const begin = line.reserve(quoter.bound(row.text().size()) +
                                     fields * (2 * 2 + separator.size) + 1);
    char* end = begin;
    for (std::size_t f = 0; f < fields; ++f) {
      if (f > 0) {
        end[0] = separator.bytes[0];
        if (separator.size == 2) end[1] = separator.bytes[1];
        end += separator.size;
      }
      end = quoter.put(end, row[f]);
    }
    *end++ = '\n';
    Result<Done, IoError> written = out.write(line.view(end));
    if (!written) return written;
  }
  return Done{};
}

Result<Done, IoError> write_quarantine(BufferedWriter& out, const Quarantine& records,
                                       unsigned char delimiter) {
  Result<Done, IoError> header = out.write("line,reason,raw_content\n");
  if (!header) return header;
  const ByteText separator = byte_text(delimiter);
  std::string line;  // reused: quarantined rows are few, the format simple
  for (std::size_t i = 0, count = records.size(); i < count; ++i) {
    const QuarantineRecord record = records.record(i);
    line.clear();
    char digits[24];
    const auto converted = std::to_chars(digits, digits + sizeof digits, record.line);
    line.append(digits, converted.ptr);
    line.append(",\"");
    append_doubling_quotes(line, record.reason);
    line.append("\",\"");
    // Joined first, escaped as a whole: a delimiter that is itself a double
    // quote is doubled like any other.
    for (std::size_t f = 0; f < record.raw_fields.size(); ++f) {
      if (f > 0) append_doubling_quotes(line, separator.view());
      append_doubling_quotes(line, record.raw_fields[f]);
    }
    line.append("\"\n");
    Result<Done, IoError> written = out.write(line);
    if (!written) return written;
  }
  return Done{};
}

}  // namespace vestle
