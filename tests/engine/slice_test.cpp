// Tests for the in-memory repair: settling the format and reconciling rows.
#include "repair/slice.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "heuristics/column_count.h"
#include "heuristics/delimiter_sniffer.h"
#include "parser/row_store.h"
#include "support/quarantine_lines.h"
#include "support/reference_reconciler.h"
#include "support/row_texts.h"

namespace vestle {

// GoogleTest finds printers by argument-dependent lookup, hence the model's namespace; static
// keeps this one to this file.
namespace reference {
static std::ostream& operator<<(std::ostream& out, const SetAsideRow& r) {
  out << "{line " << r.line << ", " << r.reason << ", " << ::testing::PrintToString(r.fields) << "}";
  return out;
}
}  // namespace reference

namespace {

using Fields = std::vector<std::string>;
using Rows = std::vector<Fields>;

using Rejected = reference::SetAsideRow;

std::vector<Rejected> quarantine_of(const Quarantine& quarantine) {
  std::vector<Rejected> out;
  for (std::size_t i = 0; i < quarantine.size(); ++i) {
    const QuarantineRecord record = quarantine.record(i);
    out.push_back(Rejected{to_strings(record.raw_fields), record.reason, record.line});
  }
  return out;
}

void expect_stats(const VestleStats& actual, const VestleStats& expected) {
  EXPECT_EQ(actual.detected_delimiter, expected.detected_delimiter);
  EXPECT_EQ(actual.total_rows, expected.total_rows);
  EXPECT_EQ(actual.vestled_rows, expected.vestled_rows);
  EXPECT_EQ(actual.repaired_rows, expected.repaired_rows);
  EXPECT_EQ(actual.quarantined_rows, expected.quarantined_rows);
  EXPECT_EQ(actual.inferred_columns, expected.inferred_columns);
}

VestleOptions columns(std::optional<std::size_t> expected, bool fill = true, bool merge = true) {
  VestleOptions options;
  options.expected_columns = expected;
  options.fill_ragged_rows = fill;
  options.merge_overflow = merge;
  return options;
}

VestleOptions with_delimiter(VestleOptions options, unsigned char delimiter) {
  options.delimiter = delimiter;
  return options;
}

VestleOptions with_quote(VestleOptions options, unsigned char quote_char, bool repair = true) {
  options.quote_char = quote_char;
  options.repair_quotes = repair;
  return options;
}

const std::string kTooFew3 = testing::too_few_columns(3);
const std::string kExtra3 = testing::extra_columns(3);
const std::string kExtra2 = testing::extra_columns(2);

struct SliceCase {
  const char* name;
  std::string input;
  VestleOptions options;
  Rows rows;
  std::vector<Rejected> quarantine;
  VestleStats stats;  // detected, total, vestled, repaired, quarantined, columns
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const SliceCase& c, std::ostream* out) { *out << c.name; }

class VestleSliceTest : public ::testing::TestWithParam<SliceCase> {};

TEST_P(VestleSliceTest, Reconciles) {
  const SliceCase& c = GetParam();
  const VestleOutcome outcome = vestle_slice(c.input, c.options);
  EXPECT_EQ(rows_of(outcome.rows), c.rows);
  EXPECT_EQ(quarantine_of(outcome.quarantine), c.quarantine);
  expect_stats(outcome.stats, c.stats);
}

INSTANTIATE_TEST_SUITE_P(
    DecisionTable, VestleSliceTest,
    ::testing::Values(
        SliceCase{"Pass", "a,b,c\n1,2,3\n", columns(std::nullopt),
                  {{"a", "b", "c"}, {"1", "2", "3"}}, {}, {',', 2, 2, 0, 0, 3}},
        SliceCase{"PadShortRow", "a,b,c\na\n", columns(3),
                  {{"a", "b", "c"}, {"a", "", ""}}, {}, {',', 2, 2, 1, 0, 3}},
        SliceCase{"QuarantineShortRow", "a,b,c\na\n", columns(3, false),
                  {{"a", "b", "c"}}, {{{"a"}, kTooFew3, 3}}, {',', 2, 1, 0, 1, 3}},
        SliceCase{"MergeLongRow", "a,b,c\na,b,c,d\n", columns(3),
                  {{"a", "b", "c"}, {"a", "b", "c,d"}}, {}, {',', 2, 2, 1, 0, 3}},
        SliceCase{"QuarantineLongRow", "a,b,c\na,b,c,d\n", columns(3, true, false),
                  {{"a", "b", "c"}}, {{{"a", "b", "c", "d"}, kExtra3, 3}}, {',', 2, 1, 0, 1, 3}},
        SliceCase{"MergeOnlyDoesNotFill", "a,b,c\na\na,b,c,d\n", columns(3, false, true),
                  {{"a", "b", "c"}, {"a", "b", "c,d"}}, {{{"a"}, kTooFew3, 3}},
                  {',', 3, 2, 1, 1, 3}},
        SliceCase{"ReasonCarriesExpectedCountOnly", "a\n", columns(12, false),
                  {}, {{{"a"}, testing::too_few_columns(12), 2}}, {',', 1, 0, 0, 1, 12}},
        SliceCase{"QuarantineKeepsOrder", "a,b\nx\nc,d\ny,z,w\ne,f\n", columns(2, false, false),
                  {{"a", "b"}, {"c", "d"}, {"e", "f"}},
                  {{{"x"}, testing::too_few_columns(2), 3}, {{"y", "z", "w"}, kExtra2, 5}},
                  {',', 5, 3, 0, 2, 2}},
        SliceCase{"ExpectedZeroKeepsRows", "a\nb,c,d\n\n", columns(0, false, false),
                  {{"a"}, {"b", "c", "d"}, {""}}, {}, {',', 3, 3, 0, 0, 0}},
        SliceCase{"InferredZeroKeepsRows", "\n  \n\r\n", columns(std::nullopt, false, false),
                  {{""}, {"  "}, {""}}, {}, {',', 3, 3, 0, 0, 0}},
        SliceCase{"BlankRowFilled", "a,b,c\n\n1,2,3\n", columns(std::nullopt),
                  {{"a", "b", "c"}, {"", "", ""}, {"1", "2", "3"}}, {}, {',', 3, 3, 1, 0, 3}},
        SliceCase{"BlankRowQuarantined", "a,b,c\n\n1,2,3\n", columns(std::nullopt, false),
                  {{"a", "b", "c"}, {"1", "2", "3"}}, {{{""}, kTooFew3, 3}}, {',', 3, 2, 0, 1, 3}},
        SliceCase{"LineAfterFinalBreak", "a,b\n1,2,3\n", columns(2, true, false),
                  {{"a", "b"}}, {{{"1", "2", "3"}, kExtra2, 3}}, {',', 2, 1, 0, 1, 2}},
        SliceCase{"LineWithoutFinalBreak", "a,b\n1,2,3", columns(2, true, false),
                  {{"a", "b"}}, {{{"1", "2", "3"}, kExtra2, 2}}, {',', 2, 1, 0, 1, 2}},
        SliceCase{"LineAfterQuotedBreak", "a,b\n\"x\ny\",2,3\nc,d\n", columns(2, true, false),
                  {{"a", "b"}, {"c", "d"}}, {{{"x\ny", "2", "3"}, kExtra2, 4}}, {',', 3, 2, 0, 1, 2}},
        SliceCase{"MergeJoinsWithTwoByteDelimiter", "a\xC3" "b\xC3" "c\n",
                  with_delimiter(columns(2), 0xC3),
                  {{"a", "b\xC3\x83" "c"}}, {}, {0xC3, 1, 1, 1, 0, 2}},
        SliceCase{"MergeIntoOneColumn", "a,b,c\nd\n\ne,f\n", columns(1),
                  {{"a,b,c"}, {"d"}, {""}, {"e,f"}}, {}, {',', 4, 4, 2, 0, 1}},
        SliceCase{"MergeKeepsEmptyFields", "a,,b,\n", columns(2),
                  {{"a", ",b,"}}, {}, {',', 1, 1, 1, 0, 2}},
        SliceCase{"EmptyInputIgnoresOptions", "",
                  with_delimiter(columns(5, false, false), ';'), {}, {}, {',', 0, 0, 0, 0, 0}},
        SliceCase{"ByteOrderMarkOnly", "\xEF\xBB\xBF", columns(std::nullopt),
                  {}, {}, {',', 0, 0, 0, 0, 0}},
        SliceCase{"ByteOrderMarkOnlyWithOptions", "\xEF\xBB\xBF",
                  with_delimiter(columns(4), ';'), {}, {}, {';', 0, 0, 0, 0, 4}},
        SliceCase{"SniffedDelimiter", "a;b;c\n1;2;3\n", columns(std::nullopt),
                  {{"a", "b", "c"}, {"1", "2", "3"}}, {}, {';', 2, 2, 0, 0, 3}},
        // Sniffing would choose the comma (3 columns); the given semicolon gives 2.
        SliceCase{"GivenDelimiterDrivesInference", "a,b,c;x\na,b,c;y\na,b,c\n",
                  with_delimiter(columns(std::nullopt), ';'),
                  {{"a,b,c", "x"}, {"a,b,c", "y"}, {"a,b,c", ""}}, {}, {';', 3, 3, 1, 0, 2}},
        SliceCase{"QuoteRepairOn", "\"He said \"hi\" there\",next\n", columns(2),
                  {{"He said \"hi\" there", "next"}}, {}, {',', 1, 1, 0, 0, 2}},
        SliceCase{"QuoteRepairOff", "\"He said \"hi\" there\",next\n",
                  with_quote(columns(2), '"', false),
                  {{"He said hi\" there\"", "next"}}, {}, {',', 1, 1, 0, 0, 2}},
        // The heuristics split with the run's quote character, not the double quote.
        SliceCase{"ApostropheQuotedCommas",
                  "'Smith, John',42,'Paris, FR'\n'Doe, Jane',37,'Rome, IT'\n'Roe, Rick',51,Oslo\n",
                  with_quote(columns(std::nullopt, false, false), '\''),
                  {{"Smith, John", "42", "Paris, FR"}, {"Doe, Jane", "37", "Rome, IT"},
                   {"Roe, Rick", "51", "Oslo"}},
                  {}, {',', 3, 3, 0, 0, 3}},
        SliceCase{"ApostropheQuotedSemicolons", "'a;b;c;d',x\n'e;f;g;h',y\n",
                  with_quote(columns(std::nullopt, false, false), '\''),
                  {{"a;b;c;d", "x"}, {"e;f;g;h", "y"}}, {}, {',', 2, 2, 0, 0, 2}}),
    [](const ::testing::TestParamInfo<SliceCase>& info) { return std::string(info.param.name); });

// --- randomized invariants --------------------------------------------------

std::string damaged_csv(std::mt19937& rng) {
  static const char* const kPieces[] = {
      "a", "bc", "12", ",", ",", ";", "\t", "|", "\"", "\"", "'", "\n", "\n", "\r\n", "\r",
      " ", "\xC3", "\xA9", "\xC3\xA9", "\xFF", "\xE2\x82\xAC", "\"\"", ",\"x,y\","};
  std::uniform_int_distribution<std::size_t> piece(0, std::size(kPieces) - 1);
  std::uniform_int_distribution<int> length(0, 120);
  std::string out = rng() % 8 == 0 ? "\xEF\xBB\xBF" : "";
  for (int n = length(rng); n > 0; --n) out += kPieces[piece(rng)];
  return out;
}

VestleOptions random_options(std::mt19937& rng) {
  static const unsigned char kDelimiters[] = {',', ';', '\t', '|', 0xC3, '"'};
  VestleOptions options;
  if (rng() % 2 == 0) options.delimiter = kDelimiters[rng() % std::size(kDelimiters)];
  options.quote_char = rng() % 3 == 0 ? '\'' : '"';
  options.fill_ragged_rows = rng() % 2 == 0;
  options.merge_overflow = rng() % 2 == 0;
  if (rng() % 2 == 0) options.expected_columns = rng() % 6;
  options.repair_quotes = rng() % 4 != 0;
  return options;
}

TEST(VestleSliceRandomTest, DamagedInputsKeepInvariants) {
  std::mt19937 rng(20240611);
  for (int iteration = 0; iteration < 3000; ++iteration) {
    const std::string input = damaged_csv(rng);
    const VestleOptions options = random_options(rng);
    SCOPED_TRACE(::testing::Message() << "iteration " << iteration << " input "
                                    << ::testing::PrintToString(input));
    const VestleOutcome outcome = vestle_slice(input, options);
    const VestleStats& stats = outcome.stats;

    EXPECT_EQ(stats.total_rows, stats.vestled_rows + stats.quarantined_rows);
    EXPECT_EQ(stats.vestled_rows, outcome.rows.row_count());
    EXPECT_EQ(stats.quarantined_rows, outcome.quarantine.size());
    EXPECT_LE(stats.repaired_rows, stats.vestled_rows);
    if (stats.inferred_columns > 0) {
      for (std::size_t i = 0; i < outcome.rows.row_count(); ++i) {
        ASSERT_EQ(outcome.rows.row(i).size(), stats.inferred_columns) << "row " << i;
      }
    }
    if (input.empty()) {
      EXPECT_EQ(stats.detected_delimiter, ',');
      EXPECT_EQ(stats.total_rows, 0u);
      EXPECT_EQ(stats.inferred_columns, 0u);
      continue;
    }

    const unsigned char delimiter =
        options.delimiter ? *options.delimiter : sniff_delimiter(input, options.quote_char);
    const std::size_t n = options.expected_columns
                              ? *options.expected_columns
                              : infer_column_count(input, delimiter, options.quote_char);
    ASSERT_EQ(stats.detected_delimiter, delimiter);
    ASSERT_EQ(stats.inferred_columns, n);
    const reference::ReferenceOutcome ref =
        reference::reference_reconcile(input, options, delimiter, n);
    EXPECT_EQ(rows_of(outcome.rows), ref.kept);
    EXPECT_EQ(quarantine_of(outcome.quarantine), ref.set_aside);
    EXPECT_EQ(stats.repaired_rows, ref.repaired);
    if (::testing::Test::HasFailure()) break;
  }
}

}  // namespace
}  // namespace vestle
