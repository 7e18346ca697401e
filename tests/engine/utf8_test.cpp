// Tests of UTF-8 validation, the ASCII test, lossy repair and byte texts.
#include "parser/utf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/each_kernel.h"
#include "support/reference_utf8.h"

namespace vestle {
namespace {

const std::string R = "\xEF\xBF\xBD";  // U+FFFD

struct LossyCase {
  const char* name;
  std::string bytes;
  std::string text;
};

void PrintTo(const LossyCase& c, std::ostream* os) { *os << c.name; }

class LossyDecoding : public ::testing::TestWithParam<LossyCase> {};

TEST_P(LossyDecoding, OneReplacementPerMaximalSubpart) {
  const auto& c = GetParam();
  std::string out = "<";
  append_lossy_utf8(c.bytes, out);
  EXPECT_EQ(out, "<" + c.text);
  EXPECT_EQ(is_valid_utf8(c.bytes), c.bytes == c.text);
  // Long ASCII runs in front go through the word-at-a-time path.
  const std::string pad(13, 'x');
  std::string padded;
  append_lossy_utf8(pad + c.bytes + pad, padded);
  EXPECT_EQ(padded, pad + c.text + pad);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LossyDecoding,
    ::testing::Values(
        LossyCase{"empty", "", ""}, LossyCase{"ascii", "abc", "abc"},
        LossyCase{"two_byte", "\xC3\xA9", "\xC3\xA9"},
        LossyCase{"three_byte", "\xE2\x82\xAC", "\xE2\x82\xAC"},
        LossyCase{"four_byte", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        LossyCase{"max_code_point", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
        LossyCase{"replacement_itself", "\xEF\xBF\xBD", "\xEF\xBF\xBD"},
        LossyCase{"lone_continuation", "\x80", R},
        LossyCase{"overlong_two_byte", "\xC0\xAF", R + R},
        LossyCase{"c1_lead", "\xC1\xBF", R + R},
        LossyCase{"e0_overlong", "\xE0\x80", R + R},
        LossyCase{"e0_overlong_full", "\xE0\x80\x80", R + R + R},
        LossyCase{"surrogate", "\xED\xA0\x80", R + R + R},
        LossyCase{"truncated_three", "\xE2\x82", R},
        LossyCase{"truncated_three_then_ascii", "\xE2\x82z", R + "z"},
        LossyCase{"truncated_four", "\xF0\x9F\x98", R},
        LossyCase{"truncated_four_then_valid", "\xF0\x9F\x98\xC3\xA9", R + "\xC3\xA9"},
        LossyCase{"f0_overlong", "\xF0\x80\x80\x80", R + R + R + R},
        LossyCase{"above_max", "\xF4\x90\x80\x80", R + R + R + R},
        LossyCase{"f5_and_up", "\xF5\xF8\xFE\xFF", R + R + R + R},
        LossyCase{"lead_then_lead", "\xC3\xC3\xA9", R + "\xC3\xA9"},
        LossyCase{"bom_bytes_reversed", "\xFF\xFE" "ab", R + R + "ab"},
        LossyCase{"nul_is_valid", std::string("a\0b", 3), std::string("a\0b", 3)}),
    [](const auto& info) { return std::string(info.param.name); });

// An independent decoder: a byte string is a maximal subpart when it is the
// longest prefix of some encoded code point; built from every encoding.
class PrefixTable {
 public:
  PrefixTable() {
    for (std::uint32_t cp = 0; cp <= 0x10FFFF; ++cp) {
      if (cp >= 0xD800 && cp <= 0xDFFF) continue;
      const std::string e = encode(cp);
      for (std::size_t n = 1; n <= e.size(); ++n) prefixes_.push_back(key(e.substr(0, n)));
      complete_.push_back(key(e));
    }
    std::sort(prefixes_.begin(), prefixes_.end());
    std::sort(complete_.begin(), complete_.end());
  }

  std::string decode(const std::string& bytes) const {
    std::string out;
    std::size_t i = 0;
    while (i < bytes.size()) {
      std::size_t longest = 0;
      for (std::size_t n = 1; n <= 4 && i + n <= bytes.size(); ++n) {
        if (std::binary_search(prefixes_.begin(), prefixes_.end(), key(bytes.substr(i, n)))) longest = n;
      }
      if (longest > 0 && std::binary_search(complete_.begin(), complete_.end(), key(bytes.substr(i, longest)))) {
        out += bytes.substr(i, longest);
      } else {
        out += R;
      }
      i += std::max<std::size_t>(longest, 1);
    }
    return out;
  }

 private:
  static std::string encode(std::uint32_t cp) {
    std::string e;
    if (cp < 0x80) {
      e += static_cast<char>(cp);
    } else if (cp < 0x800) {
      e += static_cast<char>(0xC0 | (cp >> 6));
      e += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      e += static_cast<char>(0xE0 | (cp >> 12));
      e += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      e += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      e += static_cast<char>(0xF0 | (cp >> 18));
      e += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      e += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      e += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return e;
  }
  static std::uint64_t key(const std::string& s) {
    std::uint64_t k = s.size();
    for (unsigned char c : s) k = (k << 8) | c;
    return k;
  }

  std::vector<std::uint64_t> prefixes_;
  std::vector<std::uint64_t> complete_;
};

// Bytes at the edges of UTF-8's classes: ASCII, continuation, lead bytes of
// each length, and bytes no well-formed text holds.
constexpr unsigned char kInterestingBytes[] = {'a',  0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0,
                                               0xBF, 0xC0, 0xC2, 0xDF, 0xE0, 0xE1, 0xED,
                                               0xEF, 0xF0, 0xF4, 0xF5, 0xFF};

TEST(LossyDecoding, AgreesWithPrefixTableOnRandomBytes) {
  const PrefixTable table;
  std::mt19937 rng(99);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kInterestingBytes) - 1);
  std::uniform_int_distribution<std::size_t> length(0, 24);
  for (int iteration = 0; iteration < 20000; ++iteration) {
    std::string bytes(length(rng), '\0');
    for (auto& b : bytes) b = static_cast<char>(kInterestingBytes[pick(rng)]);
    std::string out;
    append_lossy_utf8(bytes, out);
    ASSERT_EQ(out, table.decode(bytes)) << ::testing::PrintToString(bytes);
    ASSERT_EQ(is_valid_utf8(bytes), out == bytes) << ::testing::PrintToString(bytes);
  }
}

TEST(LossyDecoding, LongStretchesOfBadBytesAndValidRuns) {
  // Stretches long enough to fill the replacement buffer many times over,
  // separated by valid runs of every length around its size.
  for (std::size_t bad : {1U, 84U, 85U, 86U, 300U}) {
    for (std::size_t good : {0U, 1U, 250U, 253U, 254U, 600U}) {
      std::string bytes;
      std::string text;
      for (int repeat = 0; repeat < 3; ++repeat) {
        for (std::size_t i = 0; i < bad; ++i) {
          bytes += '\xFF';
          text += R;
        }
        for (std::size_t i = 0; i < good; ++i) {
          const char* piece = i % 3 == 0 ? "\xC3\xA9" : "b";
          bytes += piece;
          text += piece;
        }
      }
      std::string out = "<";
      append_lossy_utf8(bytes, out);
      ASSERT_EQ(out, "<" + text) << bad << " " << good;
    }
  }
}

TEST(Utf8, IsAsciiFindsAHighByteAnywhere) {
  for (std::size_t length : {0, 1, 7, 8, 9, 23}) {
    std::string s(length, 'a');
    EXPECT_TRUE(is_ascii(s));
    for (std::size_t i = 0; i < length; ++i) {
      std::string t = s;
      t[i] = '\x80';
      EXPECT_FALSE(is_ascii(t)) << length << " " << i;
    }
  }
}

TEST(Utf8, ValidPrefixStopsAtTheFirstIllFormedByte) {
  for (std::size_t at = 0; at < 20; ++at) {
    std::string s(20, 'a');
    s[at] = '\xFF';
    EXPECT_EQ(valid_utf8_prefix(s), at);
    EXPECT_FALSE(is_valid_utf8(s));
  }
  EXPECT_EQ(valid_utf8_prefix("ab\xC3\xA9\xE2\x82"), 4U);
}

// Where the plain decoder meets its first ill-formed byte.
std::size_t reference_valid_prefix(std::string_view s) {
  std::size_t i = 0;
  for (std::size_t subpart = 0; i < s.size();) {
    const std::size_t length = reference::reference_sequence_at(s, i, subpart);
    if (length == 0) break;
    i += length;
  }
  return i;
}

// Every kernel's validation gives the plain decoder's prefix.
void expect_every_kernel_agrees(const std::string& bytes) {
  const std::size_t want = reference_valid_prefix(bytes);
  vestle::testing::for_each_kernel(
      [&] { ASSERT_EQ(valid_utf8_prefix(bytes), want) << ::testing::PrintToString(bytes); });
}

// Valid text of one- to four-byte characters, lines of it crossing blocks.
std::string mixed_text(std::mt19937& rng, std::size_t characters) {
  const char* pieces[] = {"a", "z,", "\n", "\xC3\xA9", "\xDF\xBF", "\xE0\xA0\x80", "\xE2\x82\xAC",
                          "\xED\x9F\xBF", "\xEE\x80\x80", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF",
                          "plain ascii words, "};
  std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
  std::string text;
  for (std::size_t i = 0; i < characters; ++i) text += pieces[pick(rng)];
  return text;
}

TEST(Utf8, EveryKernelAgreesWithPlainDecoderOnRandomBytes) {
  std::mt19937 rng(2024);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kInterestingBytes) - 1);
  // Long enough for the wide kernels' steps of several blocks.
  std::uniform_int_distribution<std::size_t> length(0, 640);
  for (int iteration = 0; iteration < 3000; ++iteration) {
    // Mostly valid text with one random byte somewhere, or random bytes.
    std::string bytes = mixed_text(rng, length(rng) / 4);
    if (iteration % 2 == 0) {
      bytes.resize(length(rng));
      for (auto& b : bytes) b = static_cast<char>(kInterestingBytes[pick(rng)]);
    } else if (!bytes.empty()) {
      bytes[length(rng) % bytes.size()] = static_cast<char>(kInterestingBytes[pick(rng)]);
    }
    expect_every_kernel_agrees(bytes);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(Utf8, EveryKernelFindsEachIllFormedSequenceAnywhereAndEveryTruncation) {
  std::mt19937 rng(7);
  // Past a run of ASCII blocks, which the wide kernels skip, too.
  const std::string text = mixed_text(rng, 60) + std::string(600, 'a') + mixed_text(rng, 30);
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    expect_every_kernel_agrees(text.substr(0, cut));
    if (::testing::Test::HasFatalFailure()) return;
  }
  const std::string bad[] = {"\x80",         "\xBF",         "\xC0\xAF",         "\xC1\xBF",
                             "\xC2",         "\xE0\x80\x80",   "\xE0\x9F\xBF",     "\xE2\x82",
                             "\xED\xA0\x80",   "\xED\xBF\xBF",   "\xF0\x80\x80\x80", "\xF0\x8F\xBF\xBF",
                             "\xF0\x9F\x98",   "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xF8",
                             "\xFF",         "\xC3\xC3",        "\xE2\x82\xAC\x80"};
  // Also in a text that is ASCII before it: a kernel that takes a valid
  // character early for an error hands the rest to the reference, which
  // would hide what it misses later.
  const std::string ascii_first = std::string(600, 'a') + mixed_text(rng, 30);
  for (const std::string& host : {text, ascii_first}) {
    for (const std::string& sequence : bad) {
      for (std::size_t at = 0; at <= host.size(); ++at) {
        std::string bytes = host;
        bytes.insert(at, sequence);
        expect_every_kernel_agrees(bytes);
        if (::testing::Test::HasFatalFailure()) return;
      }
    }
  }
}

struct ByteTextCase {
  unsigned char byte;
  std::string text;
};

class ByteTexts : public ::testing::TestWithParam<ByteTextCase> {};

TEST_P(ByteTexts, CodePointEqualsByte) {
  EXPECT_EQ(byte_text(GetParam().byte).view(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Table, ByteTexts,
                         ::testing::Values(ByteTextCase{0x00, std::string(1, '\0')},
                                         ByteTextCase{',', ","}, ByteTextCase{'\t', "\t"},
                                         ByteTextCase{0x7F, "\x7F"}, ByteTextCase{0x80, "\xC2\x80"},
                                         ByteTextCase{0xA7, "\xC2\xA7"}, ByteTextCase{0xBF, "\xC2\xBF"},
                                         ByteTextCase{0xC0, "\xC3\x80"}, ByteTextCase{0xFF, "\xC3\xBF"}));

}  // namespace
}  // namespace vestle
