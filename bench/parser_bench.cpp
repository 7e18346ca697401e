// Throughput of the tolerant tokenizer on ordinary and hostile inputs.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstring>
#include <random>
#include <string>

#include "parser/resilient_parser.h"
#include "parser/row_store.h"

namespace {

constexpr std::size_t kTenMegabytes = 10u << 20;

// Rows of eight fields: numbers, words, quoted text with delimiters and
// doubled quotes, accented letters, empty fields, some CR LF line ends.
std::string mixed_csv(std::size_t size) {
  static const char* const kWords[] = {"alpha", "beta", "gamma", "caf\xC3\xA9", "na\xC3\xAFve",
                                       "delta", "omega", "x"};
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> kind(0, 9);
  std::uniform_int_distribution<int> number(0, 999999);
  std::uniform_int_distribution<std::size_t> word(0, std::size(kWords) - 1);
  std::string csv;
  csv.reserve(size + 256);
  while (csv.size() < size) {
    for (int field = 0; field < 8; ++field) {
      if (field > 0) csv += ',';
      switch (kind(rng)) {
        case 0:
          break;  // empty
        case 1:
          csv += '"';
          csv += kWords[word(rng)];
          csv += ", ";
          csv += kWords[word(rng)];
          csv += '"';
          break;
        case 2:
          csv += "\"say \"\"";
          csv += kWords[word(rng)];
          csv += "\"\"\"";
          break;
        case 3:
        case 4:
          csv += kWords[word(rng)];
          break;
        default:
          csv += std::to_string(number(rng));
          break;
      }
    }
    csv += kind(rng) == 0 ? "\r\n" : "\n";
  }
  return csv;
}

// One line "a"b"a"b...: every quote is a candidate closing quote whose
// look-ahead would scan to the end of the line.
std::string quote_storm(std::size_t size) {
  std::string s = "\"";
  while (s.size() < size) s += "a\"b\"";
  return s;
}

// A quote opened at the start and never closed: one field to the end.
std::string unclosed_quote(std::size_t size) {
  std::string s = "\"";
  while (s.size() < size) s += "some text, with commas\nand lines, ";
  return s;
}

void parse_everything(benchmark::State& state, const std::string& input, bool repair) {
  vestle::RowStore store;
  std::size_t rows = 0;
  for (auto _ : state) {
    store.clear();
    vestle::ResilientParser parser(input, ',', '"', repair);
    while (parser.next_row(store)) {
    }
    rows = store.row_count();
    benchmark::DoNotOptimize(parser.line_number());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
  state.counters["rows"] = static_cast<double>(rows);
}

// What reading the bytes once costs: counting LFs with memchr.
void BM_BaselineCountLines(benchmark::State& state) {
  const std::string input = mixed_csv(kTenMegabytes);
  for (auto _ : state) {
    std::size_t lines = 0;
    const char* p = input.data();
    const char* end = p + input.size();
    while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p))))) {
      ++lines;
      ++p;
    }
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}
BENCHMARK(BM_BaselineCountLines)->Unit(benchmark::kMillisecond);

void BM_MixedCsv(benchmark::State& state) {
  parse_everything(state, mixed_csv(kTenMegabytes), state.range(0) != 0);
}
BENCHMARK(BM_MixedCsv)->ArgName("repair")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_QuoteStorm(benchmark::State& state) {
  parse_everything(state, quote_storm(kTenMegabytes), state.range(0) != 0);
}
BENCHMARK(BM_QuoteStorm)->ArgName("repair")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_UnclosedQuote(benchmark::State& state) {
  parse_everything(state, unclosed_quote(kTenMegabytes), true);
}
BENCHMARK(BM_UnclosedQuote)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
