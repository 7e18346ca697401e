// A row sink for the parser that keeps only a row's field count and blankness.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "parser/white_space.h"

namespace vestle {

// Takes the parser's rows like a RowStore does, but stores no text: the
// heuristics only need how many fields a row has and whether it is a blank
// line (one field, empty or only Unicode White_Space once decoded).
//
// A field is white space exactly when its bytes are a sequence of the UTF-8
// encodings of White_Space characters: an ill-formed byte would decode to
// U+FFFD, which is not. So the first field is judged as its bytes arrive,
// holding back at most the first bytes of one multi-byte character, since a
// character may arrive in two pieces (around a skipped quote).
class FieldCountSink {
 public:
  // Rows made of a bare line break are blank: the parser passes over them
  // without handing them in (they only advance the line number).
  static constexpr bool kDropsEmptyLines = true;
  // Its whole state is a few counts: a pass can stop inside a row and go on.
  static constexpr bool kTakesCheckpoints = true;

  // Fields of the last finished row.
  [[nodiscard]] std::size_t field_count() const noexcept { return last_field_count_; }
  // True when the last finished row is a blank line.
  [[nodiscard]] bool row_is_blank() const noexcept { return last_row_blank_; }

  // --- building, as called by the parser ---
  void append_bytes(const char* data, std::size_t size) noexcept {
    if (fields_ != 0 || !blank_so_far_) return;  // only the first field matters
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size && blank_so_far_; ++i) take(bytes[i]);
  }
  void finish_field() noexcept {
    if (fields_ == 0) first_field_blank_ = blank_so_far_ && pending_size_ == 0;
    ++fields_;
  }
  void finish_ascii_field() noexcept { finish_field(); }
  // The long-row parser hands over whole ASCII fields without quotes in
  // stretches; past the first field, whose blankness needs its bytes, only
  // their number matters.
  [[nodiscard]] std::size_t plain_field_room() const noexcept {
    return fields_ == 0 ? 0 : SIZE_MAX;
  }
  void plain_fields(const char* /*data*/, std::size_t /*size*/, std::size_t count) noexcept {
    fields_ += count;
  }
  void finish_row() noexcept {
    last_field_count_ = fields_;
    last_row_blank_ = fields_ == 1 && first_field_blank_;
    fields_ = 0;
    blank_so_far_ = true;
    pending_size_ = 0;
  }

 private:
  void take(unsigned char b) noexcept {
    if (pending_size_ == 0) {
      switch (kWhiteSpaceLead[b]) {
        case WhiteSpaceLead::Whole:
          return;
        case WhiteSpaceLead::First:
          pending_[0] = b;
          pending_size_ = 1;
          return;
        case WhiteSpaceLead::Neither:
          blank_so_far_ = false;
          return;
      }
    }
    pending_[pending_size_++] = b;
    switch (match_pending()) {
      case Match::Whole:
        pending_size_ = 0;
        break;
      case Match::Prefix:
        break;
      case Match::None:
        blank_so_far_ = false;
        break;
    }
  }

  enum class Match { None, Prefix, Whole };

  // How the held-back bytes compare with the encodings of the multi-byte
  // White_Space characters. Those that share a first byte share a length.
  [[nodiscard]] Match match_pending() const noexcept {
    for (const EncodedChar& w : kWhiteSpaceBytes) {
      if (w.size < pending_size_ || !std::equal(pending_, pending_ + pending_size_, w.bytes)) {
        continue;
      }
      return w.size == pending_size_ ? Match::Whole : Match::Prefix;
    }
    return Match::None;
  }

  // The row under construction.
  std::size_t fields_ = 0;
  bool blank_so_far_ = true;        // the first field's bytes so far allow a blank line
  bool first_field_blank_ = false;
  unsigned char pending_[3] = {};   // leading bytes of a White_Space character
  std::uint8_t pending_size_ = 0;

  std::size_t last_field_count_ = 0;
  bool last_row_blank_ = false;
};

}  // namespace vestle
