// Tests of the counting sink: same field counts and blank lines as stored rows.
#include "parser/field_count_sink.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "parser/resilient_parser.h"
#include "parser/row_store.h"
#include "support/reference_blank_line.h"

namespace vestle {
namespace {

struct RowShape {
  std::size_t fields;
  bool blank;
  std::size_t line;
  bool operator==(const RowShape&) const = default;
};

void PrintTo(const RowShape& shape, std::ostream* os) {
  *os << "{" << shape.fields << " fields, blank " << shape.blank << ", line " << shape.line << "}";
}

struct Shapes {
  std::vector<RowShape> rows;
  std::size_t final_line;
  bool operator==(const Shapes&) const = default;
};

void PrintTo(const Shapes& shapes, std::ostream* os) {
  for (const RowShape& row : shapes.rows) PrintTo(row, os);
  *os << " final line " << shapes.final_line;
}

// What the heuristics saw before the sink: rows stored as text, less the
// rows that are a bare line break, which the sink never sees.
Shapes shapes_from_store(std::string_view input, unsigned char delimiter, unsigned char quote,
                         bool repair) {
  ResilientParser parser(input, delimiter, quote, repair);
  RowStore store;
  Shapes shapes;
  for (std::size_t start = parser.position(); parser.next_row(store); start = parser.position()) {
    const RowView row = store.last_row();
    // Quote and delimiter are tested first, so only another line-break byte is bare.
    const auto first = static_cast<unsigned char>(input[start]);
    const bool bare_line_break = (first == '\n' || first == '\r') && first != quote && first != delimiter;
    if (bare_line_break) {
      EXPECT_TRUE(reference::reference_is_blank_row(row));
      continue;
    }
    shapes.rows.push_back({row.size(), reference::reference_is_blank_row(row), parser.line_number()});
  }
  shapes.final_line = parser.line_number();
  return shapes;
}

Shapes shapes_from_sink(std::string_view input, unsigned char delimiter, unsigned char quote,
                        bool repair) {
  ResilientParser parser(input, delimiter, quote, repair);
  FieldCountSink sink;
  Shapes shapes;
  while (parser.next_row(sink)) {
    shapes.rows.push_back({sink.field_count(), sink.row_is_blank(), parser.line_number()});
  }
  shapes.final_line = parser.line_number();
  return shapes;
}

struct BlankCase {
  const char* name;
  std::string input;
  unsigned char quote;
  bool blank;
};

class SingleFieldRows : public testing::TestWithParam<BlankCase> {};

TEST_P(SingleFieldRows, BlankAsDecodedText) {
  const BlankCase& c = GetParam();
  const Shapes shapes = shapes_from_sink(c.input, ',', c.quote, true);
  ASSERT_EQ(shapes.rows.size(), 1U);
  EXPECT_EQ(shapes.rows[0].fields, 1U);
  EXPECT_EQ(shapes.rows[0].blank, c.blank);
  EXPECT_EQ(shapes, shapes_from_store(c.input, ',', c.quote, true));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SingleFieldRows,
    testing::Values(
        BlankCase{"empty_quoted", "\"\"\n", '"', true},
        BlankCase{"spaces_and_controls", " \t\v\f \n", '"', true},
        BlankCase{"no_break_space", "\xC2\xA0\n", '"', true},
        BlankCase{"next_line", "\xC2\x85", '"', true},
        BlankCase{"ideographic_space", "\xE3\x80\x80 \xE1\x9A\x80\n", '"', true},
        BlankCase{"general_punctuation", "\xE2\x80\x80\xE2\x80\x8A\xE2\x80\xA8\xE2\x80\xA9"
                                         "\xE2\x80\xAF\xE2\x81\x9F", '"', true},
        // Each of U+2001..U+2009 alone: a row of all of them is blank only if every one is.
        BlankCase{"en_quad_to_thin_space", "\xE2\x80\x81\xE2\x80\x82\xE2\x80\x83\xE2\x80\x84"
                                           "\xE2\x80\x85\xE2\x80\x86\xE2\x80\x87\xE2\x80\x88"
                                           "\xE2\x80\x89\n", '"', true},
        BlankCase{"quoted_blanks", "\" \xC2\xA0\" \n", '"', true},
        BlankCase{"zero_width_space", "\xE2\x80\x8B\n", '"', false},
        BlankCase{"one_before_line_separator", "\xE2\x80\xA7\n", '"', false},
        BlankCase{"ideographic_comma", "\xE3\x80\x81\n", '"', false},
        BlankCase{"mongolian_vowel_separator", "\xE1\xA0\x8E\n", '"', false},
        BlankCase{"byte_order_mark_inside", " \xEF\xBB\xBF\n", '"', false},
        BlankCase{"nul", std::string("\0\n", 2), '"', false},
        BlankCase{"unit_separator", "\x1F\n", '"', false},
        BlankCase{"replacement_character", "\xEF\xBF\xBD", '"', false},
        BlankCase{"lone_lead_byte", " \xC2\n", '"', false},
        BlankCase{"truncated_at_end", "\xE3\x80", '"', false},
        BlankCase{"lone_continuation", "\xA0", '"', false},
        BlankCase{"lead_then_ascii", "\xC2 ", '"', false},
        BlankCase{"text", " x ", '"', false},
        // A0 as quote: the doubled quote after C2 arrives as a piece of its
        // own, and C2 A0 is still one no-break space.
        BlankCase{"character_split_by_doubled_quote", "\xA0\xC2\xA0\xA0\xA0", 0xA0, true},
        BlankCase{"split_then_stray_byte", "\xA0\xC2\xA0\xA0\x80\xA0", 0xA0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FieldCountSink, RowsOfTwoFieldsAreNeverBlank) {
  EXPECT_EQ(shapes_from_sink(",\n \t, \n\xC2\xA0\n", ',', '"', true),
            (Shapes{{{2, false, 2}, {2, false, 3}, {1, true, 4}}, 4}));
}

TEST(FieldCountSink, BareLineBreaksAreCountedButNotHandedIn) {
  // CR LF is one line; a lone CR and a lone LF are one each.
  const std::string breaks = "\r\n\r\n" + std::string(20, '\n') + "\r";
  EXPECT_EQ(shapes_from_sink(breaks + "a,b\n" + breaks, ',', '"', true),
            (Shapes{{{2, false, 25}}, 48}));
  EXPECT_EQ(shapes_from_sink(breaks, ',', '"', true), (Shapes{{}, 24}));
}

// Pieces that make White_Space characters, pieces of them, and bytes that
// split fields or skip quotes.
const std::vector<std::string> kPieces = {
    "a",  ",", ";", "'", "\"", " ", "\t", "\n", "\r", "\v", "\xC2\xA0", "\xC2\x85",
    "\xE3\x80\x80", "\xE1\x9A\x80", "\xE2\x80\x8A", "\xE2\x80\xAF", "\xE2\x81\x9F",
    "\xE2\x80\x8B", "\xC2", "\xE2\x80", "\x80", "\xA0", "\xFF", std::string(1, '\0')};

std::string random_input(std::mt19937& rng, std::size_t max_pieces) {
  std::uniform_int_distribution<std::size_t> count(0, max_pieces);
  std::uniform_int_distribution<std::size_t> pick(0, kPieces.size() - 1);
  std::string s;
  for (std::size_t i = count(rng); i > 0; --i) s += kPieces[pick(rng)];
  return s;
}

TEST(FieldCountSink, AgreesWithStoredRowsOnRandomInputs) {
  std::mt19937 rng(424242);
  // Line-break bytes as delimiter or quote start fields instead of ending lines.
  const unsigned char delimiters[] = {',', ';', '\t', ' ', 0xA0, '\n', '\r'};
  const unsigned char quotes[] = {'"', '\'', 0xA0, 0x80, ' ', '\n', '\r'};
  for (int iteration = 0; iteration < 20000; ++iteration) {
    const std::string input = random_input(rng, iteration % 10 == 0 ? 200 : 24);
    const unsigned char delimiter = delimiters[static_cast<std::size_t>(iteration) % std::size(delimiters)];
    const unsigned char quote =
        quotes[static_cast<std::size_t>(iteration) / std::size(delimiters) % std::size(quotes)];
    const bool repair = iteration % 3 != 0;
    ASSERT_EQ(shapes_from_sink(input, delimiter, quote, repair),
              shapes_from_store(input, delimiter, quote, repair))
        << "input " << testing::PrintToString(input) << " delimiter " << int{delimiter}
        << " quote " << int{quote} << " repair " << repair;
  }
}

}  // namespace
}  // namespace vestle
