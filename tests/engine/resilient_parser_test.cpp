// Tests of the tolerant tokenizer: rows, line numbers, quote repair.
#include "parser/resilient_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "parser/field_count_sink.h"
#include "parser/quote_lookahead.h"
#include "parser/row_store.h"
#include "parser/utf8.h"
#include "support/reference_parser.h"
#include "support/text_samples.h"

namespace vestle {
namespace {

using Fields = std::vector<std::string>;

struct ParsedRow {
  Fields fields;
  std::size_t line;  // line_number() right after the row
  bool operator==(const ParsedRow&) const = default;
};

struct Parsed {
  std::vector<ParsedRow> rows;
  std::size_t final_line;
  bool operator==(const Parsed&) const = default;
};

void PrintTo(const Parsed& parsed, std::ostream* os) {
  for (const auto& row : parsed.rows) {
    *os << "{";
    for (const auto& field : row.fields) *os << testing::PrintToString(field) << " ";
    *os << "line " << row.line << "} ";
  }
  *os << "final line " << parsed.final_line;
}

Parsed parse_all(std::string_view input, unsigned char delimiter, unsigned char quote, bool repair) {
  ResilientParser parser(input, delimiter, quote, repair);
  RowStore store;
  Parsed parsed;
  while (parser.next_row(store)) {
    parsed.rows.push_back({to_strings(store.last_row()), parser.line_number()});
  }
  parsed.final_line = parser.line_number();
  return parsed;
}

// The plain reference tokenizer, one byte per step, with its own UTF-8 decoder.
Parsed reference_parse(std::string_view in, unsigned char delimiter, unsigned char quote,
                       bool repair) {
  reference::ReferenceParser reference(in, delimiter, quote, repair);
  Parsed parsed;
  for (auto& row : reference.all_rows()) parsed.rows.push_back({std::move(row.fields), row.line_after});
  parsed.final_line = reference.line_number();
  return parsed;
}

// --- table of cases, written with the apostrophe as quote and comma as delimiter ---

enum class Repair { On, Off, Both };

struct Case {
  const char* name;
  std::string input;
  std::vector<ParsedRow> rows;
  std::size_t final_line;
  Repair repair = Repair::Both;
  unsigned char delimiter = ',';
};

const std::string kFfFe = "\xFF\xFE";
const std::string kReplacement = "\xEF\xBF\xBD";

std::vector<Case> cases() {
  using S = std::string;
  return {
      {"empty", "", {}, 1},
      {"bom_only", "\xEF\xBB\xBF", {}, 1},
      {"lf_rows", "a,b,c\n1,2,3\n", {{{"a", "b", "c"}, 2}, {{"1", "2", "3"}, 3}}, 3},
      {"cr_rows", "a,b\r1,2\r", {{{"a", "b"}, 2}, {{"1", "2"}, 3}}, 3},
      {"crlf_rows", "a,b\r\n1,2\r\n", {{{"a", "b"}, 2}, {{"1", "2"}, 3}}, 3},
      {"cr_then_crlf", "a\r\r\nb", {{{"a"}, 2}, {{""}, 3}, {{"b"}, 3}}, 3},
      {"lf_then_cr", "\n\r", {{{""}, 2}, {{""}, 3}}, 3},
      {"blank_line", "a,b\n\n1,2", {{{"a", "b"}, 2}, {{""}, 3}, {{"1", "2"}, 3}}, 3},
      {"trailing_delimiter_lf", "a,b,\n", {{{"a", "b", ""}, 2}}, 2},
      {"trailing_delimiter_end", "a,b,", {{{"a", "b", ""}, 1}}, 1},
      {"only_delimiter", ",\n", {{{"", ""}, 2}}, 2},
      {"bom_then_row", "\xEF\xBB\xBF" "a,b", {{{"a", "b"}, 1}}, 1},
      {"bom_not_at_start", "a\xEF\xBB\xBF", {{{"a\xEF\xBB\xBF"}, 1}}, 1},
      {"quoted_delimiter", "a,'b,c',d\n", {{{"a", "b,c", "d"}, 2}}, 2},
      {"doubled_quote", "'it''s',x", {{{"it's", "x"}, 1}}, 1},
      {"multi_line_field", "'multi\nline',x\ny,z\n", {{{"multi\nline", "x"}, 3}, {{"y", "z"}, 4}}, 4},
      {"unclosed_runs_to_end", "'open\nfoo,bar\n", {{{"open\nfoo,bar\n"}, 3}}, 3},
      {"unclosed_after_fields", "x,'abc", {{{"x", "abc"}, 1}}, 1},
      {"quote_in_unquoted", "ab'c,d\n", {{{"ab'c", "d"}, 2}}, 2},
      {"text_after_quote", "'abc'def,ghi\n", {{{"abcdef", "ghi"}, 2}}, 2},
      {"blank_after_quote", "'abc' ,x\n", {{{"abc", "x"}, 2}}, 2},
      {"blank_then_text", "'abc' d,x\n", {{{"abcd", "x"}, 2}}, 2},
      {"blanks_before_lf", "'a'  \n", {{{"a"}, 2}}, 2},
      {"blanks_before_end", "'a'  ", {{{"a"}, 1}}, 1},
      {"stray_quotes_repair", "'He said 'hi' there',next\n",
       {{{"He said 'hi' there", "next"}, 2}}, 2, Repair::On},
      {"stray_quotes_no_repair", "'He said 'hi' there',next\n",
       {{{"He said hi' there'", "next"}, 2}}, 2, Repair::Off},
      {"two_strays", "a,'b'c'd',e\n", {{{"a", "b'c'd", "e"}, 2}}, 2, Repair::On},
      {"stray_then_blank", "'ab'c' ,x\n", {{{"ab'c", "x"}, 2}}, 2, Repair::On},
      {"later_quote_followed_by_text", "'a'b'c", {{{"ab'c"}, 1}}, 1, Repair::On},
      {"later_quote_ends_input", "'a'b'", {{{"a'b"}, 1}}, 1, Repair::On},
      {"lookahead_stops_at_lf", "'ab'c\nd',x\n", {{{"abc"}, 2}, {{"d'", "x"}, 3}}, 3},
      {"lookahead_stops_at_cr", "'ab'c\rd',x\n", {{{"abc"}, 2}, {{"d'", "x"}, 3}}, 3},
      {"lookahead_on_candidate_line", "x,'a\nb'c'\n", {{{"x", "a\nb'c"}, 3}}, 3, Repair::On},
      {"blank_between_quotes_repair", "'a' 'b',c\n", {{{"a' 'b", "c"}, 2}}, 2, Repair::On},
      {"blank_between_quotes_no_repair", "'a' 'b',c\n", {{{"a'b'", "c"}, 2}}, 2, Repair::Off},
      {"tab_after_quote", "'a'\t'b'\n", {{{"a", "b"}, 2}}, 2, Repair::Both, '\t'},
      {"tab_around_quoted", "a\t'b'\tc\n", {{{"a", "b", "c"}, 2}}, 2, Repair::Both, '\t'},
      {"space_then_tab", "'a' \t'b'\n", {{{"a", "b"}, 2}}, 2, Repair::Both, '\t'},
      {"lone_quote", "'", {{{""}, 1}}, 1},
      {"empty_quoted", "''", {{{""}, 1}}, 1},
      {"empty_quoted_then_field", "'',x\n", {{{"", "x"}, 2}}, 2},
      {"doubled_at_end", "'a'''", {{{"a'"}, 1}}, 1},
      {"cr_inside_quotes", "'a\rb',c\r\n", {{{"a\rb", "c"}, 2}}, 2},
      {"lf_inside_quotes_counts", "'a\n\nb'\n", {{{"a\n\nb"}, 4}}, 4},
      {"invalid_utf8_field", kFfFe + "ab,c\n", {{{kReplacement + kReplacement + "ab", "c"}, 2}}, 2},
      {"nul_bytes", S("a\0b,\0\n\0", 7), {{{S("a\0b", 3), S("\0", 1)}, 2}, {{S("\0", 1)}, 2}}, 2},
      {"quote_equals_delimiter", "'a''b\n", {{{"a'b\n"}, 2}}, 2, Repair::Both, '\''},
      {"space_delimiter_ends_look", "'a'b' c\n", {{{"a'b", "c"}, 2}}, 2, Repair::On, ' '},
  };
}

// Runs `c` with the given quote byte; the apostrophes of the case become that byte.
Parsed expected_with_quote(const Case& c, char quote) {
  Parsed parsed{c.rows, c.final_line};
  for (auto& row : parsed.rows) {
    for (auto& field : row.fields) std::replace(field.begin(), field.end(), '\'', quote);
  }
  return parsed;
}

struct Run {
  Case c;
  char quote;
  bool repair;
};

void PrintTo(const Run& run, std::ostream* os) {
  *os << run.c.name << " quote " << run.quote << " repair " << run.repair;
}

// Every case with both quote characters and each repair setting it holds for.
std::vector<Run> runs() {
  std::vector<Run> all;
  for (const Case& c : cases()) {
    for (char quote : {'\'', '"'}) {
      if (c.repair != Repair::Off) all.push_back({c, quote, true});
      if (c.repair != Repair::On) all.push_back({c, quote, false});
    }
  }
  return all;
}

class ParserCases : public testing::TestWithParam<Run> {};

TEST_P(ParserCases, RowsAndLines) {
  const auto& [c, quote, repair] = GetParam();
  std::string input = c.input;
  std::replace(input.begin(), input.end(), '\'', quote);
  const unsigned char delimiter = c.delimiter == '\'' ? static_cast<unsigned char>(quote) : c.delimiter;
  EXPECT_EQ(parse_all(input, delimiter, static_cast<unsigned char>(quote), repair),
            expected_with_quote(c, quote));
}

INSTANTIATE_TEST_SUITE_P(Table, ParserCases, testing::ValuesIn(runs()), [](const auto& info) {
  return std::string(info.param.c.name) + (info.param.quote == '"' ? "_dq" : "_apos") +
         (info.param.repair ? "_repair" : "_plain");
});

TEST(ResilientParser, HighBytesMatchInsideMultiByteCharacters) {
  // "é" is C3 A9: with A9 as delimiter the character splits into two fields.
  EXPECT_EQ(parse_all("x\xC3\xA9y\n", 0xA9, '"', true),
            (Parsed{{{{"x" + kReplacement, "y"}, 2}}, 2}));
  // With A9 as quote character it opens a field only at a field start.
  EXPECT_EQ(parse_all("\xC3\xA9,\xA9" "a,b\xA9\n", ',', 0xA9, true),
            (Parsed{{{{"\xC3\xA9", "a,b"}, 2}}, 2}));
  // 0x80 as quote: the quoted piece "\x80\xBF\x80" holds a lone continuation byte.
  EXPECT_EQ(parse_all("\x80\xBF\x80,z", ',', 0x80, false),
            (Parsed{{{{kReplacement, "z"}, 1}}, 1}));
}

TEST(ResilientParser, ExhaustedParserReturnsFalseAndChangesNothing) {
  const std::string input = "a,b\n'c\n";
  ResilientParser parser(input, ',', '"', true);
  RowStore store;
  while (parser.next_row(store)) {
  }
  const std::size_t rows = store.row_count();
  const std::size_t line = parser.line_number();
  ASSERT_EQ(rows, 2U);
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(parser.next_row(store));
    EXPECT_EQ(store.row_count(), rows);
    EXPECT_EQ(parser.line_number(), line);
  }
}

TEST(ResilientParser, RowsAppendToAStoreThatAlreadyHoldsRows) {
  RowStore store;
  ResilientParser first("a,b\n", ',', '"', true);
  ResilientParser second("c\n", ',', '"', true);
  ASSERT_TRUE(first.next_row(store));
  ASSERT_TRUE(second.next_row(store));
  EXPECT_EQ(to_strings(store.row(0)), (Fields{"a", "b"}));
  EXPECT_EQ(to_strings(store.row(1)), (Fields{"c"}));
}

// Where a parse of a window resumes: the row that reached the window's end,
// after the empty lines before it, or the end less a CR that may pair with
// an LF of the next window.
struct ResumeCase {
  const char* window;
  std::size_t offset;
  std::size_t line_number;
};

TEST(ResilientParser, ResumePointOfAWindowThatTheInputContinues) {
  const ResumeCase cases[] = {
      {"a,b\nc,d", 4, 2},       // the row that reached the end
      {"a,b\n\n\nc", 6, 4},     // after the empty lines before it
      {"a,b\n\n\r", 5, 3},      // the final CR is given back
      {"a,b\n\r\n", 6, 3},      // a whole CR LF is not
      {"\"x\ny", 0, 1},         // inside a quoted field: the row's start
      {"\xEF\xBB\xBF", 3, 1},    // after a whole byte-order mark
  };
  for (const ResumeCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.window)));
    const std::string_view window(c.window);
    ResilientParser parser(window, ',', '"', true);
    FieldCountSink sink;
    while (parser.next_row(sink) && parser.position() < window.size()) {
    }
    EXPECT_EQ(parser.resume_point().offset, c.offset);
    EXPECT_EQ(parser.resume_point().line_number, c.line_number);
  }
}

TEST(ResilientParser, ContinuesAtARowBoundaryWithItsLineNumber) {
  // The second half of "\xEF\xBB\xBFa\n'b\nc',d\n" goes on at line 2; a
  // byte-order mark is data there.
  ResilientParser parser("'b\nc',d\n\xEF\xBB\xBF", ',', '\'', true,
                         {.line_number = 2, .at_input_start = false});
  RowStore rows;
  ASSERT_TRUE(parser.next_row(rows));
  EXPECT_EQ(to_strings(rows.last_row()), (Fields{"b\nc", "d"}));
  EXPECT_EQ(parser.line_number(), 4u);
  ASSERT_TRUE(parser.next_row(rows));
  EXPECT_EQ(to_strings(rows.last_row()), (Fields{"\xEF\xBB\xBF"}));
}

TEST(ResilientParser, LongRunsKeepAllBytes) {
  const std::string field(100000, 'x');
  const std::string input = field + ",'" + field + "\n" + field + "'\n";
  EXPECT_EQ(parse_all(input, ',', '\'', true),
            (Parsed{{{{field, field + "\n" + field}, 3}}, 3}));
}

// --- randomized comparison with the reference ---

const std::string_view kAlphabet("ab,;'\" \t\n\r\x80\xA9\xC3\xFF\0", 15);
// Few line breaks: long lines reach the eight-byte scanning steps.
const std::string_view kLongLineAlphabet("aaaaaaaabbbbbbbb,,;'\" \t\x80\xA9\xC3\n", 27);

TEST(ResilientParser, AgreesWithReferenceOnRandomInputs) {
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
  for (int iteration = 0; iteration < 30000; ++iteration) {
    // Mostly short inputs; some long enough for the eight-byte scanning steps.
    std::string input = iteration % 10 == 0 ? random_text(rng, kLongLineAlphabet, 400)
                                             : random_text(rng, kAlphabet, 48);
    if (iteration % 7 == 0) input.insert(0, "\xEF\xBB\xBF");
    const auto delimiter = static_cast<unsigned char>(iteration % 3 == 0 ? kAlphabet[pick(rng)] : ',');
    const auto quote = static_cast<unsigned char>(iteration % 5 == 0 ? kAlphabet[pick(rng)] : '\'');
    const bool repair = iteration % 2 == 0;
    ASSERT_EQ(parse_all(input, delimiter, quote, repair),
              reference_parse(input, delimiter, quote, repair))
        << "input " << testing::PrintToString(input) << " delimiter " << int{delimiter}
        << " quote " << int{quote} << " repair " << repair;
  }
}

TEST(QuoteLookahead, AgreesWithReferenceForRisingAndScatteredQueries) {
  std::mt19937 rng(7);
  const std::string_view alphabet("a,' \t\n\r\"", 8);
  const std::string_view long_lines("aaaaaaaaaa,' \t\"\n", 16);
  for (int iteration = 0; iteration < 5000; ++iteration) {
    const std::string input = random_text(rng, (iteration / 2) % 2 == 0 ? alphabet : long_lines, 60);
    const unsigned char delimiter = iteration % 4 == 0 ? '\t' : (iteration % 4 == 1 ? ' ' : ',');
    const unsigned char quote = iteration % 3 == 0 ? '"' : '\'';
    std::vector<std::size_t> queries;
    std::uniform_int_distribution<std::size_t> offset(0, input.size());
    for (int q = 0; q < 20; ++q) queries.push_back(offset(rng));
    if (iteration % 2 == 0) std::sort(queries.begin(), queries.end());  // as the parser asks
    QuoteLookahead lookahead(input, delimiter, quote);
    const reference::ReferenceParser reference(input, delimiter, quote, /*repair_quotes=*/true);
    for (std::size_t p : queries) {
      const bool closes = lookahead.is_closing_quote(p);
      ASSERT_EQ(closes, reference.is_closing_quote(p))
          << testing::PrintToString(input) << " p " << p;
      if (closes) continue;
      // The better end is a quote on p's line that itself qualifies.
      const std::size_t better = lookahead.better_quote();
      ASSERT_GE(better, p);
      ASSERT_LT(better, input.size());
      ASSERT_EQ(static_cast<unsigned char>(input[better]), quote);
      ASSERT_EQ(input.substr(p, better - p).find_first_of("\n\r"), std::string::npos);
      // It is the first quote from p on that is followed, after blanks, by a field end.
      auto qualifies = [&](std::size_t k) { return reference.quote_qualifies(k); };
      ASSERT_TRUE(qualifies(better)) << testing::PrintToString(input) << " p " << p;
      for (std::size_t k = p; k < better; ++k) {
        ASSERT_FALSE(static_cast<unsigned char>(input[k]) == quote && qualifies(k))
            << testing::PrintToString(input) << " p " << p << " k " << k;
      }
    }
  }
}

}  // namespace
}  // namespace vestle
