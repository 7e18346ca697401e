// Fuzz target for ResilientParser: any delimiter, quote byte and repair setting over any bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "parser/resilient_parser.h"
#include "parser/row_store.h"
#include "support/reference_parser.h"
#include "support/reference_utf8.h"

using vestle::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const unsigned char delimiter = in.take_byte();
  const unsigned char quote_char = in.take_byte();
  const bool repair_quotes = (in.take_byte() & 1) != 0;
  const std::string_view csv = in.rest();

  const std::vector<vestle::reference::ReferenceRow> expected =
      vestle::reference::ReferenceParser(csv, delimiter, quote_char, repair_quotes).all_rows();

  vestle::ResilientParser parser(csv, delimiter, quote_char, repair_quotes);
  vestle::RowStore rows;
  FUZZ_CHECK(parser.line_number() == 1);
  std::size_t previous_line = 1;
  // Every row consumes at least one byte, so this bound also catches a parser that never ends.
  while (parser.next_row(rows)) {
    FUZZ_CHECK(rows.row_count() <= csv.size());
    FUZZ_CHECK(rows.row_count() <= expected.size());
    const vestle::RowView row = rows.last_row();
    const vestle::reference::ReferenceRow& want = expected[rows.row_count() - 1];
    FUZZ_CHECK(row.size() >= 1);
    FUZZ_CHECK(row.size() == want.fields.size());
    for (std::size_t i = 0; i < row.size(); ++i) {
      FUZZ_CHECK(vestle::reference::reference_is_utf8(row[i]));
      FUZZ_CHECK(row[i] == want.fields[i]);
    }
    FUZZ_CHECK(parser.line_number() >= previous_line);
    FUZZ_CHECK(parser.line_number() == want.line_after);
    previous_line = parser.line_number();
  }
  FUZZ_CHECK(rows.row_count() == expected.size());

  // Exhausted stays exhausted, and changes nothing.
  for (int again = 0; again < 2; ++again) {
    FUZZ_CHECK(!parser.next_row(rows));
    FUZZ_CHECK(rows.row_count() == expected.size());
    FUZZ_CHECK(parser.line_number() == previous_line);
  }
  return 0;
}
