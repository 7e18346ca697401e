// Throughput of the verbatim row scan under each kernel the processor has,
// on windows of rows already in the writer's form: short rows (several to a
// 64-byte block), rows of about a hundred bytes with quoted fields and
// accented letters, and rows of 40 fields.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <random>
#include <string>

#include "parser/cpu_kernels.h"
#include "parser/utf8.h"
#include "writer/verbatim_rows.h"

namespace {

constexpr std::size_t kWindow = std::size_t{256} << 10;

std::string rows_of(std::size_t fields, bool rich) {
  static const char* const kPlain[] = {"1", "42", "alpha", "2024-12-25", "true", "x"};
  static const char* const kRich[] = {("\"Garc\xC3\xAD" "a, Jos\xC3\xA9\""), "Bj\xC3\xB6rn",
                                      "\"said \"\"refund\"\", then\"", "Reykjav\xC3\xADk",
                                      "48340.52", "pending"};
  std::mt19937 rng(7);
  std::string text;
  while (text.size() < kWindow) {
    for (std::size_t f = 0; f < fields; ++f) {
      if (f != 0) text += ',';
      text += rich ? kRich[rng() % std::size(kRich)] : kPlain[rng() % std::size(kPlain)];
    }
    text += '\n';
  }
  return text;
}

void scan(benchmark::State& state, vestle::Kernel kernel, std::size_t fields, bool rich) {
  if (!vestle::force_kernel_for_testing(kernel)) {
    state.SkipWithError("kernel not supported here");
    return;
  }
  const std::string text = rows_of(fields, rich);
  const vestle::VerbatimRowScanner scanner(',', '"');
  for (auto _ : state) {
    const vestle::VerbatimRowScanner::Run run = scanner.scan(text, 0, fields, SIZE_MAX);
    benchmark::DoNotOptimize(run);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void validate(benchmark::State& state, vestle::Kernel kernel) {
  if (!vestle::force_kernel_for_testing(kernel)) {
    state.SkipWithError("kernel not supported here");
    return;
  }
  const std::string text = rows_of(6, true);
  for (auto _ : state) benchmark::DoNotOptimize(vestle::valid_utf8_prefix(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void register_all() {
  for (const vestle::Kernel kernel : {vestle::Kernel::Scalar, vestle::Kernel::Sse2,
                                      vestle::Kernel::Avx2, vestle::Kernel::Avx512bw}) {
    const std::string name(vestle::kernel_name(kernel));
    benchmark::RegisterBenchmark(("short_rows/" + name).c_str(), scan, kernel, 3, false);
    benchmark::RegisterBenchmark(("rich_rows/" + name).c_str(), scan, kernel, 6, true);
    benchmark::RegisterBenchmark(("wide_rows/" + name).c_str(), scan, kernel, 40, false);
    benchmark::RegisterBenchmark(("utf8_validation/" + name).c_str(), validate, kernel);
  }
}

}  // namespace

int main(int argc, char** argv) {
  register_all();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
