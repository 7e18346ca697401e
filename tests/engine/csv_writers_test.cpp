// Byte-for-byte formats of the repaired file and the quarantine file.
#include "writer/csv_writers.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <ostream>
#include <string>
#include <vector>

#include "file_test_support.h"
#include "parser/utf8.h"
#include "support/quarantine_lines.h"
#include "support/row_texts.h"
#include "writer/quote_doubling.h"

namespace vestle {
namespace {

// The write buffer these tests size their pieces by.
constexpr std::size_t kCapacity = 8192;

using file_testing::read_text;
using file_testing::ScriptedWrites;
using file_testing::TempDir;
using testing::extra_columns;
using testing::kQuarantineHeaderLine;
using testing::quarantine_line;
using testing::too_few_columns;
using Rows = std::vector<std::vector<std::string>>;

// Runs one writer over a fresh file and returns what the file holds.
template <class Write>
std::string written_by(Write write) {
  TempDir dir;
  {
    Result<PosixFile, IoError> file = PosixFile::create(dir.file("out"));
    EXPECT_TRUE(file);
    if (!file) return {};
    BufferedWriter writer(std::move(file).value(), kCapacity);
    EXPECT_TRUE(write(writer));
    EXPECT_TRUE(writer.flush());
  }
  return read_text(dir.file("out"));
}

struct QuoteCase {
  const char* name;
  std::string field;
  unsigned char delimiter;
  unsigned char quote;
  std::string expected;
  friend void PrintTo(const QuoteCase& c, std::ostream* os) { *os << c.name; }
};

class QuoteField : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(QuoteField, QuotesOnlyWhatNeedsIt) {
  const QuoteCase& c = GetParam();
  EXPECT_EQ(quote_field(c.field, c.delimiter, c.quote), c.expected);
}

// 0xE9 is é (C3 A9), 0xE0 is à (C3 A0), 0xA7 is § (C2 A7).
INSTANTIATE_TEST_SUITE_P(
    Fields, QuoteField,
    ::testing::Values(
        QuoteCase{"Plain", "a", ',', '"', "a"},
        QuoteCase{"Empty", "", ',', '"', ""},
        QuoteCase{"SpacesOnly", "   ", ',', '"', "   "},
        QuoteCase{"LeadingAndTrailingSpaces", " a ", ',', '"', " a "},
        QuoteCase{"Delimiter", "a,b", ',', '"', "\"a,b\""},
        QuoteCase{"Quote", "say \"hi\"", ',', '"', "\"say \"\"hi\"\"\""},
        QuoteCase{"QuoteAlone", "\"", ',', '"', "\"\"\"\""},
        QuoteCase{"LineFeed", "x\ny", ',', '"', "\"x\ny\""},
        QuoteCase{"CarriageReturnAlone", "\r", ',', '"', "\"\r\""},
        QuoteCase{"Tab", "a\tb", '\t', '"', "\"a\tb\""},
        QuoteCase{"CommaUnderSemicolon", "a,b", ';', '"', "a,b"},
        QuoteCase{"SemicolonUnderSemicolon", "a;b", ';', '"', "\"a;b\""},
        QuoteCase{"DoubleQuoteUnderApostrophe", "a\"b", ',', '\'', "a\"b"},
        QuoteCase{"ApostropheUnderApostrophe", "it's", ',', '\'', "'it''s'"},
        QuoteCase{"TwoByteDelimiter", "caf\xC3\xA9", 0xE9, '"', "\"caf\xC3\xA9\""},
        QuoteCase{"SameLeadByteOtherCharacter", "\xC3\x83", 0xE9, '"', "\xC3\x83"},
        QuoteCase{"RawDelimiterByteIsNotTheCharacter", "a\xE9", 0xE9, '"', "a\xE9"},
        QuoteCase{"TwoByteQuote", "x\xC2\xA7y", ',', 0xA7, "\xC2\xA7x\xC2\xA7\xC2\xA7y\xC2\xA7"},
        QuoteCase{"TwoByteQuoteOtherCharacter", "\xC2\xA9", ',', 0xA7, "\xC2\xA9"},
        QuoteCase{"QuoteAndDelimiterShareLeadByte", "\xC3\xA9", 0xE9, 0xE0,
                  "\xC3\xA0\xC3\xA9\xC3\xA0"},
        QuoteCase{"SharedLeadByteQuoteDoubled", "\xC3\xA0", 0xE9, 0xE0,
                  "\xC3\xA0\xC3\xA0\xC3\xA0\xC3\xA0"},
        QuoteCase{"TriggerAtTheEnd", "abc\n", ',', '"', "\"abc\n\""}),
    [](const auto& info) { return std::string(info.param.name); });

// The plain statement of the rule, to check the scanning writer against.
std::string reference_quote(const std::string& field, unsigned char delimiter, unsigned char quote) {
  const std::string d(byte_text(delimiter).view());
  const std::string q(byte_text(quote).view());
  const bool quoted = field.find(q) != std::string::npos || field.find(d) != std::string::npos ||
                      field.find('\n') != std::string::npos || field.find('\r') != std::string::npos;
  if (!quoted) return field;
  std::string out = q;
  for (std::size_t i = 0; i < field.size();) {
    if (field.compare(i, q.size(), q) == 0) {
      out += q + q;
      i += q.size();
    } else {
      out += field[i++];
    }
  }
  return out + q;
}

TEST(QuoteFieldReference, AgreesOnRandomFields) {
  // Tokens include characters sharing a lead byte with the two-byte cases.
  const char* tokens[] = {"a", " ", ",", ";", "\"", "'", "\n", "\r", "\xC3\xA9", "\xC3\xA0",
                          "\xC3\x83", "\xC2\xA7", "\xC2\xA9", "\xEF\xBF\xBD"};
  const unsigned char delimiters[] = {',', ';', 0xE9, 0xA7};
  const unsigned char quotes[] = {'"', '\'', 0xE0, 0xA7};
  std::mt19937 rng(20240601);
  for (int i = 0; i < 20000; ++i) {
    std::string field;
    for (std::size_t n = rng() % 8; n > 0; --n) field += tokens[rng() % std::size(tokens)];
    const unsigned char d = delimiters[rng() % std::size(delimiters)];
    const unsigned char q = quotes[rng() % std::size(quotes)];
    ASSERT_EQ(quote_field(field, d, q), reference_quote(field, d, q))
        << ::testing::PrintToString(field) << " d " << int{d} << " q " << int{q};
  }
}

// Doubling agrees with a byte-at-a-time loop at every length and density of
// quotes, and writes nothing past twice the input.
TEST(CopyDoubling, AgreesWithPlainLoopAndStaysInItsRoom) {
  const char alphabet[] = {'"', 'a', '\n', '\xFF', '\''};
  std::mt19937 rng(20261208);
  for (int i = 0; i < 4000; ++i) {
    const char quote = "\"'\xFF"[rng() % 3];
    const std::size_t dense = rng() % 4;  // how many of the alphabet's first letters are picked
    std::string in(rng() % 80, ' ');
    for (char& c : in) c = alphabet[rng() % (dense + 2)];
    std::string want;
    for (const char c : in) want += c == quote ? std::string(2, c) : std::string(1, c);
    constexpr std::size_t kGuard = 32;
    std::string room(2 * in.size() + kGuard, '#');
    const char* end = copy_doubling(room.data(), in.data(), in.size(), quote);
    ASSERT_EQ(std::string(room.data(), static_cast<std::size_t>(end - room.data())), want) << ::testing::PrintToString(in);
    ASSERT_EQ(room.substr(2 * in.size()), std::string(kGuard, '#'));
  }
}

// The row writer scans a whole row a word at a time; it must agree with the
// field-by-field rule on rows of every width, including fields that straddle
// word boundaries and rows longer than the write buffer.
TEST(WriteRowsScan, AgreesWithQuoteFieldOnRandomRows) {
  const char* tokens[] = {"a", "bcdefgh", " ", ",", ";", "\"", "'", "\n", "\r", "\xC3\xA9",
                          "\xC3\xA0", "\xC3\x83", "\xC2\xA7", "\xC2\xA9", "0123456789"};
  const unsigned char delimiters[] = {',', ';', 0xE9, 0xA7};
  const unsigned char quotes[] = {'"', '\'', 0xE0, 0xA7};
  std::mt19937 rng(20240611);
  for (int round = 0; round < 200; ++round) {
    const unsigned char d = delimiters[rng() % std::size(delimiters)];
    const unsigned char q = quotes[rng() % std::size(quotes)];
    const std::string separator(byte_text(d).view());
    Rows rows(1 + rng() % 40);
    std::string expected;
    for (auto& row : rows) {
      row.resize(rng() % 30);
      for (std::size_t f = 0; f < row.size(); ++f) {
        for (std::size_t n = rng() % (rng() % 16 == 0 ? 900 : 6); n > 0; --n) {
          // Mostly plain text, so that long runs without triggers occur.
          row[f] += rng() % 4 == 0 ? tokens[rng() % std::size(tokens)] : "x";
        }
        if (f > 0) expected += separator;
        expected += reference_quote(row[f], d, q);
      }
      // A lone empty field is quoted so that the line is not blank.
      if (row.size() == 1 && row[0].empty()) expected += std::string(byte_text(q).view()) + std::string(byte_text(q).view());
      expected += '\n';
    }
    const RowStore store = store_of(rows);
    ASSERT_EQ(written_by([&](BufferedWriter& w) { return write_rows(w, store, d, q); }), expected)
        << "round " << round;
  }
}

struct RowsCase {
  const char* name;
  Rows rows;
  unsigned char delimiter;
  unsigned char quote;
  std::string expected;
  friend void PrintTo(const RowsCase& c, std::ostream* os) { *os << c.name; }
};

class WriteRows : public ::testing::TestWithParam<RowsCase> {};

TEST_P(WriteRows, FileHoldsOneLinePerRow) {
  const RowsCase& c = GetParam();
  const RowStore store = store_of(c.rows);
  EXPECT_EQ(written_by([&](BufferedWriter& w) { return write_rows(w, store, c.delimiter, c.quote); }),
            c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WriteRows,
    ::testing::Values(
        RowsCase{"NoRows", {}, ',', '"', ""},
        RowsCase{"TwoFields", {{"a", "b"}}, ',', '"', "a,b\n"},
        RowsCase{"QuotedFirstField", {{"a,b", "c"}}, ',', '"', "\"a,b\",c\n"},
        RowsCase{"OneEmptyField", {{""}}, ',', '"', "\"\"\n"},
        RowsCase{"OneEmptyFieldApostrophe", {{""}, {"a"}}, ',', '\'', "''\na\n"},
        RowsCase{"OneEmptyFieldTwoByteQuote", {{""}}, ',', 0xA7, "\xC2\xA7\xC2\xA7\n"},
        RowsCase{"NoFields", {{}}, ',', '"', "\n"},
        RowsCase{"FilledBlankRow", {{"", "", ""}}, ',', '"', ",,\n"},
        RowsCase{"FilledBlankRowSemicolon", {{"", "", ""}}, ';', '"', ";;\n"},
        RowsCase{"Semicolon", {{"a,b", "c"}, {"d;e", "f"}}, ';', '"', "a,b;c\n\"d;e\";f\n"},
        RowsCase{"ApostropheQuote", {{"it's", "\"x\""}}, ',', '\'', "'it''s',\"x\"\n"},
        RowsCase{"TwoByteDelimiter", {{"a", "b"}}, 0xE9, '"', "a\xC3\xA9" "b\n"},
        RowsCase{"LineBreaksKeptInsideQuotes", {{"x\r\ny", "z"}}, ',', '"', "\"x\r\ny\",z\n"},
        RowsCase{"SeveralRows", {{"1", "2"}, {"3", "4"}, {"", ""}}, ',', '"', "1,2\n3,4\n,\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct Record {
  std::vector<std::string> raw_fields;
  QuarantineReason reason;
  std::size_t expected_columns;
  std::size_t line;
};

struct QuarantineCase {
  const char* name;
  std::vector<Record> records;
  unsigned char delimiter;
  std::string expected;  // after the header
  friend void PrintTo(const QuarantineCase& c, std::ostream* os) { *os << c.name; }
};

class WriteQuarantine : public ::testing::TestWithParam<QuarantineCase> {};

TEST_P(WriteQuarantine, HeaderThenOneLinePerRecord) {
  const QuarantineCase& c = GetParam();
  Quarantine quarantine;
  for (const Record& r : c.records) {
    const RowStore raw = store_of({r.raw_fields});
    quarantine.add(raw.row(0), r.reason, r.expected_columns, r.line);
  }
  EXPECT_EQ(written_by([&](BufferedWriter& w) { return write_quarantine(w, quarantine, c.delimiter); }),
            kQuarantineHeaderLine + c.expected);
}

constexpr auto kExtra = QuarantineReason::ExtraColumns;
constexpr auto kFew = QuarantineReason::TooFewColumns;

INSTANTIATE_TEST_SUITE_P(
    Records, WriteQuarantine,
    ::testing::Values(
        QuarantineCase{"HeaderOnly", {}, ',', ""},
        QuarantineCase{"ExtraColumns",
                       {{{"1", "2", "3"}, kExtra, 2, 3}},
                       ',',
                       quarantine_line(3, extra_columns(2), "1,2,3")},
        QuarantineCase{"TooFewColumns",
                       {{{"a"}, kFew, 3, 12345678901}},
                       ',',
                       quarantine_line(12345678901, too_few_columns(3), "a")},
        QuarantineCase{"RawDoubleQuoteDoubled",
                       {{{"a\"b", "c"}, kExtra, 1, 2}},
                       ',',
                       quarantine_line(2, extra_columns(1), "a\"b,c")},
        QuarantineCase{"RawJoinedWithSemicolon",
                       {{{"x,y", "z"}, kExtra, 1, 4}},
                       ';',
                       quarantine_line(4, extra_columns(1), "x,y;z")},
        QuarantineCase{"DoubleQuoteDelimiterDoubled",
                       {{{"a", "b"}, kExtra, 1, 1}},
                       '"',
                       quarantine_line(1, extra_columns(1), "a\"b")},
        QuarantineCase{"TwoByteDelimiter",
                       {{{"a", "b"}, kExtra, 1, 1}},
                       0xE9,
                       quarantine_line(1, extra_columns(1), "a\xC3\xA9" "b")},
        QuarantineCase{"LineBreaksUnchanged",
                       {{{"a\r\nb"}, kFew, 2, 3}},
                       ',',
                       quarantine_line(3, too_few_columns(2), "a\r\nb")},
        QuarantineCase{"EmptyRawField",
                       {{{""}, kFew, 2, 5}},
                       ',',
                       quarantine_line(5, too_few_columns(2), "")},
        QuarantineCase{"InOrder",
                       {{{"p"}, kFew, 2, 2}, {{"q", "r", "s"}, kExtra, 2, 4}},
                       ',',
                       quarantine_line(2, too_few_columns(2), "p") +
                           quarantine_line(4, extra_columns(2), "q,r,s")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WriteRowsBuffering, LongLineFollowsTheBufferedBytesStraightToTheFile) {
  TempDir dir;
  ScriptedWrites ops;
  const std::string long_field(10000, 'x');
  const RowStore store = store_of({{"a"}, {long_field}, {"b"}});
  {
    Result<PosixFile, IoError> file = PosixFile::create(dir.file("out"), ops);
    ASSERT_TRUE(file);
    BufferedWriter writer(std::move(file).value(), kCapacity);
    ASSERT_TRUE(write_rows(writer, store, ',', '"'));
    EXPECT_EQ(ops.requested, (std::vector<std::size_t>{2, 10001}));
    ASSERT_TRUE(writer.flush());
  }
  EXPECT_EQ(read_text(dir.file("out")), "a\n" + long_field + "\nb\n");
}

TEST(WriteRowsFailure, StopsAtTheFirstFailedWrite) {
  TempDir dir;
  ScriptedWrites ops;
  ops.script = {-ENOSPC};
  Rows rows(5000, {"abc", "def"});  // 40000 bytes: several buffers' worth
  const RowStore store = store_of(rows);
  Result<PosixFile, IoError> file = PosixFile::create(dir.file("out"), ops);
  ASSERT_TRUE(file);
  BufferedWriter writer(std::move(file).value(), kCapacity);
  Result<Done, IoError> written = write_rows(writer, store, ',', '"');
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().os_error(), ENOSPC);
  EXPECT_EQ(ops.requested.size(), 1U);
  ASSERT_TRUE(writer.file().close());
}

}  // namespace
}  // namespace vestle
