// Rows written by RowWriter split back into their fields, over block edges and quoted runs.
#include "writer/written_rows.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "io/buffered_writer.h"
#include "memory/growing_buffer.h"
#include "parser/row_store.h"
#include "parser/utf8.h"
#include "writer/csv_writers.h"

namespace vestle {
namespace {

TEST(WrittenRows, OnlyDistinctAsciiNonBreakTextsReadBack) {
  EXPECT_TRUE(rows_read_back(',', '"'));
  EXPECT_TRUE(rows_read_back('\t', '\''));
  EXPECT_FALSE(rows_read_back(',', ','));
  EXPECT_FALSE(rows_read_back('\n', '"'));
  EXPECT_FALSE(rows_read_back(',', '\r'));
  EXPECT_FALSE(rows_read_back(0xA7, '"'));
  EXPECT_FALSE(rows_read_back(',', 0xC3));
}

// Fields of every kind the writer quotes or not, long enough to cross the
// splitter's 64-byte blocks anywhere.
std::string random_field(std::mt19937& random, unsigned char delimiter, unsigned char quote) {
  const std::vector<std::string> pieces = {
      "a", "0123456789", std::string(1, static_cast<char>(delimiter)),
      std::string(1, static_cast<char>(quote)), std::string(2, static_cast<char>(quote)), "\n",
      "\r", " ", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", std::string(70, 'x')};
  std::uniform_int_distribution<std::size_t> count(0, 12);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::string field;
  for (std::size_t n = count(random); n > 0; --n) field += pieces[pick(random)];
  return field;
}

TEST(WrittenRows, RandomRowsSplitBackAsWritten) {
  struct Texts {
    unsigned char delimiter;
    unsigned char quote;
  };
  std::mt19937 random(20261208);
  for (const Texts texts : {Texts{',', '"'}, Texts{'\t', '\''}, Texts{'|', 'x'}}) {
    std::vector<std::vector<std::string>> rows;
    RowStore store;
    std::uniform_int_distribution<std::size_t> width(0, 9);
    for (int r = 0; r < 400; ++r) {
      std::vector<std::string>& row = rows.emplace_back(width(random));
      for (std::string& field : row) {
        field = random_field(random, texts.delimiter, texts.quote);
        store.append_bytes(field.data(), field.size());
        store.finish_field();
      }
      store.finish_row();
    }
    GrowingBuffer memory;
    {
      BufferedWriter out(memory, 100);
      ASSERT_TRUE(write_rows(out, store, texts.delimiter, texts.quote) && out.flush());
    }
    const std::string_view written = memory.view();
    const WrittenRowReader reader(texts.delimiter, texts.quote);
    FieldList fields;
    std::size_t at = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      ASSERT_LT(at, written.size()) << "row " << r;
      at = reader.read_row(written, at, fields);
      ASSERT_EQ(fields.size(), rows[r].size()) << "row " << r;
      for (std::size_t i = 0; i < fields.size(); ++i) {
        ASSERT_EQ(fields[i], rows[r][i]) << "row " << r << " field " << i;
        ASSERT_EQ(fields.is_ascii(i), is_ascii(rows[r][i])) << "row " << r << " field " << i;
      }
    }
    EXPECT_EQ(at, written.size());
  }
}

// Text not in written form (an unclosed quote, bytes after a closing quote,
// no final LF) still reads as rows and ends at the text's end.
TEST(WrittenRows, MalformedTextStaysInBounds) {
  const WrittenRowReader reader(',', '"');
  FieldList fields;
  for (const std::string text : {"\"open", "\"a\"b,c", "a,\"b\"\"", "a,", ",", "\"\"\"", "a\"b"}) {
    std::size_t rows = 0;
    for (std::size_t at = 0; at < text.size(); ++rows) {
      const std::size_t next = reader.read_row(text, at, fields);
      ASSERT_GT(next, at) << text;
      ASSERT_LE(next, text.size()) << text;
      for (std::size_t i = 0; i < fields.size(); ++i) ASSERT_LE(fields[i].size(), text.size());
      at = next;
    }
    EXPECT_EQ(rows, 1u) << text;
  }
}

}  // namespace
}  // namespace vestle
