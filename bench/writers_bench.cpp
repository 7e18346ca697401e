// Throughput of the output stages: heuristics and the repaired-file writer.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "heuristics/column_count.h"
#include "heuristics/delimiter_sniffer.h"
#include "io/buffered_writer.h"
#include "io/io_sizes.h"
#include "io/posix_file.h"
#include "repair/options.h"
#include "repair/slice.h"
#include "writer/csv_writers.h"

namespace {

constexpr std::size_t kTargetBytes = 20u << 20;

// Twelve-column rows; a third of them with fields that need quotes on output.
std::string make_csv() {
  static const char* const kWords[] = {"alpha", "beta", "caf\xC3\xA9", "na\xC3\xAFve", "delta",
                                       "\"x, y\"", "\"say \"\"hi\"\"\"", "\"two\nlines\""};
  std::mt19937_64 rng(20240611);
  std::string out;
  out.reserve(kTargetBytes + 1024);
  while (out.size() < kTargetBytes) {
    for (int f = 0; f < 12; ++f) {
      if (f > 0) out += ',';
      if (f % 3 == 0) {
        out += std::to_string(rng() % 1000000);
      } else {
        out += kWords[rng() % std::size(kWords)];
      }
    }
    out += '\n';
  }
  return out;
}

const std::string& input() {
  static const std::string csv = make_csv();
  return csv;
}

void BM_SniffAndInfer(benchmark::State& state) {
  const std::string_view data = input();
  for (auto _ : state) {
    const unsigned char delimiter = vestle::sniff_delimiter(data, '"');
    benchmark::DoNotOptimize(vestle::infer_column_count(data, delimiter, '"'));
  }
  // Each heuristic reads only its first rows (50 and 100): report per call.
  state.counters["calls_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                     benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SniffAndInfer)->Unit(benchmark::kMicrosecond);

// write_rows into /dev/null through a buffer of the file pipeline's size:
// formatting cost plus one system call per buffer.
void BM_WriteRows(benchmark::State& state) {
  const std::string_view data = input();
  const vestle::VestleOutcome outcome = vestle::vestle_slice(data, vestle::VestleOptions{});
  for (auto _ : state) {
    auto file = vestle::PosixFile::create("/dev/null");
    if (!file) {
      state.SkipWithError("cannot open /dev/null");
      return;
    }
    vestle::BufferedWriter writer(std::move(file).value(), vestle::kFileWriteBuffer);
    auto written = vestle::write_rows(writer, outcome.rows, ',', '"');
    auto flushed = writer.flush();
    benchmark::DoNotOptimize(written.has_value() && flushed.has_value());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_WriteRows)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
