// UTF-8 validation, lossy repair and the text of single bytes.
#include "parser/utf8.h"

#include <cstdint>
#include <cstring>

#include "parser/byte_scan.h"
#include "parser/kernel_sets.h"

namespace vestle {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

// One step of decoding at the first of `available` (>= 1) bytes: the length
// of the well-formed sequence there, or of the maximal ill-formed subpart
// (the longest prefix that could still begin a well-formed sequence, at
// least one byte).
struct Step {
  std::size_t length;
  bool valid;
};

Step step_at(const unsigned char* s, std::size_t available) noexcept {
  const unsigned char lead = s[0];
  if (lead < 0x80) return {1, true};
  std::size_t need = 0;
  unsigned char lo = 0x80;
  unsigned char hi = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 3;
    if (lead == 0xE0) lo = 0xA0;  // no overlong forms
    if (lead == 0xED) hi = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 4;
    if (lead == 0xF0) lo = 0x90;  // no overlong forms
    if (lead == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return {1, false};  // continuation byte, C0, C1 or F5..FF
  }
  if (available < 2 || s[1] < lo || s[1] > hi) return {1, false};
  for (std::size_t k = 2; k < need; ++k) {
    if (k >= available || (s[k] & 0xC0) != 0x80) return {k, false};
  }
  return {need, true};
}

// A character at a time, ASCII runs skipped by `skip`.
template <std::size_t (*skip)(const unsigned char*, std::size_t, std::size_t) noexcept>
std::size_t valid_prefix_by_steps(const unsigned char* s, std::size_t n) noexcept {
  std::size_t i = 0;
  for (;;) {
    i = skip(s, i, n);
    if (i == n) return n;
    const Step step = step_at(s + i, n - i);
    if (!step.valid) return i;
    i += step.length;
  }
}

}  // namespace

namespace kernel_sets {

std::size_t valid_utf8_prefix_scalar(const unsigned char* bytes, std::size_t size) noexcept {
  return valid_prefix_by_steps<skip_ascii_words>(bytes, size);
}

std::size_t valid_utf8_prefix_sse2(const unsigned char* bytes, std::size_t size) noexcept {
#if defined(__SSE2__)
  return valid_prefix_by_steps<skip_ascii_sse2>(bytes, size);
#else
  return valid_prefix_by_steps<skip_ascii_words>(bytes, size);
#endif
}

std::size_t valid_utf8_prefix_in_blocks(const unsigned char* bytes, std::size_t size,
                                        Utf8BlocksCheck first_block_with_error) noexcept {
  constexpr std::size_t kBlock = 64;
  constexpr std::size_t kBefore = 3;  // a character's lead is at most 3 bytes back
  // From the character that the block at `at` may complete on, the reference
  // decides: every character that ends before it is well-formed.
  const auto from_reference = [&](std::size_t at) {
    std::size_t start = at < kBefore ? 0 : at - kBefore;
    while (start < at && (bytes[start] & 0xC0) == 0x80) ++start;
    return start + valid_utf8_prefix_scalar(bytes + start, size - start);
  };
  // The block at `at` as a copy: what lies before the input and after it reads as zeros.
  const auto copy_has_error = [&](std::size_t at) {
    unsigned char padded[kBefore + kBlock] = {};
    const std::size_t before = at < kBefore ? at : kBefore;
    const std::size_t taken = size - at < kBlock ? size - at : kBlock;
    std::memcpy(padded + kBefore - before, bytes + at - before, before + taken);
    return first_block_with_error(padded + kBefore, 1) == 0;
  };
  // Below a block, the copies cost more than a character-at-a-time check
  // after a sixteen-byte ASCII skip (fields of the reader, mostly).
  if (size < kBlock) return valid_utf8_prefix_sse2(bytes, size);
  if (copy_has_error(0)) return from_reference(0);
  std::size_t at = kBlock;
  const std::size_t whole = (size - at) / kBlock;
  const std::size_t first_bad = first_block_with_error(bytes + at, whole);
  if (first_bad != whole) return from_reference(at + first_bad * kBlock);
  at += whole * kBlock;
  // The rest, fewer than 64 bytes, then zeros: an open character fails.
  if (copy_has_error(at)) return from_reference(at);
  return size;
}

}  // namespace kernel_sets

std::size_t valid_utf8_prefix(std::string_view bytes) noexcept {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  // Short inputs (the reader's fields) are not worth a call through the table.
  if (bytes.size() < 64 && sse2_enabled()) return kernel_sets::valid_utf8_prefix_sse2(s, bytes.size());
  return kernels().valid_utf8_prefix(s, bytes.size());
}

bool is_valid_utf8(std::string_view bytes) noexcept {
  return valid_utf8_prefix(bytes) == bytes.size();
}

bool is_ascii(std::string_view bytes) noexcept {
  return skip_ascii(reinterpret_cast<const unsigned char*>(bytes.data()), 0, bytes.size()) ==
         bytes.size();
}

void append_lossy_utf8(std::string_view bytes, std::string& out) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  // Valid runs are copied whole; replacements gather in a small buffer so
  // that a stretch of bad bytes costs one append per buffer, not per byte.
  char pending[256];
  std::size_t pending_size = 0;
  auto flush_pending = [&] {
    out.append(pending, pending_size);
    pending_size = 0;
  };
  std::size_t run_begin = 0;  // start of the valid run not yet copied
  std::size_t i = 0;
  for (;;) {
    i = skip_ascii(s, i, n);
    if (i == n) break;
    const Step step = step_at(s + i, n - i);
    if (step.valid) {
      i += step.length;
      continue;
    }
    const std::size_t run = i - run_begin;
    if (pending_size + run + 3 > sizeof pending) flush_pending();
    if (pending_size + run + 3 <= sizeof pending) {
      std::memcpy(pending + pending_size, s + run_begin, run);
      pending_size += run;
    } else {
      out.append(bytes.data() + run_begin, run);  // a long valid run goes directly
    }
    std::memcpy(pending + pending_size, kReplacement, 3);
    pending_size += 3;
    i += step.length;
    run_begin = i;
  }
  flush_pending();
  out.append(bytes.data() + run_begin, n - run_begin);
}

Utf8Repairer::Lead Utf8Repairer::lead_at(const unsigned char* s, std::size_t available) noexcept {
  const Step step = step_at(s, available);
  if (step.valid) return {Start::Whole, step.length};
  // A sequence cut short by the end of the bytes, every byte so far in range.
  const bool open = s[0] >= 0xC2 && s[0] <= 0xF4 && step.length == available;
  return {open ? Start::Open : Start::Broken, step.length};
}

std::size_t Utf8Repairer::whole_run(const unsigned char* s, std::size_t from,
                                    std::size_t size) noexcept {
  const auto* chars = reinterpret_cast<const char*>(s);
  return from + valid_utf8_prefix(std::string_view(chars + from, size - from));
}

ByteText byte_text(unsigned char byte) noexcept {
  const EncodedChar encoded = encode_utf8(byte);
  return {{static_cast<char>(encoded.bytes[0]), static_cast<char>(encoded.bytes[1])}, encoded.size};
}

}  // namespace vestle
