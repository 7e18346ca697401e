// Tests for inferring the expected column count.
#include "heuristics/column_count.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "support/text_samples.h"

namespace vestle {
namespace {

struct ColumnCase {
  const char* name;
  std::string data;
  unsigned char delimiter;
  std::size_t expected;
  unsigned char quote_char = '"';
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const ColumnCase& c, std::ostream* out) { *out << c.name; }

class InferColumnCountTest : public testing::TestWithParam<ColumnCase> {};

TEST_P(InferColumnCountTest, Infers) {
  const ColumnCase& c = GetParam();
  EXPECT_EQ(infer_column_count(c.data, c.delimiter, c.quote_char), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Samples, InferColumnCountTest,
    testing::Values(
        ColumnCase{"Empty", "", ',', 0},
        ColumnCase{"OnlyBlankLines", "\n\r\n   \n\t\n\r", ',', 0},
        ColumnCase{"SingleRow", "a,b,c", ',', 3},
        ColumnCase{"MostFrequentWins", "a,b,c\n1,2\n3,4\n5,6,7\n8,9,10\n", ',', 3},
        ColumnCase{"OtherDelimiterGivesOne", "a,b,c\n1,2,3\n", ';', 1},
        ColumnCase{"OneColumnCompetes", "a\nb\nc,d\n", ',', 1},
        ColumnCase{"FirstHundredRowsOnly", repeated("a,b,c\n", 100) + repeated("a,b,c,d\n", 150), ',', 3},
        ColumnCase{"BlankLinesDoNotUseLimit", repeated("a,b,c\n\n", 100) + repeated("a,b,c,d\n", 150), ',',
                   3},
        // A tie at exactly 100 rows; one row more or less on either side breaks it.
        ColumnCase{"LimitIsExactlyHundred",
                   repeated("a,b\n", 49) + repeated("a,b,c\n", 50) + "a,b\n" + repeated("a,b,c\n", 2), ',', 2},
        ColumnCase{"DelimiterInsideQuotes", "\"a,b\",c\n\"d,e\",f\n", ',', 2},
        ColumnCase{"QuotedLineBreak", "\"a\nb\",c\n\"d\ne\",f\nx,y,z\n", ',', 2},
        ColumnCase{"DelimiterOnlyLines", "a,b\n,,\n,,\n", ',', 3},
        ColumnCase{"ByteOrderMarkOnly", "\xEF\xBB\xBF", ',', 0},
        ColumnCase{"ByteOrderMarkThenBlank", "\xEF\xBB\xBF\n\n", ',', 0},
        ColumnCase{"ByteOrderMarkThenRows", "\xEF\xBB\xBF" "a,b\n", ',', 2},
        ColumnCase{"InvalidUtf8", "\xFF,\xFE\n\xC3,\x80\n", ',', 2},
        ColumnCase{"HighDelimiterByte", "a\xC3" "b\xC3" "c\n", 0xC3, 3},
        // Equally frequent counts: the one met first.
        ColumnCase{"TieTakesFirstTwo", "a,b\na,b,c\nd,e\nd,e,f\n", ',', 2},
        ColumnCase{"TieTakesFirstThree", "a,b,c\na,b\nd,e,f\nd,e\n", ',', 3},
        ColumnCase{"ApostropheQuotes", "'a,b',c\n'd,e',f\n", ',', 2, '\''},
        ColumnCase{"ApostropheIsDataForDoubleQuote", "'a,b',c\n'd,e',f\n", ',', 3}),
    [](const testing::TestParamInfo<ColumnCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vestle
