// Splitting written rows back into fields: a quote-aware scan, no repair.
#include "writer/written_rows.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "parser/byte_scan.h"
#include "parser/cpu_kernels.h"

namespace vestle {
namespace {

constexpr std::size_t kBlock = 64;

// The 64 bytes at `at` of a text (fewer at its end), as bit masks.
struct Block {
  std::uint64_t quotes;
  std::uint64_t separators;  // delimiters and LFs
  std::uint64_t high;        // bytes from 0x80 up

  Block(std::string_view text, std::size_t at, unsigned char delimiter,
        unsigned char quote) noexcept {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data()) + at;
    if (text.size() - at >= kBlock) {
      classify(bytes, delimiter, quote);
      return;
    }
    unsigned char tail[kBlock] = {};
    const std::size_t size = text.size() - at;
    std::memcpy(tail, bytes, size);
    classify(tail, delimiter, quote);
    const std::uint64_t inside = (std::uint64_t{1} << size) - 1;
    quotes &= inside;
    separators &= inside;
    high &= inside;
  }

  void classify(const unsigned char* bytes, unsigned char delimiter, unsigned char quote) noexcept {
    BlockClasses classes;
    kernels().classify_block(bytes, quote, delimiter, classes);
    quotes = classes.quote;
    separators = classes.delimiter | classes.lf;
    high = classes.high;
  }
};

// Where the last byte from 0x80 up lies, block by block, so that a field's
// ASCII test costs a few bit operations when the field ends.
class HighBytes {
 public:
  void enter(std::size_t at, std::uint64_t high) noexcept {
    if (high_ != 0) last_end_ = at_ + static_cast<std::size_t>(64 - std::countl_zero(high_));
    at_ = at;
    high_ = high;
  }
  // Whether [begin, end) holds none; `end` lies at most one block past the
  // start of the one entered last. When it lies before that start (a quoted
  // field whose closing quote ends the block before), the last one before
  // the block decides, which may say no for an ASCII field, never yes for
  // another.
  [[nodiscard]] bool none_in(std::size_t begin, std::size_t end) const noexcept {
    const std::size_t bit = end > at_ ? end - at_ : 0;
    const std::uint64_t before = bit >= 64 ? high_ : high_ & ((std::uint64_t{1} << bit) - 1);
    const std::size_t last_end =
        before != 0 ? at_ + static_cast<std::size_t>(64 - std::countl_zero(before)) : last_end_;
    return last_end <= begin;
  }

 private:
  std::size_t at_ = 0;
  std::uint64_t high_ = 0;
  std::size_t last_end_ = 0;  // just after the last one before the current block; 0: none
};

// The text of the field written in [begin, end): inside its quotes when it
// starts with one. Written text closes the quotes right before the
// separator; an unclosed field runs up to it.
struct FieldText {
  std::size_t begin;
  std::size_t end;
  bool doubled;  // holds doubled quotes

  FieldText(std::string_view text, std::size_t from, std::size_t to, unsigned char quote) noexcept
      : begin(from), end(to), doubled(false) {
    if (begin == end || static_cast<unsigned char>(text[begin]) != quote) return;
    ++begin;
    if (end > begin && static_cast<unsigned char>(text[end - 1]) == quote) --end;
    doubled = std::memchr(text.data() + begin, quote, end - begin) != nullptr;
  }
};

}  // namespace

void WrittenRowReader::undouble_quotes(FieldList& fields) const {
  // In place: a field only gets shorter.
  char* data = fields.text_.data();
  for (const std::size_t index : fields.doubled_) {
    FieldList::Span& field = fields.fields_[index];
    std::size_t from = field.begin;
    std::size_t to = field.begin;
    while (from < field.end) {
      const void* quote = std::memchr(data + from, quote_, field.end - from);
      const std::size_t through =
          quote == nullptr ? field.end
                           : static_cast<std::size_t>(static_cast<const char*>(quote) - data) + 1;
      std::memmove(data + to, data + from, through - from);
      to += through - from;
      from = quote == nullptr ? through : through + 1;  // past the quote's double
    }
    field.end = to;
  }
}

std::size_t WrittenRowReader::read_row(std::string_view text, std::size_t offset,
                                       FieldList& fields) const {
  fields.fields_.clear();
  fields.doubled_.clear();
  std::size_t end = text.size();  // of the row: its LF, or the text's end
  if (static_cast<unsigned char>(text[offset]) == kLf) {
    end = offset;  // a row of no fields
  } else {
    // Separators outside quotes end fields; the first LF among them, the row.
    HighBytes high;
    std::uint64_t inside = 0;  // all ones when a block starts inside quotes
    std::size_t field_begin = offset;
    const auto add_field = [&](const FieldText& field) {
      if (field.doubled) fields.doubled_.push_back(fields.fields_.size());
      fields.fields_.push_back(
          {field.begin - offset, field.end - offset, high.none_in(field.begin, field.end)});
    };
    for (std::size_t at = offset; at < text.size() && end == text.size(); at += kBlock) {
      const Block block(text, at, delimiter_, quote_);
      high.enter(at, block.high);
      const std::uint64_t quoted = prefix_xor_words(block.quotes) ^ inside;
      inside = static_cast<std::uint64_t>(static_cast<std::int64_t>(quoted) >> 63);
      for (std::uint64_t ends = block.separators & ~quoted; ends != 0; ends &= ends - 1) {
        const std::size_t at_end = at + static_cast<std::size_t>(std::countr_zero(ends));
        add_field(FieldText(text, field_begin, at_end, quote_));
        field_begin = at_end + 1;
        if (static_cast<unsigned char>(text[at_end]) == kLf) {
          end = at_end;
          break;
        }
      }
    }
    if (end == text.size()) add_field(FieldText(text, field_begin, end, quote_));
  }
  fields.text_.assign(text.substr(offset, end - offset));
  if (!fields.doubled_.empty()) undouble_quotes(fields);
  return end < text.size() ? end + 1 : end;
}

}  // namespace vestle
