// Tests for delimiter sniffing and the candidate score.
#include "heuristics/delimiter_sniffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "heuristics/delimiter_score.h"
#include "heuristics/field_count_tally.h"
#include "support/text_samples.h"

namespace vestle {
namespace {

struct SniffCase {
  const char* name;
  std::string sample;
  unsigned char expected;
  unsigned char quote_char = '"';
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const SniffCase& c, std::ostream* out) { *out << c.name; }

class SniffDelimiterTest : public testing::TestWithParam<SniffCase> {};

TEST_P(SniffDelimiterTest, ChoosesDelimiter) {
  const SniffCase& c = GetParam();
  EXPECT_EQ(sniff_delimiter(c.sample, c.quote_char), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Samples, SniffDelimiterTest,
    testing::Values(
        SniffCase{"Empty", "", ','},
        SniffCase{"SingleLine", "a;b;c", ','},
        SniffCase{"SingleLineWithBreak", "a;b;c\n", ','},
        SniffCase{"TwoSemicolonRows", "a;b\n1;2\n", ';'},
        SniffCase{"NothingSplits", "abc\ndef\nghi\n", ','},
        SniffCase{"MoreFieldsWin", "a,b;c;d\na,b;c;d\n", ';'},
        SniffCase{"ConsistencyBeatsWidth", repeated("a,b,c;d\n", 9) + "a,b,c,e;d\n", ';'},
        SniffCase{"EqualScoreKeepsEarlier", "a,b;c\n1,2;3\n", ','},
        SniffCase{"EqualScoreTabBeforeBar", "a|b\tc\n1|2\t3\n", '\t'},
        SniffCase{"BarAlone", "a|b|c\n1|2|3\n", '|'},
        SniffCase{"DelimitersInsideQuotes", "\"x;y;z\",1\n\"x;y;z\",2\n", ','},
        SniffCase{"BlankLinesIgnored", "a;b\n\n   \n1;2\n\r\n", ';'},
        SniffCase{"FirstFiftyRowsOnly", repeated("a;b\n", 50) + repeated("a,b,c\n", 100), ';'},
        SniffCase{"ByteOrderMarkOnly", "\xEF\xBB\xBF", ','},
        SniffCase{"ByteOrderMarkThenRows", "\xEF\xBB\xBF" "a;b\n1;2\n", ';'},
        SniffCase{"InvalidUtf8", "\xFF;\xFE\n\xC3;\x80\n", ';'},
        SniffCase{"ApostropheQuotes", "'x;y;z',1\n'x;y;z',2\n", ',', '\''},
        SniffCase{"ApostropheIsDataForDoubleQuote", "'x;y;z',1\n'x;y;z',2\n", ';'}),
    [](const testing::TestParamInfo<SniffCase>& info) { return std::string(info.param.name); });

struct ScoreCase {
  const char* name;
  std::string sample;
  unsigned char delimiter;
  double expected;
};

void PrintTo(const ScoreCase& c, std::ostream* out) { *out << c.name; }

class ScoreDelimiterTest : public testing::TestWithParam<ScoreCase> {};

TEST_P(ScoreDelimiterTest, Scores) {
  const ScoreCase& c = GetParam();
  EXPECT_DOUBLE_EQ(score_delimiter(c.sample, c.delimiter, '"'), c.expected);
}

const double kLn3 = std::log(3.0);

INSTANTIATE_TEST_SUITE_P(
    Samples, ScoreDelimiterTest,
    testing::Values(
        ScoreCase{"TwoFieldsScoreOne", "a;b\n1;2\n", ';', 1.0},
        ScoreCase{"ThreeFields", "a;b;c\n1;2;3\n", ';', 1.0986122886681098},
        ScoreCase{"FiveFields", "a;b;c;d;e\n1;2;3;4;5\n", ';', 1.6094379124341003},
        ScoreCase{"NineOfTen", repeated("a,b,c;d\n", 9) + "a,b,c,e;d\n", ',', 0.9 * kLn3},
        ScoreCase{"SingleFieldRowsDilute", repeated("x\n", 30) + repeated("a;b;c\n", 20), ';',
                  20.0 / 50.0 * kLn3},
        // Rows past the fiftieth counted one are not read.
        ScoreCase{"FiftyRowLimit", repeated("x\n", 30) + repeated("a;b;c\n", 20) + repeated("a;b\n", 40),
                  ';', 20.0 / 50.0 * kLn3},
        // Blank lines neither dilute nor use up the limit.
        ScoreCase{"BlankLinesNotCounted", repeated("a;b\n\n", 40) + repeated("x;y;z\n", 20), ';',
                  40.0 / 50.0},
        ScoreCase{"WhiteSpaceLineIsBlank", "a;b\n \t\xC2\xA0\xE3\x80\x80\n1;2\n", ';', 1.0},
        // For the tab candidate a lone tab splits into two empty fields.
        ScoreCase{"TabLineNotBlankForTab", "a;b\n\t\n1;2\n", '\t', 1.0 / 3.0},
        ScoreCase{"DelimiterOnlyLineCounts", ",,\n,,\n", ',', kLn3},
        ScoreCase{"ByteOrderMarkNotInData", "\xEF\xBB\xBF\na;b\n1;2\n", ';', 1.0},
        ScoreCase{"QuotedLineBreakDoesNotSplit", "\"a\nb\";c\n\"d\ne\";f\n", ';', 1.0},
        ScoreCase{"OneRowScoresZero", "a;b;c\n", ';', 0.0},
        ScoreCase{"OnlySingleFieldRows", "a\nb\nc\n", ';', 0.0},
        // Equally frequent counts: the one met first is the mode.
        ScoreCase{"TieTakesFirstTwo", "a;b\na;b;c\n", ';', 0.5},
        ScoreCase{"TieTakesFirstThree", "a;b;c\na;b\n", ';', 0.5 * kLn3}),
    [](const testing::TestParamInfo<ScoreCase>& info) { return std::string(info.param.name); });

struct TallyCase {
  const char* name;
  std::vector<std::size_t> field_counts;
  double expected;
};

void PrintTo(const TallyCase& c, std::ostream* out) { *out << c.name; }

class ScoreFieldCountsTest : public testing::TestWithParam<TallyCase> {};

TEST_P(ScoreFieldCountsTest, Scores) {
  FieldCountTally tally;
  for (const std::size_t count : GetParam().field_counts) tally.add(count);
  EXPECT_DOUBLE_EQ(score_field_counts(tally), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Tallies, ScoreFieldCountsTest,
    testing::Values(TallyCase{"Empty", {}, 0.0},
                    TallyCase{"OneRow", {4}, 0.0},
                    TallyCase{"OnlyOnes", {1, 1, 1}, 0.0},
                    TallyCase{"OnesNeverTheMode", {1, 1, 1, 2}, 0.25},
                    TallyCase{"MostFrequentWins", {3, 2, 2, 3, 2}, 0.6},
                    TallyCase{"TieFirstMet", {5, 3, 3, 5}, 0.5 * 1.6094379124341003}),
    [](const testing::TestParamInfo<TallyCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vestle
