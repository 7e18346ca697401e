// A row sink for the parser that keeps only a row's field count and blankness.
#pragma once

#include <cstddef>
#include <cstdint>

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
  void finish_row() noexcept {
    last_field_count_ = fields_;
    last_row_blank_ = fields_ == 1 && first_field_blank_;
    fields_ = 0;
    blank_so_far_ = true;
    pending_size_ = 0;
  }

 private:
  static constexpr bool is_ascii_white_space(unsigned char b) noexcept {
    return (b >= 0x09 && b <= 0x0D) || b == 0x20;
  }

  void take(unsigned char b) noexcept {
    if (pending_size_ == 0) {
      if (is_ascii_white_space(b)) return;
      // Every multi-byte White_Space character starts with C2, E1, E2 or E3.
      if (b != 0xC2 && b != 0xE1 && b != 0xE2 && b != 0xE3) {
        blank_so_far_ = false;
        return;
      }
      pending_[0] = b;
      pending_size_ = 1;
      return;
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

  // How the held-back bytes compare with the encodings of U+0085, U+00A0,
  // U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F and U+3000.
  [[nodiscard]] Match match_pending() const noexcept {
    const unsigned char b1 = pending_[1];
    switch (pending_[0]) {
      case 0xC2:  // C2 85, C2 A0
        return b1 == 0x85 || b1 == 0xA0 ? Match::Whole : Match::None;
      case 0xE1:  // E1 9A 80
        if (b1 != 0x9A) return Match::None;
        if (pending_size_ == 2) return Match::Prefix;
        return pending_[2] == 0x80 ? Match::Whole : Match::None;
      case 0xE2: {  // E2 80 80..8A, E2 80 A8, A9, AF; E2 81 9F
        if (b1 != 0x80 && b1 != 0x81) return Match::None;
        if (pending_size_ == 2) return Match::Prefix;
        const unsigned char b2 = pending_[2];
        const bool white = b1 == 0x80 ? (b2 >= 0x80 && b2 <= 0x8A) || b2 == 0xA8 || b2 == 0xA9 ||
                                            b2 == 0xAF
                                      : b2 == 0x9F;
        return white ? Match::Whole : Match::None;
      }
      default:  // E3 80 80
        if (b1 != 0x80) return Match::None;
        if (pending_size_ == 2) return Match::Prefix;
        return pending_[2] == 0x80 ? Match::Whole : Match::None;
    }
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
