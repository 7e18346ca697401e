// Byte access through the cursors and the line-wide quote look-ahead.
#include "stream/long_row_parser.h"

#include <bit>

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
  if (!search_.covers(j) && !search_line(j)) return kFailed;
  return search_.found ? 0 : 1;
}

std::size_t LongRowParser::skip_to_candidate(const unsigned char* bytes, std::size_t at,
                                             std::size_t size) const noexcept {
  while (size - at >= 65) {
    const ClosingQuoteCandidates::Masks masks = candidates_.block64(bytes + at);
    if ((masks.quotes | masks.breaks) != 0) return at;
    at += 64;
  }
#if defined(__SSE2__)
  while (sse2_enabled() && size - at >= 17) {
    const ClosingQuoteCandidates::Masks masks = candidates_.block16(bytes + at);
    if ((masks.quotes | masks.breaks) != 0) return at;
    at += 16;
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    while (size - at >= 9) {
      const ClosingQuoteCandidates::Masks masks = candidates_.word8(bytes + at);
      if ((masks.quotes | masks.breaks) != 0) break;
      at += 8;
    }
  }
  return at;
}

bool LongRowParser::search_line(std::uint64_t from) {
  // A quote followed so far only by blanks: it may end a field if what
  // follows the blanks does. Only the first such quote of a run matters.
  bool open_quote = false;
  std::uint64_t open_quote_at = 0;
  const StopBytes quotes_and_breaks(quote_char_, kLf, kCr);
  std::uint64_t k = from;
  for (;;) {
    const int first = byte_at(*lookahead_, k);
    if (first == kFailed) return false;
    if (first == kEnd) break;
    FileCursor& cursor = lookahead_->holds(k) ? *lookahead_ : *reader_;
    const unsigned char* bytes = cursor.data();
    const std::size_t size = cursor.size();
    auto at = static_cast<std::size_t>(k - cursor.base());
    bool line_ended = false;
    while (at < size) {
      if (!open_quote) {
        // Only a quote or the line's end matters here, and only a quote
        // followed by a blank, the delimiter or a line break may end a field.
        at = skip_to_candidate(bytes, at, size);
        at = quotes_and_breaks.scan(bytes, at, size).end;
        if (at == size) break;
        if (is_line_break(bytes[at])) {
          line_ended = true;
          break;
        }
        open_quote = true;
        open_quote_at = cursor.base() + at;
        ++at;
        continue;
      }
      const unsigned char b = bytes[at];
      if (is_line_break(b) || b == delimiter_) {
        line_ended = true;  // the open quote ends a field: the search is over
        break;
      }
      if (!is_blank(b)) open_quote = b == quote_char_;
      if (open_quote && b == quote_char_ && !is_blank(b)) open_quote_at = cursor.base() + at;
      ++at;
    }
    k = cursor.base() + at;
    if (line_ended) break;
  }
  search_.valid = true;
  search_.from = from;
  search_.found = open_quote;
  search_.to = open_quote ? open_quote_at : k;
  return true;
}

}  // namespace vestle
