// UTF-8 helpers: validation and lossy decoding of field bytes, encoding of a
// code point, and the text of a delimiter byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vestle {

// True when `bytes` is well-formed UTF-8.
[[nodiscard]] bool is_valid_utf8(std::string_view bytes) noexcept;

// Length of the longest prefix of `bytes` made of whole well-formed
// sequences, up to the first ill-formed byte.
[[nodiscard]] std::size_t valid_utf8_prefix(std::string_view bytes) noexcept;

// True when every byte is below 0x80.
[[nodiscard]] bool is_ascii(std::string_view bytes) noexcept;

// Appends `bytes` to `out`, replacing each maximal ill-formed subpart by one
// U+FFFD (EF BF BD). `bytes` must not point into `out`.
void append_lossy_utf8(std::string_view bytes, std::string& out);

// Lossy decoding of bytes that arrive in pieces: the text, in pieces of
// whole characters, is what append_lossy_utf8 gives for all the bytes at
// once. Holds back at most the first three bytes of a character that a
// piece ends inside.
class Utf8Repairer {
 public:
  // Calls `emit(std::string_view)` for each piece of text decoded so far.
  template <typename Emit>
  void feed(std::string_view bytes, Emit&& emit);
  // The end of the bytes: a character left open becomes U+FFFD.
  template <typename Emit>
  void finish(Emit&& emit) {
    if (held_size_ != 0) emit(kReplacementText);
    held_size_ = 0;
  }

  // True when no character is left open.
  [[nodiscard]] bool idle() const noexcept { return held_size_ == 0; }

  static constexpr std::string_view kReplacementText = "\xEF\xBF\xBD";

 private:
  // How the bytes at `s` (at least one) begin: a whole character of
  // `length` bytes, the start of one that more bytes may complete, or a
  // maximal ill-formed subpart of `length` bytes.
  enum class Start { Whole, Open, Broken };
  struct Lead {
    Start start;
    std::size_t length;
  };
  [[nodiscard]] static Lead lead_at(const unsigned char* s, std::size_t available) noexcept;
  // Length of the run of whole characters from `from` on.
  [[nodiscard]] static std::size_t whole_run(const unsigned char* s, std::size_t from,
                                             std::size_t size) noexcept;

  unsigned char held_[4] = {};
  std::size_t held_size_ = 0;
};

template <typename Emit>
void Utf8Repairer::feed(std::string_view bytes, Emit&& emit) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  if (held_size_ == 0 && n <= 16) {
    // Short ASCII pieces, the common case, are text as they stand.
    unsigned char high = 0;
    for (std::size_t k = 0; k < n; ++k) high |= s[k];
    if (high < 0x80) {
      if (n != 0) emit(bytes);
      return;
    }
  }
  std::size_t i = 0;
  // Complete the character a previous piece ended inside.
  while (held_size_ != 0 && i < n) {
    held_[held_size_++] = s[i++];
    const Lead lead = lead_at(held_, held_size_);
    if (lead.start == Start::Open) continue;
    if (lead.start == Start::Whole) {
      emit(std::string_view(reinterpret_cast<const char*>(held_), held_size_));
    } else {
      // The byte just taken broke the held prefix: the prefix is one
      // ill-formed subpart, and the byte starts afresh.
      emit(kReplacementText);
      --i;
    }
    held_size_ = 0;
  }
  std::size_t run_begin = i;
  while (i < n) {
    i = whole_run(s, i, n);
    if (i == n) break;
    const Lead lead = lead_at(s + i, n - i);
    if (i > run_begin) emit(bytes.substr(run_begin, i - run_begin));
    if (lead.start == Start::Open) {
      for (; i < n; ++i) held_[held_size_++] = s[i];
      return;
    }
    emit(kReplacementText);
    i += lead.length;
    run_begin = i;
  }
  if (n > run_begin) emit(bytes.substr(run_begin, n - run_begin));
}

// The UTF-8 encoding of a code point below U+10000: `size` bytes of `bytes`.
struct EncodedChar {
  unsigned char bytes[3];
  unsigned char size;
};
[[nodiscard]] constexpr EncodedChar encode_utf8(char32_t code_point) noexcept {
  if (code_point < 0x80) return {{static_cast<unsigned char>(code_point), 0, 0}, 1};
  if (code_point < 0x800) {
    return {{static_cast<unsigned char>(0xC0 | (code_point >> 6)),
             static_cast<unsigned char>(0x80 | (code_point & 0x3F)), 0},
            2};
  }
  return {{static_cast<unsigned char>(0xE0 | (code_point >> 12)),
           static_cast<unsigned char>(0x80 | ((code_point >> 6) & 0x3F)),
           static_cast<unsigned char>(0x80 | (code_point & 0x3F))},
          3};
}

// Text of the character whose code point equals `byte`: one byte below 0x80,
// two bytes from 0x80 to 0xFF.
struct ByteText {
  char bytes[2];
  unsigned char size;
  [[nodiscard]] std::string_view view() const noexcept { return {bytes, size}; }
};
[[nodiscard]] ByteText byte_text(unsigned char byte) noexcept;

}  // namespace vestle
