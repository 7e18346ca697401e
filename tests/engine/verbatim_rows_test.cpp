// Tests of the verbatim row scan: under every kernel, the run it finds is the
// rows whose bytes are the writer's line for what the parser reads there.
#include "writer/verbatim_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "support/each_kernel.h"
#include "support/reference_parser.h"
#include "writer/csv_writers.h"

namespace vestle {
namespace {

struct ExpectedRun {
  std::size_t end = 0;
  std::size_t rows = 0;
  std::size_t lines = 0;
};

// Rows from the start of `input`, as long as the bytes of each within
// `window` are the line the writer writes for it.
ExpectedRun reference_run(std::string_view input, unsigned char delimiter, unsigned char quote,
                          std::size_t window, std::size_t fields, std::size_t max_row_bytes) {
  ExpectedRun run;
  reference::ReferenceParser parser(input, delimiter, quote, true);
  for (const reference::ReferenceRow& row : parser.all_rows()) {
    std::string line;
    for (std::size_t i = 0; i < row.fields.size(); ++i) {
      if (i != 0) line += static_cast<char>(delimiter);
      line += quote_field(row.fields[i], delimiter, quote);
    }
    if (line.empty()) line = std::string(2, static_cast<char>(quote));
    line += '\n';
    const bool same = run.end + line.size() <= window && input.substr(run.end, line.size()) == line;
    if (!same || (fields != 0 && row.fields.size() != fields) || line.size() >= max_row_bytes) break;
    ++run.rows;
    run.lines += static_cast<std::size_t>(std::count(line.begin(), line.end(), '\n'));
    run.end += line.size();
  }
  return run;
}

// Rows of `width` fields, mostly in the writer's form, some not: stray or
// unneeded quotes, CR, blank lines, short rows, bytes that are not UTF-8.
// `rarity` divides how often the rows that are not come.
std::string random_rows(std::mt19937& rng, std::size_t rows, std::size_t width,
                        std::size_t rarity) {
  const char* fields[] = {"a",          "bc",         "",           "\"q\"\"x\"",  "\"x,y\"",
                          "\xC3\xA9t\xC3\xA9", "\"c\rr\"",   "\"l\nm\"",   "\xE2\x82\xAC",
                          "12345678901234567890", "\"\"\"\"", "\"plain\"", "a\"b",
                          "\"\"",       "\xFF",       "\xED\xA0\x80", "\"x\" ",     "\"y\"z"};
  // Now and then a field longer than a block, so that rows span blocks: plain,
  // or quoted with and without the need for quotes.
  const std::string long_fields[] = {
      std::string(70, 'w') + "\xC3\xA9" + std::string(20, 'w'),
      '"' + std::string(150, 'p') + ",\"", '"' + std::string(150, 'p') + '"'};
  const char* ends[] = {"\n", "\n", "\n", "\n", "\n", "\r\n", "\n\n", ",d\n"};
  // Mostly the first few, which the writer writes as they stand, and about
  // one row in four (over `rarity`) with one of the rest.
  const std::size_t odds = 40 * width * rarity;
  std::uniform_int_distribution<std::size_t> field(0, odds);
  std::uniform_int_distribution<std::size_t> rare(0, 40 * rarity);
  std::uniform_int_distribution<std::size_t> end(0, std::size(ends) - 1);
  std::string text;
  for (std::size_t r = 0; r < rows; ++r) {
    for (std::size_t f = 0; f < width; ++f) {
      if (f != 0) text += ',';
      const std::size_t pick = field(rng);
      text += pick % (40 * width) == 0 ? long_fields[rare(rng) % std::size(long_fields)]
              : pick < odds - 10         ? fields[pick % 7]
                                         : fields[pick % std::size(fields)];
    }
    text += ends[rare(rng) < 40 * rarity - 6 ? 0 : end(rng)];
  }
  return text;
}

TEST(VerbatimRows, EveryKernelFindsTheRowsInTheWritersForm) {
  std::mt19937 rng(21);
  // The rows are written with comma and double quote, then spelled with the pair's bytes.
  const unsigned char pairs[][2] = {{',', '"'}, {';', '\''}, {'\t', '"'}};
  for (int iteration = 0; iteration < 3000; ++iteration) {
    const auto [delimiter, quote] = pairs[static_cast<std::size_t>(iteration) % std::size(pairs)];
    const VerbatimRowScanner scanner(delimiter, quote);
    // Widths with one and several row ends to a block, and rows wider than one.
    const std::size_t width = std::size_t{1} << (2 * ((iteration / 3) % 4));  // 1, 4, 16, 64
    // One input in seven has long runs of rows in the writer's form, past
    // several 512-byte batches of blocks.
    const std::size_t rows = 1 + static_cast<std::size_t>(iteration) % (160 / width + 2);
    std::string input = iteration % 7 == 0 ? random_rows(rng, 8 * rows, width, 30)
                                           : random_rows(rng, rows, width, 1);
    std::replace(input.begin(), input.end(), ',', static_cast<char>(delimiter));
    std::replace(input.begin(), input.end(), '"', static_cast<char>(quote));
    const std::size_t window = iteration % 3 == 0 ? rng() % (input.size() + 1) : input.size();
    const std::size_t fields = iteration % 4 == 0 ? 0 : width;
    // Now and then exactly the length of some line, which must end the run.
    std::size_t max_row_bytes = iteration % 5 == 0 ? 24 : SIZE_MAX;
    if (iteration % 5 == 1) {
      const std::size_t lf = input.find('\n', rng() % input.size());
      const std::size_t start = lf == std::string::npos ? 0 : input.rfind('\n', lf - 1);
      max_row_bytes = lf != std::string::npos && start != std::string::npos ? lf - start : 200;
    }
    const ExpectedRun want = reference_run(input, delimiter, quote, window, fields, max_row_bytes);
    const std::string_view view = std::string_view(input).substr(0, window);
    std::vector<VerbatimRowScanner::Run> runs;
    vestle::testing::for_each_kernel([&] {
      const VerbatimRowScanner::Run run = scanner.scan(view, 0, fields, max_row_bytes);
      EXPECT_EQ(run.end, want.end);
      EXPECT_EQ(run.rows, want.rows);
      EXPECT_EQ(run.lines, want.lines);
      runs.push_back(run);
    });
    for (const VerbatimRowScanner::Run& run : runs) {
      EXPECT_EQ(run.window_ended, runs.front().window_ended);
    }
    if (::testing::Test::HasFailure()) {
      FAIL() << ::testing::PrintToString(input) << " window " << window << " fields " << fields;
    }
  }
}

// Long runs scanned from many row starts, so that every byte of the rows
// falls at every place in a block and in a batch of blocks: what a block
// hands on to the next must be right wherever the boundary falls.
TEST(VerbatimRows, EveryKernelAgreesFromEveryRowStart) {
  std::mt19937 rng(5);
  for (const std::size_t width : {std::size_t{3}, std::size_t{8}}) {
    const std::string input = random_rows(rng, 600, width, 12);
    std::size_t from = 0;
    for (int start = 0; start < 160 && from < input.size(); ++start) {
      const std::string_view rest = std::string_view(input).substr(from);
      const ExpectedRun want = reference_run(rest, ',', '"', rest.size(), width, SIZE_MAX);
      const VerbatimRowScanner scanner(',', '"');
      vestle::testing::for_each_kernel([&] {
        const VerbatimRowScanner::Run run = scanner.scan(input, from, width, SIZE_MAX);
        EXPECT_EQ(run.end - from, want.end) << "from " << from;
        EXPECT_EQ(run.rows, want.rows) << "from " << from;
        EXPECT_EQ(run.lines, want.lines) << "from " << from;
      });
      if (::testing::Test::HasFailure()) return;
      const std::size_t lf = input.find('\n', from);
      if (lf == std::string::npos) break;
      from = lf + 1;
    }
  }
}

}  // namespace
}  // namespace vestle
