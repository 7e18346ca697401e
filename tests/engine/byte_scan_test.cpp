// Tests of the bulk byte searches: word and vector forms against a plain loop.
#include "parser/byte_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "support/each_kernel.h"
#include "support/text_samples.h"

namespace vestle {
namespace {

struct Expected {
  std::size_t end;
  bool has_high_byte;
};

Expected plain_first_of(std::string_view s, std::size_t from, std::size_t size, unsigned char a,
                        unsigned char b, unsigned char c) {
  bool high = false;
  for (std::size_t i = from; i < size; ++i) {
    const auto byte = static_cast<unsigned char>(s[i]);
    if (byte == a || byte == b || byte == c) return {i, high};
    high = high || byte >= 0x80;
  }
  return {size, high};
}

Expected plain_pair(std::string_view s, std::size_t from, std::size_t end, unsigned char c) {
  bool high = false;
  for (std::size_t k = from; k < end; ++k) {
    if (static_cast<unsigned char>(s[k]) == c && static_cast<unsigned char>(s[k + 1]) == c) {
      return {k, high};
    }
    high = high || static_cast<unsigned char>(s[k]) >= 0x80;
  }
  return {end, high};
}

void expect_same(const ScanResult& got, const Expected& want, const char* form,
                 const std::string& input, std::size_t from, std::size_t end) {
  ASSERT_EQ(got.end, want.end) << form << " " << ::testing::PrintToString(input) << " from " << from
                               << " end " << end;
  ASSERT_EQ(got.has_high_byte, want.has_high_byte)
      << form << " " << ::testing::PrintToString(input) << " from " << from << " end " << end;
}

// Mostly filler, so that matches often lie past one or two blocks.
const std::string_view kAlphabet("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa,\"\"\n\r\x7F\x80\xFF", 38);

std::string random_bytes(std::mt19937& rng, std::size_t max_length) {
  return random_text(rng, kAlphabet, max_length);
}

// A random range [from, end) with 0 <= from <= end <= `last`.
struct Range {
  std::size_t from;
  std::size_t end;
};

Range random_range(std::mt19937& rng, std::size_t last) {
  std::uniform_int_distribution<std::size_t> offset(0, last);
  const std::size_t a = offset(rng);
  const std::size_t b = offset(rng);
  return {std::min(a, b), std::max(a, b)};
}

TEST(ByteScan, FirstOfAgreesWithPlainLoop) {
  std::mt19937 rng(99);
  const unsigned char stops[][3] = {{',', '\n', '\r'}, {'"', '\n', '\n'}, {0x80, 0xFF, 0x80},
                                    {'"', '"', '"'}};
  for (int iteration = 0; iteration < 20000; ++iteration) {
    const std::string input = random_bytes(rng, 90);
    const auto [from, size] = random_range(rng, input.size());
    const auto& [a, b, c] = stops[static_cast<std::size_t>(iteration) % 4];
    const auto* bytes = reinterpret_cast<const unsigned char*>(input.data());
    const Expected want = plain_first_of(input, from, size, a, b, c);
    expect_same(scan_to_first_of_words(bytes, from, size, a, b, c), want, "words", input, from, size);
    // The vector form where SSE2 is there, the word form elsewhere.
    expect_same(StopBytes(a, b, c).scan(bytes, from, size), want, "stop bytes", input, from, size);
  }
}

TEST(ByteScan, PairAgreesWithPlainLoop) {
  std::mt19937 rng(1234);
  for (int iteration = 0; iteration < 20000; ++iteration) {
    std::string input = random_bytes(rng, 90);
    input.push_back(iteration % 2 == 0 ? '"' : 'a');  // the readable byte at `end`
    const auto [from, end] = random_range(rng, input.size() - 1);
    const unsigned char c = iteration % 3 == 0 ? 0x80 : '"';
    const auto* bytes = reinterpret_cast<const unsigned char*>(input.data());
    const Expected want = plain_pair(input, from, end, c);
    expect_same(scan_to_pair_words(bytes, from, end, c), want, "words", input, from, end);
#if defined(__SSE2__)
    expect_same(scan_to_pair_sse2(bytes, from, end, c), want, "sse2", input, from, end);
#endif
    expect_same(scan_to_pair(bytes, from, end, c), want, "dispatch", input, from, end);
  }
}

TEST(ByteScan, FirstOfFourSkipsAndLineBreakTestAgreeWithPlainLoops) {
  std::mt19937 rng(55);
  for (int iteration = 0; iteration < 20000; ++iteration) {
    const std::string input = random_bytes(rng, 90);
    const auto [from, size] = random_range(rng, input.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(input.data());
    const unsigned char d = iteration % 2 == 0 ? ',' : 0xFF;
    const unsigned char q = iteration % 3 == 0 ? '"' : 0x80;
    const std::size_t want_stop = plain_first_of(input, from, size, '\n', '\r', d).end;
    const std::size_t want_four = std::min(want_stop, plain_first_of(input, from, size, q, q, q).end);
    EXPECT_EQ(find_first_of4_words(bytes, from, size, '\n', '\r', d, q), want_four);
#if defined(__SSE2__)
    EXPECT_EQ(find_first_of4_sse2(bytes, from, size, '\n', '\r', d, q), want_four);
#endif
    EXPECT_EQ(find_first_of4(bytes, from, size, '\n', '\r', d, q), want_four);

    std::size_t want_high = from;
    while (want_high < size && bytes[want_high] < 0x80) ++want_high;
    EXPECT_EQ(skip_ascii_words(bytes, from, size), want_high);
#if defined(__SSE2__)
    EXPECT_EQ(skip_ascii_sse2(bytes, from, size), want_high);
#endif
    EXPECT_EQ(skip_ascii(bytes, from, size), want_high);

    // Runs of the filler byte are long; runs of the others mostly short.
    const unsigned char run_byte = iteration % 4 == 0 ? '"' : 'a';
    std::size_t want_run_end = from;
    while (want_run_end < size && bytes[want_run_end] == run_byte) ++want_run_end;
    EXPECT_EQ(skip_byte_run_words(bytes, from, size, run_byte), want_run_end);
#if defined(__SSE2__)
    EXPECT_EQ(skip_byte_run_sse2(bytes, from, size, run_byte), want_run_end);
#endif
    EXPECT_EQ(skip_byte_run(bytes, from, size, run_byte), want_run_end);
    EXPECT_EQ(has_line_break(bytes, from, size),
              plain_first_of(input, from, size, '\n', '\r', '\n').end != size);
    if (::testing::Test::HasFailure()) {
      FAIL() << ::testing::PrintToString(input) << " from " << from << " size " << size;
    }
  }
}

// Random blocks, and blocks made of one or two stop bytes only.
std::string test_block(std::mt19937& rng, int iteration, std::size_t size) {
  std::string block = random_bytes(rng, size);
  block.resize(size, '"');
  if (iteration % 7 == 0) block.assign(size, kAlphabet[static_cast<std::size_t>(iteration) % kAlphabet.size()]);
  if (iteration % 11 == 0) {
    for (std::size_t i = 0; i < size; ++i) block[i] = (i + static_cast<std::size_t>(iteration)) % 3 == 0 ? '\n' : '"';
  }
  return block;
}

std::uint64_t plain_mask(const unsigned char* bytes, bool (*selected)(unsigned char, unsigned char),
                         unsigned char d) {
  std::uint64_t mask = 0;
  for (std::size_t i = 0; i < 64; ++i) {
    if (selected(bytes[i], d)) mask |= std::uint64_t{1} << i;
  }
  return mask;
}

TEST(ByteScan, BlockMasksOfEveryKernelAgreeWithPlainLoop) {
  std::mt19937 rng(64);
  for (int iteration = 0; iteration < 5000; ++iteration) {
    const std::string block = test_block(rng, iteration, 64);
    const auto* bytes = reinterpret_cast<const unsigned char*>(block.data());
    const unsigned char d = iteration % 2 == 0 ? ',' : 0xFF;
    const std::uint64_t stops = plain_mask(
        bytes, [](unsigned char b, unsigned char x) { return b == '"' || b == x || b == '\n' || b == '\r'; },
        d);
    ASSERT_EQ(block_mask_of4_words(bytes, '"', d, '\n', '\r'), stops) << ::testing::PrintToString(block);
    const BlockClasses want{
        plain_mask(bytes, [](unsigned char b, unsigned char) { return b == '"'; }, d),
        plain_mask(bytes, [](unsigned char b, unsigned char x) { return b == x; }, d),
        plain_mask(bytes, [](unsigned char b, unsigned char) { return b == '\n'; }, d),
        plain_mask(bytes, [](unsigned char b, unsigned char) { return b == '\r'; }, d),
        plain_mask(bytes, [](unsigned char b, unsigned char) { return b >= 0x80; }, d)};
    ASSERT_EQ(block_high_bits_words(bytes), want.high) << ::testing::PrintToString(block);
    vestle::testing::for_each_kernel([&] {
      ASSERT_EQ(block_mask_of4(bytes, '"', d, '\n', '\r'), stops) << ::testing::PrintToString(block);
      BlockClasses got{};
      kernels().classify_block(bytes, '"', d, got);
      ASSERT_EQ(got.quote, want.quote) << ::testing::PrintToString(block);
      ASSERT_EQ(got.delimiter, want.delimiter) << ::testing::PrintToString(block);
      ASSERT_EQ(got.lf, want.lf) << ::testing::PrintToString(block);
      ASSERT_EQ(got.cr, want.cr) << ::testing::PrintToString(block);
      ASSERT_EQ(got.high, want.high) << ::testing::PrintToString(block);
    });
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(ByteScan, ClosingQuoteCandidatesOfEveryKernelAgreeWithPlainLoop) {
  std::mt19937 rng(17);
  for (int iteration = 0; iteration < 5000; ++iteration) {
    std::string bytes = test_block(rng, iteration, 63) + " \t";
    const unsigned char d = iteration % 2 == 0 ? ',' : '\t';
    const ClosingQuoteCandidates candidates(d, '"');
    const auto* at = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto is_break = [](unsigned char b) { return b == '\n' || b == '\r'; };
    std::uint64_t quotes = 0;
    std::uint64_t breaks = 0;
    for (std::size_t i = 0; i < 64; ++i) {
      const unsigned char next = at[i + 1];
      if (at[i] == '"' && (next == ' ' || next == '\t' || next == d || is_break(next))) {
        quotes |= std::uint64_t{1} << i;
      }
      if (is_break(at[i])) breaks |= std::uint64_t{1} << i;
    }
    vestle::testing::for_each_kernel([&] {
      const ClosingQuoteCandidates::Masks block = candidates.block64(at);
      ASSERT_EQ(block.quotes, quotes) << ::testing::PrintToString(bytes);
      ASSERT_EQ(block.breaks, breaks) << ::testing::PrintToString(bytes);
    });
#if defined(__SSE2__)
    const ClosingQuoteCandidates::Masks block = candidates.block16(at);
    ASSERT_EQ(block.quotes, quotes & 0xFFFF) << ::testing::PrintToString(bytes);
    ASSERT_EQ(block.breaks, breaks & 0xFFFF) << ::testing::PrintToString(bytes);
#endif
    if constexpr (std::endian::native == std::endian::little) {
      // The word form marks the high bit of each byte.
      const auto high_bits = [](std::uint64_t bits) {
        std::uint64_t spread = 0;
        for (std::size_t i = 0; i < 8; ++i) spread |= ((bits >> i) & 1) << (8 * i + 7);
        return spread;
      };
      const ClosingQuoteCandidates::Masks word = candidates.word8(at);
      ASSERT_EQ(word.quotes, high_bits(quotes & 0xFF)) << ::testing::PrintToString(bytes);
      ASSERT_EQ(word.breaks, high_bits(breaks & 0xFF)) << ::testing::PrintToString(bytes);
    }
  }
}

// The plain stretch, byte by byte: the first quote, line break or high byte,
// and the delimiters before it.
TEST(ByteScan, PlainStretchOfEveryKernelAgreesWithPlainLoop) {
  std::mt19937 rng(29);
  for (int iteration = 0; iteration < 4000; ++iteration) {
    // Mostly filler and delimiters, so that stretches often run past a block.
    std::string bytes = random_text(rng, iteration % 2 == 0 ? "aaaaaaaa,,b" : "aaaa,\"\n\r\xC3", 300);
    if (iteration % 3 == 0) bytes += random_bytes(rng, 40);
    const Range range = random_range(rng, bytes.size());
    const unsigned char delimiter = iteration % 4 == 0 ? '\"' : ',';  // the quote itself, now and then
    PlainStretch want{range.end, range.from, 0};
    for (std::size_t i = range.from; i < range.end; ++i) {
      const auto b = static_cast<unsigned char>(bytes[i]);
      if (b == '"' || b == '\n' || b == '\r' || b >= 0x80) {
        want.stop = i;
        break;
      }
      if (b == delimiter) {
        ++want.delimiters;
        want.end = i + 1;
      }
    }
    const auto* at = reinterpret_cast<const unsigned char*>(bytes.data());
    vestle::testing::for_each_kernel([&] {
      const PlainStretch got = plain_stretch(at, range.from, range.end, delimiter, '"');
      ASSERT_EQ(got.stop, want.stop) << ::testing::PrintToString(bytes) << " from " << range.from;
      ASSERT_EQ(got.end, want.end) << ::testing::PrintToString(bytes) << " from " << range.from;
      ASSERT_EQ(got.delimiters, want.delimiters) << ::testing::PrintToString(bytes);
    });
  }
}

// Matches far apart, so that the searches leave their first bytes for the
// kernel's widest steps; zero bytes among the sought, as the masked tail
// of a vector search must not find them past the end.
TEST(ByteScan, LongSearchesOfEveryKernelAgreeWithPlainLoops) {
  std::mt19937 rng(31);
  for (int iteration = 0; iteration < 6000; ++iteration) {
    const std::string filler(iteration % 5 == 0 ? 400 : 80, 'a');
    const std::string bytes = random_text(
        rng, filler + (iteration % 2 == 0 ? std::string("\n,") : std::string("\0\xFF", 2)), 400);
    const Range range = random_range(rng, bytes.size());
    const unsigned char sought = iteration % 2 == 0 ? ',' : 0;
    std::size_t want = range.from;
    while (want < range.end && bytes[want] != '\n' && bytes[want] != '\r' &&
           static_cast<unsigned char>(bytes[want]) != sought &&
           static_cast<unsigned char>(bytes[want]) != 0xFF) {
      ++want;
    }
    std::size_t run_end = range.from;
    while (run_end < range.end && bytes[run_end] == 'a') ++run_end;
    const auto* at = reinterpret_cast<const unsigned char*>(bytes.data());
    vestle::testing::for_each_kernel([&] {
      ASSERT_EQ(kernels().find_first_of4(at, range.from, range.end, '\n', '\r', sought, 0xFF), want)
          << ::testing::PrintToString(bytes) << " from " << range.from << " end " << range.end;
      ASSERT_EQ(find_first_of4(at, range.from, range.end, '\n', '\r', sought, 0xFF), want);
      ASSERT_EQ(kernels().skip_byte_run(at, range.from, range.end, 'a'), run_end);
      ASSERT_EQ(skip_byte_run(at, range.from, range.end, 'a'), run_end);
    });
  }
}

TEST(ByteScan, PairStartingRightBeforeEndIsFound) {
  // The pair's second byte is the byte at `end`, just outside the range.
  const std::string input = std::string(40, 'a') + "\"\"";
  const auto* bytes = reinterpret_cast<const unsigned char*>(input.data());
  EXPECT_EQ(scan_to_pair(bytes, 0, 41, '"').end, 40U);
  EXPECT_EQ(scan_to_pair_words(bytes, 0, 41, '"').end, 40U);
}

}  // namespace
}  // namespace vestle
