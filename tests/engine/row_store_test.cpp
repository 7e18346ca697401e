// Tests of the compact row storage: building, repair, wide offsets, edits.
#include "parser/row_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parser/utf8.h"
#include "support/row_texts.h"

namespace vestle {
namespace {

using Fields = std::vector<std::string>;

TEST(RowStore, StoresRowsFieldByField) {
  RowStore store;
  append_row(store, {"a", "", "ccc"});
  append_row(store, {""});
  store.append_bytes("x", 1);
  store.append_bytes("yz", 2);
  store.finish_field();
  store.finish_row();
  EXPECT_EQ(rows_of(store), (std::vector<Fields>{{"a", "", "ccc"}, {""}, {"xyz"}}));
  EXPECT_EQ(store.row(0).text(), "accc");
  EXPECT_EQ(store.row(0).size(), 3U);
  EXPECT_EQ(store.last_row().text(), "xyz");
  EXPECT_FALSE(store.is_wide());
}

struct RepairCase {
  const char* name;
  std::string bytes;
  std::string text;
};

class FinishFieldRepair : public testing::TestWithParam<RepairCase> {};

TEST_P(FinishFieldRepair, FieldTextIsLossyDecoded) {
  RowStore store;
  append_row(store, {"before", GetParam().bytes, "after"});
  append_row(store, {"next"});
  EXPECT_EQ(rows_of(store), (std::vector<Fields>{{"before", GetParam().text, "after"}, {"next"}}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FinishFieldRepair,
    testing::Values(RepairCase{"ascii", "plain", "plain"},
                    RepairCase{"valid_multibyte", "caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
                    RepairCase{"bad_in_middle", "a\xFF" "b", "a\xEF\xBF\xBD" "b"},
                    RepairCase{"truncated_at_end", "0123456789\xF0\x9F\x98", "0123456789\xEF\xBF\xBD"},
                    RepairCase{"only_bad", "\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RowStore, FinishRowDropsAnUnfinishedField) {
  RowStore store;
  store.append_bytes("kept", 4);
  store.finish_field();
  store.append_bytes("lost", 4);
  store.finish_row();
  append_row(store, {"b"});
  EXPECT_EQ(rows_of(store), (std::vector<Fields>{{"kept"}, {"b"}}));
}

TEST(RowStore, SwitchesToWideOffsetsAndKeepsEveryRow) {
  RowStore store(8);
  append_row(store, {"ab", "cd"});
  append_row(store, {"", "12345678"});  // exactly the limit: still narrow
  EXPECT_FALSE(store.is_wide());
  append_row(store, {"123456", "789"});  // 9 bytes: wide from here on
  EXPECT_TRUE(store.is_wide());
  append_row(store, {"x", ""});
  EXPECT_EQ(rows_of(store),
            (std::vector<Fields>{{"ab", "cd"}, {"", "12345678"}, {"123456", "789"}, {"x", ""}}));
}

TEST(RowStore, MergeTailJoinsWithSeparator) {
  RowStore store;
  append_row(store, {"first"});
  append_row(store, {"a", "bb", "", "dddd"});
  store.merge_tail(1, ",");
  EXPECT_EQ(to_strings(store.last_row()), (Fields{"a", "bb,,dddd"}));
  // Rows built afterwards land behind the grown row.
  append_row(store, {"z", "y"});
  EXPECT_EQ(rows_of(store), (std::vector<Fields>{{"first"}, {"a", "bb,,dddd"}, {"z", "y"}}));
}

TEST(RowStore, MergeTailWithTwoByteSeparatorFromFirstField) {
  RowStore store;
  append_row(store, {"x", "y", "z"});
  store.merge_tail(0, byte_text(0xA7).view());
  EXPECT_EQ(to_strings(store.last_row()), (Fields{"x\xC2\xA7y\xC2\xA7z"}));
}

TEST(RowStore, MergeTailOfFewerThanTwoFieldsChangesNothing) {
  RowStore store;
  append_row(store, {"a", "b"});
  store.merge_tail(1, ",");
  store.merge_tail(2, ",");
  EXPECT_EQ(to_strings(store.last_row()), (Fields{"a", "b"}));
}

TEST(RowStore, MergeTailCanMakeTheStoreWide) {
  RowStore store(6);
  append_row(store, {"ab", "cd", "ef"});
  EXPECT_FALSE(store.is_wide());
  store.merge_tail(0, "--");
  EXPECT_TRUE(store.is_wide());
  append_row(store, {"g"});
  EXPECT_EQ(rows_of(store), (std::vector<Fields>{{"ab--cd--ef"}, {"g"}}));
}

TEST(RowStore, AppendEmptyFieldsPadsTheLastRow) {
  RowStore store;
  append_row(store, {"a", "b"});
  append_row(store, {"c"});
  store.append_empty_fields(3);
  store.append_empty_fields(0);
  append_row(store, {"d"});
  EXPECT_EQ(rows_of(store), (std::vector<Fields>{{"a", "b"}, {"c", "", "", ""}, {"d"}}));
}

TEST(RowStore, PopRowRemovesOnlyTheLastRow) {
  RowStore store;
  store.pop_row();  // nothing to drop
  append_row(store, {"a", "b"});
  append_row(store, {"gone", "too"});
  store.pop_row();
  append_row(store, {"c"});
  EXPECT_EQ(rows_of(store), (std::vector<Fields>{{"a", "b"}, {"c"}}));
  store.pop_row();
  store.pop_row();
  EXPECT_EQ(store.row_count(), 0U);
}

TEST(RowStore, AppendRowCopiesBetweenNarrowAndWideStores) {
  RowStore narrow;
  RowStore wide(4);
  append_row(narrow, {"abc", "de"});
  append_row(wide, {"long field", "x"});
  ASSERT_TRUE(wide.is_wide());

  wide.append_row(narrow.row(0));
  narrow.append_row(wide.row(0));
  EXPECT_FALSE(narrow.is_wide());
  EXPECT_EQ(rows_of(wide), (std::vector<Fields>{{"long field", "x"}, {"abc", "de"}}));
  EXPECT_EQ(rows_of(narrow), (std::vector<Fields>{{"abc", "de"}, {"long field", "x"}}));

  RowStore small(4);
  small.append_row(narrow.row(1));  // a row past the limit widens the copy
  EXPECT_TRUE(small.is_wide());
  EXPECT_EQ(to_strings(small.row(0)), (Fields{"long field", "x"}));
}

TEST(RowStore, AppendRowFromItselfSurvivesGrowth) {
  RowStore store;
  append_row(store, {std::string(100, 'p'), "q"});
  for (int i = 0; i < 200; ++i) store.append_row(store.row(static_cast<std::size_t>(i)));
  ASSERT_EQ(store.row_count(), 201U);
  for (std::size_t i = 0; i < store.row_count(); ++i) {
    ASSERT_EQ(to_strings(store.row(i)), (Fields{std::string(100, 'p'), "q"}));
  }
}

TEST(RowStore, ClearKeepsCapacityAndStartsOver) {
  RowStore store;
  for (int i = 0; i < 1000; ++i) append_row(store, {"field", std::to_string(i)});
  const std::size_t memory = store.memory_bytes();
  EXPECT_GE(memory, 1000U * 6);
  store.clear();
  EXPECT_EQ(store.row_count(), 0U);
  EXPECT_EQ(store.memory_bytes(), memory);
  append_row(store, {"new"});
  EXPECT_EQ(rows_of(store), (std::vector<Fields>{{"new"}}));
}


// Large stores live in their own mappings; giving back the pages of read
// rows must leave every later row intact, whatever the field widths.
TEST(RowStore, ReleasingReadRowsKeepsTheRest) {
  RowStore store;
  std::vector<Fields> expected;
  for (int i = 0; i < 60000; ++i) {
    Fields row{std::to_string(i), std::string(static_cast<std::size_t>(i % 37), 'z'), "tail"};
    append_row(store, row);
    expected.push_back(std::move(row));
  }
  ASSERT_GE(store.memory_bytes(), kLargeBufferThreshold);
  for (std::size_t end : {std::size_t{0}, std::size_t{1}, std::size_t{4096}, std::size_t{30001},
                          std::size_t{59999}}) {
    store.release_rows_before(end);
    for (std::size_t i = end; i < store.row_count(); i += 997) {
      ASSERT_EQ(to_strings(store.row(i)), expected[i]) << "after releasing " << end;
    }
    ASSERT_EQ(to_strings(store.last_row()), expected.back());
  }
  EXPECT_EQ(store.row_count(), 60000U);
}

TEST(RowStore, ReservingMoreKeepsRowsAndGrowsCapacity) {
  RowStore store;
  append_row(store, {"a", "b"});
  store.reserve_more(1000, 5000);
  EXPECT_GE(store.row_capacity(), 1001U);
  EXPECT_GE(store.field_capacity(), 5002U);
  EXPECT_EQ(rows_of(store), (std::vector<Fields>{{"a", "b"}}));
}

}  // namespace
}  // namespace vestle
