// Byte access through the cursors and the line-wide quote look-ahead.
#include "vestle/long_row_parser.h"

namespace vestle {

int LongRowParser::byte_at(FileCursor& cursor, std::uint64_t offset) {
  // The row's reader often holds the byte a look-ahead asks for.
  for (FileCursor* c : {reader_, &cursor}) {
    if (c->holds(offset)) return c->data()[offset - c->base()];
  }
  Result<bool, IoError> loaded = cursor.load(offset);
  if (!loaded) {
    error_ = loaded.error();
    return kFailed;
  }
  return loaded.value() ? cursor.data()[0] : kEnd;
}

Result<Done, IoError> LongRowParser::skip_byte_order_mark() {
  if (position_ != 0) return Done{};
  constexpr int kByteOrderMark[] = {0xEF, 0xBB, 0xBF};
  for (std::uint64_t i = 0; i < 3; ++i) {
    const int b = byte_at(*reader_, i);
    if (b == kFailed) return error_;
    if (b != kByteOrderMark[i]) return Done{};
  }
  position_ = 3;
  return Done{};
}

int LongRowParser::quote_closes_field(std::uint64_t after_quote) {
  std::uint64_t j = after_quote;
  int b = byte_at(*lookahead_, j);
  while (is_blank(b)) b = byte_at(*lookahead_, ++j);
  if (b == kFailed) return kFailed;
  // Followed, after blanks, by the delimiter, a line break or the end.
  if (ends_field(b)) return 1;
  // Followed by text: closes unless a later quote on the line ends better.
  if (!(search_.valid && search_.from <= j && j <= search_.line_end)) {
    if (!search_line(j)) return kFailed;
  }
  return search_.found && search_.last_ending_quote >= j ? 0 : 1;
}

bool LongRowParser::search_line(std::uint64_t from) {
  LineSearch search;
  search.from = from;
  // A quote followed so far only by blanks: it ends a field if what follows
  // the blanks does.
  bool open_quote = false;
  std::uint64_t open_quote_at = 0;
  std::uint64_t k = from;
  for (;; ++k) {
    const int b = byte_at(*lookahead_, k);
    if (b == kFailed) return false;
    if (b == kEnd || is_line_break(static_cast<unsigned char>(b))) {
      if (open_quote) {
        search.found = true;
        search.last_ending_quote = open_quote_at;
      }
      break;
    }
    if (open_quote && !is_blank(b)) {
      if (b == delimiter_) {
        search.found = true;
        search.last_ending_quote = open_quote_at;
      }
      open_quote = false;
    }
    if (b == quote_char_) {
      open_quote = true;
      open_quote_at = k;
    }
  }
  search.line_end = k;
  search.valid = true;
  search_ = search;
  return true;
}

}  // namespace vestle
